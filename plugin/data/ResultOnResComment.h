// ResultOnResComment: the result of a comment count refresh (result kind 3); the count
// is the common category id. Filled by its command before it is filed; only read
// afterwards, so it has no lock.
#ifndef ZQBLOG_DATA_RESULTONRESCOMMENT_H_
#define ZQBLOG_DATA_RESULTONRESCOMMENT_H_

#include <string>

#include "data/CommonResult.h"
#include "interfaces/IResultOnResComment.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

class ResultOnResComment : public CComObjectRootEx<CComMultiThreadModel>,
                           public CommonResult<IResultOnResComment> {
 public:
  BEGIN_COM_MAP(ResultOnResComment)
  COM_INTERFACE_ENTRY(IResultOnResComment)
  END_COM_MAP()

  ResultOnResComment() = default;
  ResultOnResComment(const ResultOnResComment&) = delete;
  ResultOnResComment& operator=(const ResultOnResComment&) = delete;

  // IResultOnResComment
  STDMETHOD(GetResourceKey)(BSTR* key) override;
  STDMETHOD(SetResourceKey)(LPCWSTR key) override;
  STDMETHOD(GetRequestNumber)(int* number) override;
  STDMETHOD(SetRequestNumber)(int number) override;

 private:
  std::wstring resource_key_;
  int request_number_ = 0;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_RESULTONRESCOMMENT_H_
