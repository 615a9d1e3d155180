// IHttpConnectionFactory: the host's HTTP service: makes connections, requests and
// buffers. Every object comes back with one reference for the caller.
// Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_IHTTPCONNECTIONFACTORY_H_
#define ZQBLOG_INTERFACES_IHTTPCONNECTIONFACTORY_H_

#include "interfaces/CountedString.h"
#include "interfaces/IHttpBuffer.h"
#include "interfaces/IHttpConnection.h"
#include "interfaces/IHttpRequest.h"
#include "platform/platform.h"

struct IHttpConnectionFactory : public IUnknown {
  // 1. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved1)() = 0;
  // 2. A new, unopened connection; reserved is 0; parameters is a connection parameter
  //    block or null (the plug-in passes null). Negative: no connection, *connection null.
  STDMETHOD(CreateConnection)(int reserved, void* parameters, IHttpConnection** connection) = 0;
  // 3. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved3)() = 0;
  // 4. A new request for method ("GET", "POST", possibly empty), path and HTTP version
  //    ("1.1"). Negative: no request, *request null.
  STDMETHOD(CreateRequest)(IHttpRequest** request, CountedString method, CountedString path,
                           CountedString version) = 0;
  // 5. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved5)() = 0;
  // 6. A new, empty buffer.
  STDMETHOD(CreateBuffer)(IHttpBuffer** buffer) = 0;
};

// {19881925-C268-4781-804D-1413E5C06E55}
ZQ_DEFINE_IID(IHttpConnectionFactory, 0x19881925, 0xC268, 0x4781, 0x80, 0x4D, 0x14, 0x13, 0xE5,
              0xC0, 0x6E, 0x55)

#endif  // ZQBLOG_INTERFACES_IHTTPCONNECTIONFACTORY_H_
