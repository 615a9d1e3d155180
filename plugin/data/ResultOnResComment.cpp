#include "data/ResultOnResComment.h"

#include "data/BstrText.h"

namespace Velmora {
namespace ZQBlog {

STDMETHODIMP ResultOnResComment::GetResourceKey(BSTR* key) {
  return CopyToBstr(resource_key_, key);
}

STDMETHODIMP ResultOnResComment::SetResourceKey(LPCWSTR key) {
  return AssignText(&resource_key_, key);
}

STDMETHODIMP ResultOnResComment::GetRequestNumber(int* number) {
  return CopyToInt(request_number_, number);
}

STDMETHODIMP ResultOnResComment::SetRequestNumber(int number) {
  request_number_ = number;
  return S_OK;
}

}  // namespace ZQBlog
}  // namespace Velmora
