// Fakes for the list command tests (included by *_test.cpp only): a small XML reader
// and writer standing in for the host's "IXMLPackageParser" (named values are
// attributes, element texts the text of the first child element of a name), reply
// headers with a status and named fields, and a platform that hands out a new XML parser
// for every request. Built on CommandTestSupport.h's fake host.
#ifndef ZQBLOG_COMMANDS_XMLREPLYTESTSUPPORT_H_
#define ZQBLOG_COMMANDS_XMLREPLYTESTSUPPORT_H_

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "commands/CommandTestSupport.h"
#include "data/AlbumInfo.h"
#include "data/AlbumListInfo.h"
#include "data/StringSetter.h"
#include "framework/FrameworkTestSupport.h"
#include "interfaces/IHttpReplyHeaders.h"
#include "interfaces/IPackageParser.h"
#include "interfaces/IXMLNode.h"
#include "interfaces/IXMLPackage.h"
#include "platform/atl.h"
#include "session/BlogSession.h"
#include "util/CriticalSection.h"

namespace Velmora {
namespace ZQBlog {
namespace xml_testing {

using framework_testing::Fake;

// ---------------------------------------------------------------- the document

struct Element {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string text;  // the element's own text pieces, joined
  std::vector<std::shared_ptr<Element>> children;

  // Builders for the tests.
  Element& Attr(const std::string& key, const std::string& value) {
    attributes.emplace_back(key, value);
    return *this;
  }
  Element& Add(const std::shared_ptr<Element>& child) {
    children.push_back(child);
    return *this;
  }
  Element& Child(const std::string& childName, const std::string& childText) {
    auto child = std::make_shared<Element>();
    child->name = childName;
    child->text = childText;
    children.push_back(child);
    return *this;
  }
};
typedef std::shared_ptr<Element> ElementPtr;

inline ElementPtr MakeElement(const std::string& name) {
  auto element = std::make_shared<Element>();
  element->name = name;
  return element;
}

// Appends c as UTF-8.
inline void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// A strict reader of the XML the tests write: an optional declaration, comments, one
// root element, attributes in single or double quotes, texts with the five named
// entities and character references. Null for anything else.
class XmlReader {
 public:
  static ElementPtr Parse(const std::string& text) {
    XmlReader reader(text);
    reader.SkipMisc();
    ElementPtr root = reader.ReadElement();
    if (!root) return nullptr;
    reader.SkipMisc();
    if (reader.at_ != text.size()) return nullptr;
    return root;
  }

 private:
  explicit XmlReader(const std::string& text) : s_(text) {}

