// Modules: an HMODULE is the load address of a shared object (the start of its first
// mapping), found with the dynamic loader's own tables.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/posix/internal.h"

namespace {

// The load address of the object a link map describes; null if unknown.
void* BaseOf(struct link_map* map) {
  Dl_info info;
  if (map == nullptr || map->l_ld == nullptr) return nullptr;
  if (dladdr(reinterpret_cast<void*>(map->l_ld), &info) == 0) return nullptr;
  return info.dli_fbase;
}

struct link_map* MainProgram() {
  void* self = dlopen(nullptr, RTLD_LAZY);
  if (self == nullptr) return nullptr;
  struct link_map* map = nullptr;
  if (dlinfo(self, RTLD_DI_LINKMAP, &map) != 0) map = nullptr;
  dlclose(self);
  return map;
}

// The link map of a module: a load address, or else a handle from dlopen.
struct link_map* LinkMapOf(HMODULE module) {
  if (module == nullptr) return MainProgram();
  Dl_info info;
  struct link_map* map = nullptr;
  if (dladdr1(module, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 &&
      info.dli_fbase == module && map != nullptr) {
    return map;
  }
  // A dlopen handle is the object's link map: accept it only if it is one of the
  // loaded objects, so a stray pointer is never followed.
  for (map = MainProgram(); map != nullptr; map = map->l_next) {
    if (static_cast<void*>(map) == module) return map;
  }
  return nullptr;
}

std::string ProgramPath() {
  std::string path(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", &path[0], path.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool EndsWithDll(const std::string& name) {
  if (name.size() < 4) return false;
  const char* tail = name.c_str() + name.size() - 4;
  return tail[0] == '.' && std::tolower(static_cast<unsigned char>(tail[1])) == 'd' &&
         std::tolower(static_cast<unsigned char>(tail[2])) == 'l' &&
         std::tolower(static_cast<unsigned char>(tail[3])) == 'l';
}

// "dir\X.dll" -> "dir/libX.so"; "X" -> "libX.so"; "libX.so.1" stays.
std::string SharedObjectName(const std::wstring& name) {
  std::string path = zqplatform::WideToUtf8(name);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  if (EndsWithDll(file)) {
    file = "lib" + file.substr(0, file.size() - 4) + ".so";
  } else if (file.find('.') == std::string::npos) {
    file = "lib" + file + ".so";
  }
  return dir + file;
}

}  // namespace

extern "C" {

DWORD GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD size) {
  if (path == nullptr && size != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string file;
  if (module == nullptr) {
    file = ProgramPath();
  } else {
    struct link_map* map = LinkMapOf(module);
    if (map == nullptr) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    if (map == MainProgram() || map->l_name == nullptr || map->l_name[0] == '\0') {
      file = ProgramPath();
    } else {
      file = map->l_name;
    }
  }
  if (file.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  std::wstring wide = zqplatform::Utf8ToWide(file);
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (wide.size() >= size) {
    // Truncated and terminated, as Windows does.
    std::memcpy(path, wide.data(), (size - 1) * sizeof(wchar_t));
    path[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(path, wide.data(), wide.size() * sizeof(wchar_t));
  path[wide.size()] = L'\0';
  return static_cast<DWORD>(wide.size());
}

HMODULE GetModuleHandleW(LPCWSTR name) {
  if (name == nullptr) {
    void* base = BaseOf(MainProgram());
    if (base == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
    return base;
  }
  std::string file = SharedObjectName(name);
  // RTLD_NOLOAD finds an object that is already loaded and never loads one.
  void* handle = dlopen(file.c_str(), RTLD_NOLOAD | RTLD_LAZY);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  struct link_map* map = nullptr;
  void* base = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0) base = BaseOf(map);
  // The module handle holds no reference, as on Windows.
  dlclose(handle);
  if (base == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  return base;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  // Names only: a value below 64 KiB would be an ordinal.
  if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  struct link_map* map = LinkMapOf(module);
  if (map == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* symbol = dlsym(map, name);
  // dlsym also searches the module's dependencies; Windows answers only with the
  // module's own exports.
  Dl_info info;
  if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fbase != BaseOf(map)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

}  // extern "C"
