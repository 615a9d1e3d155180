// IHttpConnectionClientEvents: what a host HTTP connection reports to the command that
// advised it, on the host's connection thread. A non-zero error ends the exchange.
// Every command implements it; every call returns S_OK. An argument named unused is
// never read.
#ifndef ZQBLOG_INTERFACES_IHTTPCONNECTIONCLIENTEVENTS_H_
#define ZQBLOG_INTERFACES_IHTTPCONNECTIONCLIENTEVENTS_H_

#include "interfaces/IHttpBuffer.h"
#include "interfaces/IHttpReplyHeaders.h"
#include "platform/platform.h"

struct IHttpConnectionClientEvents : public IUnknown {
  // 1. The connection is open (error 0) or could not be opened.
  STDMETHOD(OnConnect)(int error, void* unused) = 0;
  // 2. The request went out (error 0) or could not be sent.
  STDMETHOD(OnSendComplete)(int error, void* unused) = 0;
  // 3. The reply's status and header fields arrived (headers may be null).
  STDMETHOD(OnHeaders)(IHttpReplyHeaders* headers, void* unused) = 0;
  // 4. The next piece of the reply body arrived (body may be null).
  STDMETHOD(OnData)(IHttpBuffer* body, void* unused) = 0;
  // 5. The exchange ended (error 0: the reply is complete, with its headers and the last
  //    piece of body, either of which may be null); nothing is reported after it.
  STDMETHOD(OnComplete)(int error, IHttpReplyHeaders* headers, IHttpBuffer* body,
                        void* unused) = 0;
};

// {52CCFE9C-6FDF-4A15-830F-10375E61CC48}
// Our own id: the host reaches these events only through the pointer a command advises,
// never through QueryInterface; it exists so that IidOf<IHttpConnectionClientEvents>()
// is defined.
ZQ_DEFINE_IID(IHttpConnectionClientEvents, 0x52CCFE9C, 0x6FDF, 0x4A15, 0x83, 0x0F, 0x10, 0x37,
              0x5E, 0x61, 0xCC, 0x48)

#endif  // ZQBLOG_INTERFACES_IHTTPCONNECTIONCLIENTEVENTS_H_
