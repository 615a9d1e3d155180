// IHttpReplyHeaders: the status and header fields of an HTTP reply, as the host's
// connection reports them (OnHeaders, OnComplete).
// Host-side interface; its name, id and slots are ours.
#ifndef ZQBLOG_INTERFACES_IHTTPREPLYHEADERS_H_
#define ZQBLOG_INTERFACES_IHTTPREPLYHEADERS_H_

#include "interfaces/IStringSetter.h"
#include "platform/platform.h"

struct IHttpReplyHeaders : public IUnknown {
  // 1. The reply's HTTP status code (200, 304, 404, 500, ...).
  STDMETHOD(GetStatusCode)(int* statusCode) = 0;
  // 2. Hands the value of the first header field named name (zero-terminated; compared
  //    without regard to ASCII case) to value->SetString and returns S_OK; S_FALSE
  //    without calling value when the reply has no such field.
  STDMETHOD(GetHeader)(LPCSTR name, IStringSetter* value) = 0;
};

// {2CB90BA2-829A-4F70-BF3D-059DE5490BA4}
ZQ_DEFINE_IID(IHttpReplyHeaders, 0x2CB90BA2, 0x829A, 0x4F70, 0xBF, 0x3D, 0x05, 0x9D, 0xE5, 0x49,
              0x0B, 0xA4)

#endif  // ZQBLOG_INTERFACES_IHTTPREPLYHEADERS_H_
