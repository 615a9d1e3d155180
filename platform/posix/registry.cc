// The registry substitute: three root trees of keys and values in memory, written to a
// text file in the layout of a Windows .reg export after every change.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CLASSES_ROOT\AppID\{...}]
//   @="ZQBlog"
//   "AppID"="{...}"
//
// Strings are written as "..." with \ and " escaped; a REG_SZ that is not a plain
// terminated one-line text, and every other type, as hex(<type>):<bytes as stored>
// (REG_BINARY as hex:, a 4-byte REG_DWORD as dword:). The file is UTF-8 with CR LF
// lines; a UTF-16 export with a byte-order mark is read as well.
#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/internal.h"

struct ZqRegKey {
  int root;
  std::vector<std::wstring> path;  // folded names, root first excluded
};

namespace {

const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                  "HKEY_LOCAL_MACHINE"};
constexpr int kRootCount = 3;
constexpr char kHeader[] = "Windows Registry Editor Version 5.00";

struct Value {
  std::wstring name;  // as first given
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::wstring name;  // as first given
  std::map<std::wstring, std::unique_ptr<Key>> subkeys;  // by folded name
  std::map<std::wstring, Value> values;                  // by folded name

  std::unique_ptr<Key> Clone() const {
    std::unique_ptr<Key> copy(new Key());
    copy->name = name;
    copy->values = values;
    for (const auto& entry : subkeys) copy->subkeys.emplace(entry.first, entry.second->Clone());
    return copy;
  }
};

struct Tree {
  std::unique_ptr<Key> roots[kRootCount];

  Tree() {
    for (int i = 0; i < kRootCount; ++i) roots[i].reset(new Key());
  }
  Tree Clone() const {
    Tree copy;
    for (int i = 0; i < kRootCount; ++i) copy.roots[i] = roots[i]->Clone();
    return copy;
  }
};

// Case folding for names, the way Windows compares them: any letter in any case.
std::wstring Fold(const std::wstring& name) {
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  std::wstring folded(name);
  for (wchar_t& c : folded) {
    if (utf8 != static_cast<locale_t>(0)) {
      c = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), utf8));
    } else if (c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c - L'A' + L'a');
    }
  }
  return folded;
}

class Registry {
 public:
  std::mutex mu;
  Tree tree;
  std::string file;  // empty: in memory only
  std::set<ZqRegKey*> handles;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry();  // never destroyed: usable at exit
  return *registry;
}

int RootIndex(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return 0;
  if (key == HKEY_CURRENT_USER) return 1;
  if (key == HKEY_LOCAL_MACHINE) return 2;
  return -1;
}

bool IsRoot(HKEY key) { return RootIndex(key) >= 0; }

// The root and path a key handle names. REQUIRES: the registry lock.
LONG Locate(Registry& r, HKEY key, int* root, std::vector<std::wstring>* path) {
  int index = RootIndex(key);
  if (index >= 0) {
    *root = index;
    path->clear();
    return ERROR_SUCCESS;
  }
  if (key == nullptr || r.handles.count(key) == 0) return ERROR_INVALID_HANDLE;
  *root = key->root;
  *path = key->path;
  return ERROR_SUCCESS;
}

Key* Find(Tree& tree, int root, const std::vector<std::wstring>& path) {
  Key* key = tree.roots[root].get();
  for (const std::wstring& part : path) {
    auto it = key->subkeys.find(part);
    if (it == key->subkeys.end()) return nullptr;
    key = it->second.get();
  }
  return key;
}

// Splits "A\B\C" into its names; empty names are skipped. Fails on a line break,
// which a key name of the file cannot hold.
bool SplitSubKey(LPCWSTR subKey, std::vector<std::wstring>* parts) {
  parts->clear();
  if (subKey == nullptr) return true;
  std::wstring part;
  for (const wchar_t* p = subKey;; ++p) {
    if (*p == L'\\' || *p == L'\0') {
      if (!part.empty()) parts->push_back(part);
      part.clear();
      if (*p == L'\0') break;
    } else {
      if (*p == L'\r' || *p == L'\n') return false;
      part.push_back(*p);
    }
  }
  return true;
}