  bool StartsWith(const char* prefix) const {
    return s_.compare(at_, std::strlen(prefix), prefix) == 0;
  }
  void SkipSpace() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' ||
                               s_[at_] == '\t')) {
      ++at_;
    }
  }
  // White space, the declaration and comments.
  void SkipMisc() {
    for (;;) {
      SkipSpace();
      if (StartsWith("<?")) {
        size_t end = s_.find("?>", at_);
        if (end == std::string::npos) return;
        at_ = end + 2;
      } else if (StartsWith("<!--")) {
        size_t end = s_.find("-->", at_);
        if (end == std::string::npos) return;
        at_ = end + 3;
      } else {
        return;
      }
    }
  }
  static bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || c == '.' || c == ':';
  }
  bool ReadName(std::string* name) {
    size_t begin = at_;
    while (at_ < s_.size() && IsNameChar(s_[at_])) ++at_;
    if (at_ == begin) return false;
    name->assign(s_, begin, at_ - begin);
    return true;
  }
  // Decodes the entity at at_ ('&') onto out.
  bool ReadEntity(std::string* out) {
    size_t end = s_.find(';', at_);
    if (end == std::string::npos || end - at_ > 12) return false;
    std::string entity = s_.substr(at_ + 1, end - at_ - 1);
    at_ = end + 1;
    static const std::pair<const char*, char> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& named : kNamed) {
      if (entity == named.first) {
        out->push_back(named.second);
        return true;
      }
    }
    if (entity.size() < 2 || entity[0] != '#') return false;
    uint32_t value = 0;
    bool hex = entity[1] == 'x';
    size_t i = hex ? 2 : 1;
    if (i >= entity.size()) return false;
    for (; i < entity.size(); ++i) {
      char c = entity[i];
      int digit = (c >= '0' && c <= '9') ? c - '0'
                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                : -1;
      if (digit < 0) return false;
      value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
      if (value > 0x10FFFF) return false;
    }
    AppendUtf8(value, out);
    return true;
  }
  bool ReadAttributeValue(std::string* value) {
    if (at_ >= s_.size() || (s_[at_] != '"' && s_[at_] != '\'')) return false;
    char quote = s_[at_++];
    while (at_ < s_.size() && s_[at_] != quote) {
      if (s_[at_] == '<') return false;
      if (s_[at_] == '&') {
        if (!ReadEntity(value)) return false;
      } else {
        value->push_back(s_[at_++]);
      }
    }
    if (at_ >= s_.size()) return false;
    ++at_;
    return true;
  }
  ElementPtr ReadElement() {
    if (at_ >= s_.size() || s_[at_] != '<') return nullptr;
    ++at_;
    auto element = std::make_shared<Element>();
    if (!ReadName(&element->name)) return nullptr;
    for (;;) {
      SkipSpace();
      if (StartsWith("/>")) {
        at_ += 2;
        return element;
      }
      if (StartsWith(">")) {
        ++at_;
        break;
      }
      std::string key;
      std::string value;
      if (!ReadName(&key)) return nullptr;
      SkipSpace();
      if (at_ >= s_.size() || s_[at_] != '=') return nullptr;
      ++at_;
      SkipSpace();
      if (!ReadAttributeValue(&value)) return nullptr;
      element->attributes.emplace_back(key, value);
    }
    for (;;) {
      if (at_ >= s_.size()) return nullptr;
      if (StartsWith("</")) {
        at_ += 2;
        std::string name;
        if (!ReadName(&name) || name != element->name) return nullptr;
        SkipSpace();
        if (at_ >= s_.size() || s_[at_] != '>') return nullptr;
        ++at_;
        return element;
      }
      if (StartsWith("<!--")) {
        size_t end = s_.find("-->", at_);
        if (end == std::string::npos) return nullptr;
        at_ = end + 3;
      } else if (s_[at_] == '<') {
        ElementPtr child = ReadElement();
        if (!child) return nullptr;
        element->children.push_back(child);
      } else if (s_[at_] == '&') {
        if (!ReadEntity(&element->text)) return nullptr;
      } else {
        size_t end = s_.find_first_of("<&", at_);
        if (end == std::string::npos) end = s_.size();
        element->text.append(s_, at_, end - at_);
        at_ = end;
      }
    }
  }

  const std::string& s_;
  size_t at_ = 0;
};

// Writes an element the way the host's serializer does: line feeds, carriage returns
// and tabs in attribute values as "&#10;", "&#13;" and "&#09;".
inline void WriteXml(const Element& element, std::string* out) {
  *out += '<';
  *out += element.name;
  for (const auto& attribute : element.attributes) {
    *out += ' ';
    *out += attribute.first;
    *out += "=\"";
    for (char c : attribute.second) {
      switch (c) {
        case '&': *out += "&amp;"; break;
        case '<': *out += "&lt;"; break;
        case '"': *out += "&quot;"; break;
        case '\n': *out += "&#10;"; break;
        case '\r': *out += "&#13;"; break;
        case '\t': *out += "&#09;"; break;
        default: *out += c; break;
      }
    }
    *out += '"';
  }
  if (element.text.empty() && element.children.empty()) {
    *out += "/>";
    return;
  }
  *out += '>';
  for (size_t at = 0; at < element.text.size();) {
    size_t end = element.text.find_first_of("&<>", at);
    if (end == std::string::npos) end = element.text.size();
    out->append(element.text, at, end - at);
    if (end < element.text.size()) {
      char c = element.text[end];
      *out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : "&gt;";
      ++end;
    }
    at = end;
  }
  for (const ElementPtr& child : element.children) WriteXml(*child, out);
  *out += "</";
  *out += element.name;
  *out += '>';
}

inline std::string XmlText(const Element& root) {
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  WriteXml(root, &out);
  return out;
}

// ---------------------------------------------------------------- the host's objects

