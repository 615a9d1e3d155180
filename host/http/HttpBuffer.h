// HttpBuffer: the host's block of bytes (IHttpBuffer): a request body a command fills,
// or a piece of reply body a connection reports. Not for concurrent use: one thread at
// a time (a connection hands a piece over with the event that reports it).
#ifndef ZQBLOG_HOST_HTTP_HTTPBUFFER_H_
#define ZQBLOG_HOST_HTTP_HTTPBUFFER_H_

#include <cstddef>
#include <vector>

#include "interfaces/IHttpBuffer.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class HttpBuffer : public CComObjectRootEx<CComMultiThreadModel>, public IHttpBuffer {
 public:
  BEGIN_COM_MAP(HttpBuffer)
  COM_INTERFACE_ENTRY(IHttpBuffer)
  END_COM_MAP()

  // A new buffer holding a copy of data[0, size), one reference for the caller.
  // REQUIRES: out not null (E_POINTER); data not null unless size is 0.
  static HRESULT Create(const void* data, size_t size, IHttpBuffer** out);

  // IHttpBuffer
  STDMETHOD(SetData)(const BYTE* data, int length) override;
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  // An empty buffer gives a valid (non-null) pointer and length 0.
  STDMETHOD(GetData)(BYTE** data, int* length) override;

 private:
  std::vector<BYTE> bytes_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_HTTP_HTTPBUFFER_H_
