// IHttpConnection: one HTTP connection of the host's HTTP service. Its events go to the
// advised IHttpConnectionClientEvents on the host's connection thread; no call here
// waits for one of them.
// Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_IHTTPCONNECTION_H_
#define ZQBLOG_INTERFACES_IHTTPCONNECTION_H_

#include "interfaces/CountedString.h"
#include "interfaces/IHttpBuffer.h"
#include "interfaces/IHttpConnectionClientEvents.h"
#include "interfaces/IHttpRequest.h"
#include "platform/platform.h"

struct IHttpConnection : public IUnknown {
  // 1. Sends the connection's events to events (one reference held until Unadvise).
  STDMETHOD(Advise)(IHttpConnectionClientEvents* events) = 0;
  // 2. Stops the events to events and releases it; no event starts after this returns.
  STDMETHOD(Unadvise)(IHttpConnectionClientEvents* events) = 0;
  // 3. The server to connect to: host name and TCP port (a 16-bit value).
  STDMETHOD(SetServer)(CountedString host, DWORD port) = 0;
  // 4. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved4)() = 0;
  // 5. Connects to the server; OnConnect follows.
  STDMETHOD(Open)() = 0;
  // 6. Sends request with body (null: none); OnSendComplete and the reply events follow.
  STDMETHOD(Send)(IHttpRequest* request, IHttpBuffer* body) = 0;
  // 7. Goes on receiving the reply; more reply events follow.
  STDMETHOD(Continue)() = 0;
  // 8. Closes the connection; no event follows.
  STDMETHOD(Close)() = 0;
};

// {F364CEF4-98A7-4383-A3BC-942BC4C73E02}
ZQ_DEFINE_IID(IHttpConnection, 0xF364CEF4, 0x98A7, 0x4383, 0xA3, 0xBC, 0x94, 0x2B, 0xC4, 0xC7,
              0x3E, 0x02)

#endif  // ZQBLOG_INTERFACES_IHTTPCONNECTION_H_