// Copies text into buffer[0, size) cut to size - 1 bytes; S_OK, or S_FALSE and "" when
// absent.
inline HRESULT CopyOut(const std::string* text, char* buffer, int size) {
  if (buffer == nullptr) return E_POINTER;
  if (size < 1) return E_INVALIDARG;
  if (text == nullptr) {
    buffer[0] = '\0';
    return S_FALSE;
  }
  size_t n = std::min(text->size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text->data(), n);
  buffer[n] = '\0';
  return S_OK;
}

inline const std::string* AttributeOf(const Element& element, const char* name) {
  if (name == nullptr) return nullptr;
  for (const auto& attribute : element.attributes) {
    if (attribute.first == name) return &attribute.second;
  }
  return nullptr;
}

inline const Element* NamedChildOf(const Element& element, const char* name, int index) {
  if (index < 0) return nullptr;
  for (const ElementPtr& child : element.children) {
    if (name == nullptr || child->name == name) {
      if (index-- == 0) return child.get();
    }
  }
  return nullptr;
}

class FakeXmlNode : public Fake<IXMLNode> {
 public:
  // root keeps the document alive; element lies inside it.
  FakeXmlNode(ElementPtr root, const Element* element)
      : root_(std::move(root)), element_(element) {}

  STDMETHOD(GetValue)(LPCSTR name, char* buffer, int size) override {
    if (name == nullptr) return E_POINTER;
    return CopyOut(AttributeOf(*element_, name), buffer, size);
  }
  STDMETHOD(GetElementText)(LPCSTR name, char* buffer, int size) override {
    if (name == nullptr) return E_POINTER;
    const Element* child = NamedChildOf(*element_, name, 0);
    return CopyOut(child != nullptr ? &child->text : nullptr, buffer, size);
  }
  STDMETHOD(GetText)(char* buffer, int size) override {
    return CopyOut(&element_->text, buffer, size);
  }
  STDMETHOD(GetChildCount)(LPCSTR name, int* count) override {
    if (count == nullptr) return E_POINTER;
    int n = 0;
    for (const ElementPtr& child : element_->children) {
      if (name == nullptr || child->name == name) ++n;
    }
    *count = n;
    return S_OK;
  }
  STDMETHOD(GetChild)(int index, IXMLNode** child) override {
    return Hand(NamedChildOf(*element_, nullptr, index), child);
  }
  STDMETHOD(GetNamedChild)(LPCSTR name, int index, IXMLNode** child) override {
    if (name == nullptr) return E_POINTER;
    return Hand(NamedChildOf(*element_, name, index), child);
  }

 private:
  HRESULT Hand(const Element* element, IXMLNode** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (element == nullptr) return E_INVALIDARG;
    CComPtr<IXMLNode> node(new FakeXmlNode(root_, element));
    *out = node.Detach();
    return S_OK;
  }

  ElementPtr root_;
  const Element* element_;
};

