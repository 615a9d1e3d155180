// ResultOnAlbum: the result of the directory, content-id, album list, resource list and
// album write operations (result kind 0). Filled by its command before it is filed;
// only read afterwards, so it has no lock.
#ifndef ZQBLOG_DATA_RESULTONALBUM_H_
#define ZQBLOG_DATA_RESULTONALBUM_H_

#include <string>

#include "data/CommonResult.h"
#include "interfaces/IResultOnAlbum.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

class ResultOnAlbum : public CComObjectRootEx<CComMultiThreadModel>,
                      public CommonResult<IResultOnAlbum> {
 public:
  BEGIN_COM_MAP(ResultOnAlbum)
  COM_INTERFACE_ENTRY(IResultOnAlbum)
  END_COM_MAP()

  ResultOnAlbum() = default;
  ResultOnAlbum(const ResultOnAlbum&) = delete;
  ResultOnAlbum& operator=(const ResultOnAlbum&) = delete;

  // IResultOnAlbum
  STDMETHOD(GetCategoryName)(BSTR* name) override;
  STDMETHOD(SetCategoryName)(LPCWSTR name) override;

 private:
  std::wstring category_name_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_RESULTONALBUM_H_
