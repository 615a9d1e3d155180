// Text helpers the data objects share at their COM surface: BSTR out-values, wide text
// in-values and a BSTR owner for reading another object through its interface.
#ifndef ZQBLOG_DATA_BSTRTEXT_H_
#define ZQBLOG_DATA_BSTRTEXT_H_

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace Velmora {
namespace ZQBlog {

// Writes a new BSTR copy of value (an empty value gives an empty, non-null BSTR).
// E_POINTER for a null out; E_OUTOFMEMORY and a null *out when allocation fails.
HRESULT CopyToBstr(std::wstring_view value, BSTR* out);

// Writes value to *out. E_POINTER for a null out.
HRESULT CopyToInt(int value, int* out);

// Copies the zero-terminated text into *field; a null text clears it.
// E_OUTOFMEMORY (field unchanged) when the copy cannot be made.
HRESULT AssignText(std::wstring* field, LPCWSTR text);

// Owns one BSTR and frees it when destroyed.
class ScopedBstr {
 public:
  ScopedBstr() = default;
  ~ScopedBstr();
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;

  // Frees the held BSTR and returns the slot for an out-argument.
  BSTR* Receive();
  BSTR get() const { return bstr_; }
  // The held text, its embedded zeros included; empty for a null BSTR.
  std::wstring ToWide() const;

 private:
  BSTR bstr_ = nullptr;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_BSTRTEXT_H_
