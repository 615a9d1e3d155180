// Files: attributes, directory listing, folder creation; and the local time.
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/internal.h"

namespace zqplatform {

DWORD Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace zqplatform

namespace {

// A wide path as the UTF-8 path the file system takes, '\' read as '/'.
std::string DiskPath(LPCWSTR path) {
  std::string narrow = zqplatform::WideToUtf8(path);
  std::replace(narrow.begin(), narrow.end(), '\\', '/');
  return narrow;
}

DWORD AttributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return FILE_ATTRIBUTE_READONLY;
  return FILE_ATTRIBUTE_NORMAL;
}

FILETIME FileTimeOf(const struct timespec& t) {
  // 100-ns intervals since 1601-01-01.
  const int64_t kEpochDifference = 11644473600LL;
  uint64_t ticks = static_cast<uint64_t>(static_cast<int64_t>(t.tv_sec) + kEpochDifference) *
                       10000000ULL +
                   static_cast<uint64_t>(t.tv_nsec) / 100;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

void Fill(const std::string& name, const struct stat& st, WIN32_FIND_DATAW* data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = AttributesOf(st);
  data->ftCreationTime = FileTimeOf(st.st_ctim);
  data->ftLastAccessTime = FileTimeOf(st.st_atim);
  data->ftLastWriteTime = FileTimeOf(st.st_mtim);
  if (!S_ISDIR(st.st_mode)) {
    uint64_t size = static_cast<uint64_t>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  }
  std::wstring wide = zqplatform::Utf8ToWide(name);
  size_t n = std::min(wide.size(), static_cast<size_t>(MAX_PATH - 1));
  std::memcpy(data->cFileName, wide.data(), n * sizeof(wchar_t));
  data->cFileName[n] = L'\0';
}

// '*' matches any run of characters, '?' any one; ASCII letters in any case.
bool Matches(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' ||
               std::tolower(static_cast<unsigned char>(*pattern)) ==
                   std::tolower(static_cast<unsigned char>(*name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

// The state behind a find handle.
struct FindState {
  std::vector<WIN32_FIND_DATAW> entries;
  size_t next = 0;
};

std::mutex g_findMutex;
std::set<FindState*>* g_findHandles = new std::set<FindState*>();  // never destroyed

}  // namespace

extern "C" {

DWORD GetFileAttributesW(LPCWSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat st;
  if (stat(DiskPath(path).c_str(), &st) != 0) {
    SetLastError(zqplatform::Win32ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(st);
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  if (pattern == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path = DiskPath(pattern);
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  if (last.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  FindState* state = new FindState();
  struct stat st;
  if (last.find_first_of("*?") == std::string::npos) {
    if (stat(path.c_str(), &st) != 0) {
      SetLastError(zqplatform::Win32ErrorFromErrno(errno));
      delete state;
      return INVALID_HANDLE_VALUE;
    }
    state->entries.emplace_back();
    Fill(last, st, &state->entries.back());
  } else {
    if (last == "*.*") last = "*";  // Windows: every name, with or without a dot
    DIR* folder = opendir(dir.c_str());
    if (folder == nullptr) {
      int error = errno;
      SetLastError(error == ENOENT ? ERROR_PATH_NOT_FOUND
                                   : zqplatform::Win32ErrorFromErrno(error));
      delete state;
      return INVALID_HANDLE_VALUE;
    }
    std::vector<std::string> names;
    while (struct dirent* entry = readdir(folder)) {
      if (Matches(last.c_str(), entry->d_name)) names.emplace_back(entry->d_name);
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      // An entry removed meanwhile is left out.
      if (stat((dir + "/" + name).c_str(), &st) != 0) continue;
      state->entries.emplace_back();
      Fill(name, st, &state->entries.back());
    }
    if (state->entries.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      delete state;
      return INVALID_HANDLE_VALUE;
    }
  }
  *data = state->entries[0];
  state->next = 1;
  std::lock_guard<std::mutex> lock(g_findMutex);
  g_findHandles->insert(state);
  return state;
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  std::lock_guard<std::mutex> lock(g_findMutex);
  FindState* state = static_cast<FindState*>(find);
  if (g_findHandles->count(state) == 0 || data == nullptr) {
    SetLastError(data == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (state->next >= state->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *data = state->entries[state->next++];
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  std::lock_guard<std::mutex> lock(g_findMutex);
  FindState* state = static_cast<FindState*>(find);
  if (g_findHandles->erase(state) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete state;
  return TRUE;
}

BOOL MakeSureDirectoryPathExists(LPCSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The same folder as the wide calls name: the ANSI text as wide text, then its UTF-8.
  std::wstring wide;
  if (*path != '\0') {
    int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (length == 0) return FALSE;  // the last error says why
    wide.resize(static_cast<size_t>(length));
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, &wide[0], length);
    wide.pop_back();  // the terminator
  }
  for (size_t i = 1; i < wide.size(); ++i) {  // from 1: a leading separator is the root
    if (wide[i] != L'/' && wide[i] != L'\\') continue;
    std::string folder = DiskPath(wide.substr(0, i).c_str());
    if (mkdir(folder.c_str(), 0777) == 0) continue;
    int error = errno;
    struct stat st;
    if (error == EEXIST && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    SetLastError(error == EEXIST ? ERROR_ALREADY_EXISTS : zqplatform::Win32ErrorFromErrno(error));
    return FALSE;
  }
  return TRUE;
}

void GetLocalTime(SYSTEMTIME* time) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  time->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
  time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

}  // extern "C"
