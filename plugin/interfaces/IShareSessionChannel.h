// IShareSessionChannel: the client side of a module in the share session. It carries
// operation messages to the serving participant and their result messages back, and
// delivers the serving participant's change broadcasts: the notice to the attached
// message sink, the payload through BeginReadMessage / GetMessagePayload /
// EndReadMessage.
// Host-side interface; its name, id and slot 10 are ours.
#ifndef ZQBLOG_INTERFACES_ISHARESESSIONCHANNEL_H_
#define ZQBLOG_INTERFACES_ISHARESESSIONCHANNEL_H_

#include "interfaces/IOnRecvShareSessionMsg.h"
#include "interfaces/IOnRecvShareSessionOperationEvent.h"
#include "interfaces/IShareSessionMessage.h"
#include "platform/platform.h"

struct IShareSessionChannel : public IUnknown {
  // 1. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved1)() = 0;
  // 2. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved2)() = 0;
  // 3. Begins reading the broadcast whose notice is being delivered (the latest one
  //    received); it is not replaced until EndReadMessage.
  STDMETHOD(BeginReadMessage)() = 0;
  // 4. *payload and *length: that broadcast's bytes (owned by the channel, valid until
  //    EndReadMessage). S_FALSE, null and 0 when none was received.
  //    REQUIRES: between BeginReadMessage and EndReadMessage (else E_UNEXPECTED).
  STDMETHOD(GetMessagePayload)(const BYTE** payload, int* length) = 0;
  // 5. Ends what BeginReadMessage began.
  STDMETHOD(EndReadMessage)() = 0;
  // 6. Delivers the module's change notices to sink (one reference); null detaches the
  //    sink attached before.
  STDMETHOD(AttachMessageSink)(IOnRecvShareSessionMsg* sink) = 0;
  // 7. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved7)() = 0;
  // 8. Delivers the result messages arriving on this channel to sink (one reference);
  //    S_FALSE when sink is attached already.
  STDMETHOD(AttachResultSink)(IOnRecvShareSessionOperationEvent* sink) = 0;
  // 9. Stops delivering result messages to sink and releases it; S_FALSE when unknown.
  STDMETHOD(DetachResultSink)(IOnRecvShareSessionOperationEvent* sink) = 0;
  // 10. A new, empty operation message with a fresh id, one reference for the caller.
  STDMETHOD(CreateOperationMessage)(IShareSessionMessage** message) = 0;
  // 11. Sends message to the module's serving participant; its result message comes
  //     back to the attached result sinks.
  STDMETHOD(SendOperationMessage)(IShareSessionMessage* message) = 0;
};

// {193FF08C-C189-467A-A1EA-818FDF805334}
ZQ_DEFINE_IID(IShareSessionChannel, 0x193FF08C, 0xC189, 0x467A, 0xA1, 0xEA, 0x81, 0x8F, 0xDF,
              0x80, 0x53, 0x34)

#endif  // ZQBLOG_INTERFACES_ISHARESESSIONCHANNEL_H_
