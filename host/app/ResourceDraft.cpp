#include "host/app/ResourceDraft.h"

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

HRESULT CopyIn(LPCWSTR value, std::wstring* field) {
  *field = value != nullptr ? value : L"";
  return S_OK;
}

}  // namespace

HRESULT ResourceDraft::Create(IZQResInfo** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  CComObject<ResourceDraft>* draft = nullptr;
  HRESULT hr = CComObject<ResourceDraft>::CreateInstance(&draft);
  if (FAILED(hr)) return hr;
  draft->AddRef();
  *out = draft;
  return S_OK;
}

STDMETHODIMP ResourceDraft::GetId(int* id) { return IntOut(id_, id); }
STDMETHODIMP ResourceDraft::SetId(int id) {
  id_ = id;
  return S_OK;
}
STDMETHODIMP ResourceDraft::GetCid(BSTR* cid) { return CopyOut(cid_, cid); }
STDMETHODIMP ResourceDraft::SetCid(LPCWSTR cid) { return CopyIn(cid, &cid_); }
STDMETHODIMP ResourceDraft::GetGcid(BSTR* gcid) { return CopyOut(gcid_, gcid); }
STDMETHODIMP ResourceDraft::SetGcid(LPCWSTR gcid) { return CopyIn(gcid, &gcid_); }
STDMETHODIMP ResourceDraft::GetResName(BSTR* name) { return CopyOut(res_name_, name); }
STDMETHODIMP ResourceDraft::SetResName(LPCWSTR name) { return CopyIn(name, &res_name_); }
STDMETHODIMP ResourceDraft::GetFormat(BSTR* format) { return CopyOut(format_, format); }
STDMETHODIMP ResourceDraft::SetFormat(LPCWSTR format) { return CopyIn(format, &format_); }
STDMETHODIMP ResourceDraft::GetSize(BSTR* size) { return CopyOut(size_, size); }
STDMETHODIMP ResourceDraft::SetSize(LPCWSTR size) { return CopyIn(size, &size_); }
STDMETHODIMP ResourceDraft::GetLastTime(BSTR* lastTime) { return CopyOut(last_time_, lastTime); }
STDMETHODIMP ResourceDraft::SetLastTime(LPCWSTR lastTime) { return CopyIn(lastTime, &last_time_); }
STDMETHODIMP ResourceDraft::GetUrl(BSTR* url) { return CopyOut(url_, url); }
STDMETHODIMP ResourceDraft::SetUrl(LPCWSTR url) { return CopyIn(url, &url_); }
STDMETHODIMP ResourceDraft::GetOriginal(BSTR* original) { return CopyOut(original_, original); }
STDMETHODIMP ResourceDraft::SetOriginal(LPCWSTR original) { return CopyIn(original, &original_); }
STDMETHODIMP ResourceDraft::GetRefer(BSTR* refer) { return CopyOut(refer_, refer); }
STDMETHODIMP ResourceDraft::SetRefer(LPCWSTR refer) { return CopyIn(refer, &refer_); }
STDMETHODIMP ResourceDraft::GetDesc(BSTR* desc) { return CopyOut(desc_, desc); }
STDMETHODIMP ResourceDraft::SetDesc(LPCWSTR desc) { return CopyIn(desc, &desc_); }
STDMETHODIMP ResourceDraft::GetResType(int* resType) { return IntOut(res_type_, resType); }
STDMETHODIMP ResourceDraft::SetResType(int resType) {
  res_type_ = resType;
  return S_OK;
}
STDMETHODIMP ResourceDraft::GetState(int* state) { return IntOut(state_, state); }
STDMETHODIMP ResourceDraft::SetState(int state) {
  state_ = state;
  return S_OK;
}
STDMETHODIMP ResourceDraft::GetCategoryId(int* categoryId) { return IntOut(category_id_, categoryId); }
STDMETHODIMP ResourceDraft::SetCategoryId(int categoryId) {
  category_id_ = categoryId;
  return S_OK;
}
STDMETHODIMP ResourceDraft::GetUin(BSTR* uin) { return CopyOut(uin_, uin); }
STDMETHODIMP ResourceDraft::SetUin(LPCWSTR uin) { return CopyIn(uin, &uin_); }

}  // namespace ZQHost
}  // namespace Velmora
