// ShareSessionLock: the serving lock of a share session between processes: an exclusive
// flock on the session's lock file. Whoever holds it serves the session; the kernel
// lets go of it when the holder ends, however it ends, so a live holder is a live
// serving process. The file itself is never removed (removing a lock file races with
// the next process that opens it).
#ifndef ZQBLOG_HOST_SHARESESSION_SHARESESSIONLOCK_H_
#define ZQBLOG_HOST_SHARESESSION_SHARESESSIONLOCK_H_

#include <string>

namespace Velmora {
namespace ZQHost {

class ShareSessionLock {
 public:
  ShareSessionLock() = default;
  // Release().
  ~ShareSessionLock();
  ShareSessionLock(const ShareSessionLock&) = delete;
  ShareSessionLock& operator=(const ShareSessionLock&) = delete;

  enum class Outcome {
    kAcquired,
    kHeldElsewhere,  // another open file holds it (another process, or another object)
    kFailed,         // the file cannot be opened or locked (*error says why)
  };
  // Takes the lock at path, creating the file when missing, and keeps it until Release.
  // A probe (IsHeld) holds the file for an instant; Acquire retries for a short while
  // before it reports kHeldElsewhere, so a probe never makes it fail.
  // REQUIRES: not held by this object; the folder exists.
  Outcome Acquire(const std::string& path, std::string* error);
  // Lets go of the lock (nothing when not held).
  void Release();
  bool held() const { return fd_ >= 0; }

  // True when some open file holds the lock at path now. Looks with a shared lock that
  // is let go at once; a missing file is not held.
  static bool IsHeld(const std::string& path);

 private:
  int fd_ = -1;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_SHARESESSIONLOCK_H_
