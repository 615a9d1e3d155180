#include "module/ZQCPWarpper.h"

#include <vector>

#include "util/CriticalSection.h"
#include "util/SingletonHolder.h"

namespace Velmora {
namespace ZQCP {
namespace {

std::wstring ProgramPath() {
  std::vector<WCHAR> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    if (buffer.size() >= 32768) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

ZQCPWarpper_* ZQCPWarpper_::Instance() {
  return TAVO::Pattern::SingletonHolder<ZQCPWarpper_,
                                        TAVO::System::Thread::CriticalSection>::Instance();
}

ZQCPWarpper_::ZQCPWarpper_() : programDirectory_(CutToDirectory(ProgramPath())) {}

bool ZQCPWarpper_::Initialize(int /*flags*/) { return true; }

std::wstring ZQCPWarpper_::CutToDirectory(const std::wstring& path) {
  size_t last = path.find_last_of(L"\\/");
  if (last == std::wstring::npos || last == 0 || last + 1 == path.size()) return path;
  return path.substr(0, last + 1);
}

}  // namespace ZQCP
}  // namespace Velmora
