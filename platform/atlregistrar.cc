#include "platform/atlregistrar.h"

#include <cwctype>
#include <memory>

namespace ATL {
namespace {

enum class Removal { kNormal, kNoRemove, kForceRemove, kDelete };

struct Item {
  bool isValue = false;  // "val Name = s 'text'"
  Removal removal = Removal::kNormal;
  std::wstring name;
  bool hasDefault = false;  // key "= s 'text'"
  std::wstring text;
  std::vector<Item> children;
};

struct Root {
  HKEY key;
  std::vector<Item> items;
};

bool EqualsIgnoreCase(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != 0; ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return i == a.size() && b[i] == 0;
}

// Splits the script into tokens: words, 'quoted' strings, and the marks { } =.
class Lexer {
 public:
  explicit Lexer(const std::wstring& text) : text_(text) {}

  // Next token into *token; *quoted tells a quoted string from a word or mark.
  // False at the end or on an unterminated string (then *error is set).
  bool Next(std::wstring* token, bool* quoted) {
    while (pos_ < text_.size() && std::iswspace(text_[pos_])) ++pos_;
    if (pos_ >= text_.size()) return false;
    wchar_t c = text_[pos_];
    token->clear();
    *quoted = false;
    if (c == L'{' || c == L'}' || c == L'=') {
      token->push_back(c);
      ++pos_;
      return true;
    }
    if (c == L'\'') {
      *quoted = true;
      ++pos_;
      while (pos_ < text_.size()) {
        if (text_[pos_] == L'\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == L'\'') {
            token->push_back(L'\'');
            pos_ += 2;
            continue;
          }
          ++pos_;
          return true;
        }
        token->push_back(text_[pos_++]);
      }
      error_ = true;
      return false;
    }
    while (pos_ < text_.size() && !std::iswspace(text_[pos_]) && text_[pos_] != L'{' &&
           text_[pos_] != L'}' && text_[pos_] != L'=' && text_[pos_] != L'\'') {
      token->push_back(text_[pos_++]);
    }
    return true;
  }

  bool error() const { return error_; }

 private:
  const std::wstring& text_;
  size_t pos_ = 0;
  bool error_ = false;
};

class Parser {
 public:
  explicit Parser(const std::wstring& text) : lexer_(text) {}

  bool Parse(std::vector<Root>* roots) {
    Advance();
    while (have_) {
      Root root;
      if (!RootKey(token_, &root.key)) return false;
      Advance();
      if (!Expect(L"{")) return false;
      if (!Items(&root.items)) return false;
      roots->push_back(std::move(root));
    }
    return !lexer_.error();
  }

 private:
  static bool RootKey(const std::wstring& name, HKEY* key) {
    if (EqualsIgnoreCase(name, L"HKCR") || EqualsIgnoreCase(name, L"HKEY_CLASSES_ROOT")) {
      *key = HKEY_CLASSES_ROOT;
    } else if (EqualsIgnoreCase(name, L"HKCU") ||
               EqualsIgnoreCase(name, L"HKEY_CURRENT_USER")) {
      *key = HKEY_CURRENT_USER;
    } else if (EqualsIgnoreCase(name, L"HKLM") ||
               EqualsIgnoreCase(name, L"HKEY_LOCAL_MACHINE")) {
      *key = HKEY_LOCAL_MACHINE;
    } else {
      return false;
    }
    return true;
  }

  void Advance() { have_ = lexer_.Next(&token_, &quoted_); }

  bool IsMark(const wchar_t* mark) const { return have_ && !quoted_ && token_ == mark; }

  bool Expect(const wchar_t* mark) {
    if (!IsMark(mark)) return false;
    Advance();
    return true;
  }

  // Items up to and including the closing brace.
  bool Items(std::vector<Item>* items) {
    for (;;) {
      if (!have_) return false;
      if (IsMark(L"}")) {
        Advance();
        return true;
      }
      Item item;
      if (!ParseItem(&item)) return false;
      items->push_back(std::move(item));
    }
  }

  // "= s 'text'"
  bool StringAssignment(std::wstring* text) {
    if (!Expect(L"=")) return false;
    if (!have_ || quoted_ || !EqualsIgnoreCase(token_, L"s")) return false;
    Advance();
    if (!have_ || IsMark(L"{") || IsMark(L"}") || IsMark(L"=")) return false;
    *text = token_;
    Advance();
    return true;
  }

  bool ParseItem(Item* item) {
    if (!quoted_ && EqualsIgnoreCase(token_, L"val")) {
      item->isValue = true;
      Advance();
      if (!have_ || IsMark(L"{") || IsMark(L"}") || IsMark(L"=")) return false;
      item->name = token_;
      Advance();
      return StringAssignment(&item->text);
    }
    if (!quoted_) {
      if (EqualsIgnoreCase(token_, L"NoRemove")) {
        item->removal = Removal::kNoRemove;
      } else if (EqualsIgnoreCase(token_, L"ForceRemove")) {
        item->removal = Removal::kForceRemove;
      } else if (EqualsIgnoreCase(token_, L"Delete")) {
        item->removal = Removal::kDelete;
      }
      if (item->removal != Removal::kNormal) Advance();
    }
    if (!have_ || IsMark(L"{") || IsMark(L"}") || IsMark(L"=")) return false;
    item->name = token_;
    Advance();
    if (IsMark(L"=")) {
      item->hasDefault = true;
      if (!StringAssignment(&item->text)) return false;
    }
    if (IsMark(L"{")) {
      Advance();
      if (!Items(&item->children)) return false;
    }
    return true;
  }