class FakeXmlPackage : public Fake<IXMLPackage> {
 public:
  STDMETHOD(SetData)(const BYTE* data, int length, int* storedLength) override {
    if (data == nullptr) return E_FAIL;
    if (length < 0) return E_INVALIDARG;
    if (storedLength == nullptr) return E_POINTER;
    serialized_.clear();
    root_ = XmlReader::Parse(std::string(reinterpret_cast<const char*>(data),
                                         static_cast<size_t>(length)));
    *storedLength = length;
    return root_ ? S_OK : E_FAIL;
  }
  STDMETHOD(GetRoot)(IXMLNode** root) override {
    if (root == nullptr) return E_POINTER;
    *root = nullptr;
    if (!root_) return E_FAIL;
    CComPtr<IXMLNode> node(new FakeXmlNode(root_, root_.get()));
    *root = node.Detach();
    return S_OK;
  }
  STDMETHOD(Serialize)(char* buffer, int* size) override {
    ++serializeCalls;
    if (size == nullptr) return E_POINTER;
    if (!root_) return E_FAIL;
    capacities.push_back(*size);
    if (serialized_.empty()) serialized_ = XmlText(*root_);
    const std::string& text = serialized_;
    const int needed = static_cast<int>(text.size()) + 1;
    if (*size < needed) {
      *size = needed;
      return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    if (buffer == nullptr) return E_POINTER;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    *size = needed - 1;
    return S_OK;
  }
  STDMETHOD(GetValue)(LPCSTR name, char* buffer, int size) override {
    if (!root_) return CopyOut(nullptr, buffer, size);
    return CopyOut(AttributeOf(*root_, name), buffer, size);
  }
  STDMETHOD(GetElementText)(LPCSTR name, char* buffer, int size) override {
    const Element* child = root_ ? NamedChildOf(*root_, name, 0) : nullptr;
    return CopyOut(child != nullptr ? &child->text : nullptr, buffer, size);
  }
  STDMETHOD(GetItemCount)(int* count) override {
    if (count == nullptr) return E_POINTER;
    int n = 0;
    if (root_) {
      for (const ElementPtr& child : root_->children) n += child->name == "resource" ? 1 : 0;
    }
    *count = n;
    return S_OK;
  }
  STDMETHOD(GetItem)(int index, IXMLNode** item) override {
    if (item == nullptr) return E_POINTER;
    *item = nullptr;
    const Element* element = root_ ? NamedChildOf(*root_, "resource", index) : nullptr;
    if (element == nullptr) return E_INVALIDARG;
    CComPtr<IXMLNode> node(new FakeXmlNode(root_, element));
    *item = node.Detach();
    return S_OK;
  }

  std::atomic<int> serializeCalls{0};
  std::vector<int> capacities;  // the buffer size of each Serialize call

 private:
  ElementPtr root_;
  std::string serialized_;  // made on the first Serialize
};

// "IXMLPackageParser": one package per body that parses, none otherwise.
class FakeXmlParser : public Fake<IPackageParser> {
 public:
  STDMETHOD(Reset)() override {
    package_.Release();
    return S_OK;
  }
  STDMETHOD(Parse)(const BYTE* data, int length) override {
    package_.Release();
    parsed.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    CComPtr<FakeXmlPackage> package(new FakeXmlPackage);
    int stored = 0;
    if (FAILED(package->SetData(data != nullptr ? data : reinterpret_cast<const BYTE*>(""),
                                length, &stored))) {
      return E_FAIL;
    }
    package_ = package;
    return S_OK;
  }
  STDMETHOD(GetPackageCount)(int* count) override {
    if (count == nullptr) return E_POINTER;
    *count = package_ ? 1 : 0;
    return S_OK;
  }
  STDMETHOD(GetPackage)(IPackage** package) override {
    if (package == nullptr) return E_POINTER;
    *package = nullptr;
    if (!package_) return E_FAIL;
    *package = static_cast<IPackage*>(static_cast<IXMLPackage*>(package_.p));
    package_->AddRef();
    return S_OK;
  }

  CComPtr<FakeXmlPackage> package() const { return package_; }
  std::string parsed;

 private:
  CComPtr<FakeXmlPackage> package_;
};

// Reply headers: a status and named fields (names compared without regard to case).
class FakeHeaders : public Fake<IHttpReplyHeaders> {
 public:
  explicit FakeHeaders(int status) : status_(status) {}
  FakeHeaders& Field(const std::string& name, const std::string& value) {
    fields_.emplace_back(name, value);
    return *this;
  }

  STDMETHOD(GetStatusCode)(int* status) override {
    if (status == nullptr) return E_POINTER;
    *status = status_;
    return S_OK;
  }
  STDMETHOD(GetHeader)(LPCSTR name, IStringSetter* value) override {
    if (name == nullptr || value == nullptr) return E_POINTER;
    requested.push_back(name);
    for (const auto& field : fields_) {
      if (SameName(field.first, name)) {
        return value->SetString(static_cast<int>(field.second.size()),
                                reinterpret_cast<const BYTE*>(field.second.data()));
      }
    }
    return S_FALSE;
  }

  std::vector<std::string> requested;

 private:
  static bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
      char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
      if (x != y) return false;
    }
    return true;
  }

  int status_;
  std::vector<std::pair<std::string, std::string>> fields_;
};

