#include "util/CriticalSection.h"

namespace TAVO {
namespace System {
namespace Thread {

CriticalSection::CriticalSection(const char* name) : name_(name != nullptr ? name : "") {
  InitializeCriticalSection(&section_);
}

CriticalSection::~CriticalSection() { DeleteCriticalSection(&section_); }

void CriticalSection::Lock() { EnterCriticalSection(&section_); }

void CriticalSection::Unlock() { LeaveCriticalSection(&section_); }

bool CriticalSection::TryLock() { return TryEnterCriticalSection(&section_) != FALSE; }

}  // namespace Thread
}  // namespace System
}  // namespace TAVO
