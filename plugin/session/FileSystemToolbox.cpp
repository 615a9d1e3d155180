#include "session/FileSystemToolbox.h"

#include <vector>

#include "util/CriticalSection.h"
#include "util/SingletonHolder.h"

namespace Velmora {
namespace Community {
namespace {

// Capacity of the first request, in characters, and of the largest one.
constexpr int kFirstCapacity = MAX_PATH;
constexpr int kLargestCapacity = 32768;

// Asks export for its path with a buffer of capacity characters, zeroed first.
std::wstring AskPath(PFN_ZQ_GetUserPath ask, int capacity) {
  std::vector<WCHAR> buffer(static_cast<size_t>(capacity) + 1, L'\0');
  ask(buffer.data(), capacity);
  buffer[static_cast<size_t>(capacity)] = L'\0';  // whatever the export wrote
  return std::wstring(buffer.data());
}

}  // namespace

// ---------------------------------------------------------------- ElvatrixWrapper

ElvatrixWrapper* ElvatrixWrapper::Instance() {
  static ElvatrixWrapper wrapper;
  return &wrapper;
}

bool ElvatrixWrapper::Bind() {
  HMODULE module = GetModuleHandleW(kElvatrixModuleName);
  if (module == nullptr) {
    for (FARPROC& slot : exports_) slot = nullptr;
    return false;
  }
  return BindWith([module](const char* name) { return GetProcAddress(module, name); });
}

bool ElvatrixWrapper::BindWith(const ExportLookup& lookup) {
  bool all = true;
  for (int i = 0; i < kElvatrixExportCount; ++i) {
    exports_[i] = lookup ? lookup(kElvatrixExportNames[i]) : nullptr;
    if (exports_[i] == nullptr) all = false;
  }
  return all;
}

FARPROC ElvatrixWrapper::Export(int i) const {
  return i >= 0 && i < kElvatrixExportCount ? exports_[i] : nullptr;
}

PFN_ZQ_GetUserPath ElvatrixWrapper::GetUserPathExport() const {
  // Through void (*)(void), the type every function pointer may be cast to and back.
  typedef void (*AnyFunction)(void);
  return reinterpret_cast<PFN_ZQ_GetUserPath>(reinterpret_cast<AnyFunction>(exports_[0]));
}

// ---------------------------------------------------------------- FileSystemToolbox_

FileSystemToolbox_* FileSystemToolbox_::Instance() {
  return TAVO::Pattern::SingletonHolder<FileSystemToolbox_,
                                        TAVO::System::Thread::CriticalSection>::Instance();
}

FileSystemToolbox_::FileSystemToolbox_() : wrapper_(ElvatrixWrapper::Instance()) {
  wrapper_->Bind();
}

FileSystemToolbox_::FileSystemToolbox_(ElvatrixWrapper* wrapper) : wrapper_(wrapper) {}

std::wstring FileSystemToolbox_::GetUserPath() {
  std::wstring& slot = paths_[0];
  if (!slot.empty()) return slot;
  PFN_ZQ_GetUserPath ask = wrapper_->GetUserPathExport();
  if (ask == nullptr && wrapper_ == ElvatrixWrapper::Instance()) {
    // The host may have loaded the library after the toolbox was made.
    wrapper_->Bind();
    ask = wrapper_->GetUserPathExport();
  }
  if (ask == nullptr) return std::wstring();
  int capacity = kFirstCapacity;
  std::wstring path = AskPath(ask, capacity);
  // An answer that fills the buffer may have been cut: ask with more room until the
  // answer stops growing.
  while (path.size() + 1 >= static_cast<size_t>(capacity) && capacity < kLargestCapacity) {
    capacity *= 2;
    std::wstring longer = AskPath(ask, capacity);
    if (longer.size() <= path.size()) break;
    path.swap(longer);
  }
  // Still full at the largest buffer: a cut path names another folder; keep none.
  if (path.size() + 1 >= static_cast<size_t>(capacity)) return std::wstring();
  slot = path;
  return slot;
}

}  // namespace Community
}  // namespace Velmora
