#include "host/http/HttpBuffer.h"

#include <climits>
#include <new>

namespace Velmora {
namespace ZQHost {

HRESULT HttpBuffer::Create(const void* data, size_t size, IHttpBuffer** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (data == nullptr && size > 0) return E_POINTER;
  if (size > static_cast<size_t>(INT_MAX)) return E_INVALIDARG;
  CComObject<HttpBuffer>* buffer = nullptr;
  HRESULT hr = CComObject<HttpBuffer>::CreateInstance(&buffer);
  if (FAILED(hr)) return hr;
  CComPtr<IHttpBuffer> holder(buffer);
  hr = buffer->SetData(static_cast<const BYTE*>(data), static_cast<int>(size));
  if (FAILED(hr)) return hr;
  *out = holder.Detach();
  return S_OK;
}

STDMETHODIMP HttpBuffer::SetData(const BYTE* data, int length) {
  if (length < 0) return E_INVALIDARG;
  if (data == nullptr && length > 0) return E_POINTER;
  try {
    bytes_.assign(data, data + length);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP HttpBuffer::GetData(BYTE** data, int* length) {
  if (length == nullptr) return E_POINTER;
  // A caller copying zero bytes from the pointer must not be handed null.
  static BYTE empty = 0;
  if (data != nullptr) *data = bytes_.empty() ? &empty : bytes_.data();
  *length = static_cast<int>(bytes_.size());
  return S_OK;
}

}  // namespace ZQHost
}  // namespace Velmora
