// IResultOnResComment: the result of a comment count refresh; the count itself is the
// common category id.
#ifndef ZQBLOG_INTERFACES_IRESULTONRESCOMMENT_H_
#define ZQBLOG_INTERFACES_IRESULTONRESCOMMENT_H_

#include "interfaces/ICommonResult.h"

struct IResultOnResComment : public ICommonResult {
  // The resource key the host passed to the refresh, unchanged.
  STDMETHOD(GetResourceKey)(BSTR* key) = 0;
  STDMETHOD(SetResourceKey)(LPCWSTR key) = 0;
  // The request number the host passed with it, unchanged.
  STDMETHOD(GetRequestNumber)(int* number) = 0;
  STDMETHOD(SetRequestNumber)(int number) = 0;
};

// {2DCAAFE8-52A3-40DE-B769-67B86FA080A2}
ZQ_DEFINE_IID(IResultOnResComment, 0x2DCAAFE8, 0x52A3, 0x40DE, 0xB7, 0x69, 0x67, 0xB8, 0x6F,
              0xA0, 0x80, 0xA2)

#endif  // ZQBLOG_INTERFACES_IRESULTONRESCOMMENT_H_
