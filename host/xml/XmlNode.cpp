#include "host/xml/XmlNode.h"

#include <climits>
#include <cstring>
#include <utility>

namespace Velmora {
namespace ZQHost {

namespace {

// Checks the arguments of a text read; on success clears the buffer.
HRESULT CheckTextArguments(char* buffer, int bufferSize) {
  if (buffer == nullptr) return E_POINTER;
  if (bufferSize < 1) return E_INVALIDARG;
  buffer[0] = '\0';
  return S_OK;
}

// A named-value read: the checks every text read makes, then the value find gives for
// the name (null when there is none) copied out.
template <class Find>
HRESULT ReadNamedValue(LPCSTR name, char* buffer, int bufferSize, Find find) {
  if (name == nullptr) return E_POINTER;
  HRESULT hr = CheckTextArguments(buffer, bufferSize);
  if (FAILED(hr)) return hr;
  const char* value = find(name);
  if (value == nullptr) return S_FALSE;
  XmlCopyText(value, std::strlen(value), buffer, bufferSize);
  return S_OK;
}

int ClampCount(size_t n) {
  return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

}  // namespace

HRESULT XmlNode::Create(std::shared_ptr<const XmlDocument> document, pugi::xml_node element,
                        IXMLNode** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (document == nullptr || !element) return E_INVALIDARG;
  CComObject<XmlNode>* node = nullptr;
  HRESULT hr = CComObject<XmlNode>::CreateInstance(&node);
  if (FAILED(hr)) return hr;
  node->document_ = std::move(document);
  node->element_ = element;
  node->ListAttributes();
  node->AddRef();
  *out = node;
  return S_OK;
}

HRESULT XmlNode::ReadValue(pugi::xml_node element, LPCSTR name, char* buffer, int bufferSize) {
  return ReadNamedValue(name, buffer, bufferSize, [element](LPCSTR wanted) -> const char* {
    pugi::xml_attribute attribute = element.attribute(wanted);
    return attribute ? attribute.value() : nullptr;
  });
}

HRESULT XmlNode::ReadElementText(pugi::xml_node element, LPCSTR name, char* buffer,
                                 int bufferSize) {
  if (name == nullptr) return E_POINTER;
  HRESULT hr = CheckTextArguments(buffer, bufferSize);
  if (FAILED(hr)) return hr;
  pugi::xml_node child = element.child(name);
  if (!child) return S_FALSE;
  // The usual element holds one piece of text: copied as it stands.
  pugi::xml_node only = child.first_child();
  if (!only) return S_OK;
  if (!only.next_sibling() &&
      (only.type() == pugi::node_pcdata || only.type() == pugi::node_cdata)) {
    const char* value = only.value();
    XmlCopyText(value, std::strlen(value), buffer, bufferSize);
    return S_OK;
  }
  // One byte beyond the buffer is enough to know where to cut.
  std::string text = XmlTextContent(child, static_cast<size_t>(bufferSize));
  XmlCopyText(text.data(), text.size(), buffer, bufferSize);
  return S_OK;
}

void XmlNode::ListAttributes() {
  attribute_count_ = 0;
  attributes_listed_ = false;
  for (pugi::xml_attribute a = element_.first_attribute(); a; a = a.next_attribute()) {
    if (attribute_count_ == kListedAttributes) return;
    attributes_[attribute_count_++] = Attribute{a.name(), a.value()};
  }
  attributes_listed_ = true;
}

STDMETHODIMP XmlNode::GetValue(LPCSTR name, char* buffer, int bufferSize) {
  if (!attributes_listed_) return ReadValue(element_, name, buffer, bufferSize);
  return ReadNamedValue(name, buffer, bufferSize, [this](LPCSTR wanted) -> const char* {
    // The first attribute of that name, as pugixml's lookup finds it.
    for (int i = 0; i < attribute_count_; ++i) {
      const Attribute& a = attributes_[i];
      if (a.name[0] == wanted[0] && std::strcmp(a.name, wanted) == 0) return a.value;
    }
    return nullptr;
  });
}

STDMETHODIMP XmlNode::GetElementText(LPCSTR name, char* buffer, int bufferSize) {
  return ReadElementText(element_, name, buffer, bufferSize);
}

STDMETHODIMP XmlNode::GetText(char* buffer, int bufferSize) {
  HRESULT hr = CheckTextArguments(buffer, bufferSize);
  if (FAILED(hr)) return hr;
  std::string text = XmlTextContent(element_, static_cast<size_t>(bufferSize));
  XmlCopyText(text.data(), text.size(), buffer, bufferSize);
  return S_OK;
}

const std::vector<pugi::xml_node>& XmlNode::Children(LPCSTR name) {
  if (name == nullptr) {
    if (!all_listed_) {
      for (pugi::xml_node child = element_.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element) all_children_.push_back(child);
      }
      all_listed_ = true;
    }
    return all_children_;
  }
  auto found = named_children_.find(name);
  if (found != named_children_.end()) return found->second;
  std::vector<pugi::xml_node>& list = named_children_[name];
  for (pugi::xml_node child = element_.child(name); child; child = child.next_sibling(name)) {
    list.push_back(child);
  }
  return list;
}

STDMETHODIMP XmlNode::GetChildCount(LPCSTR name, int* count) {
  if (count == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  *count = ClampCount(Children(name).size());
  return S_OK;
}

STDMETHODIMP XmlNode::GetChild(int index, IXMLNode** child) {
  if (child == nullptr) return E_POINTER;
  *child = nullptr;
  pugi::xml_node element;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<pugi::xml_node>& children = Children(nullptr);
    if (index < 0 || static_cast<size_t>(index) >= children.size()) return E_INVALIDARG;
    element = children[static_cast<size_t>(index)];
  }
  return Create(document_, element, child);
}

STDMETHODIMP XmlNode::GetNamedChild(LPCSTR name, int index, IXMLNode** child) {
  if (child == nullptr || name == nullptr) {
    if (child != nullptr) *child = nullptr;
    return E_POINTER;
  }
  *child = nullptr;
  pugi::xml_node element;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<pugi::xml_node>& children = Children(name);
    if (index < 0 || static_cast<size_t>(index) >= children.size()) return E_INVALIDARG;
    element = children[static_cast<size_t>(index)];
  }
  return Create(document_, element, child);
}

}  // namespace ZQHost
}  // namespace Velmora