  Lexer lexer_;
  std::wstring token_;
  bool quoted_ = false;
  bool have_ = false;
};

HRESULT FromWin32(LONG code) { return code == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(code); }

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Deletes a key and everything below it.
LONG DeleteTree(HKEY parent, const std::wstring& name);

class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

HRESULT RegisterItems(HKEY parent, const std::vector<Item>& items) {
  for (const Item& item : items) {
    if (item.isValue) {
      HRESULT hr = FromWin32(SetString(parent, item.name.c_str(), item.text));
      if (FAILED(hr)) return hr;
      continue;
    }
    if (item.removal == Removal::kDelete || item.removal == Removal::kForceRemove) {
      LONG rc = DeleteTree(parent, item.name);
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return FromWin32(rc);
      if (item.removal == Removal::kDelete) continue;
    }
    KeyHandle key;
    HRESULT hr = FromWin32(RegCreateKeyExW(parent, item.name.c_str(), 0, nullptr,
                                           REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                           key.out(), nullptr));
    if (FAILED(hr)) return hr;
    if (item.hasDefault) {
      hr = FromWin32(SetString(key.get(), nullptr, item.text));
      if (FAILED(hr)) return hr;
    }
    hr = RegisterItems(key.get(), item.children);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterItems(HKEY parent, const std::vector<Item>& items) {
  for (const Item& item : items) {
    if (item.isValue) {
      LONG rc = RegDeleteValueW(parent, item.name.c_str());
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return FromWin32(rc);
      continue;
    }
    if (item.removal == Removal::kDelete) continue;  // registration already deleted it
    {
      KeyHandle key;
      LONG rc = RegOpenKeyExW(parent, item.name.c_str(), 0, KEY_ALL_ACCESS, key.out());
      if (rc == ERROR_FILE_NOT_FOUND) continue;  // nothing left to remove
      if (rc != ERROR_SUCCESS) return FromWin32(rc);
      HRESULT hr = UnregisterItems(key.get(), item.children);
      if (FAILED(hr)) return hr;
    }
    if (item.removal == Removal::kNoRemove) continue;
    LONG rc = item.removal == Removal::kForceRemove ? DeleteTree(parent, item.name)
                                                    : RegDeleteKeyW(parent, item.name.c_str());
    // A key that still holds subkeys the script does not name belongs to someone else too.
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND && rc != ERROR_ACCESS_DENIED) {
      return FromWin32(rc);
    }
  }
  return S_OK;
}

LONG DeleteTree(HKEY parent, const std::wstring& name) {
  // The registry API offers no subkey enumeration in our contract; keys are deleted
  // leaf first by the script walk, so a plain delete covers the scripts we run.
  return RegDeleteKeyW(parent, name.c_str());
}

bool Substitute(const std::wstring& script,
                const std::vector<std::pair<std::wstring, std::wstring>>& replacements,
                std::wstring* out) {
  out->clear();
  out->reserve(script.size());
  for (size_t i = 0; i < script.size(); ++i) {
    if (script[i] != L'%') {
      out->push_back(script[i]);
      continue;
    }
    size_t end = script.find(L'%', i + 1);
    if (end == std::wstring::npos) return false;
    std::wstring name = script.substr(i + 1, end - i - 1);
    if (name.empty()) {
      out->push_back(L'%');
    } else {
      const std::wstring* value = nullptr;
      for (const auto& r : replacements) {
        if (EqualsIgnoreCase(r.first, name.c_str())) value = &r.second;
      }
      if (value == nullptr) return false;
      out->append(*value);
    }
    i = end;
  }
  return true;
}

}  // namespace

HRESULT CRegObject::AddReplacement(LPCOLESTR key, LPCOLESTR item) {
  if (key == nullptr || item == nullptr) return E_INVALIDARG;
  replacements_.emplace_back(key, item);
  return S_OK;
}

HRESULT CRegObject::ClearReplacements() {
  replacements_.clear();
  return S_OK;
}

HRESULT CRegObject::Run(LPCOLESTR script, bool doRegister) {
  if (script == nullptr) return E_INVALIDARG;
  std::wstring text;
  if (!Substitute(script, replacements_, &text)) return E_FAIL;
  std::vector<Root> roots;
  Parser parser(text);
  if (!parser.Parse(&roots)) return E_FAIL;
  for (const Root& root : roots) {
    HRESULT hr = doRegister ? RegisterItems(root.key, root.items)
                            : UnregisterItems(root.key, root.items);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace ATL
