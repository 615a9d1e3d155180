#include "data/BlogPackageParser.h"

#include <cstring>
#include <new>
#include <utility>

#include "data/BlogPackage.h"

namespace Velmora {
namespace ZQBlog {

STDMETHODIMP BlogPackageParser::Reset() {
  bytes_.reset();
  length_ = 0;
  return S_OK;
}

STDMETHODIMP BlogPackageParser::Parse(const BYTE* data, int length) {
  if (length < 0) return E_INVALIDARG;
  if (data == nullptr && length > 0) return E_POINTER;
  Reset();
  if (length == 0) return S_OK;
  std::unique_ptr<BYTE[]> copy(new (std::nothrow) BYTE[length]);
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy.get(), data, static_cast<size_t>(length));
  bytes_ = std::move(copy);
  length_ = length;
  return S_OK;
}

STDMETHODIMP BlogPackageParser::GetPackageCount(int* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP BlogPackageParser::GetPackage(IPackage** package) {
  return CreateObjectWithReference<BlogPackage>(
      package, [this](BlogPackage* created) { created->ShareData(bytes_, length_); });
}

}  // namespace ZQBlog
}  // namespace Velmora
