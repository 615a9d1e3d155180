// Test support on Windows: for the life of the object, HKEY_CLASSES_ROOT of this process
// is a fresh key of its own under HKEY_CURRENT_USER, so tests that register and
// unregister leave the machine's class registrations alone. The key and all it holds
// go away with the object.
#ifndef ZQBLOG_PLATFORM_WIN32_CLASSES_ROOT_OVERRIDE_H_
#define ZQBLOG_PLATFORM_WIN32_CLASSES_ROOT_OVERRIDE_H_

#if defined(_WIN32)

#include <string>

#include "platform/platform.h"

namespace zq_test {

class ClassesRootOverride {
 public:
  ClassesRootOverride() {
    static LONG counter = 0;
    path_ = L"Software\\ZQBlogTests\\ClassesRoot-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(InterlockedIncrement(&counter));
    DeleteTree(HKEY_CURRENT_USER, path_);  // left over by a process that died
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key_, nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    ok_ = RegOverridePredefKey(HKEY_CLASSES_ROOT, key_) == ERROR_SUCCESS;
  }
  ~ClassesRootOverride() {
    if (ok_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    if (key_ != nullptr) RegCloseKey(key_);
    DeleteTree(HKEY_CURRENT_USER, path_);
  }
  ClassesRootOverride(const ClassesRootOverride&) = delete;
  ClassesRootOverride& operator=(const ClassesRootOverride&) = delete;

  // True when HKEY_CLASSES_ROOT now leads to the private key.
  bool ok() const { return ok_; }

 private:
  static void DeleteTree(HKEY parent, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    wchar_t name[256];
    for (;;) {
      DWORD length = sizeof(name) / sizeof(name[0]);
      if (RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      const std::wstring child(name, length);
      DeleteTree(key, child);
      HKEY probe = nullptr;
      if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS) {
        RegCloseKey(probe);
        break;  // could not remove it: stop rather than loop
      }
    }
    RegCloseKey(key);
    RegDeleteKeyW(parent, path.c_str());
  }

  std::wstring path_;
  HKEY key_ = nullptr;
  bool ok_ = false;
};

}  // namespace zq_test

#endif  // _WIN32

#endif  // ZQBLOG_PLATFORM_WIN32_CLASSES_ROOT_OVERRIDE_H_
