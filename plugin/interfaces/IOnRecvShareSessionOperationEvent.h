// IOnRecvShareSessionOperationEvent: where the share session delivers operation
// messages (to the module's command parser, attached to the module server in the
// serving participant) and result messages (to a forwarded command, attached to the
// module channel as a result sink until its result arrives).
#ifndef ZQBLOG_INTERFACES_IONRECVSHARESESSIONOPERATIONEVENT_H_
#define ZQBLOG_INTERFACES_IONRECVSHARESESSIONOPERATIONEVENT_H_

#include "interfaces/IShareSessionMessage.h"
#include "platform/platform.h"

struct IOnRecvShareSessionOperationEvent : public IUnknown {
  // 1. An operation request arrived: the parser creates and submits the command it
  //    names (S_OK, also when it drops it); a command ignores it (S_OK).
  STDMETHOD(OnRecvOperation)(IShareSessionMessage* request) = 0;
  // 2. An operation result arrived: the command whose message has the same id ends with
  //    it (S_OK; other results are ignored); a parser ignores it (S_OK).
  STDMETHOD(OnRecvOperationResult)(IShareSessionMessage* result) = 0;
};

// {98169A33-9113-4F3B-B913-74F3122888F5}
ZQ_DEFINE_IID(IOnRecvShareSessionOperationEvent, 0x98169A33, 0x9113, 0x4F3B, 0xB9, 0x13, 0x74,
              0xF3, 0x12, 0x28, 0x88, 0xF5)

#endif  // ZQBLOG_INTERFACES_IONRECVSHARESESSIONOPERATIONEVENT_H_
