// libElvatrix.so / Elvatrix.dll: the host's helper library with the folder paths. The
// host loads it before the plug-in and tells it the data root with ZQ_SetDataRoot;
// every ZQ_Get*Path export answers a folder below that root, ending with the path
// separator. Until the host sets a root, the root is the current directory at the time
// of the call.
//
//   ZQ_GetUserPath               <root>users/          per-user data (the blog cache)
//   ZQ_GetKorrinNetworkPath      <root>network/
//   ZQ_GetComponentsPath         <root>components/
//   ZQ_GetInstallComponentsPath  <root>components/install/
//   ZQ_GetUserProfilesPath       <root>profiles/
//   ZQ_GetSkinPath               <root>skins/current/
//   ZQ_GetConstantSkinPath       <root>skins/constant/
//   ZQ_GetProgramPath            <root>program/
//   ZQ_GetLanguagePath           <root>language/
//   ZQ_GetUserRootPath           <root>
//   ZQ_GetPluginPath             <root>plugins/
//
// Each export writes the zero-terminated path into buffer[0, capacity), cut to
// capacity - 1 characters when longer, and returns the path's full length in
// characters (so a result >= capacity means it was cut). A null buffer or a capacity
// below 1 writes nothing.
#include <cwchar>
#include <mutex>
#include <string>

#if defined(_WIN32)
#include <direct.h>
#else
#include <unistd.h>
#endif

#include "interfaces/ElvatrixExports.h"
#include "platform/platform.h"

#if defined(_WIN32)
#define ZQ_ELVATRIX_EXPORT extern "C" __declspec(dllexport)
#else
#define ZQ_ELVATRIX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

#if defined(_WIN32)
constexpr wchar_t kSeparator = L'\\';
#else
constexpr wchar_t kSeparator = L'/';
#endif

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool IsAbsolute(const std::wstring& path) {
#if defined(_WIN32)
  return (path.size() >= 2 && path[1] == L':') || (!path.empty() && IsSeparator(path[0]));
#else
  return !path.empty() && path[0] == L'/';
#endif
}

// The current directory as a wide string ending with the separator; empty if unknown.
std::wstring CurrentDirectory() {
  std::wstring out;
#if defined(_WIN32)
  wchar_t* cwd = _wgetcwd(nullptr, 0);
  if (cwd == nullptr) return out;
  out = cwd;
  free(cwd);
#else
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return out;
  int size = MultiByteToWideChar(CP_UTF8, 0, cwd, -1, nullptr, 0);
  if (size > 1) {
    out.resize(static_cast<size_t>(size));
    MultiByteToWideChar(CP_UTF8, 0, cwd, -1, &out[0], size);
    out.resize(static_cast<size_t>(size - 1));
  }
  free(cwd);
#endif
  if (!out.empty() && !IsSeparator(out.back())) out.push_back(kSeparator);
  return out;
}

std::mutex g_root_mutex;
std::wstring g_root;  // empty: the current directory

std::wstring DataRoot() {
  {
    std::lock_guard<std::mutex> lock(g_root_mutex);
    if (!g_root.empty()) return g_root;
  }
  return CurrentDirectory();
}

// Writes root + relative (with '/' turned into the separator) into buffer.
int WritePath(const wchar_t* relative, WCHAR* buffer, int capacity) {
  std::wstring path = DataRoot();
  for (const wchar_t* p = relative; *p != L'\0'; ++p) {
    path.push_back(*p == L'/' ? kSeparator : *p);
  }
  if (buffer != nullptr && capacity >= 1) {
    size_t n = path.size() < static_cast<size_t>(capacity) ? path.size()
                                                            : static_cast<size_t>(capacity) - 1;
    if (n > 0) std::wmemcpy(buffer, path.data(), n);
    buffer[n] = L'\0';
  }
  return static_cast<int>(path.size());
}

}  // namespace

// Sets the data root (copied). A relative root is taken relative to the current
// directory now; a separator is added when missing. Null or empty goes back to the
// current directory.
ZQ_ELVATRIX_EXPORT void ZQ_SetDataRoot(const wchar_t* root) {
  std::wstring value = root != nullptr ? root : L"";
  if (!value.empty()) {
    if (!IsAbsolute(value)) value = CurrentDirectory() + value;
    if (!IsSeparator(value.back())) value.push_back(kSeparator);
  }
  std::lock_guard<std::mutex> lock(g_root_mutex);
  g_root = value;
}

ZQ_ELVATRIX_EXPORT int ZQ_ELVATRIX_CALL ZQ_GetUserPath(WCHAR* buffer, int capacity) {
  return WritePath(L"users/", buffer, capacity);
}
ZQ_ELVATRIX_EXPORT int ZQ_ELVATRIX_CALL ZQ_GetKorrinNetworkPath(WCHAR* buffer, int capacity) {
  return WritePath(L"network/", buffer, capacity);
}
ZQ_ELVATRIX_EXPORT int ZQ_ELVATRIX_CALL ZQ_GetComponentsPath(WCHAR* buffer, int capacity) {
  return WritePath(L"components/", buffer, capacity);
}
ZQ_ELVATRIX_EXPORT int ZQ_ELVATRIX_CALL ZQ_GetInstallComponentsPath(WCHAR* buffer,
                                                                    int capacity) {
  return WritePath(L"components/install/", buffer, capacity);
}
ZQ_ELVATRIX_EXPORT int ZQ_ELVATRIX_CALL ZQ_GetUserProfilesPath(WCHAR* buffer, int capacity) {
  return WritePath(L"profiles/", buffer, capacity);
}
ZQ_ELVATRIX_EXPORT int ZQ_ELVATRIX_CALL ZQ_GetSkinPath(WCHAR* buffer, int capacity) {
  return WritePath(L"skins/current/", buffer, capacity);
}
ZQ_ELVATRIX_EXPORT int ZQ_ELVATRIX_CALL ZQ_GetConstantSkinPath(WCHAR* buffer, int capacity) {
  return WritePath(L"skins/constant/", buffer, capacity);
}
ZQ_ELVATRIX_EXPORT int ZQ_ELVATRIX_CALL ZQ_GetProgramPath(WCHAR* buffer, int capacity) {
  return WritePath(L"program/", buffer, capacity);
}
ZQ_ELVATRIX_EXPORT int ZQ_ELVATRIX_CALL ZQ_GetLanguagePath(WCHAR* buffer, int capacity) {
  return WritePath(L"language/", buffer, capacity);
}
ZQ_ELVATRIX_EXPORT int ZQ_ELVATRIX_CALL ZQ_GetUserRootPath(WCHAR* buffer, int capacity) {
  return WritePath(L"", buffer, capacity);
}
ZQ_ELVATRIX_EXPORT int ZQ_ELVATRIX_CALL ZQ_GetPluginPath(WCHAR* buffer, int capacity) {
  return WritePath(L"plugins/", buffer, capacity);
}

// The export types must match the plug-in's view of them.
static_assert(sizeof(PFN_ZQ_GetUserPath) == sizeof(&ZQ_GetUserPath), "export shape");
