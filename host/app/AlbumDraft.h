// AlbumDraft: the host's own album object (IZQAlbumInfo), filled by the host (the
// command line, tests) and handed to CreateAlbum and ModifyAlbum, which copy it at once.
// Plain values, no resources; not locked (it is filled and read on one thread).
#ifndef ZQBLOG_HOST_APP_ALBUMDRAFT_H_
#define ZQBLOG_HOST_APP_ALBUMDRAFT_H_

#include <string>

#include "interfaces/IZQAlbumInfo.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class AlbumDraft : public CComObjectRootEx<CComMultiThreadModel>, public IZQAlbumInfo {
 public:
  BEGIN_COM_MAP(AlbumDraft)
  COM_INTERFACE_ENTRY(IZQAlbumInfo)
  END_COM_MAP()

  // A new draft (id -1, empty texts, no tags), one reference for the caller.
  static HRESULT Create(IZQAlbumInfo** out);
  // A new draft holding every value of album that the album interface shows (tags up
  // to the three slots), one reference for the caller. REQUIRES: album not null.
  static HRESULT CreateCopy(IZQAlbumInfo* album, IZQAlbumInfo** out);

  STDMETHOD(GetId)(int* id) override;
  STDMETHOD(SetId)(int id) override;
  STDMETHOD(GetCategoryName)(BSTR* name) override;
  STDMETHOD(SetCategoryName)(LPCWSTR name) override;
  STDMETHOD(GetShowStatus)(int* showStatus) override;
  STDMETHOD(SetShowStatus)(int showStatus) override;
  STDMETHOD(GetCategoryType)(int* categoryType) override;
  STDMETHOD(SetCategoryType)(int categoryType) override;
  STDMETHOD(GetDesc)(BSTR* desc) override;
  STDMETHOD(SetDesc)(LPCWSTR desc) override;
  STDMETHOD(GetLastTime)(BSTR* lastTime) override;
  STDMETHOD(SetLastTime)(LPCWSTR lastTime) override;
  STDMETHOD(GetTagNum)(int* tagNum) override;
  STDMETHOD(SetTagNum)(int tagNum) override;
  // Index 0 to 2; any other index leaves *tag untouched (S_OK).
  STDMETHOD(GetTag)(int index, BSTR* tag) override;
  // Index 0 to 2; any other index does nothing (S_OK).
  STDMETHOD(SetTag)(int index, LPCWSTR tag) override;
  STDMETHOD(GetPicUrl)(BSTR* picUrl) override;
  STDMETHOD(SetPicUrl)(LPCWSTR picUrl) override;
  STDMETHOD(GetNewlyAddedResNum)(int* count) override;
  STDMETHOD(SetNewlyAddedResNum)(int count) override;
  // A draft holds no resources: count 0, GetResource E_INVALIDARG.
  STDMETHOD(GetResourceCount)(int* count) override;
  STDMETHOD(GetResource)(int index, IZQResInfo** resource) override;

 private:
  int id_ = -1;
  std::wstring name_;
  int show_status_ = 0;
  int category_type_ = 0;
  std::wstring desc_;
  std::wstring last_time_;
  int tag_num_ = 0;
  std::wstring tags_[3];
  std::wstring pic_url_;
  int newly_added_res_num_ = 0;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_APP_ALBUMDRAFT_H_
