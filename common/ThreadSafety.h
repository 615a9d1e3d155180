// Lock annotations that clang's thread-safety analysis checks (-Wthread-safety): which
// lock guards a field, which lock a function needs held, which functions take and give
// back a lock. With any other compiler (g++, the mingw cross-compiler) they expand to
// nothing, so they cost nothing and change nothing.
//
//   ZQ_CAPABILITY("mutex")        on a lock class
//   ZQ_SCOPED_CAPABILITY          on a class that holds a lock for its own lifetime
//   ZQ_GUARDED_BY(lock)           on a field read and written only with lock held
//   ZQ_PT_GUARDED_BY(lock)        on a pointer field whose pointee lock guards
//   ZQ_ACQUIRE(...) / ZQ_RELEASE(...)  on functions that take / give back a lock
//                                 (no argument: the object's own lock)
//   ZQ_TRY_ACQUIRE(ok, ...)       on a function that takes the lock when it returns ok
//   ZQ_REQUIRES(lock...)          on a function the caller must call with lock held
//   ZQ_EXCLUDES(lock...)          on a function the caller must not call with lock held
//   ZQ_ASSERT_CAPABILITY(lock)    on a function that returns only when lock is held
//   ZQ_RETURN_CAPABILITY(lock)    on a function that returns (a reference to) lock
//   ZQ_NO_THREAD_SAFETY_ANALYSIS  on a function the analysis cannot follow; always
//                                 with a comment that says why
//
// ZQ_LOCK_RETURNED is the older spelling of ZQ_RETURN_CAPABILITY.
//
// Header-only; no include is needed beside it.
#ifndef ZQBLOG_COMMON_THREADSAFETY_H_
#define ZQBLOG_COMMON_THREADSAFETY_H_

#if defined(__clang__)
#define ZQ_THREAD_ANNOTATION_(x) __attribute__((x))
#else
#define ZQ_THREAD_ANNOTATION_(x)
#endif

#define ZQ_CAPABILITY(x) ZQ_THREAD_ANNOTATION_(capability(x))
#define ZQ_SCOPED_CAPABILITY ZQ_THREAD_ANNOTATION_(scoped_lockable)
#define ZQ_GUARDED_BY(x) ZQ_THREAD_ANNOTATION_(guarded_by(x))
#define ZQ_PT_GUARDED_BY(x) ZQ_THREAD_ANNOTATION_(pt_guarded_by(x))
#define ZQ_ACQUIRE(...) ZQ_THREAD_ANNOTATION_(acquire_capability(__VA_ARGS__))
#define ZQ_RELEASE(...) ZQ_THREAD_ANNOTATION_(release_capability(__VA_ARGS__))
#define ZQ_TRY_ACQUIRE(...) ZQ_THREAD_ANNOTATION_(try_acquire_capability(__VA_ARGS__))
#define ZQ_REQUIRES(...) ZQ_THREAD_ANNOTATION_(requires_capability(__VA_ARGS__))
#define ZQ_EXCLUDES(...) ZQ_THREAD_ANNOTATION_(locks_excluded(__VA_ARGS__))
#define ZQ_ASSERT_CAPABILITY(x) ZQ_THREAD_ANNOTATION_(assert_capability(x))
#define ZQ_RETURN_CAPABILITY(x) ZQ_THREAD_ANNOTATION_(lock_returned(x))
#define ZQ_LOCK_RETURNED(x) ZQ_RETURN_CAPABILITY(x)
#define ZQ_NO_THREAD_SAFETY_ANALYSIS ZQ_THREAD_ANNOTATION_(no_thread_safety_analysis)

#endif  // ZQBLOG_COMMON_THREADSAFETY_H_
