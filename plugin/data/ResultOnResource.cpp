#include "data/ResultOnResource.h"

#include "data/BstrText.h"

namespace Velmora {
namespace ZQBlog {

STDMETHODIMP ResultOnResource::GetTargetCategoryId(int* categoryId) {
  return CopyToInt(target_category_id_, categoryId);
}

STDMETHODIMP ResultOnResource::SetTargetCategoryId(int categoryId) {
  target_category_id_ = categoryId;
  return S_OK;
}

STDMETHODIMP ResultOnResource::GetResourceId(int* resourceId) {
  return CopyToInt(resource_id_, resourceId);
}

STDMETHODIMP ResultOnResource::SetResourceId(int resourceId) {
  resource_id_ = resourceId;
  return S_OK;
}

}  // namespace ZQBlog
}  // namespace Velmora
