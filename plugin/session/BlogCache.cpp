#include "session/BlogCache.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <system_error>
#include <thread>

#include "module/HostPlatform.h"
#include "session/FileSystemToolbox.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

const wchar_t kDefaultValidator[] = L"Fri, 1 Jun 1000 01:01:01 GMT";

#if defined(_WIN32)
const wchar_t kPathSeparator = L'\\';
#else
const wchar_t kPathSeparator = L'/';
#endif

TAVO::System::Thread::CriticalSection& CacheLock() {
  static TAVO::System::Thread::CriticalSection lock("CacheLock");
  return lock;
}

namespace {

// Capacity, in bytes, of the buffer a "Last-Modified" value is read into.
constexpr int kValueCapacity = 128;

// Owns a BSTR.
struct BstrFree {
  void operator()(OLECHAR* text) const { SysFreeString(text); }
};
typedef std::unique_ptr<OLECHAR, BstrFree> Bstr;

Bstr MakeBstr(const std::wstring& text) {
  return Bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

// A wide path as the file system takes it: the wide text itself on Windows; elsewhere
// its UTF-8 bytes with '\' read as '/', as the platform's file calls read wide paths.
std::filesystem::path FileSystemPath(const std::wstring& path) {
#if defined(_WIN32)
  return std::filesystem::path(path);
#else
  std::string bytes = WideToMultiByte(CP_UTF8, path.data(), path.size());
  for (char& c : bytes) {
    if (c == '\\') c = '/';
  }
  return std::filesystem::u8path(bytes);
#endif
}

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool IsFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Windows device names, which name no file in any folder.
bool IsDeviceName(const std::wstring& name) {
  std::wstring stem = name.substr(0, name.find(L'.'));
  for (wchar_t& c : stem) c = static_cast<wchar_t>(std::towupper(c));
  static const wchar_t* const kNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$",
                                          L"CONOUT$"};
  for (const wchar_t* device : kNames) {
    if (stem == device) return true;
  }
  if (stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
      stem[3] >= L'1' && stem[3] <= L'9') {
    return true;
  }
  return false;
}

// Lower-case hexadecimal digits of value, at least one.
std::wstring Hex(uint64_t value) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), L"0123456789abcdef"[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return digits;
}

// A suffix for a temporary file that no other writer (thread or process) picks.
std::wstring TemporarySuffix() {
  static std::atomic<uint32_t> counter{0};
  static const uint64_t token = [] {
    std::random_device device;
    uint64_t value = (static_cast<uint64_t>(device()) << 32) ^ device();
    value ^= static_cast<uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    value ^= reinterpret_cast<uintptr_t>(&counter);
    return value;
  }();
  return L"." + Hex(token) + L"." + Hex(counter.fetch_add(1) + 1) + L".tmp";
}

// How old a temporary file must be before it counts as left by a writer that died: no
// live write takes this long.
constexpr std::chrono::minutes kStaleTemporaryAge{10};

// Removes the temporary files of target ("<target>.<token>.<n>.tmp") older than
// kStaleTemporaryAge: a writer killed mid-write leaves its file, and nothing else
// ever removes it. Errors are ignored: a file that stays is removed next time.
void RemoveStaleTemporaries(const std::filesystem::path& target) {
  std::error_code error;
  const std::filesystem::path folder = target.parent_path();
  std::filesystem::path::string_type prefix = target.filename().native();
  prefix.push_back('.');
  const auto oldest = std::filesystem::file_time_type::clock::now() - kStaleTemporaryAge;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::filesystem::path::string_type name = it->path().filename().native();
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, std::filesystem::path(".tmp").native()) != 0) {
      continue;
    }
    std::error_code ignored;
    const auto written = std::filesystem::last_write_time(it->path(), ignored);
    if (!ignored && written < oldest) std::filesystem::remove(it->path(), ignored);
  }
}

// Puts the written temporary file in the target's place at once. On Windows the
// replace is refused for a moment while another writer replaces the same file or a
// reader holds it open: it is tried again for a while before it counts as failed.
void ReplaceWith(const std::filesystem::path& temporary, const std::filesystem::path& target,
                 std::error_code& error) {
  std::filesystem::rename(temporary, target, error);
#if defined(_WIN32)
  for (int attempt = 1; error && attempt < 50; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 10 ? 1 : 10));
    std::filesystem::rename(temporary, target, error);
  }
#endif
}

}  // namespace

BlogCache::BlogCache() : usesHost_(true) {}

BlogCache::BlogCache(ISettingsStore* store, const std::wstring& userPath)
    : usesHost_(false), store_(store), userPath_(userPath) {}

bool BlogCache::IsSafeUserId(const std::wstring& userId) {
  if (userId.empty() || userId == L"." || userId.find(L"..") != std::wstring::npos) {
    return false;
  }
  for (wchar_t c : userId) {
    if (c < 0x20 || c == 0x7F) return false;
    if (std::wcschr(L"/\\:*?\"<>|", c) != nullptr) return false;
  }
  wchar_t last = userId.back();
  if (last == L'.' || last == L' ') return false;
  if (IsDeviceName(userId)) return false;
  // The settings keys and the folder creation use the ANSI form: it must name this id
  // and no other.
  try {
    return AnsiToWide(WideToAnsi(userId)) == userId;
  } catch (const ConversionError&) {
    return false;
  }
}