// The fake host platform with a new FakeXmlParser for every "IXMLPackageParser"
// request; the parsers made are kept for the test.
class XmlPlatform : public commands_testing::FakePlatform {
 public:
  STDMETHOD(CreateObjectByName)(LPCWSTR name, int reserved, IUnknown** object) override {
    *object = nullptr;
    objectRequests.push_back(std::wstring(name) + L"/" + std::to_wstring(reserved));
    if (std::wstring(name) != L"IXMLPackageParser" || noXmlParser) {
      return CLASS_E_CLASSNOTAVAILABLE;
    }
    CComPtr<FakeXmlParser> parser(new FakeXmlParser);
    parsers.push_back(parser);
    *object = static_cast<IPackageParser*>(parser.Detach());
    return S_OK;
  }

  bool noXmlParser = false;
  std::vector<CComPtr<FakeXmlParser>> parsers;
};


// ---------------------------------------------------------------- session snapshots

inline std::wstring TakeText(BSTR text) {
  std::wstring value = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return value;
}

// Every field of a resource, read through IZQResInfo.
struct ResourceState {
  int id = 0;
  std::wstring cid, gcid, resName, format, size, lastTime, url, original, refer, desc;
  int resType = 0, state = 0, categoryId = 0;
  std::wstring uin;

  bool operator==(const ResourceState& o) const {
    return id == o.id && cid == o.cid && gcid == o.gcid && resName == o.resName &&
           format == o.format && size == o.size && lastTime == o.lastTime && url == o.url &&
           original == o.original && refer == o.refer && desc == o.desc &&
           resType == o.resType && state == o.state && categoryId == o.categoryId &&
           uin == o.uin;
  }
};

inline ResourceState StateOf(IZQResInfo* resource) {
  ResourceState r;
  BSTR text = nullptr;
  resource->GetId(&r.id);
  resource->GetCid(&text), r.cid = TakeText(text);
  resource->GetGcid(&text), r.gcid = TakeText(text);
  resource->GetResName(&text), r.resName = TakeText(text);
  resource->GetFormat(&text), r.format = TakeText(text);
  resource->GetSize(&text), r.size = TakeText(text);
  resource->GetLastTime(&text), r.lastTime = TakeText(text);
  resource->GetUrl(&text), r.url = TakeText(text);
  resource->GetOriginal(&text), r.original = TakeText(text);
  resource->GetRefer(&text), r.refer = TakeText(text);
  resource->GetDesc(&text), r.desc = TakeText(text);
  resource->GetResType(&r.resType);
  resource->GetState(&r.state);
  resource->GetCategoryId(&r.categoryId);
  resource->GetUin(&text), r.uin = TakeText(text);
  return r;
}

// Every field of an album and its resources in album order.
struct AlbumState {
  int id = 0;
  std::wstring categoryName;
  int showStatus = 0, categoryType = 0;
  std::wstring desc, lastTime, picUrl;
  int tagNum = 0;
  std::wstring tags[3];
  bool resourcesLoaded = false;
  std::vector<ResourceState> resources;

  bool operator==(const AlbumState& o) const {
    return id == o.id && categoryName == o.categoryName && showStatus == o.showStatus &&
           categoryType == o.categoryType && desc == o.desc && lastTime == o.lastTime &&
           picUrl == o.picUrl && tagNum == o.tagNum && tags[0] == o.tags[0] &&
           tags[1] == o.tags[1] && tags[2] == o.tags[2] &&
           resourcesLoaded == o.resourcesLoaded && resources == o.resources;
  }
};

inline AlbumState StateOf(AlbumInfo* album) {
  AlbumState a;
  BSTR text = nullptr;
  album->GetId(&a.id);
  album->GetCategoryName(&text), a.categoryName = TakeText(text);
  album->GetShowStatus(&a.showStatus);
  album->GetCategoryType(&a.categoryType);
  album->GetDesc(&text), a.desc = TakeText(text);
  album->GetLastTime(&text), a.lastTime = TakeText(text);
  album->GetPicUrl(&text), a.picUrl = TakeText(text);
  album->GetTagNum(&a.tagNum);
  for (int i = 0; i < 3; ++i) {
    text = nullptr;
    album->GetTag(i, &text);
    a.tags[i] = TakeText(text);
  }
  a.resourcesLoaded = album->ResourcesLoaded();
  int count = 0;
  album->GetResourceCount(&count);
  for (int i = 0; i < count; ++i) {
    CComPtr<IZQResInfo> resource;
    album->GetResource(i, &resource);
    a.resources.push_back(StateOf(resource));
  }
  return a;
}

