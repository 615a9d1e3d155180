// ISettingsStore: the host's persistent per-user settings, in named sections (the
// plug-in uses one named by the user id for "Last-Modified" values and one named by the
// user id followed by "CID" for comment counts).
// Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_ISETTINGSSTORE_H_
#define ZQBLOG_INTERFACES_ISETTINGSSTORE_H_

#include "interfaces/ISettingsSection.h"
#include "platform/platform.h"

struct ISettingsStore : public IUnknown {
  // 1. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved1)() = 0;
  // 2. With flag 1 (the only flag the plug-in passes), creates the section name; S_FALSE
  //    when it exists already. Negative: not created.
  STDMETHOD(CreateSection)(BSTR name, int flag) = 0;
  // 3. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved3)() = 0;
  // 4. The section name, one reference for the caller: S_OK (0) only then; a missing
  //    section gives HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) and null.
  STDMETHOD(OpenSection)(BSTR name, ISettingsSection** section) = 0;
};

// {63A95976-AAE1-47F8-8180-AC3F541D339C}
ZQ_DEFINE_IID(ISettingsStore, 0x63A95976, 0xAAE1, 0x47F8, 0x81, 0x80, 0xAC, 0x3F, 0x54, 0x1D,
              0x33, 0x9C)

#endif  // ZQBLOG_INTERFACES_ISETTINGSSTORE_H_
