// IZQBlogFailureSink: the host's listener for commands that failed in transport (no
// result object follows). Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_IZQBLOGFAILURESINK_H_
#define ZQBLOG_INTERFACES_IZQBLOGFAILURESINK_H_

#include "platform/platform.h"

struct IZQBlogFailureSink : public IUnknown {
  // 1. A command of operationIndex (0 to 11) failed; code is the connection's error
  //    code, or the album id for the resource list, batch remove, copy and move.
  //    value3 and value4 are 0. The plug-in ignores the answer.
  STDMETHOD(OnFailure)(int code, int operationIndex, int value3, int value4) = 0;
};

// {F7657628-2DF2-40B1-8260-8A66A76D757A}
ZQ_DEFINE_IID(IZQBlogFailureSink, 0xF7657628, 0x2DF2, 0x40B1, 0x82, 0x60, 0x8A, 0x66, 0xA7,
              0x6D, 0x75, 0x7A)

#endif  // ZQBLOG_INTERFACES_IZQBLOGFAILURESINK_H_
