// IZQAlbumListInfo: the albums of one user, in list order.
// Out pointers must not be null (E_POINTER otherwise).
#ifndef ZQBLOG_INTERFACES_IZQALBUMLISTINFO_H_
#define ZQBLOG_INTERFACES_IZQALBUMLISTINFO_H_

#include "interfaces/IZQAlbumInfo.h"
#include "platform/platform.h"

struct IZQAlbumListInfo : public IUnknown {
  // The number of albums in the list.
  STDMETHOD(GetAlbumCount)(int* count) = 0;
  // The album at index, with one reference added for the caller.
  // REQUIRES: 0 <= index < count; otherwise E_INVALIDARG and *album untouched.
  STDMETHOD(GetAlbum)(int index, IZQAlbumInfo** album) = 0;
  // The first album whose id is id, with one reference added; E_FAIL and a null
  // *album when the list has none.
  STDMETHOD(GetAlbumById)(int id, IZQAlbumInfo** album) = 0;
};

// {4F80D26A-5EE7-4EED-A8CF-D2CAB94A9771}
ZQ_DEFINE_IID(IZQAlbumListInfo, 0x4F80D26A, 0x5EE7, 0x4EED, 0xA8, 0xCF, 0xD2, 0xCA, 0xB9, 0x4A,
              0x97, 0x71)

#endif  // ZQBLOG_INTERFACES_IZQALBUMLISTINFO_H_
