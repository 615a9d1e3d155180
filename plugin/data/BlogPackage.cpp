#include "data/BlogPackage.h"

#include <cstring>
#include <new>
#include <utility>

namespace Velmora {
namespace ZQBlog {

STDMETHODIMP BlogPackage::SetData(const BYTE* data, int length, int* storedLength) {
  if (data == nullptr) return E_FAIL;
  if (storedLength == nullptr) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  std::unique_ptr<BYTE[]> copy;
  if (length > 0) {
    copy.reset(new (std::nothrow) BYTE[length]);
    if (copy == nullptr) {
      bytes_.reset();
      length_ = 0;
      return E_OUTOFMEMORY;
    }
    std::memcpy(copy.get(), data, static_cast<size_t>(length));
  }
  bytes_ = std::move(copy);
  length_ = length;
  *storedLength = length;
  return S_OK;
}

void BlogPackage::ShareData(std::shared_ptr<const BYTE[]> bytes, int length) {
  if (bytes == nullptr || length <= 0) {
    bytes_.reset();
    length_ = 0;
    return;
  }
  bytes_ = std::move(bytes);
  length_ = length;
}

void BlogPackage::GetData(const BYTE** data, int* length) const {
  if (bytes_ == nullptr) return;
  *data = bytes_.get();
  *length = length_;
}

}  // namespace ZQBlog
}  // namespace Velmora
