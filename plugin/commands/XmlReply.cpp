#include "commands/XmlReply.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

namespace Velmora {
namespace ZQBlog {
template <class Read>
std::string_view XmlValueReader::Peek(Read read) {
  std::memset(bytes_, 0, taken_);
  taken_ = 0;
  HRESULT hr = read(bytes_);
  bytes_[kXmlValueBufferSize - 1] = '\0';
  taken_ = std::strlen(bytes_);
  if (FAILED(hr)) return std::string_view();
  return std::string_view(bytes_, taken_);
}

std::string_view XmlValueReader::PeekValue(IXMLNode* node, const char* name) {
  if (node == nullptr) return std::string_view();
  return Peek([&](char* buffer) { return node->GetValue(name, buffer, kXmlValueBufferSize); });
}

std::string_view XmlValueReader::PeekElementText(IXMLNode* node, const char* name) {
  if (node == nullptr) return std::string_view();
  return Peek([&](char* buffer) {
    return node->GetElementText(name, buffer, kXmlValueBufferSize);
  });
}

std::string XmlValueReader::Text(IXMLNode* node) {
  if (node == nullptr) return std::string();
  return std::string(
      Peek([&](char* buffer) { return node->GetText(buffer, kXmlValueBufferSize); }));
}

CComPtr<IXMLNode> XmlNamedChild(IXMLNode* node, const char* name, int index) {
  CComPtr<IXMLNode> child;
  if (node == nullptr) return child;
  if (FAILED(node->GetNamedChild(name, index, &child))) child.Release();
  return child;
}

int XmlChildCount(IXMLNode* node, const char* name) {
  if (node == nullptr) return 0;
  int count = 0;
  if (FAILED(node->GetChildCount(name, &count)) || count < 0) return 0;
  return count;
}

int ParseDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const int64_t kCap = static_cast<int64_t>(INT_MAX) + 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kCap) value = kCap;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

CComPtr<IXMLPackage> XmlDocumentOf(IPackage* package) {
  CComPtr<IXMLPackage> document;
  IXMLPackage* xml = nullptr;
  if (package != nullptr &&
      SUCCEEDED(package->QueryInterface(IidOf<IXMLPackage>(), reinterpret_cast<void**>(&xml))) &&
      xml != nullptr) {
    document.Attach(xml);
  }
  return document;
}

bool SerializeXmlReply(IXMLPackage* document, size_t limit, std::string* text,
                       bool* tooLarge) {
  text->clear();
  if (tooLarge != nullptr) *tooLarge = false;
  if (document == nullptr) return false;
  const HRESULT kTooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  size_t capacity = kXmlSerializeFirstBuffer;
  if (capacity >= limit) {
    if (tooLarge != nullptr) *tooLarge = true;
    return false;
  }
  std::unique_ptr<char[]> buffer;
  for (;;) {
    buffer.reset(new char[capacity]);  // not cleared: the text ends at its terminator
    buffer[0] = '\0';
    int size = static_cast<int>(capacity);
    HRESULT hr = document->Serialize(buffer.get(), &size);
    if (hr == kTooSmall) {
      if (capacity * 2 >= limit) {
        if (tooLarge != nullptr) *tooLarge = true;
        return false;
      }
      capacity *= 2;
      continue;
    }
    if (FAILED(hr)) return false;
    // The text ends at the terminator, whatever size the serializer reported.
    buffer[capacity - 1] = '\0';
    size_t length = std::strlen(buffer.get());
    if (size >= 0 && static_cast<size_t>(size) < length) length = static_cast<size_t>(size);
    text->assign(buffer.get(), length);
    return true;
  }
}

}  // namespace ZQBlog
}  // namespace Velmora
