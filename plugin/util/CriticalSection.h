// A named re-entrant lock over a Win32 critical section, and a scoped holder for any
// lock with Lock() and Unlock(). Both carry the lock annotations that clang checks
// (common/ThreadSafety.h).
#ifndef ZQBLOG_UTIL_CRITICALSECTION_H_
#define ZQBLOG_UTIL_CRITICALSECTION_H_

#include <string>

#include "common/ThreadSafety.h"
#include "platform/platform.h"

namespace TAVO {
namespace System {
namespace Thread {

// A lock with a name. The owning thread may take it again; each Lock needs its Unlock.
// The analysis knows no re-entrant lock: within one function it is taken once, and a
// function that needs it held says so (ZQ_REQUIRES) instead of taking it again.
class ZQ_CAPABILITY("mutex") CriticalSection {
 public:
  // A null name is taken as "".
  explicit CriticalSection(const char* name = "");
  // REQUIRES: no thread holds the lock.
  ~CriticalSection() ZQ_EXCLUDES(this);

  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  // Blocks until the calling thread holds the lock.
  void Lock() ZQ_ACQUIRE();
  void Unlock() ZQ_RELEASE();
  // Takes the lock if no other thread holds it; true when taken.
  bool TryLock() ZQ_TRY_ACQUIRE(true);

  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  CRITICAL_SECTION section_;
};

// Holds a lock for the life of the object.
template <class L>
class ZQ_SCOPED_CAPABILITY ScopedLock {
 public:
  explicit ScopedLock(L& lock) ZQ_ACQUIRE(lock) : lock_(lock) { lock_.Lock(); }
  ~ScopedLock() ZQ_RELEASE() { lock_.Unlock(); }

  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  L& lock_;
};

}  // namespace Thread
}  // namespace System
}  // namespace TAVO

namespace Velmora {
namespace ZQBlog {

// Holds one of the blog session's locks (or a command's) for the life of the object.
typedef TAVO::System::Thread::ScopedLock<TAVO::System::Thread::CriticalSection> Hold;

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_UTIL_CRITICALSECTION_H_
