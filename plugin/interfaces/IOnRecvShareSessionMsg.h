// IOnRecvShareSessionMsg: how a forwarding participant hears of a change another
// participant broadcast (IShareSessionServer::PublishNotice). The plug-in attaches it
// to the module channel in the forwarding role; during the call it reads the broadcast
// payload from the channel (BeginReadMessage ... EndReadMessage).
#ifndef ZQBLOG_INTERFACES_IONRECVSHARESESSIONMSG_H_
#define ZQBLOG_INTERFACES_IONRECVSHARESESSIONMSG_H_

#include "platform/platform.h"

struct IOnRecvShareSessionMsg : public IUnknown {
  // 1. A notice (first, type, value1, value2) arrived: type is the notice code, the
  //    others are not read. S_OK when the change was applied, else E_FAIL.
  STDMETHOD(OnRecvShareSessionMsg)(int first, int type, int value1, int value2) = 0;
};

// {5FB9243C-EC96-40B1-9128-FB2B97A682AD}
// Our own id: the plug-in hands this sink to the channel as a raw pointer and answers
// QueryInterface for IZQBlog and IZQBlogOperation only; it exists so that
// IidOf<IOnRecvShareSessionMsg>() is defined.
ZQ_DEFINE_IID(IOnRecvShareSessionMsg, 0x5FB9243C, 0xEC96, 0x40B1, 0x91, 0x28, 0xFB, 0x2B, 0x97,
              0xA6, 0x82, 0xAD)

#endif  // ZQBLOG_INTERFACES_IONRECVSHARESESSIONMSG_H_