// The albums of uin's list in list order (empty when there is no list), read under the
// session's AlbumListLock.
inline std::vector<AlbumState> AlbumsOf(BlogSession_* session, const std::wstring& uin) {
  std::vector<AlbumState> albums;
  TAVO::System::Thread::ScopedLock<TAVO::System::Thread::CriticalSection> hold(
      session->AlbumListLock());
  AlbumListInfo* list = session->FindAlbumList(uin);
  if (list == nullptr) return albums;
  int count = 0;
  list->GetAlbumCount(&count);
  for (int i = 0; i < count; ++i) {
    CComPtr<IZQAlbumInfo> album;
    list->GetAlbum(i, &album);
    albums.push_back(StateOf(static_cast<AlbumInfo*>(album.p)));
  }
  return albums;
}

inline std::vector<int> IdsOf(const std::vector<AlbumState>& albums) {
  std::vector<int> ids;
  for (const AlbumState& album : albums) ids.push_back(album.id);
  return ids;
}

inline std::vector<int> IdsOf(const std::vector<ResourceState>& resources) {
  std::vector<int> ids;
  for (const ResourceState& resource : resources) ids.push_back(resource.id);
  return ids;
}

// Every (cid, album id) pair of the session's index, in the index's order.
inline std::vector<std::pair<std::wstring, int>> CidPairsOf(BlogSession_* session) {
  std::vector<std::pair<std::wstring, int>> pairs;
  session->ForEachCidPair(
      [&pairs](const std::wstring& cid, int albumId) { pairs.emplace_back(cid, albumId); });
  return pairs;
}

// ---------------------------------------------------------------- files and replies

// A new empty folder under the system's temporary folder, removed with its content.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("zqblog-list-" + std::to_string(random()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(path_);
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  // The folder, ending with the separator, as the blog cache takes a user path.
  std::wstring UserPath() const {
    return path_.wstring() + static_cast<wchar_t>(std::filesystem::path::preferred_separator);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline bool ReadFile(const std::filesystem::path& path, std::string* content) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content->assign(static_cast<size_t>(size), '\0');
  in.read(&(*content)[0], static_cast<std::streamsize>(size));
  return static_cast<size_t>(in.gcount()) == size;
}

// Plays the connection of a started command: connected, request sent, then the reply:
// its headers (none when null), every piece but the last as data, and the last with the
// end of the reply (no body at all when there are no pieces). Returns the final state.
inline int PlayReply(IWorkshopCmd* cmd, framework_testing::FakeConnection* connection,
                     IHttpReplyHeaders* headers, const std::vector<std::string>& pieces) {
  CComPtr<IHttpConnectionClientEvents> events = connection->events();
  if (!events) return -1;
  events->OnConnect(0, nullptr);
  cmd->Step();
  events->OnSendComplete(0, nullptr);
  cmd->Step();
  if (headers != nullptr) {
    events->OnHeaders(headers, nullptr);
    cmd->Step();
  }
  for (size_t i = 0; i + 1 < pieces.size(); ++i) {
    CComPtr<framework_testing::FakeBuffer> piece(new framework_testing::FakeBuffer(pieces[i]));
    events->OnData(piece, nullptr);
    cmd->Step();
  }
  CComPtr<framework_testing::FakeBuffer> last(
      pieces.empty() ? nullptr : new framework_testing::FakeBuffer(pieces.back()));
  events->OnComplete(0, nullptr, last, nullptr);
  cmd->Step();
  int state = -1;
  cmd->GetState(&state);
  return state;
}

// text cut into n pieces of about equal size (n >= 1).
inline std::vector<std::string> Pieces(const std::string& text, size_t n) {
  std::vector<std::string> pieces;
  size_t step = (text.size() + n - 1) / n;
  if (step == 0) step = 1;
  for (size_t at = 0; at < text.size(); at += step) pieces.push_back(text.substr(at, step));
  if (pieces.empty()) pieces.push_back(std::string());
  return pieces;
}

}  // namespace xml_testing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_XMLREPLYTESTSUPPORT_H_
