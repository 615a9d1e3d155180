// ISettingsSection: one named section of the host's settings store: narrow keys with
// narrow values, each stored with the time it was written.
// Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_ISETTINGSSECTION_H_
#define ZQBLOG_INTERFACES_ISETTINGSSECTION_H_

#include "platform/platform.h"

struct ISettingsSection : public IUnknown {
  // 1. Stores value[0, length) under key (zero-terminated) with time (seconds since
  //    1970), replacing what the key held. REQUIRES: length >= 0 (E_INVALIDARG).
  STDMETHOD(WriteValue)(LPCSTR key, int time, LPCSTR value, int length) = 0;
  // 2. Writes key's value, zero-terminated, into buffer; in: *length is the capacity in
  //    bytes; S_OK: *length is the value's length. Absent key:
  //    HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), buffer untouched. Too small:
  //    HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), *length the capacity needed.
  STDMETHOD(ReadValue)(LPCSTR key, char* buffer, int* length) = 0;
};

// {82FC3DCF-14B9-4049-9745-D3BA0C939B70}
ZQ_DEFINE_IID(ISettingsSection, 0x82FC3DCF, 0x14B9, 0x4049, 0x97, 0x45, 0xD3, 0xBA, 0x0C, 0x93,
              0x9B, 0x70)

#endif  // ZQBLOG_INTERFACES_ISETTINGSSECTION_H_