// ---------------------------------------------------------------- the file

std::string Escape(const std::wstring& text) {
  std::string utf8 = zqplatform::WideToUtf8(text);
  std::string out;
  for (char c : utf8) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string Hex(const std::vector<BYTE>& data) {
  std::string out;
  char buffer[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%s%02x", i == 0 ? "" : ",", data[i]);
    out += buffer;
  }
  return out;
}

// A REG_SZ that reads back as the same bytes from "...": whole characters ending in
// one terminator, no other zero and no line break.
bool IsPlainString(const std::vector<BYTE>& data, std::wstring* text) {
  if (data.size() < sizeof(wchar_t) || data.size() % sizeof(wchar_t) != 0) return false;
  size_t count = data.size() / sizeof(wchar_t);
  std::wstring chars(count, L'\0');
  std::memcpy(&chars[0], data.data(), data.size());
  if (chars[count - 1] != L'\0') return false;
  chars.pop_back();
  for (wchar_t c : chars) {
    if (c == L'\0' || c == L'\r' || c == L'\n') return false;
  }
  *text = chars;
  return true;
}

std::string ValueLine(const Value& value) {
  std::string line = value.name.empty() ? "@=" : "\"" + Escape(value.name) + "\"=";
  std::wstring text;
  char buffer[32];
  if (value.type == REG_SZ && IsPlainString(value.data, &text)) {
    line += "\"" + Escape(text) + "\"";
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    uint32_t number;
    std::memcpy(&number, value.data.data(), 4);
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    line += buffer;
  } else if (value.type == REG_BINARY) {
    line += "hex:" + Hex(value.data);
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
    line += buffer + Hex(value.data);
  }
  return line;
}

void WriteKey(const std::string& path, const Key& key, bool isRoot, std::string* out) {
  if (!isRoot || !key.values.empty()) {
    *out += "[" + path + "]\r\n";
    for (const auto& entry : key.values) *out += ValueLine(entry.second) + "\r\n";
    *out += "\r\n";
  }
  for (const auto& entry : key.subkeys) {
    WriteKey(path + "\\" + zqplatform::WideToUtf8(entry.second->name), *entry.second, false,
             out);
  }
}

std::string Serialize(const Tree& tree) {
  std::string out = std::string(kHeader) + "\r\n\r\n";
  for (int i = 0; i < kRootCount; ++i) WriteKey(kRootNames[i], *tree.roots[i], true, &out);
  return out;
}

// Writes the text to a temporary file beside path, then renames it over path.
LONG WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string temporary = path + ".tmp." + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return static_cast<LONG>(zqplatform::Win32ErrorFromErrno(errno));
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      close(fd);
      unlink(temporary.c_str());
      return static_cast<LONG>(zqplatform::Win32ErrorFromErrno(error));
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    int error = errno;
    unlink(temporary.c_str());
    return static_cast<LONG>(zqplatform::Win32ErrorFromErrno(error));
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    int error = errno;
    unlink(temporary.c_str());
    return static_cast<LONG>(zqplatform::Win32ErrorFromErrno(error));
  }
  return ERROR_SUCCESS;
}

// The file's text as UTF-8: a UTF-8 byte-order mark is dropped, UTF-16LE converted.
std::string AsUtf8(const std::string& bytes) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) {
    std::wstring wide;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      uint32_t unit = static_cast<unsigned char>(bytes[i]) |
                      (static_cast<unsigned char>(bytes[i + 1]) << 8);
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
        uint32_t low = static_cast<unsigned char>(bytes[i + 2]) |
                       (static_cast<unsigned char>(bytes[i + 3]) << 8);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      wide.push_back(static_cast<wchar_t>(unit));
    }
    return zqplatform::WideToUtf8(wide);
  }
  return bytes;
}

// Reads a "..." string at text[*pos] (the opening quote); *pos ends after the closing one.
bool ParseQuoted(const std::string& text, size_t* pos, std::wstring* out) {
  if (*pos >= text.size() || text[*pos] != '"') return false;
  std::string utf8;
  for (size_t i = *pos + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\') {
      if (i + 1 >= text.size()) return false;
      utf8.push_back(text[++i]);
    } else if (c == '"') {
      *pos = i + 1;
      *out = zqplatform::Utf8ToWide(utf8);
      return true;
    } else {
      utf8.push_back(c);
    }
  }
  return false;
}

