// BlogPackage: the package of a reply that is not XML: the raw body bytes, never changed
// once held. The raw-body parser makes one per GetPackage, sharing its own bytes with it
// (a large table is held once, not twice); the command reads the bytes with GetData.
// Not shared between threads.
#ifndef ZQBLOG_DATA_BLOGPACKAGE_H_
#define ZQBLOG_DATA_BLOGPACKAGE_H_

#include <memory>

#include "interfaces/IPackage.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

class BlogPackage : public CComObjectRootEx<CComMultiThreadModel>, public IPackage {
 public:
  BEGIN_COM_MAP(BlogPackage)
  COM_INTERFACE_ENTRY(IPackage)
  END_COM_MAP()

  BlogPackage() = default;
  BlogPackage(const BlogPackage&) = delete;
  BlogPackage& operator=(const BlogPackage&) = delete;

  // IPackage. A length of 0 leaves the package holding no bytes.
  // E_OUTOFMEMORY (holding no bytes) when the copy cannot be made.
  STDMETHOD(SetData)(const BYTE* data, int length, int* storedLength) override;
  // Holds bytes[0, length) without a copy, sharing them with whoever else holds them
  // (they must never change). Null bytes or a length of 0: no bytes are held.
  void ShareData(std::shared_ptr<const BYTE[]> bytes, int length);

  // When bytes are held: *data points at them (the package keeps owning them) and
  // *length is their count. When none are held both outputs stay untouched.
  // REQUIRES: data and length not null.
  void GetData(const BYTE** data, int* length) const;

 private:
  std::shared_ptr<const BYTE[]> bytes_;  // null when no bytes are held
  int length_ = 0;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_BLOGPACKAGE_H_
