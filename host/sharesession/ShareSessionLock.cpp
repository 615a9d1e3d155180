#include "host/sharesession/ShareSessionLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace Velmora {
namespace ZQHost {

namespace {

// How long Acquire keeps trying while the lock is taken, and how often.
constexpr std::chrono::milliseconds kAcquirePatience{250};
constexpr std::chrono::milliseconds kAcquireRetry{5};

}  // namespace

ShareSessionLock::~ShareSessionLock() { Release(); }

ShareSessionLock::Outcome ShareSessionLock::Acquire(const std::string& path, std::string* error) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot open the lock file " + path + ": " + std::strerror(errno);
    return Outcome::kFailed;
  }
  const auto give_up = std::chrono::steady_clock::now() + kAcquirePatience;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return Outcome::kAcquired;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      *error = "cannot lock " + path + ": " + std::strerror(errno);
      close(fd);
      return Outcome::kFailed;
    }
    if (std::chrono::steady_clock::now() >= give_up) {
      close(fd);
      return Outcome::kHeldElsewhere;
    }
    std::this_thread::sleep_for(kAcquireRetry);
  }
}

void ShareSessionLock::Release() {
  if (fd_ < 0) return;
  close(fd_);  // closing the only descriptor of the open file lets go of the lock
  fd_ = -1;
}

bool ShareSessionLock::IsHeld(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int rc;
  do {
    rc = flock(fd, LOCK_SH | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  const bool held = rc != 0 && errno == EWOULDBLOCK;
  close(fd);  // lets go of the shared lock, if taken
  return held;
}

}  // namespace ZQHost
}  // namespace Velmora
