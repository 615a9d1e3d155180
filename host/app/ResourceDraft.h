// ResourceDraft: the host's own resource object (IZQResInfo), filled by the host (the
// command line fills it from a --resource option or a --from-json entry) and handed to
// BatchCollect, which copies it at once. Plain values; not locked (filled and read on
// one thread).
#ifndef ZQBLOG_HOST_APP_RESOURCEDRAFT_H_
#define ZQBLOG_HOST_APP_RESOURCEDRAFT_H_

#include <string>

#include "interfaces/IZQResInfo.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class ResourceDraft : public CComObjectRootEx<CComMultiThreadModel>, public IZQResInfo {
 public:
  BEGIN_COM_MAP(ResourceDraft)
  COM_INTERFACE_ENTRY(IZQResInfo)
  END_COM_MAP()

  // A new draft (ints 0, texts empty), one reference for the caller.
  static HRESULT Create(IZQResInfo** out);

  STDMETHOD(GetId)(int* id) override;
  STDMETHOD(SetId)(int id) override;
  STDMETHOD(GetCid)(BSTR* cid) override;
  STDMETHOD(SetCid)(LPCWSTR cid) override;
  STDMETHOD(GetGcid)(BSTR* gcid) override;
  STDMETHOD(SetGcid)(LPCWSTR gcid) override;
  STDMETHOD(GetResName)(BSTR* name) override;
  STDMETHOD(SetResName)(LPCWSTR name) override;
  STDMETHOD(GetFormat)(BSTR* format) override;
  STDMETHOD(SetFormat)(LPCWSTR format) override;
  STDMETHOD(GetSize)(BSTR* size) override;
  STDMETHOD(SetSize)(LPCWSTR size) override;
  STDMETHOD(GetLastTime)(BSTR* lastTime) override;
  STDMETHOD(SetLastTime)(LPCWSTR lastTime) override;
  STDMETHOD(GetUrl)(BSTR* url) override;
  STDMETHOD(SetUrl)(LPCWSTR url) override;
  STDMETHOD(GetOriginal)(BSTR* original) override;
  STDMETHOD(SetOriginal)(LPCWSTR original) override;
  STDMETHOD(GetRefer)(BSTR* refer) override;
  STDMETHOD(SetRefer)(LPCWSTR refer) override;
  STDMETHOD(GetDesc)(BSTR* desc) override;
  STDMETHOD(SetDesc)(LPCWSTR desc) override;
  STDMETHOD(GetResType)(int* resType) override;
  STDMETHOD(SetResType)(int resType) override;
  STDMETHOD(GetState)(int* state) override;
  STDMETHOD(SetState)(int state) override;
  STDMETHOD(GetCategoryId)(int* categoryId) override;
  STDMETHOD(SetCategoryId)(int categoryId) override;
  STDMETHOD(GetUin)(BSTR* uin) override;
  STDMETHOD(SetUin)(LPCWSTR uin) override;

 private:
  int id_ = 0;
  std::wstring cid_, gcid_, res_name_, format_, size_, last_time_, url_, original_, refer_,
      desc_;
  int res_type_ = 0;
  int state_ = 0;
  int category_id_ = 0;
  std::wstring uin_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_APP_RESOURCEDRAFT_H_
