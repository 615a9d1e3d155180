// IShareSessionMessage: an operation message (a command forwarded to the serving
// participant: its name and parameters) or a result message (the answer to one: the
// same id, the command name and the result record). The payload is a block of bytes
// the message owns.
// Host-side interface; its name, id and slots 6 to 8 are ours.
#ifndef ZQBLOG_INTERFACES_ISHARESESSIONMESSAGE_H_
#define ZQBLOG_INTERFACES_ISHARESESSIONMESSAGE_H_

#include "platform/platform.h"

struct IShareSessionMessage : public IUnknown {
  // 1. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved1)() = 0;
  // 2. The id that pairs a result message with its operation message.
  STDMETHOD(GetId)(int* id) = 0;
  // 3. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved3)() = 0;
  // 4. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved4)() = 0;
  // 5. The command name, zero-terminated, into buffer[0, bufferSize);
  //    HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) and "" when it does not fit.
  STDMETHOD(GetName)(char* buffer, int bufferSize) = 0;
  // 6. Sets the command name (a zero-terminated narrow text, copied).
  STDMETHOD(SetName)(LPCSTR name) = 0;
  // 7. Replaces the payload with size zero bytes; E_INVALIDARG for a negative size,
  //    E_OUTOFMEMORY when it cannot be allocated (the old payload then stays).
  STDMETHOD(SetPayloadSize)(int size) = 0;
  // 8. *payload points at the payload (owned by the message, writable, valid until the
  //    next SetPayloadSize or the last Release; null when empty), *size is its length.
  STDMETHOD(GetPayload)(BYTE** payload, int* size) = 0;
};

// {6E8B0611-6BC2-4597-93E3-C4652A9EA7E0}
ZQ_DEFINE_IID(IShareSessionMessage, 0x6E8B0611, 0x6BC2, 0x4597, 0x93, 0xE3, 0xC4, 0x65, 0x2A,
              0x9E, 0xA7, 0xE0)

#endif  // ZQBLOG_INTERFACES_ISHARESESSIONMESSAGE_H_
