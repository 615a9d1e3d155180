#include "data/BlogPackageParser.h"

#include <climits>
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

HRESULT BlogPackageParser::Adopt(std::vector<BYTE> bytes) {
  if (bytes.size() > static_cast<size_t>(INT_MAX)) return E_INVALIDARG;
  Reset();
  if (bytes.empty()) return S_OK;
  try {
    auto block = std::make_shared<const std::vector<BYTE>>(std::move(bytes));
    length_ = static_cast<int>(block->size());
    bytes_ = std::shared_ptr<const BYTE[]>(block, block->data());
  } catch (const std::bad_alloc&) {
    length_ = 0;
    return E_OUTOFMEMORY;
  }
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
