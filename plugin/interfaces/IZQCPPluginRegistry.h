// IZQCPPluginRegistry: the host's list of started plug-ins.
// Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_IZQCPPLUGINREGISTRY_H_
#define ZQBLOG_INTERFACES_IZQCPPLUGINREGISTRY_H_

#include "platform/platform.h"

struct IZQCPPluginRegistry : public IUnknown {
  // 1. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved1)() = 0;
  // 2. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved2)() = 0;
  // 3. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved3)() = 0;
  // 4. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved4)() = 0;
  // 5. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved5)() = 0;
  // 6. Registers plugin (one reference) as the plug-in of interface iid; S_FALSE when
  //    that iid is registered already. The plug-in does not check the answer.
  STDMETHOD(RegisterPlugin)(REFIID iid, IUnknown* plugin) = 0;
};

// {D31B0F6B-D791-4D9F-81CA-2175F0FD3208}
ZQ_DEFINE_IID(IZQCPPluginRegistry, 0xD31B0F6B, 0xD791, 0x4D9F, 0x81, 0xCA, 0x21, 0x75, 0xF0,
              0xFD, 0x32, 0x08)

#endif  // ZQBLOG_INTERFACES_IZQCPPLUGINREGISTRY_H_
