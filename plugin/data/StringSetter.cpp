#include "data/StringSetter.h"

#include <new>

namespace Velmora {
namespace ZQBlog {

STDMETHODIMP StringSetter::QueryInterface(REFIID iid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, IID_IStringSetter)) {
    // The host borrows the setter for one call and does not release what it gets.
    *ppv = static_cast<IStringSetter*>(this);
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) StringSetter::AddRef() { return ++count_; }

STDMETHODIMP_(ULONG) StringSetter::Release() {
  ULONG count = --count_;
  if (count == 0) delete this;
  return count;
}

STDMETHODIMP StringSetter::SetString(int length, const BYTE* data) {
  if (length < 0) return E_INVALIDARG;
  if (data == nullptr && length > 0) return E_POINTER;
  try {
    if (length == 0) {
      text_.clear();
    } else {
      text_.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace ZQBlog
}  // namespace Velmora
