#include "data/ResultOnBatchOperation.h"

#include "data/BstrText.h"

namespace Velmora {
namespace ZQBlog {

STDMETHODIMP ResultOnBatchOperation::GetFirstCount(int* count) {
  return CopyToInt(first_count_, count);
}

STDMETHODIMP ResultOnBatchOperation::SetFirstCount(int count) {
  first_count_ = count;
  return S_OK;
}

STDMETHODIMP ResultOnBatchOperation::GetSecondCount(int* count) {
  return CopyToInt(second_count_, count);
}

STDMETHODIMP ResultOnBatchOperation::SetSecondCount(int count) {
  second_count_ = count;
  return S_OK;
}

STDMETHODIMP ResultOnBatchOperation::GetListItem(int list, int index, int* id) {
  if (id == nullptr) return E_POINTER;
  const std::vector<int>& ids = ListFor(list);
  if (index < 0 || static_cast<size_t>(index) >= ids.size()) return E_INVALIDARG;
  *id = ids[index];
  return S_OK;
}

HRESULT ResultOnBatchOperation::LookUpText(const std::map<int, std::wstring>& table, int key,
                                           BSTR* text) {
  if (text == nullptr) return E_POINTER;
  auto it = table.find(key);  // find, never operator[]: a lookup adds no entry
  if (it == table.end()) return S_OK;
  return CopyToBstr(it->second, text);
}

STDMETHODIMP ResultOnBatchOperation::GetFirstText(int key, BSTR* text) {
  return LookUpText(first_texts_, key, text);
}

STDMETHODIMP ResultOnBatchOperation::GetSecondText(int key, BSTR* text) {
  return LookUpText(second_texts_, key, text);
}

STDMETHODIMP ResultOnBatchOperation::GetTargetCategoryId(int* categoryId) {
  return CopyToInt(target_category_id_, categoryId);
}

STDMETHODIMP ResultOnBatchOperation::SetTargetCategoryId(int categoryId) {
  target_category_id_ = categoryId;
  return S_OK;
}

void ResultOnBatchOperation::InsertFirstText(int id, const std::wstring& text) {
  first_texts_.emplace(id, text);
}

void ResultOnBatchOperation::InsertSecondText(int id, const std::wstring& text) {
  second_texts_.emplace(id, text);
}

int ResultOnBatchOperation::ListLength(int list) const {
  return static_cast<int>(ListFor(list).size());
}

}  // namespace ZQBlog
}  // namespace Velmora
