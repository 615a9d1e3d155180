// CommonResult<Interface>: the ICommonResult half of every result class. Interface is
// the class's own result interface (derived from ICommonResult); the result class adds
// the object root, its interface map and its own slots.
//
// QueryInterface of a result answers IUnknown and the class's own interface only, not
// ICommonResult by its id: the host reaches the common slots through the class's
// interface, which begins with them.
#ifndef ZQBLOG_DATA_COMMONRESULT_H_
#define ZQBLOG_DATA_COMMONRESULT_H_

#include <string>

#include "interfaces/ICommonResult.h"

namespace Velmora {
namespace ZQBlog {

template <class Interface>
class CommonResult : public Interface {
 public:
  // ICommonResult. Ints start at 0 and texts empty.
  STDMETHOD(GetUin)(BSTR* uin) override;
  STDMETHOD(SetUin)(LPCWSTR uin) override;
  STDMETHOD(GetStatus)(int* status) override;
  STDMETHOD(SetStatus)(int status) override;
  STDMETHOD(GetMessageText)(BSTR* text) override;
  STDMETHOD(SetMessageText)(LPCWSTR text) override;
  STDMETHOD(GetOperationIndex)(int* index) override;
  STDMETHOD(SetOperationIndex)(int index) override;
  STDMETHOD(GetOperationTitle)(BSTR* title) override;
  STDMETHOD(SetOperationTitle)(LPCWSTR title) override;
  STDMETHOD(GetExtraValue)(int* value) override;
  STDMETHOD(SetExtraValue)(int value) override;
  STDMETHOD(GetCategoryId)(int* categoryId) override;
  STDMETHOD(SetCategoryId)(int categoryId) override;

 protected:
  CommonResult() = default;
  ~CommonResult() = default;

 private:
  std::wstring uin_;
  int status_ = 0;
  std::wstring message_text_;
  int operation_index_ = 0;
  std::wstring operation_title_;
  int extra_value_ = 0;
  int category_id_ = 0;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_COMMONRESULT_H_
