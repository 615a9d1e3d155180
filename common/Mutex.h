// A std::mutex that clang's thread-safety analysis knows as a lock, and a scoped holder
// for it (libstdc++ does not annotate its own). Fields it guards are marked
// ZQ_GUARDED_BY(mutex) (common/ThreadSafety.h). Header-only.
#ifndef ZQBLOG_COMMON_MUTEX_H_
#define ZQBLOG_COMMON_MUTEX_H_

#include <mutex>

#include "common/ThreadSafety.h"

namespace Velmora {
namespace Common {

// Not re-entrant, as std::mutex.
class ZQ_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ZQ_ACQUIRE() { mutex_.lock(); }
  void Unlock() ZQ_RELEASE() { mutex_.unlock(); }
  // True when taken.
  bool TryLock() ZQ_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for the life of the object, as std::lock_guard does.
class ZQ_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ZQ_ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() ZQ_RELEASE() { mutex_.Unlock(); }

  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace Common
}  // namespace Velmora

#endif  // ZQBLOG_COMMON_MUTEX_H_
