// ProgressLine: the one line on standard error that tells a person at a terminal what
// zqblog is waiting for. It names each operation as it starts ("album list of demo...")
// and, once a reply has taken longer than a second, the bytes received so far, of the
// Content-Length when the reply declares one. The line is rewritten in place and
// cleared before anything else is printed. Disabled (not a terminal, or --json), it
// prints nothing at all.
//
// Threads: Begin and Clear run on the caller's thread, Received on the host's HTTP
// thread; every call takes the line's lock.
#ifndef ZQBLOG_CLI_PROGRESSLINE_H_
#define ZQBLOG_CLI_PROGRESSLINE_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>

namespace Velmora {
namespace ZQCli {

class ProgressLine {
 public:
  // How long a reply runs before its bytes are shown, and how often they are redrawn.
  static constexpr std::chrono::milliseconds kQuietTime{1000};
  static constexpr std::chrono::milliseconds kRedrawTime{100};

  typedef std::function<std::chrono::steady_clock::time_point()> Clock;

  // clock: where the time comes from (tests give their own).
  ProgressLine(std::ostream& err, bool enabled, Clock clock = &std::chrono::steady_clock::now)
      : err_(err), enabled_(enabled), clock_(std::move(clock)) {}
  // Clears the line.
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // An operation starts: shows "zqblog: <what>...".
  void Begin(const std::string& what);
  // A reply of the running operation has brought received bytes of total (-1: not
  // declared). Shown when the operation has run for kQuietTime, at most once per
  // kRedrawTime, and once more when the reply completes.
  void Received(uint64_t received, int64_t total, bool complete);
  // Takes the line off the terminal.
  void Clear();

  // "512 B", "12.0 KiB", "3.4 MiB".
  static std::string Bytes(uint64_t count);

 private:
  void Draw(const std::string& text);  // REQUIRES: mutex_ held

  std::ostream& err_;
  const bool enabled_;
  const Clock clock_;
  std::mutex mutex_;
  bool shown_ = false;
  std::string what_;
  std::chrono::steady_clock::time_point began_;
  std::chrono::steady_clock::time_point drawn_;
};

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_PROGRESSLINE_H_
