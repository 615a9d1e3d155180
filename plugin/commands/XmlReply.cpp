#include "commands/XmlReply.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

namespace Velmora {
namespace ZQBlog {
namespace {

// Calls read with a buffer of kXmlValueBufferSize bytes that is zero throughout, and
// takes its text up to the first zero byte, whatever the host wrote (the last byte stays
// zero). The buffer is one per thread and kept zero between reads: once the text is
// taken, the bytes up to the first zero are cleared again, so a host that writes its
// text without a terminator still ends at the first byte it did not write. (Clearing
// the whole buffer before each of the dozen values of each resource of a long list cost
// more than reading them.)
template <class Read>
std::string ReadBounded(Read read) {
  thread_local char buffer[kXmlValueBufferSize] = {};
  HRESULT hr = read(buffer, kXmlValueBufferSize - 1);
  buffer[kXmlValueBufferSize - 1] = '\0';
  const size_t length = std::strlen(buffer);
  std::string text;
  if (SUCCEEDED(hr)) text.assign(buffer, length);
  std::memset(buffer, 0, length);
  return text;
}

}  // namespace

std::string ReadXmlValue(IXMLNode* node, const char* name) {
  if (node == nullptr) return std::string();
  return ReadBounded([&](char* buffer, int) {
    return node->GetValue(name, buffer, kXmlValueBufferSize);
  });
}

std::string ReadXmlElementText(IXMLNode* node, const char* name) {
  if (node == nullptr) return std::string();
  return ReadBounded([&](char* buffer, int) {
    return node->GetElementText(name, buffer, kXmlValueBufferSize);
  });
}

std::string ReadXmlText(IXMLNode* node) {
  if (node == nullptr) return std::string();
  return ReadBounded([&](char* buffer, int) { return node->GetText(buffer, kXmlValueBufferSize); });
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

int ParseDecimal(const std::string& text) {
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

bool SerializeXmlReply(IXMLPackage* document, size_t limit, std::string* text) {
  text->clear();
  if (document == nullptr) return false;
  const HRESULT kTooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  size_t capacity = kXmlSerializeFirstBuffer;
  if (capacity >= limit) return false;
  std::vector<char> buffer;
  for (;;) {
    buffer.resize(capacity);
    int size = static_cast<int>(capacity);
    HRESULT hr = document->Serialize(buffer.data(), &size);
    if (hr == kTooSmall) {
      if (capacity * 2 >= limit) return false;
      capacity *= 2;
      continue;
    }
    if (FAILED(hr)) return false;
    // The text ends at the terminator, whatever size the serializer reported.
    buffer[capacity - 1] = '\0';
    size_t length = std::strlen(buffer.data());
    if (size >= 0 && static_cast<size_t>(size) < length) length = static_cast<size_t>(size);
    text->assign(buffer.data(), length);
    return true;
  }
}

}  // namespace ZQBlog
}  // namespace Velmora
