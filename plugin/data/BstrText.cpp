#include "data/BstrText.h"

#include <new>

namespace Velmora {
namespace ZQBlog {

HRESULT CopyToBstr(std::wstring_view value, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CopyToInt(int value, int* out) {
  if (out == nullptr) return E_POINTER;
  *out = value;
  return S_OK;
}

HRESULT AssignText(std::wstring* field, LPCWSTR text) {
  try {
    if (text == nullptr) {
      field->clear();
    } else {
      field->assign(text);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

ScopedBstr::~ScopedBstr() { SysFreeString(bstr_); }

BSTR* ScopedBstr::Receive() {
  SysFreeString(bstr_);
  bstr_ = nullptr;
  return &bstr_;
}

std::wstring ScopedBstr::ToWide() const {
  if (bstr_ == nullptr) return std::wstring();
  return std::wstring(bstr_, SysStringLen(bstr_));
}

}  // namespace ZQBlog
}  // namespace Velmora