bool ParseHexBytes(const std::string& text, std::vector<BYTE>* out) {
  out->clear();
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i == text.size()) break;
    size_t end = text.find(',', i);
    std::string item = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.pop_back();
    if (item.size() != 2 || !isxdigit(static_cast<unsigned char>(item[0])) ||
        !isxdigit(static_cast<unsigned char>(item[1]))) {
      return false;
    }
    out->push_back(static_cast<BYTE>(std::stoul(item, nullptr, 16)));
    if (end == std::string::npos) break;
    i = end + 1;
  }
  return true;
}

bool ParseData(const std::string& text, Value* value) {
  if (!text.empty() && text[0] == '"') {
    size_t pos = 0;
    std::wstring chars;
    if (!ParseQuoted(text, &pos, &chars) || text.find_first_not_of(" \t", pos) != std::string::npos) {
      return false;
    }
    value->type = REG_SZ;
    value->data.resize((chars.size() + 1) * sizeof(wchar_t));
    std::memcpy(value->data.data(), chars.c_str(), value->data.size());
    return true;
  }
  if (text.compare(0, 6, "dword:") == 0) {
    std::string digits = text.substr(6);
    if (digits.size() != 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      return false;
    }
    uint32_t number = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
    value->type = REG_DWORD;
    value->data.resize(4);
    std::memcpy(value->data.data(), &number, 4);
    return true;
  }
  if (text.compare(0, 4, "hex:") == 0) {
    value->type = REG_BINARY;
    return ParseHexBytes(text.substr(4), &value->data);
  }
  if (text.compare(0, 4, "hex(") == 0) {
    size_t close = text.find("):", 4);
    if (close == std::string::npos || close == 4) return false;
    std::string type = text.substr(4, close - 4);
    if (type.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos || type.size() > 8) {
      return false;
    }
    value->type = static_cast<DWORD>(std::stoul(type, nullptr, 16));
    return ParseHexBytes(text.substr(close + 2), &value->data);
  }
  return false;
}

// Parses a .reg export into tree. False when the text is not one.
bool Parse(const std::string& bytes, Tree* tree) {
  std::string text = AsUtf8(bytes);
  // Lines, with hex continuation lines ("...,\" then "  ...") joined.
  std::vector<std::string> lines;
  std::string pending;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!pending.empty()) {
      size_t first = line.find_first_not_of(" \t");
      line = pending + (first == std::string::npos ? std::string() : line.substr(first));
      pending.clear();
    }
    if (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
      line.pop_back();
      pending = line;
    } else {
      lines.push_back(line);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (!pending.empty()) lines.push_back(pending);

  bool headerSeen = false;
  Key* current = nullptr;
  for (const std::string& raw : lines) {
    size_t first = raw.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    std::string line = raw.substr(first);
    if (line[0] == ';') continue;
    if (!headerSeen) {
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
      if (line != kHeader) return false;
      headerSeen = true;
      continue;
    }
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos || line.size() < 2 || line[1] == '-') return false;
      std::wstring path = zqplatform::Utf8ToWide(line.substr(1, close - 1));
      std::vector<std::wstring> parts;
      if (!SplitSubKey(path.c_str(), &parts) || parts.empty()) return false;
      int root = -1;
      for (int i = 0; i < kRootCount; ++i) {
        if (zqplatform::WideToUtf8(parts[0]) == kRootNames[i]) root = i;
      }
      if (root < 0) return false;
      current = tree->roots[root].get();
      for (size_t i = 1; i < parts.size(); ++i) {
        std::unique_ptr<Key>& child = current->subkeys[Fold(parts[i])];
        if (!child) {
          child.reset(new Key());
          child->name = parts[i];
        }
        current = child.get();
      }
      continue;
    }
    if (current == nullptr) return false;
    Value value;
    size_t pos;
    if (line[0] == '@') {
      pos = 1;
    } else if (line[0] == '"') {
      pos = 0;
      if (!ParseQuoted(line, &pos, &value.name)) return false;
    } else {
      return false;
    }
    if (pos >= line.size() || line[pos] != '=') return false;
    std::string data = line.substr(pos + 1);
    while (!data.empty() && (data.back() == ' ' || data.back() == '\t')) data.pop_back();
    if (!ParseData(data, &value)) return false;
    current->values[Fold(value.name)] = value;
  }
  return headerSeen;
}

