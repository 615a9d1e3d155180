#include "host/xml/XmlPackage.h"

#include <climits>
#include <cstring>
#include <utility>

#include "host/xml/XmlNode.h"

namespace Velmora {
namespace ZQHost {

HRESULT XmlPackage::Create(std::shared_ptr<const XmlDocument> document, IXMLPackage** out) {
  return CreateObjectWithReference<XmlPackage>(
      out, [&](XmlPackage* package) { package->document_ = std::move(document); });
}

std::shared_ptr<const XmlDocument> XmlPackage::Document() {
  std::lock_guard<std::mutex> lock(mutex_);
  return document_;
}

STDMETHODIMP XmlPackage::SetData(const BYTE* data, int length, int* storedLength) {
  if (storedLength == nullptr) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  if (data == nullptr) return E_FAIL;
  std::shared_ptr<const XmlDocument> parsed =
      XmlDocument::Parse(data, static_cast<size_t>(length));
  if (parsed == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    document_ = std::move(parsed);
  }
  *storedLength = length;
  return S_OK;
}

STDMETHODIMP XmlPackage::GetRoot(IXMLNode** root) {
  if (root == nullptr) return E_POINTER;
  *root = nullptr;
  std::shared_ptr<const XmlDocument> document = Document();
  if (document == nullptr) return E_FAIL;
  pugi::xml_node element = document->Root();
  return XmlNode::Create(std::move(document), element, root);
}

STDMETHODIMP XmlPackage::Serialize(char* buffer, int* size) {
  if (size == nullptr) return E_POINTER;
  std::shared_ptr<const XmlDocument> document = Document();
  if (document == nullptr) return E_FAIL;
  const std::string& text = document->Serialized();
  if (text.size() >= static_cast<size_t>(INT_MAX)) return E_OUTOFMEMORY;  // no int size
  int needed = static_cast<int>(text.size()) + 1;
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

STDMETHODIMP XmlPackage::GetValue(LPCSTR name, char* buffer, int bufferSize) {
  std::shared_ptr<const XmlDocument> document = Document();
  pugi::xml_node root = document != nullptr ? document->Root() : pugi::xml_node();
  return XmlNode::ReadValue(root, name, buffer, bufferSize);
}

STDMETHODIMP XmlPackage::GetElementText(LPCSTR name, char* buffer, int bufferSize) {
  std::shared_ptr<const XmlDocument> document = Document();
  pugi::xml_node root = document != nullptr ? document->Root() : pugi::xml_node();
  return XmlNode::ReadElementText(root, name, buffer, bufferSize);
}

STDMETHODIMP XmlPackage::GetItemCount(int* count) {
  if (count == nullptr) return E_POINTER;
  std::shared_ptr<const XmlDocument> document = Document();
  size_t n = document != nullptr ? document->Items().size() : 0;
  *count = n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
  return S_OK;
}

STDMETHODIMP XmlPackage::GetItem(int index, IXMLNode** item) {
  if (item == nullptr) return E_POINTER;
  *item = nullptr;
  std::shared_ptr<const XmlDocument> document = Document();
  if (document == nullptr) return E_INVALIDARG;
  const std::vector<pugi::xml_node>& items = document->Items();
  if (index < 0 || static_cast<size_t>(index) >= items.size()) return E_INVALIDARG;
  pugi::xml_node element = items[static_cast<size_t>(index)];
  return XmlNode::Create(std::move(document), element, item);
}

}  // namespace ZQHost
}  // namespace Velmora
