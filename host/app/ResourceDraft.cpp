#include "host/app/ResourceDraft.h"

#include "host/app/DraftFields.h"

namespace Velmora {
namespace ZQHost {

HRESULT ResourceDraft::Create(IZQResInfo** out) { return CreateObjectWithReference<ResourceDraft>(out); }

STDMETHODIMP ResourceDraft::GetId(int* id) { return GetDraftInt(id_, id); }
STDMETHODIMP ResourceDraft::SetId(int id) { return SetDraftInt(id, &id_); }
STDMETHODIMP ResourceDraft::GetCid(BSTR* cid) { return GetDraftText(cid_, cid); }
STDMETHODIMP ResourceDraft::SetCid(LPCWSTR cid) { return SetDraftText(cid, &cid_); }
STDMETHODIMP ResourceDraft::GetGcid(BSTR* gcid) { return GetDraftText(gcid_, gcid); }
STDMETHODIMP ResourceDraft::SetGcid(LPCWSTR gcid) { return SetDraftText(gcid, &gcid_); }
STDMETHODIMP ResourceDraft::GetResName(BSTR* name) { return GetDraftText(res_name_, name); }
STDMETHODIMP ResourceDraft::SetResName(LPCWSTR name) { return SetDraftText(name, &res_name_); }
STDMETHODIMP ResourceDraft::GetFormat(BSTR* format) { return GetDraftText(format_, format); }
STDMETHODIMP ResourceDraft::SetFormat(LPCWSTR format) { return SetDraftText(format, &format_); }
STDMETHODIMP ResourceDraft::GetSize(BSTR* size) { return GetDraftText(size_, size); }
STDMETHODIMP ResourceDraft::SetSize(LPCWSTR size) { return SetDraftText(size, &size_); }
STDMETHODIMP ResourceDraft::GetLastTime(BSTR* lastTime) {
  return GetDraftText(last_time_, lastTime);
}
STDMETHODIMP ResourceDraft::SetLastTime(LPCWSTR lastTime) {
  return SetDraftText(lastTime, &last_time_);
}
STDMETHODIMP ResourceDraft::GetUrl(BSTR* url) { return GetDraftText(url_, url); }
STDMETHODIMP ResourceDraft::SetUrl(LPCWSTR url) { return SetDraftText(url, &url_); }
STDMETHODIMP ResourceDraft::GetOriginal(BSTR* original) {
  return GetDraftText(original_, original);
}
STDMETHODIMP ResourceDraft::SetOriginal(LPCWSTR original) {
  return SetDraftText(original, &original_);
}
STDMETHODIMP ResourceDraft::GetRefer(BSTR* refer) { return GetDraftText(refer_, refer); }
STDMETHODIMP ResourceDraft::SetRefer(LPCWSTR refer) { return SetDraftText(refer, &refer_); }
STDMETHODIMP ResourceDraft::GetDesc(BSTR* desc) { return GetDraftText(desc_, desc); }
STDMETHODIMP ResourceDraft::SetDesc(LPCWSTR desc) { return SetDraftText(desc, &desc_); }
STDMETHODIMP ResourceDraft::GetResType(int* resType) { return GetDraftInt(res_type_, resType); }
STDMETHODIMP ResourceDraft::SetResType(int resType) { return SetDraftInt(resType, &res_type_); }
STDMETHODIMP ResourceDraft::GetState(int* state) { return GetDraftInt(state_, state); }
STDMETHODIMP ResourceDraft::SetState(int state) { return SetDraftInt(state, &state_); }
STDMETHODIMP ResourceDraft::GetCategoryId(int* categoryId) {
  return GetDraftInt(category_id_, categoryId);
}
STDMETHODIMP ResourceDraft::SetCategoryId(int categoryId) {
  return SetDraftInt(categoryId, &category_id_);
}
STDMETHODIMP ResourceDraft::GetUin(BSTR* uin) { return GetDraftText(uin_, uin); }
STDMETHODIMP ResourceDraft::SetUin(LPCWSTR uin) { return SetDraftText(uin, &uin_); }

}  // namespace ZQHost
}  // namespace Velmora