// Runs change on a copy of the tree; when it succeeds and changes something, the copy
// is written to the file (if any) and becomes the registry. REQUIRES: the lock.
template <class Change>
LONG Apply(Registry& r, Change change) {
  Tree copy = r.tree.Clone();
  bool changed = false;
  LONG result = change(copy, &changed);
  if (result != ERROR_SUCCESS || !changed) return result;
  if (!r.file.empty()) {
    LONG written = WriteFileAtomically(r.file, Serialize(copy));
    if (written != ERROR_SUCCESS) return written;
  }
  r.tree = std::move(copy);
  return ERROR_SUCCESS;
}

HKEY NewHandle(Registry& r, int root, const std::vector<std::wstring>& path) {
  ZqRegKey* handle = new ZqRegKey{root, path};
  r.handles.insert(handle);
  return handle;
}

// Appends the folded names of parts to path.
void AppendFolded(const std::vector<std::wstring>& parts, std::vector<std::wstring>* path) {
  for (const std::wstring& part : parts) path->push_back(Fold(part));
}

// Takes the lock and runs body(r, root, path) with the root and path the handle key
// names; Locate's error when it names nothing.
template <class Body>
LONG WithKey(HKEY key, Body body) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  int root;
  std::vector<std::wstring> path;
  LONG status = Locate(r, key, &root, &path);
  if (status != ERROR_SUCCESS) return status;
  return body(r, root, path);
}

// WithKey for the key subKey names below the handle key: path carries its names too.
// ERROR_FILE_NOT_FOUND for a subKey that cannot name a key, ERROR_KEY_DELETED when the
// handle's own key is gone.
template <class Body>
LONG WithSubKey(HKEY key, LPCWSTR subKey, Body body) {
  std::vector<std::wstring> parts;
  if (!SplitSubKey(subKey, &parts)) return ERROR_FILE_NOT_FOUND;
  return WithKey(key, [&](Registry& r, int root, std::vector<std::wstring>& path) -> LONG {
    if (Find(r.tree, root, path) == nullptr) return ERROR_KEY_DELETED;
    AppendFolded(parts, &path);
    return body(r, root, path);
  });
}

// Apply with change(target, changed) on the copy's key at root and path;
// ERROR_KEY_DELETED when that key is gone. REQUIRES: the lock.
template <class Change>
LONG ApplyToKey(Registry& r, int root, const std::vector<std::wstring>& path, Change change) {
  return Apply(r, [&](Tree& tree, bool* changed) -> LONG {
    Key* target = Find(tree, root, path);
    if (target == nullptr) return ERROR_KEY_DELETED;
    return change(target, changed);
  });
}

// The name of a value as the API takes it: null names the default value, "".
std::wstring ValueName(LPCWSTR valueName) {
  return valueName == nullptr ? std::wstring() : std::wstring(valueName);
}

}  // namespace

