// IWorkshopCmd: a command as the host's workshop runs it. The workshop registers its
// sinks, calls Start once, and calls Step each time a sink sees the state become 3.
// States: 0 created, 2 running, 3 step requested, 5 succeeded, 6 failed; 5, 6, 7 and 8
// are terminal (7 and 8 are set only from outside the library).
#ifndef ZQBLOG_INTERFACES_IWORKSHOPCMD_H_
#define ZQBLOG_INTERFACES_IWORKSHOPCMD_H_

#include "interfaces/ICmdEvent.h"
#include "platform/platform.h"

struct IWorkshopCmd : public IUnknown {
  // 1. Registers sink with one reference; S_FALSE when that pointer is already registered.
  STDMETHOD(AddEventSink)(ICmdEvent* sink) = 0;
  // 2. The current state.
  STDMETHOD(GetState)(int* state) = 0;
  // 3. Changes the state and tells every sink in order; a change to the current state
  //    does nothing and leaves *oldState untouched. Always S_OK.
  STDMETHOD(SetState)(int newState, int* oldState) = 0;
  // 4. Unused: E_FAIL.
  STDMETHOD(Reserved1)() = 0;
  // 5. Unused: E_FAIL.
  STDMETHOD(Reserved2)(void* unused) = 0;
  // 6. Starts the command: here over HTTP, or forwarded to the serving participant.
  STDMETHOD(Start)() = 0;
  // 7. Does the work the last change to state 3 asked for; always S_OK.
  STDMETHOD(Step)() = 0;
  // 8. Unused: S_OK, does nothing.
  STDMETHOD(Reserved3)() = 0;
  // 9. Unused: E_FAIL.
  STDMETHOD(Reserved4)() = 0;
  // 10. A new BSTR holding every description line followed by CR LF (empty, not null,
  //     when there are none).
  STDMETHOD(GetDescription)(BSTR* description) = 0;
};

// {6E1A1B7F-C0AB-4DA9-BE3F-5DAE559AF373}
ZQ_DEFINE_IID(IWorkshopCmd, 0x6E1A1B7F, 0xC0AB, 0x4DA9, 0xBE, 0x3F, 0x5D, 0xAE, 0x55, 0x9A,
              0xF3, 0x73)

#endif  // ZQBLOG_INTERFACES_IWORKSHOPCMD_H_
