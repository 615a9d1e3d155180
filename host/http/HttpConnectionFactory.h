// HttpConnectionFactory: the COM face of the host's HTTP service
// (IHttpConnectionFactory): connections, requests and buffers. Made by
// HttpConnectionService; thread-safe.
#ifndef ZQBLOG_HOST_HTTP_HTTPCONNECTIONFACTORY_H_
#define ZQBLOG_HOST_HTTP_HTTPCONNECTIONFACTORY_H_

#include <memory>

#include "interfaces/IHttpConnectionFactory.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class HttpServiceCore;

class HttpConnectionFactory : public CComObjectRootEx<CComMultiThreadModel>,
                              public IHttpConnectionFactory {
 public:
  BEGIN_COM_MAP(HttpConnectionFactory)
  COM_INTERFACE_ENTRY(IHttpConnectionFactory)
  END_COM_MAP()

  // A factory of core's service, one reference for the caller.
  static HRESULT Create(const std::shared_ptr<HttpServiceCore>& core,
                        IHttpConnectionFactory** out);

  // IHttpConnectionFactory
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  // reserved and parameters are not read. E_UNEXPECTED (and null) once the service is
  // stopping; E_POINTER for a null out.
  STDMETHOD(CreateConnection)(int reserved, void* parameters,
                              IHttpConnection** connection) override;
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  // See HttpRequest::Create for what is refused (E_INVALIDARG, null); E_INVALIDARG also
  // for a negative length, E_POINTER for a null text with a positive length.
  STDMETHOD(CreateRequest)(IHttpRequest** request, CountedString method, CountedString path,
                           CountedString version) override;
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(CreateBuffer)(IHttpBuffer** buffer) override;

 private:
  std::shared_ptr<HttpServiceCore> core_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_HTTP_HTTPCONNECTIONFACTORY_H_