extern "C" {

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD /*reserved*/, LPWSTR /*className*/,
                     DWORD /*options*/, REGSAM /*sam*/, void* /*security*/, PHKEY result,
                     DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::vector<std::wstring> parts;
  if (!SplitSubKey(subKey, &parts)) return ERROR_INVALID_PARAMETER;
  return WithKey(key, [&](Registry& r, int root, std::vector<std::wstring>& path) -> LONG {
    bool created = false;
    LONG status = ApplyToKey(r, root, path, [&](Key* current, bool* changed) -> LONG {
      for (const std::wstring& part : parts) {
        std::unique_ptr<Key>& child = current->subkeys[Fold(part)];
        if (!child) {
          child.reset(new Key());
          child->name = part;
          created = true;
        }
        current = child.get();
      }
      *changed = created;
      return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    AppendFolded(parts, &path);
    *result = NewHandle(r, root, path);
    if (disposition != nullptr) {
      *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return ERROR_SUCCESS;
  });
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD /*options*/, REGSAM /*sam*/, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  return WithSubKey(
      key, subKey, [&](Registry& r, int root, std::vector<std::wstring>& path) -> LONG {
        if (Find(r.tree, root, path) == nullptr) return ERROR_FILE_NOT_FOUND;
        *result = NewHandle(r, root, path);
        return ERROR_SUCCESS;
      });
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD /*reserved*/, DWORD type,
                    const BYTE* data, DWORD size) {
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  std::wstring name = ValueName(valueName);
  if (name.find_first_of(L"\r\n") != std::wstring::npos) return ERROR_INVALID_PARAMETER;
  return WithKey(key, [&](Registry& r, int root, std::vector<std::wstring>& path) {
    return ApplyToKey(r, root, path, [&](Key* target, bool* changed) -> LONG {
      std::wstring folded = Fold(name);
      auto it = target->values.find(folded);
      Value& value = it != target->values.end() ? it->second : target->values[folded];
      if (it == target->values.end()) value.name = name;
      value.type = type;
      value.data.assign(data, data + size);
      *changed = true;
      return ERROR_SUCCESS;
    });
  });
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* /*reserved*/, DWORD* type, BYTE* data,
                      DWORD* size) {
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  std::wstring name = ValueName(valueName);
  return WithKey(key, [&](Registry& r, int root, std::vector<std::wstring>& path) -> LONG {
    Key* target = Find(r.tree, root, path);
    if (target == nullptr) return ERROR_KEY_DELETED;
    auto it = target->values.find(Fold(name));
    if (it == target->values.end()) return ERROR_FILE_NOT_FOUND;
    const Value& value = it->second;
    if (type != nullptr) *type = value.type;
    DWORD needed = static_cast<DWORD>(value.data.size());
    if (data != nullptr) {
      if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
      }
      if (needed != 0) std::memcpy(data, value.data.data(), needed);
    }
    if (size != nullptr) *size = needed;
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  std::wstring name = ValueName(valueName);
  return WithKey(key, [&](Registry& r, int root, std::vector<std::wstring>& path) {
    return ApplyToKey(r, root, path, [&](Key* target, bool* changed) -> LONG {
      if (target->values.erase(Fold(name)) == 0) return ERROR_FILE_NOT_FOUND;
      *changed = true;
      return ERROR_SUCCESS;
    });
  });
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  return WithSubKey(
      key, subKey, [&](Registry& r, int root, std::vector<std::wstring>& path) -> LONG {
        if (path.empty()) return ERROR_ACCESS_DENIED;  // a root is never deleted
        return Apply(r, [&](Tree& tree, bool* changed) -> LONG {
          std::vector<std::wstring> parentPath(path.begin(), path.end() - 1);
          Key* parent = Find(tree, root, parentPath);
          if (parent == nullptr) return ERROR_FILE_NOT_FOUND;
          auto it = parent->subkeys.find(path.back());
          if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
          if (!it->second->subkeys.empty()) return ERROR_ACCESS_DENIED;
          parent->subkeys.erase(it);
          *changed = true;
          return ERROR_SUCCESS;
        });
      });
}

LONG RegCloseKey(HKEY key) {
  if (IsRoot(key)) return ERROR_SUCCESS;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  if (key == nullptr || r.handles.erase(key) == 0) return ERROR_INVALID_HANDLE;
  delete key;
  return ERROR_SUCCESS;
}

LONG ZqRegistrySetFile(const char* path) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  if (path == nullptr) {
    r.tree = Tree();
    r.file.clear();
    return ERROR_SUCCESS;
  }
  if (path[0] == '\0') return ERROR_INVALID_PARAMETER;
  Tree tree;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    if (errno != ENOENT) return static_cast<LONG>(zqplatform::Win32ErrorFromErrno(errno));
  } else {
    std::string bytes;
    char buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return ERROR_INVALID_DATA;
    if (!Parse(bytes, &tree)) return ERROR_BADDB;
  }
  r.tree = std::move(tree);
  r.file = path;
  return ERROR_SUCCESS;
}

}  // extern "C"
