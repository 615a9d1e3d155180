// IHttpBuffer: a block of bytes owned by the host's HTTP service: a request body the
// plug-in fills, or a piece of reply body the connection reports.
// Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_IHTTPBUFFER_H_
#define ZQBLOG_INTERFACES_IHTTPBUFFER_H_

#include "platform/platform.h"

struct IHttpBuffer : public IUnknown {
  // 1. Replaces the contents with a copy of data[0, length).
  //    REQUIRES: length >= 0 (E_INVALIDARG); data not null unless length is 0 (E_POINTER).
  STDMETHOD(SetData)(const BYTE* data, int length) = 0;
  // 2. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved2)() = 0;
  // 3. *data (when data is not null) points at the contents, owned by the buffer and
  //    valid until the next SetData or the last Release; *length is their size.
  //    REQUIRES: length not null (E_POINTER).
  STDMETHOD(GetData)(BYTE** data, int* length) = 0;
};

// {448ED0E3-4EBD-49E6-BB5F-E9BADAD8B565}
ZQ_DEFINE_IID(IHttpBuffer, 0x448ED0E3, 0x4EBD, 0x49E6, 0xBB, 0x5F, 0xE9, 0xBA, 0xDA, 0xD8, 0xB5,
              0x65)

#endif  // ZQBLOG_INTERFACES_IHTTPBUFFER_H_
