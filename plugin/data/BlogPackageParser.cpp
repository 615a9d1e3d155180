#include "data/BlogPackageParser.h"

#include <cstring>
#include <new>

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
  bytes_.reset(new (std::nothrow) BYTE[length]);
  if (bytes_ == nullptr) return E_OUTOFMEMORY;
  std::memcpy(bytes_.get(), data, static_cast<size_t>(length));
  length_ = length;
  return S_OK;
}

STDMETHODIMP BlogPackageParser::GetPackageCount(int* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP BlogPackageParser::GetPackage(IPackage** package) {
  if (package == nullptr) return E_POINTER;
  *package = nullptr;
  CComObject<BlogPackage>* created = nullptr;
  HRESULT hr = CComObject<BlogPackage>::CreateInstance(&created);
  if (FAILED(hr)) return hr;
  created->AddRef();  // the caller's reference
  // A parser holding nothing hands over a null pointer, which the package refuses:
  // the package then holds nothing either.
  int stored = 0;
  created->SetData(bytes_.get(), length_, &stored);
  *package = created;
  return S_OK;
}

}  // namespace ZQBlog
}  // namespace Velmora
