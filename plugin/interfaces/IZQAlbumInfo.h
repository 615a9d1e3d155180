// IZQAlbumInfo: one album ("category") of a user, as the host reads and writes it.
// String getters hand out a new BSTR the caller frees; setters copy the text (a null
// text is taken as empty). Out pointers must not be null (E_POINTER otherwise).
#ifndef ZQBLOG_INTERFACES_IZQALBUMINFO_H_
#define ZQBLOG_INTERFACES_IZQALBUMINFO_H_

#include "interfaces/IZQResInfo.h"
#include "platform/platform.h"

struct IZQAlbumInfo : public IUnknown {
  // The album (category) id; -1 until one is set.
  STDMETHOD(GetId)(int* id) = 0;
  STDMETHOD(SetId)(int id) = 0;
  // The album name.
  STDMETHOD(GetCategoryName)(BSTR* name) = 0;
  STDMETHOD(SetCategoryName)(LPCWSTR name) = 0;
  // Who may see the album; the setter stores any value unchanged.
  STDMETHOD(GetShowStatus)(int* showStatus) = 0;
  STDMETHOD(SetShowStatus)(int showStatus) = 0;
  // The album type.
  STDMETHOD(GetCategoryType)(int* categoryType) = 0;
  STDMETHOD(SetCategoryType)(int categoryType) = 0;
  // The description.
  STDMETHOD(GetDesc)(BSTR* desc) = 0;
  STDMETHOD(SetDesc)(LPCWSTR desc) = 0;
  // The time of the last change, held as text.
  STDMETHOD(GetLastTime)(BSTR* lastTime) = 0;
  STDMETHOD(SetLastTime)(LPCWSTR lastTime) = 0;
  // The number of tags the album declares; it may exceed the three tag slots.
  STDMETHOD(GetTagNum)(int* tagNum) = 0;
  STDMETHOD(SetTagNum)(int tagNum) = 0;
  // Tag 0, 1 or 2; any other index leaves *tag untouched and still returns S_OK.
  STDMETHOD(GetTag)(int index, BSTR* tag) = 0;
  // Sets tag 0, 1 or 2; any other index does nothing and returns S_OK.
  STDMETHOD(SetTag)(int index, LPCWSTR tag) = 0;
  // The album picture URL.
  STDMETHOD(GetPicUrl)(BSTR* picUrl) = 0;
  STDMETHOD(SetPicUrl)(LPCWSTR picUrl) = 0;
  // The number of resources added by the latest modification.
  STDMETHOD(GetNewlyAddedResNum)(int* count) = 0;
  STDMETHOD(SetNewlyAddedResNum)(int count) = 0;
  // The number of resources the album holds.
  STDMETHOD(GetResourceCount)(int* count) = 0;
  // The resource at index, with one reference added for the caller.
  // REQUIRES: 0 <= index < count; otherwise E_INVALIDARG and *resource untouched.
  STDMETHOD(GetResource)(int index, IZQResInfo** resource) = 0;
};

// {CE930CA0-794B-43F3-B4C0-44C9333A7F7B}
ZQ_DEFINE_IID(IZQAlbumInfo, 0xCE930CA0, 0x794B, 0x43F3, 0xB4, 0xC0, 0x44, 0xC9, 0x33, 0x3A,
              0x7F, 0x7B)

#endif  // ZQBLOG_INTERFACES_IZQALBUMINFO_H_
