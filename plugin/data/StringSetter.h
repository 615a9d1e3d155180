// StringSetter: receives one narrow text value from the host (a reply header).
// Not an ATL object and not counted in the module lock: its count is plain. A command
// makes one on the stack (count 1), passes it to the host and reads the text; it goes
// out of scope without Release. Release bringing the count to 0 deletes the object,
// so only a heap object may be released to 0. Not shared between threads.
#ifndef ZQBLOG_DATA_STRINGSETTER_H_
#define ZQBLOG_DATA_STRINGSETTER_H_

#include <string>

#include "interfaces/IStringSetter.h"

namespace Velmora {
namespace ZQBlog {

class StringSetter final : public IStringSetter {
 public:
  StringSetter() = default;
  virtual ~StringSetter() = default;
  StringSetter(const StringSetter&) = delete;
  StringSetter& operator=(const StringSetter&) = delete;

  // Answers IStringSetter's id alone, with this object and without adding a reference;
  // every other id (IUnknown's included) gets E_NOINTERFACE and a null *ppv.
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override;
  // Return the new count.
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;
  // IStringSetter
  STDMETHOD(SetString)(int length, const BYTE* data) override;

  // The text last set; empty until SetString is called.
  const std::string& GetString() const { return text_; }

 private:
  ULONG count_ = 1;
  std::string text_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_STRINGSETTER_H_
