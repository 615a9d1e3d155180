// ResultOnBatchOperation: the result of a batch collect, remove, copy or move (result
// kind 2), with per-item outcomes: the first id list holds the items done, the second
// the items refused; the first table maps a done item to its state text, the second a
// refused item to the server's message. The batch commands fill lists and tables
// through the class before the object is filed; it is only read afterwards, so it has
// no lock.
#ifndef ZQBLOG_DATA_RESULTONBATCHOPERATION_H_
#define ZQBLOG_DATA_RESULTONBATCHOPERATION_H_

#include <map>
#include <string>
#include <vector>

#include "data/CommonResult.h"
#include "interfaces/IResultOnBatchOperation.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

class ResultOnBatchOperation : public CComObjectRootEx<CComMultiThreadModel>,
                               public CommonResult<IResultOnBatchOperation> {
 public:
  BEGIN_COM_MAP(ResultOnBatchOperation)
  COM_INTERFACE_ENTRY(IResultOnBatchOperation)
  END_COM_MAP()

  ResultOnBatchOperation() = default;
  ResultOnBatchOperation(const ResultOnBatchOperation&) = delete;
  ResultOnBatchOperation& operator=(const ResultOnBatchOperation&) = delete;

  // IResultOnBatchOperation
  STDMETHOD(GetFirstCount)(int* count) override;
  STDMETHOD(SetFirstCount)(int count) override;
  STDMETHOD(GetSecondCount)(int* count) override;
  STDMETHOD(SetSecondCount)(int count) override;
  STDMETHOD(GetListItem)(int list, int index, int* id) override;
  STDMETHOD(GetFirstText)(int key, BSTR* text) override;
  STDMETHOD(GetSecondText)(int key, BSTR* text) override;
  STDMETHOD(GetTargetCategoryId)(int* categoryId) override;
  STDMETHOD(SetTargetCategoryId)(int categoryId) override;

  // Appends the ids of [begin, end) to the first (done) or second (refused) list.
  template <class Iterator>
  void AppendFirstIds(Iterator begin, Iterator end) {
    first_ids_.insert(first_ids_.end(), begin, end);
  }
  template <class Iterator>
  void AppendSecondIds(Iterator begin, Iterator end) {
    second_ids_.insert(second_ids_.end(), begin, end);
  }
  // Inserts (id, text) into the first or second table; a key already present keeps
  // its text.
  void InsertFirstText(int id, const std::wstring& text);
  void InsertSecondText(int id, const std::wstring& text);
  // The length of the list GetListItem reads for list (1: first, else second).
  int ListLength(int list) const;

 private:
  const std::vector<int>& ListFor(int list) const {
    return list == 1 ? first_ids_ : second_ids_;
  }
  static HRESULT LookUpText(const std::map<int, std::wstring>& table, int key, BSTR* text);

  int first_count_ = 0;
  int second_count_ = 0;
  int target_category_id_ = 0;
  std::vector<int> first_ids_;
  std::vector<int> second_ids_;
  std::map<int, std::wstring> first_texts_;
  std::map<int, std::wstring> second_texts_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_RESULTONBATCHOPERATION_H_
