// One process-wide instance of a class, made on first use.
#ifndef ZQBLOG_UTIL_SINGLETONHOLDER_H_
#define ZQBLOG_UTIL_SINGLETONHOLDER_H_

#include <atomic>

namespace TAVO {
namespace Pattern {

// SingletonHolder<T, Lock> gives T one instance per process (per shared library: the
// library is built with hidden symbols). The instance is the holder itself, a class
// derived from T with a virtual destructor, created with new by the first Instance()
// under a process-wide lock of type Lock (double-checked: once stored, the instance is
// returned without locking). The lock is created on first use.
//
// The instance is destroyed at process exit, or earlier by Destroy(). The holder's
// destructor sets the process-wide destroyed flag before T is destroyed, so T's
// destructor and anything it calls already see Destroyed() true. Once destroyed, the
// singleton stays gone: Instance() returns null and never makes a second instance.
//
// REQUIRES: T is default-constructible by a derived class and not final; Lock has
// Lock() and Unlock() and a default constructor.
template <class T, class Lock>
class SingletonHolder : public T {
 public:
  // The instance, created on first use; null once the singleton has been destroyed.
  // An exception from T's constructor passes through and leaves no instance.
  static T* Instance() {
    SingletonHolder* instance = instance_.load(std::memory_order_acquire);
    if (instance != nullptr) return instance;
    if (destroyed_.load(std::memory_order_acquire)) return nullptr;
    Lock& lock = TheLock();
    lock.Lock();
    instance = instance_.load(std::memory_order_acquire);
    if (instance == nullptr && !destroyed_.load(std::memory_order_acquire)) {
      try {
        instance = new SingletonHolder();
      } catch (...) {
        lock.Unlock();
        throw;
      }
      instance_.store(instance, std::memory_order_release);
      ArmReaper();
    }
    lock.Unlock();
    return instance;
  }

  // True once destruction of the instance has begun (by Destroy() or at exit).
  static bool Destroyed() { return destroyed_.load(std::memory_order_acquire); }

  // Destroys the instance now (tests; teardown). Later Instance() calls return null.
  // REQUIRES: no other thread uses the instance.
  static void Destroy() {
    Lock& lock = TheLock();
    lock.Lock();
    destroyed_.store(true, std::memory_order_release);
    SingletonHolder* instance = instance_.exchange(nullptr, std::memory_order_acq_rel);
    lock.Unlock();
    delete instance;
  }

  SingletonHolder(const SingletonHolder&) = delete;
  SingletonHolder& operator=(const SingletonHolder&) = delete;

 private:
  SingletonHolder() = default;
  // Sets the flag first; T's destructor runs after this body.
  virtual ~SingletonHolder() { destroyed_.store(true, std::memory_order_release); }

  // Built before the reaper below (Instance() takes the lock first), so it is destroyed
  // after the reaper has destroyed the instance; once the destroyed flag is set nothing
  // takes it again. A static object, so unloading the library frees it.
  static Lock& TheLock() {
    static Lock lock;
    return lock;
  }

  // A static object whose destructor destroys the instance at process exit. Built
  // right after the instance, so it goes before the statics the instance was built on.
  struct Reaper {
    ~Reaper() { Destroy(); }
  };
  static void ArmReaper() { static Reaper reaper; }

  static inline std::atomic<SingletonHolder*> instance_{nullptr};
  static inline std::atomic<bool> destroyed_{false};
};

}  // namespace Pattern
}  // namespace TAVO

#endif  // ZQBLOG_UTIL_SINGLETONHOLDER_H_
