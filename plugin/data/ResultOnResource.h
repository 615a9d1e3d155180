// ResultOnResource: the result of a resource modification (result kind 1). Filled by
// its command before it is filed; only read afterwards, so it has no lock.
#ifndef ZQBLOG_DATA_RESULTONRESOURCE_H_
#define ZQBLOG_DATA_RESULTONRESOURCE_H_

#include "data/CommonResult.h"
#include "interfaces/IResultOnResource.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

class ResultOnResource : public CComObjectRootEx<CComMultiThreadModel>,
                         public CommonResult<IResultOnResource> {
 public:
  BEGIN_COM_MAP(ResultOnResource)
  COM_INTERFACE_ENTRY(IResultOnResource)
  END_COM_MAP()

  ResultOnResource() = default;
  ResultOnResource(const ResultOnResource&) = delete;
  ResultOnResource& operator=(const ResultOnResource&) = delete;

  // IResultOnResource
  STDMETHOD(GetTargetCategoryId)(int* categoryId) override;
  STDMETHOD(SetTargetCategoryId)(int categoryId) override;
  STDMETHOD(GetResourceId)(int* resourceId) override;
  STDMETHOD(SetResourceId)(int resourceId) override;

 private:
  int target_category_id_ = 0;
  int resource_id_ = 0;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_RESULTONRESOURCE_H_
