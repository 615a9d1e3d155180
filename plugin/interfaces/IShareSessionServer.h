// IShareSessionServer: the serving side of a module in the share session (the plug-in
// calls it the serving channel). Operation requests for the module go to the attached
// handler; changes are broadcast to every other participant of the module as a payload
// (PublishData) followed by a notice (PublishNotice), which each receiver's channel
// delivers in that order.
// Host-side interface; its name, id and slots 7 to 9 are ours.
#ifndef ZQBLOG_INTERFACES_ISHARESESSIONSERVER_H_
#define ZQBLOG_INTERFACES_ISHARESESSIONSERVER_H_

#include "interfaces/IOnRecvShareSessionOperationEvent.h"
#include "interfaces/IShareSessionMessage.h"
#include "platform/platform.h"

struct IShareSessionServer : public IUnknown {
  // 1. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved1)() = 0;
  // 2. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved2)() = 0;
  // 3. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved3)() = 0;
  // 4. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved4)() = 0;
  // 5. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved5)() = 0;
  // 6. Delivers the module's operation requests to handler (one reference).
  STDMETHOD(AttachOperationHandler)(IOnRecvShareSessionOperationEvent* handler) = 0;
  // 7. A new result message answering request (same id, empty name and payload), one
  //    reference for the caller.
  STDMETHOD(CreateResultMessage)(IShareSessionMessage* request,
                                 IShareSessionMessage** result) = 0;
  // 8. Broadcasts payload[0, size) (copied) as the module's change payload.
  STDMETHOD(PublishData)(const BYTE* payload, int size) = 0;
  // 9. Broadcasts the notice (first, type, value1, value2) to the message sinks of the
  //    module's channels; type is the notice code.
  STDMETHOD(PublishNotice)(int first, int type, int value1, int value2) = 0;
};

// {93141DEE-0AF3-4E40-8A20-878AC554697C}
ZQ_DEFINE_IID(IShareSessionServer, 0x93141DEE, 0x0AF3, 0x4E40, 0x8A, 0x20, 0x87, 0x8A, 0xC5,
              0x54, 0x69, 0x7C)

#endif  // ZQBLOG_INTERFACES_ISHARESESSIONSERVER_H_
