// IResultOnAlbum: the result of the album, directory, content-id and list operations.
#ifndef ZQBLOG_INTERFACES_IRESULTONALBUM_H_
#define ZQBLOG_INTERFACES_IRESULTONALBUM_H_

#include "interfaces/ICommonResult.h"

struct IResultOnAlbum : public ICommonResult {
  // The album's name, where the operation has one (album create, modify, removal).
  STDMETHOD(GetCategoryName)(BSTR* name) = 0;
  STDMETHOD(SetCategoryName)(LPCWSTR name) = 0;
};

// {BE71A80F-9666-4C55-9CB8-9EEE5C0D40F7}
ZQ_DEFINE_IID(IResultOnAlbum, 0xBE71A80F, 0x9666, 0x4C55, 0x9C, 0xB8, 0x9E, 0xEE, 0x5C, 0x0D,
              0x40, 0xF7)

#endif  // ZQBLOG_INTERFACES_IRESULTONALBUM_H_
