#include "test/XmlParserTestSupport.h"

#include <algorithm>
#include <cstring>

namespace Velmora {
namespace ZQBlog {
namespace xml_testing {

// ---------------------------------------------------------------- the document

Element& Element::Child(const std::string& childName, const std::string& childText) {
  auto child = std::make_shared<Element>();
  child->name = childName;
  child->text = childText;
  children.push_back(child);
  return *this;
}

ElementPtr MakeElement(const std::string& name) {
  auto element = std::make_shared<Element>();
  element->name = name;
  return element;
}

void AppendUtf8(uint32_t c, std::string* out) {
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

ElementPtr XmlReader::Parse(const std::string& text) {
  XmlReader reader(text);
  reader.SkipMisc();
  ElementPtr root = reader.ReadElement();
  if (!root) return nullptr;
  reader.SkipMisc();
  if (reader.at_ != text.size()) return nullptr;
  return root;
}

bool XmlReader::StartsWith(const char* prefix) const {
  return s_.compare(at_, std::strlen(prefix), prefix) == 0;
}

void XmlReader::SkipSpace() {
  while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' ||
                             s_[at_] == '\t')) {
    ++at_;
  }
}

void XmlReader::SkipMisc() {
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

bool XmlReader::IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '-' || c == '.' || c == ':';
}

bool XmlReader::ReadName(std::string* name) {
  size_t begin = at_;
  while (at_ < s_.size() && IsNameChar(s_[at_])) ++at_;
  if (at_ == begin) return false;
  name->assign(s_, begin, at_ - begin);
  return true;
}

bool XmlReader::ReadEntity(std::string* out) {
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

bool XmlReader::ReadAttributeValue(std::string* value) {
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

ElementPtr XmlReader::ReadElement() {
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

void WriteXml(const Element& element, std::string* out) {
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

std::string XmlText(const Element& root) {
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  WriteXml(root, &out);
  return out;
}

// ---------------------------------------------------------------- the host's objects

HRESULT CopyOut(const std::string* text, char* buffer, int size) {
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

const std::string* AttributeOf(const Element& element, const char* name) {
  if (name == nullptr) return nullptr;
  for (const auto& attribute : element.attributes) {
    if (attribute.first == name) return &attribute.second;
  }
  return nullptr;
}

const Element* NamedChildOf(const Element& element, const char* name, int index) {
  if (index < 0) return nullptr;
  for (const ElementPtr& child : element.children) {
    if (name == nullptr || child->name == name) {
      if (index-- == 0) return child.get();
    }
  }
  return nullptr;
}

// FakeXmlNode

STDMETHODIMP FakeXmlNode::GetValue(LPCSTR name, char* buffer, int size) {
  if (name == nullptr) return E_POINTER;
  return CopyOut(AttributeOf(*element_, name), buffer, size);
}

STDMETHODIMP FakeXmlNode::GetElementText(LPCSTR name, char* buffer, int size) {
  if (name == nullptr) return E_POINTER;
  const Element* child = NamedChildOf(*element_, name, 0);
  return CopyOut(child != nullptr ? &child->text : nullptr, buffer, size);
}

STDMETHODIMP FakeXmlNode::GetText(char* buffer, int size) {
  return CopyOut(&element_->text, buffer, size);
}

STDMETHODIMP FakeXmlNode::GetChildCount(LPCSTR name, int* count) {
  if (count == nullptr) return E_POINTER;
  int n = 0;
  for (const ElementPtr& child : element_->children) {
    if (name == nullptr || child->name == name) ++n;
  }
  *count = n;
  return S_OK;
}

STDMETHODIMP FakeXmlNode::GetChild(int index, IXMLNode** child) {
  return Hand(NamedChildOf(*element_, nullptr, index), child);
}

STDMETHODIMP FakeXmlNode::GetNamedChild(LPCSTR name, int index, IXMLNode** child) {
  if (name == nullptr) return E_POINTER;
  return Hand(NamedChildOf(*element_, name, index), child);
}

HRESULT FakeXmlNode::Hand(const Element* element, IXMLNode** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (element == nullptr) return E_INVALIDARG;
  CComPtr<IXMLNode> node(new FakeXmlNode(root_, element));
  *out = node.Detach();
  return S_OK;
}

// FakeXmlPackage

STDMETHODIMP FakeXmlPackage::SetData(const BYTE* data, int length, int* storedLength) {
  if (data == nullptr) return E_FAIL;
  if (length < 0) return E_INVALIDARG;
  if (storedLength == nullptr) return E_POINTER;
  serialized_.clear();
  root_ = XmlReader::Parse(std::string(reinterpret_cast<const char*>(data),
                                       static_cast<size_t>(length)));
  *storedLength = length;
  return root_ ? S_OK : E_FAIL;
}

STDMETHODIMP FakeXmlPackage::GetRoot(IXMLNode** root) {
  if (root == nullptr) return E_POINTER;
  *root = nullptr;
  if (!root_) return E_FAIL;
  CComPtr<IXMLNode> node(new FakeXmlNode(root_, root_.get()));
  *root = node.Detach();
  return S_OK;
}

STDMETHODIMP FakeXmlPackage::Serialize(char* buffer, int* size) {
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

STDMETHODIMP FakeXmlPackage::GetValue(LPCSTR name, char* buffer, int size) {
  if (!root_) return CopyOut(nullptr, buffer, size);
  return CopyOut(AttributeOf(*root_, name), buffer, size);
}

STDMETHODIMP FakeXmlPackage::GetElementText(LPCSTR name, char* buffer, int size) {
  const Element* child = root_ ? NamedChildOf(*root_, name, 0) : nullptr;
  return CopyOut(child != nullptr ? &child->text : nullptr, buffer, size);
}

STDMETHODIMP FakeXmlPackage::GetItemCount(int* count) {
  if (count == nullptr) return E_POINTER;
  int n = 0;
  if (root_) {
    for (const ElementPtr& child : root_->children) n += child->name == "resource" ? 1 : 0;
  }
  *count = n;
  return S_OK;
}

STDMETHODIMP FakeXmlPackage::GetItem(int index, IXMLNode** item) {
  if (item == nullptr) return E_POINTER;
  *item = nullptr;
  const Element* element = root_ ? NamedChildOf(*root_, "resource", index) : nullptr;
  if (element == nullptr) return E_INVALIDARG;
  CComPtr<IXMLNode> node(new FakeXmlNode(root_, element));
  *item = node.Detach();
  return S_OK;
}

// FakeXmlParser

STDMETHODIMP FakeXmlParser::Reset() {
  package_.Release();
  return S_OK;
}

STDMETHODIMP FakeXmlParser::Parse(const BYTE* data, int length) {
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

STDMETHODIMP FakeXmlParser::GetPackageCount(int* count) {
  if (count == nullptr) return E_POINTER;
  *count = package_ ? 1 : 0;
  return S_OK;
}

STDMETHODIMP FakeXmlParser::GetPackage(IPackage** package) {
  if (package == nullptr) return E_POINTER;
  *package = nullptr;
  if (!package_) return E_FAIL;
  *package = static_cast<IPackage*>(static_cast<IXMLPackage*>(package_.p));
  package_->AddRef();
  return S_OK;
}

// FakeHeaders

STDMETHODIMP FakeHeaders::GetStatusCode(int* status) {
  if (status == nullptr) return E_POINTER;
  *status = status_;
  return S_OK;
}

STDMETHODIMP FakeHeaders::GetHeader(LPCSTR name, IStringSetter* value) {
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

bool FakeHeaders::SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

}  // namespace xml_testing
}  // namespace ZQBlog
}  // namespace Velmora
