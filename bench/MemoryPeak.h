// MemoryPeak: the process's resident memory and its peak, for the benchmarks that report
// how much a piece of work needs at its height (Linux: /proc and getrusage).
#ifndef ZQBLOG_BENCH_MEMORYPEAK_H_
#define ZQBLOG_BENCH_MEMORYPEAK_H_

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

namespace Velmora {
namespace ZQBench {

// The peak resident size of the process, in kilobytes.
inline long MaxRssKb() {
  rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;  // kilobytes on Linux
}

// The resident size now, in kilobytes; 0 when /proc cannot tell.
inline long CurrentRssKb() {
  long pages = 0;
  long resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(statm);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Gives freed heap back and makes the peak resident size the current one. False when
// the peak cannot be reset (a growth figure taken afterwards then overstates).
inline bool ResetPeak() {
  malloc_trim(0);
  FILE* clear = std::fopen("/proc/self/clear_refs", "w");
  if (clear == nullptr) return false;
  const bool ok = std::fputs("5", clear) >= 0;
  return std::fclose(clear) == 0 && ok;
}

}  // namespace ZQBench
}  // namespace Velmora

#endif  // ZQBLOG_BENCH_MEMORYPEAK_H_
