// IBaseShareSessionCmd: how the serving participant's command parser hands a forwarded
// operation request to the command it created for it.
#ifndef ZQBLOG_INTERFACES_IBASESHARESESSIONCMD_H_
#define ZQBLOG_INTERFACES_IBASESHARESESSIONCMD_H_

#include "interfaces/IShareSessionMessage.h"
#include "platform/platform.h"

struct IBaseShareSessionCmd : public IUnknown {
  // 1. Keeps request (one reference), reads the command's parameters from it and submits
  //    the command to the host's workshop. S_OK.
  STDMETHOD(SetOperationMessage)(IShareSessionMessage* request) = 0;
};

// {3087D49B-F8F7-4504-9F97-6E8C3100962E}
ZQ_DEFINE_IID(IBaseShareSessionCmd, 0x3087D49B, 0xF8F7, 0x4504, 0x9F, 0x97, 0x6E, 0x8C, 0x31,
              0x00, 0x96, 0x2E)

#endif  // ZQBLOG_INTERFACES_IBASESHARESESSIONCMD_H_