void BlogCache::Init(const std::wstring& userId) {
  Hold hold(CacheLock());
  userId_ = userId;
  folder_.clear();
  filePath_.clear();
  key_.clear();
  bodySaved_ = false;
  hasPendingLastModified_ = false;
  pendingLastModified_.clear();
  usable_ = IsSafeUserId(userId);
  if (!usable_) return;

  if (usesHost_) {
    store_.Release();
    IZQCPPlatform* platform = ZQCP::GetHostPlatform();
    if (platform != nullptr) platform->GetSettingsStore(&store_);
    Community::FileSystemToolbox_* toolbox = Community::FileSystemToolbox_::Instance();
    userPath_ = toolbox != nullptr ? toolbox->GetUserPath() : std::wstring();
  }
  std::wstring base = userPath_;
  if (!base.empty() && !IsSeparator(base.back())) base.push_back(kPathSeparator);
  folder_ = base + userId + kPathSeparator + L"BlogCache" + kPathSeparator;

  if (store_) {
    Bstr name = MakeBstr(userId);
    CComPtr<ISettingsSection> section;
    if (name == nullptr || store_->OpenSection(name.get(), &section) != S_OK) {
      section.Release();
      if (name != nullptr) store_->CreateSection(name.get(), 1);
    }
  }

  std::string narrowFolder = WideToAnsi(folder_);
  if (!narrowFolder.empty() && !IsFolder(folder_)) {
    MakeSureDirectoryPathExists(narrowFolder.c_str());
    if (!IsFolder(folder_)) {
      // The ANSI form could not name the folder (text outside the code page, or a file
      // system that stores another encoding): create it by its wide name.
      std::error_code error;
      std::filesystem::create_directories(FileSystemPath(folder_), error);
    }
  }
}

std::wstring BlogCache::GetIfModifiedSince(int albumId) {
  Hold hold(CacheLock());
  filePath_.clear();
  key_.clear();
  bodySaved_ = false;
  hasPendingLastModified_ = false;
  pendingLastModified_.clear();
  if (!usable_) return kDefaultValidator;

  std::wstring name = albumId == -1 ? L"AlbumList_" + userId_ : L"Album_" + std::to_wstring(albumId);
  filePath_ = folder_ + name + L".xml";
  key_ = name + L"_Modified";

  if (IsFile(filePath_)) {
    CComPtr<ISettingsSection> section = OpenSection();
    if (!section) return kDefaultValidator;
    char buffer[kValueCapacity + 1] = {};
    int length = kValueCapacity;
    section->ReadValue(WideToAnsi(key_).c_str(), buffer, &length);
    buffer[kValueCapacity] = '\0';
    return AnsiToWide(std::string(buffer));
  }
  std::ofstream created(FileSystemPath(filePath_), std::ios::binary | std::ios::trunc);
  return kDefaultValidator;
}

bool BlogCache::LoadBody(std::string* body) const {
  body->clear();
  if (!usable_ || filePath_.empty()) return false;
  std::ifstream in(FileSystemPath(filePath_), std::ios::binary);
  if (!in) return false;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  body->swap(text);
  return true;
}

bool BlogCache::SaveLastModified(const std::string& value) {
  if (!usable_ || key_.empty()) return false;
  if (bodySaved_) return WriteLastModified(value);
  pendingLastModified_ = value;
  hasPendingLastModified_ = true;
  return true;
}

bool BlogCache::SaveBody(const char* text) {
  if (text == nullptr || !usable_ || filePath_.empty()) return false;
  const std::filesystem::path target = FileSystemPath(filePath_);
  const std::filesystem::path temporary = FileSystemPath(filePath_ + TemporarySuffix());
  std::error_code error;
  bool written = false;
  // A plain C stream: a long list is one write, without a file stream's setup.
#if defined(_WIN32)
  std::FILE* out = _wfopen(temporary.c_str(), L"wb");
#else
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
#endif
  if (out != nullptr) {
    const size_t length = std::strlen(text);
    written = std::fwrite(text, 1, length, out) == length;
    written = std::fclose(out) == 0 && written;
  }
  if (written) {
    ReplaceWith(temporary, target, error);
    written = !error;
  }
  if (!written) {
    std::filesystem::remove(temporary, error);
    return false;
  }
  RemoveStaleTemporaries(target);
  bodySaved_ = true;
  if (hasPendingLastModified_) {
    hasPendingLastModified_ = false;
    WriteLastModified(pendingLastModified_);
    pendingLastModified_.clear();
  }
  return true;
}

CComPtr<ISettingsSection> BlogCache::OpenSection() const {
  CComPtr<ISettingsSection> section;
  if (!store_) return section;
  Bstr name = MakeBstr(userId_);
  if (name == nullptr) return section;
  if (store_->OpenSection(name.get(), &section) != S_OK) section.Release();
  return section;
}

bool BlogCache::WriteLastModified(const std::string& value) const {
  CComPtr<ISettingsSection> section = OpenSection();
  if (!section) return false;
  int now = static_cast<int>(std::time(nullptr));
  return SUCCEEDED(section->WriteValue(WideToAnsi(key_).c_str(), now, value.c_str(),
                                       static_cast<int>(value.size())));
}

}  // namespace ZQBlog
}  // namespace Velmora
