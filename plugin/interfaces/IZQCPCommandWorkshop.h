// IZQCPCommandWorkshop: the host's command runner. It takes a command, registers its
// own ICmdEvent sink on it (or not), calls Start, and calls Step on its own thread
// whenever the command's state becomes 3, never on the thread that reported the change.
// Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_IZQCPCOMMANDWORKSHOP_H_
#define ZQBLOG_INTERFACES_IZQCPCOMMANDWORKSHOP_H_

#include "interfaces/IWorkshopCmd.h"
#include "platform/platform.h"

struct IZQCPCommandWorkshop : public IUnknown {
  // 1. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved1)() = 0;
  // 2. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved2)() = 0;
  // 3. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved3)() = 0;
  // 4. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved4)() = 0;
  // 5. Takes command (one reference until it ends) and runs it; the plug-in does not
  //    check the answer.
  STDMETHOD(AddCommand)(IWorkshopCmd* command) = 0;
};

// {0E89726A-0A74-4246-9AE5-90B1E6EA698A}
ZQ_DEFINE_IID(IZQCPCommandWorkshop, 0x0E89726A, 0x0A74, 0x4246, 0x9A, 0xE5, 0x90, 0xB1, 0xE6,
              0xEA, 0x69, 0x8A)

#endif  // ZQBLOG_INTERFACES_IZQCPCOMMANDWORKSHOP_H_
