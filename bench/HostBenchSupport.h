// HostBenchSupport: what the end-to-end benchmarks share: stand-in content ids and the
// status of an operation's outcome.
#ifndef ZQBLOG_BENCH_HOSTBENCHSUPPORT_H_
#define ZQBLOG_BENCH_HOSTBENCHSUPPORT_H_

#include <string>

#include "host/app/HostApplication.h"

namespace Velmora {
namespace ZQBench {

// 40 upper-case hexadecimal digits, a different run for each seed.
inline std::string Hex40(unsigned seed) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  unsigned long long x = 0x9E3779B97F4A7C15ull * (seed + 1);
  for (int i = 0; i < 40; ++i) {
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    hex += kDigits[(x >> 60) & 15];
  }
  return hex;
}

// The status of a result outcome, -1 for any other outcome.
inline int StatusOf(const ZQHost::OperationOutcome& outcome) {
  if (outcome.kind != ZQHost::OperationOutcome::Kind::kResult || !outcome.result) return -1;
  int status = -1;
  outcome.result->GetStatus(&status);
  return status;
}

}  // namespace ZQBench
}  // namespace Velmora

#endif  // ZQBLOG_BENCH_HOSTBENCHSUPPORT_H_
