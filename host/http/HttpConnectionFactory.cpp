#include "host/http/HttpConnectionFactory.h"

#include <new>
#include <string>

#include "host/http/HttpBuffer.h"
#include "host/http/HttpConnection.h"
#include "host/http/HttpRequest.h"
#include "host/http/HttpServiceCore.h"

namespace Velmora {
namespace ZQHost {

HRESULT HttpConnectionFactory::Create(const std::shared_ptr<HttpServiceCore>& core,
                                      IHttpConnectionFactory** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (core == nullptr) return E_INVALIDARG;
  return CreateObjectWithReference<HttpConnectionFactory>(
      out, [&](HttpConnectionFactory* factory) { factory->core_ = core; });
}

STDMETHODIMP HttpConnectionFactory::CreateConnection(int /*reserved*/, void* /*parameters*/,
                                                     IHttpConnection** connection) {
  if (connection == nullptr) return E_POINTER;
  return HttpConnection::Create(core_, connection);
}

STDMETHODIMP HttpConnectionFactory::CreateRequest(IHttpRequest** request, CountedString method,
                                                  CountedString path, CountedString version) {
  if (request == nullptr) return E_POINTER;
  *request = nullptr;
  try {
    std::string method_text;
    std::string path_text;
    std::string version_text;
    HRESULT hr = HttpRequest::FromCounted(method, &method_text);
    if (SUCCEEDED(hr)) hr = HttpRequest::FromCounted(path, &path_text);
    if (SUCCEEDED(hr)) hr = HttpRequest::FromCounted(version, &version_text);
    if (FAILED(hr)) return hr;
    return HttpRequest::Create(method_text, path_text, version_text, request);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP HttpConnectionFactory::CreateBuffer(IHttpBuffer** buffer) {
  return HttpBuffer::Create(nullptr, 0, buffer);
}

}  // namespace ZQHost
}  // namespace Velmora
