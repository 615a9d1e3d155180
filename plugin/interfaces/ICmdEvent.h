// ICmdEvent: a listener for the state changes of a command. The host's workshop and a
// caller of RefreshBlogServerInfo may register one; every command also registers its
// own while it runs. Sinks are called on the thread that changed the state, with the
// command's lock held: a sink may call back into the command on that thread but must
// not wait for another thread that needs the command.
#ifndef ZQBLOG_INTERFACES_ICMDEVENT_H_
#define ZQBLOG_INTERFACES_ICMDEVENT_H_

#include "platform/platform.h"

struct IWorkshopCmd;

struct ICmdEvent : public IUnknown {
  // 1. command went from oldState to newState; the command ignores the answer.
  STDMETHOD(OnStateChanged)(IWorkshopCmd* command, int oldState, int newState) = 0;
};

// {EF7EC812-924D-4168-B345-DAD798661F4D}
// Our own id: no object answers QueryInterface for it (a command hands its own sink out
// only as a raw pointer); it exists so that IidOf<ICmdEvent>() is defined.
ZQ_DEFINE_IID(ICmdEvent, 0xEF7EC812, 0x924D, 0x4168, 0xB3, 0x45, 0xDA, 0xD7, 0x98, 0x66, 0x1F,
              0x4D)

#endif  // ZQBLOG_INTERFACES_ICMDEVENT_H_
