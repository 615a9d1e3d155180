#include "host/http/HttpReplyHeaders.h"

#include <cstring>

namespace Velmora {
namespace ZQHost {

namespace {

bool EqualsIgnoringAsciiCase(const std::string& a, const char* b) {
  size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
    if (x != y) return false;
  }
  return true;
}

}  // namespace

HRESULT HttpReplyHeaders::Create(int statusCode, FieldList fields, IHttpReplyHeaders** out) {
  return CreateObjectWithReference<HttpReplyHeaders>(out, [&](HttpReplyHeaders* headers) {
    headers->status_code_ = statusCode;
    headers->fields_ = std::move(fields);
  });
}

STDMETHODIMP HttpReplyHeaders::GetStatusCode(int* statusCode) {
  if (statusCode == nullptr) return E_POINTER;
  *statusCode = status_code_;
  return S_OK;
}

STDMETHODIMP HttpReplyHeaders::GetHeader(LPCSTR name, IStringSetter* value) {
  if (name == nullptr || value == nullptr) return E_POINTER;
  for (const auto& field : fields_) {
    if (!EqualsIgnoringAsciiCase(field.first, name)) continue;
    HRESULT hr = value->SetString(static_cast<int>(field.second.size()),
                                  reinterpret_cast<const BYTE*>(field.second.data()));
    return FAILED(hr) ? hr : S_OK;
  }
  return S_FALSE;
}

}  // namespace ZQHost
}  // namespace Velmora
