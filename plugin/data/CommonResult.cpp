#include "data/CommonResult.h"

#include "data/BstrText.h"
#include "interfaces/IResultOnAlbum.h"
#include "interfaces/IResultOnBatchOperation.h"
#include "interfaces/IResultOnResComment.h"
#include "interfaces/IResultOnResource.h"

namespace Velmora {
namespace ZQBlog {

template <class I>
STDMETHODIMP CommonResult<I>::GetUin(BSTR* uin) {
  return CopyToBstr(uin_, uin);
}
template <class I>
STDMETHODIMP CommonResult<I>::SetUin(LPCWSTR uin) {
  return AssignText(&uin_, uin);
}
template <class I>
STDMETHODIMP CommonResult<I>::GetStatus(int* status) {
  return CopyToInt(status_, status);
}
template <class I>
STDMETHODIMP CommonResult<I>::SetStatus(int status) {
  status_ = status;
  return S_OK;
}
template <class I>
STDMETHODIMP CommonResult<I>::GetMessageText(BSTR* text) {
  return CopyToBstr(message_text_, text);
}
template <class I>
STDMETHODIMP CommonResult<I>::SetMessageText(LPCWSTR text) {
  return AssignText(&message_text_, text);
}
template <class I>
STDMETHODIMP CommonResult<I>::GetOperationIndex(int* index) {
  return CopyToInt(operation_index_, index);
}
template <class I>
STDMETHODIMP CommonResult<I>::SetOperationIndex(int index) {
  operation_index_ = index;
  return S_OK;
}
template <class I>
STDMETHODIMP CommonResult<I>::GetOperationTitle(BSTR* title) {
  return CopyToBstr(operation_title_, title);
}
template <class I>
STDMETHODIMP CommonResult<I>::SetOperationTitle(LPCWSTR title) {
  return AssignText(&operation_title_, title);
}
template <class I>
STDMETHODIMP CommonResult<I>::GetExtraValue(int* value) {
  return CopyToInt(extra_value_, value);
}
template <class I>
STDMETHODIMP CommonResult<I>::SetExtraValue(int value) {
  extra_value_ = value;
  return S_OK;
}
template <class I>
STDMETHODIMP CommonResult<I>::GetCategoryId(int* categoryId) {
  return CopyToInt(category_id_, categoryId);
}
template <class I>
STDMETHODIMP CommonResult<I>::SetCategoryId(int categoryId) {
  category_id_ = categoryId;
  return S_OK;
}

// The four result interfaces; nothing else derives from ICommonResult.
template class CommonResult<IResultOnAlbum>;
template class CommonResult<IResultOnResource>;
template class CommonResult<IResultOnBatchOperation>;
template class CommonResult<IResultOnResComment>;

}  // namespace ZQBlog
}  // namespace Velmora
