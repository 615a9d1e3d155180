#include "host/app/AlbumDraft.h"

namespace Velmora {
namespace ZQHost {

namespace {

HRESULT CopyOut(const std::wstring& value, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT IntOut(int value, int* out) {
  if (out == nullptr) return E_POINTER;
  *out = value;
  return S_OK;
}

std::wstring Text(LPCWSTR value) { return value != nullptr ? value : L""; }

// The text behind a BSTR the caller frees.
std::wstring TakeBstr(BSTR text) {
  std::wstring out = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return out;
}

}  // namespace

HRESULT AlbumDraft::Create(IZQAlbumInfo** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  CComObject<AlbumDraft>* draft = nullptr;
  HRESULT hr = CComObject<AlbumDraft>::CreateInstance(&draft);
  if (FAILED(hr)) return hr;
  draft->AddRef();
  *out = draft;
  return S_OK;
}

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

STDMETHODIMP AlbumDraft::GetId(int* id) { return IntOut(id_, id); }
STDMETHODIMP AlbumDraft::SetId(int id) {
  id_ = id;
  return S_OK;
}
STDMETHODIMP AlbumDraft::GetCategoryName(BSTR* name) { return CopyOut(name_, name); }
STDMETHODIMP AlbumDraft::SetCategoryName(LPCWSTR name) {
  name_ = Text(name);
  return S_OK;
}
STDMETHODIMP AlbumDraft::GetShowStatus(int* showStatus) { return IntOut(show_status_, showStatus); }
STDMETHODIMP AlbumDraft::SetShowStatus(int showStatus) {
  show_status_ = showStatus;
  return S_OK;
}
STDMETHODIMP AlbumDraft::GetCategoryType(int* categoryType) {
  return IntOut(category_type_, categoryType);
}
STDMETHODIMP AlbumDraft::SetCategoryType(int categoryType) {
  category_type_ = categoryType;
  return S_OK;
}
STDMETHODIMP AlbumDraft::GetDesc(BSTR* desc) { return CopyOut(desc_, desc); }
STDMETHODIMP AlbumDraft::SetDesc(LPCWSTR desc) {
  desc_ = Text(desc);
  return S_OK;
}
STDMETHODIMP AlbumDraft::GetLastTime(BSTR* lastTime) { return CopyOut(last_time_, lastTime); }
STDMETHODIMP AlbumDraft::SetLastTime(LPCWSTR lastTime) {
  last_time_ = Text(lastTime);
  return S_OK;
}
STDMETHODIMP AlbumDraft::GetTagNum(int* tagNum) { return IntOut(tag_num_, tagNum); }
STDMETHODIMP AlbumDraft::SetTagNum(int tagNum) {
  tag_num_ = tagNum;
  return S_OK;
}
STDMETHODIMP AlbumDraft::GetTag(int index, BSTR* tag) {
  if (index < 0 || index > 2) return S_OK;
  return CopyOut(tags_[index], tag);
}
STDMETHODIMP AlbumDraft::SetTag(int index, LPCWSTR tag) {
  if (index >= 0 && index <= 2) tags_[index] = Text(tag);
  return S_OK;
}
STDMETHODIMP AlbumDraft::GetPicUrl(BSTR* picUrl) { return CopyOut(pic_url_, picUrl); }
STDMETHODIMP AlbumDraft::SetPicUrl(LPCWSTR picUrl) {
  pic_url_ = Text(picUrl);
  return S_OK;
}
STDMETHODIMP AlbumDraft::GetNewlyAddedResNum(int* count) {
  return IntOut(newly_added_res_num_, count);
}
STDMETHODIMP AlbumDraft::SetNewlyAddedResNum(int count) {
  newly_added_res_num_ = count;
  return S_OK;
}
STDMETHODIMP AlbumDraft::GetResourceCount(int* count) { return IntOut(0, count); }
STDMETHODIMP AlbumDraft::GetResource(int, IZQResInfo**) { return E_INVALIDARG; }

}  // namespace ZQHost
}  // namespace Velmora
