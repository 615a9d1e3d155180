#include "data/ResultOnAlbum.h"

#include "data/BstrText.h"

namespace Velmora {
namespace ZQBlog {

STDMETHODIMP ResultOnAlbum::GetCategoryName(BSTR* name) {
  return CopyToBstr(category_name_, name);
}

STDMETHODIMP ResultOnAlbum::SetCategoryName(LPCWSTR name) {
  return AssignText(&category_name_, name);
}

}  // namespace ZQBlog
}  // namespace Velmora
