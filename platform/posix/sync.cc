// Critical sections (recursive pthread mutexes) and the per-thread last error.
#include <pthread.h>

#include <cstdlib>

#include "platform/posix/platform_posix.h"

namespace {
thread_local DWORD t_lastError = 0;
}  // namespace

extern "C" {

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  if (pthread_mutex_init(&cs->mutex, &attr) != 0) std::abort();
  pthread_mutexattr_destroy(&attr);
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD /*spin*/) {
  InitializeCriticalSection(cs);
  return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  // Failure means a destroyed or corrupted section: continuing would break mutual
  // exclusion silently.
  if (pthread_mutex_lock(&cs->mutex) != 0) std::abort();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  return pthread_mutex_trylock(&cs->mutex) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_unlock(&cs->mutex); }

void DeleteCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_destroy(&cs->mutex); }

DWORD GetLastError(void) { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

}  // extern "C"
