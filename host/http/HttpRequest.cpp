#include "host/http/HttpRequest.h"

#include <cstring>
#include <new>

namespace Velmora {
namespace ZQHost {

namespace {

bool IsTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsToken(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (!IsTokenChar(c)) return false;
  }
  return true;
}

}  // namespace

HRESULT HttpRequest::FromCounted(const CountedString& counted, std::string* out) {
  if (counted.length < 0) return E_INVALIDARG;
  if (counted.length > 0 && counted.text == nullptr) return E_POINTER;
  if (counted.length > 0) out->assign(counted.text, static_cast<size_t>(counted.length));
  return S_OK;
}

bool HttpRequest::IsValidMethod(const std::string& text) { return text.empty() || IsToken(text); }

bool HttpRequest::IsValidPath(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (c <= 0x20 || c == 0x7F) return false;  // controls and space
  }
  return true;
}

bool HttpRequest::IsValidHeaderName(const std::string& text) { return IsToken(text); }

bool HttpRequest::IsValidHeaderValue(const std::string& text) {
  for (unsigned char c : text) {
    if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
  }
  return true;
}

HRESULT HttpRequest::Create(const std::string& method, const std::string& path,
                            const std::string& version, IHttpRequest** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  int number = 0;
  if (version == "1.1") {
    number = 11;
  } else if (version == "1.0") {
    number = 10;
  } else {
    return E_INVALIDARG;
  }
  if (!IsValidMethod(method) || !IsValidPath(path)) return E_INVALIDARG;
  CComObject<HttpRequest>* request = nullptr;
  HRESULT hr = CComObject<HttpRequest>::CreateInstance(&request);
  if (FAILED(hr)) return hr;
  CComPtr<IHttpRequest> holder(request);
  try {
    request->method_ = method;
    request->path_ = path;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  request->version_ = number;
  *out = holder.Detach();
  return S_OK;
}

HttpRequest* HttpRequest::FromInterface(IHttpRequest* request) {
  if (request == nullptr) return nullptr;
  IUnknown* unknown = nullptr;
  if (FAILED(request->QueryInterface(kHttpRequestImplIid, reinterpret_cast<void**>(&unknown))) ||
      unknown == nullptr) {
    return nullptr;
  }
  // The map entry hands out the IHttpRequest base of the host's own object.
  HttpRequest* self = static_cast<HttpRequest*>(static_cast<IHttpRequest*>(unknown));
  unknown->Release();
  return self;
}

STDMETHODIMP HttpRequest::AddHeader(CountedString name, CountedString value) {
  try {
    std::string name_text;
    std::string value_text;
    HRESULT hr = FromCounted(name, &name_text);
    if (FAILED(hr)) return hr;
    hr = FromCounted(value, &value_text);
    if (FAILED(hr)) return hr;
    if (!IsValidHeaderName(name_text) || !IsValidHeaderValue(value_text)) return E_INVALIDARG;
    headers_.emplace_back(std::move(name_text), std::move(value_text));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace ZQHost
}  // namespace Velmora
