// IShareSessionManager: the host's share session, which joins the participants of one
// logical client. Module names are zero-terminated narrow texts ("ZQBlog"). Objects
// come back with one reference for the caller.
// Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_ISHARESESSIONMANAGER_H_
#define ZQBLOG_INTERFACES_ISHARESESSIONMANAGER_H_

#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionServer.h"
#include "platform/platform.h"

struct IShareSessionManager : public IUnknown {
  // 1. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved1)() = 0;
  // 2. This participant's role: 0 forward, 1 serve, 2 stand-alone.
  STDMETHOD(GetRole)(int* role) = 0;
  // 3. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved3)() = 0;
  // 4. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved4)() = 0;
  // 5. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved5)() = 0;
  // 6. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved6)() = 0;
  // 7. Makes moduleName known to the share session with priority; S_FALSE when it is
  //    known already.
  STDMETHOD(RegisterModule)(LPCSTR moduleName, int priority) = 0;
  // 8. The serving side of moduleName; priority is the registered one or 0 (any).
  STDMETHOD(GetModuleServer)(LPCSTR moduleName, int priority, IShareSessionServer** server) = 0;
  // 9. This participant's channel of moduleName; reserved is 0.
  STDMETHOD(GetModuleChannel)(LPCSTR moduleName, int reserved,
                              IShareSessionChannel** channel) = 0;
};

// {7A049346-EB67-47CE-B682-AB9743875DAA}
ZQ_DEFINE_IID(IShareSessionManager, 0x7A049346, 0xEB67, 0x47CE, 0xB6, 0x82, 0xAB, 0x97, 0x43,
              0x87, 0x5D, 0xAA)

#endif  // ZQBLOG_INTERFACES_ISHARESESSIONMANAGER_H_
