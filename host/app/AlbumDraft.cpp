#include "host/app/AlbumDraft.h"

#include "host/app/DraftFields.h"

namespace Velmora {
namespace ZQHost {

namespace {

// The text behind a BSTR the caller frees.
std::wstring TakeBstr(BSTR text) {
  std::wstring out = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return out;
}

}  // namespace

HRESULT AlbumDraft::Create(IZQAlbumInfo** out) { return CreateObjectWithReference<AlbumDraft>(out); }

HRESULT AlbumDraft::CreateCopy(IZQAlbumInfo* album, IZQAlbumInfo** out) {
  if (album == nullptr || out == nullptr) return E_POINTER;
  CComPtr<IZQAlbumInfo> draft;
  HRESULT hr = Create(&draft);
  if (FAILED(hr)) return hr;
  int value = 0;
  BSTR text = nullptr;
  if (SUCCEEDED(album->GetId(&value))) draft->SetId(value);
  if (SUCCEEDED(album->GetCategoryName(&text))) draft->SetCategoryName(TakeBstr(text).c_str());
  text = nullptr;
  if (SUCCEEDED(album->GetShowStatus(&value))) draft->SetShowStatus(value);
  if (SUCCEEDED(album->GetCategoryType(&value))) draft->SetCategoryType(value);
  if (SUCCEEDED(album->GetDesc(&text))) draft->SetDesc(TakeBstr(text).c_str());
  text = nullptr;
  if (SUCCEEDED(album->GetLastTime(&text))) draft->SetLastTime(TakeBstr(text).c_str());
  text = nullptr;
  if (SUCCEEDED(album->GetPicUrl(&text))) draft->SetPicUrl(TakeBstr(text).c_str());
  text = nullptr;
  if (SUCCEEDED(album->GetNewlyAddedResNum(&value))) draft->SetNewlyAddedResNum(value);
  int tags = 0;
  if (SUCCEEDED(album->GetTagNum(&tags))) draft->SetTagNum(tags);
  for (int i = 0; i < tags && i < 3; ++i) {
    text = nullptr;
    if (SUCCEEDED(album->GetTag(i, &text))) draft->SetTag(i, TakeBstr(text).c_str());
  }
  *out = draft.Detach();
  return S_OK;
}

STDMETHODIMP AlbumDraft::GetId(int* id) { return GetDraftInt(id_, id); }
STDMETHODIMP AlbumDraft::SetId(int id) { return SetDraftInt(id, &id_); }
STDMETHODIMP AlbumDraft::GetCategoryName(BSTR* name) { return GetDraftText(name_, name); }
STDMETHODIMP AlbumDraft::SetCategoryName(LPCWSTR name) { return SetDraftText(name, &name_); }
STDMETHODIMP AlbumDraft::GetShowStatus(int* showStatus) {
  return GetDraftInt(show_status_, showStatus);
}
STDMETHODIMP AlbumDraft::SetShowStatus(int showStatus) {
  return SetDraftInt(showStatus, &show_status_);
}
STDMETHODIMP AlbumDraft::GetCategoryType(int* categoryType) {
  return GetDraftInt(category_type_, categoryType);
}
STDMETHODIMP AlbumDraft::SetCategoryType(int categoryType) {
  return SetDraftInt(categoryType, &category_type_);
}
STDMETHODIMP AlbumDraft::GetDesc(BSTR* desc) { return GetDraftText(desc_, desc); }
STDMETHODIMP AlbumDraft::SetDesc(LPCWSTR desc) { return SetDraftText(desc, &desc_); }
STDMETHODIMP AlbumDraft::GetLastTime(BSTR* lastTime) { return GetDraftText(last_time_, lastTime); }
STDMETHODIMP AlbumDraft::SetLastTime(LPCWSTR lastTime) {
  return SetDraftText(lastTime, &last_time_);
}
STDMETHODIMP AlbumDraft::GetTagNum(int* tagNum) { return GetDraftInt(tag_num_, tagNum); }
STDMETHODIMP AlbumDraft::SetTagNum(int tagNum) { return SetDraftInt(tagNum, &tag_num_); }
STDMETHODIMP AlbumDraft::GetTag(int index, BSTR* tag) {
  if (index < 0 || index > 2) return S_OK;
  return GetDraftText(tags_[index], tag);
}
STDMETHODIMP AlbumDraft::SetTag(int index, LPCWSTR tag) {
  if (index < 0 || index > 2) return S_OK;
  return SetDraftText(tag, &tags_[index]);
}
STDMETHODIMP AlbumDraft::GetPicUrl(BSTR* picUrl) { return GetDraftText(pic_url_, picUrl); }
STDMETHODIMP AlbumDraft::SetPicUrl(LPCWSTR picUrl) { return SetDraftText(picUrl, &pic_url_); }
STDMETHODIMP AlbumDraft::GetNewlyAddedResNum(int* count) {
  return GetDraftInt(newly_added_res_num_, count);
}
STDMETHODIMP AlbumDraft::SetNewlyAddedResNum(int count) {
  return SetDraftInt(count, &newly_added_res_num_);
}
STDMETHODIMP AlbumDraft::GetResourceCount(int* count) { return GetDraftInt(0, count); }
STDMETHODIMP AlbumDraft::GetResource(int, IZQResInfo**) { return E_INVALIDARG; }

}  // namespace ZQHost
}  // namespace Velmora
