// IHttpRequest: one HTTP request line with its header fields, made by the host's
// connection factory and sent on a connection.
// Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_IHTTPREQUEST_H_
#define ZQBLOG_INTERFACES_IHTTPREQUEST_H_

#include "interfaces/CountedString.h"
#include "platform/platform.h"

struct IHttpRequest : public IUnknown {
  // 1. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved1)() = 0;
  // 2. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved2)() = 0;
  // 3. Appends the header field name: value; fields go out in the order added.
  STDMETHOD(AddHeader)(CountedString name, CountedString value) = 0;
};

// {06ED41BE-023A-46A3-81ED-FCC38BF9F36D}
ZQ_DEFINE_IID(IHttpRequest, 0x06ED41BE, 0x023A, 0x46A3, 0x81, 0xED, 0xFC, 0xC3, 0x8B, 0xF9, 0xF3,
              0x6D)

#endif  // ZQBLOG_INTERFACES_IHTTPREQUEST_H_
