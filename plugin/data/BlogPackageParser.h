// BlogPackageParser: the reply parser for bodies that are not XML. Parse keeps a copy of
// the body; GetPackage hands out a new BlogPackage sharing that copy (it never changes:
// a later Parse or Reset replaces or drops the parser's share only), so a package stays
// valid after the parser is reset or released, and a large table is held once. Not
// shared between threads.
#ifndef ZQBLOG_DATA_BLOGPACKAGEPARSER_H_
#define ZQBLOG_DATA_BLOGPACKAGEPARSER_H_

#include <memory>
#include <vector>

#include "interfaces/IPackageParser.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

class BlogPackageParser : public CComObjectRootEx<CComMultiThreadModel>,
                          public IPackageParser {
 public:
  BEGIN_COM_MAP(BlogPackageParser)
  COM_INTERFACE_ENTRY(IPackageParser)
  END_COM_MAP()

  BlogPackageParser() = default;
  BlogPackageParser(const BlogPackageParser&) = delete;
  BlogPackageParser& operator=(const BlogPackageParser&) = delete;

  // IPackageParser
  // Frees the held bytes.
  STDMETHOD(Reset)() override;
  // Replaces the held bytes with a copy of data[0, length). Null data with length 0
  // is an empty body: nothing is held afterwards, as after Reset.
  // REQUIRES: length >= 0 (E_INVALIDARG), data not null when length > 0 (E_POINTER);
  // a refused call changes nothing. E_OUTOFMEMORY (holding nothing) when the copy
  // cannot be made.
  STDMETHOD(Parse)(const BYTE* data, int length) override;
  // Parse without the copy: the parser keeps bytes' block itself. E_INVALIDARG (nothing
  // changed) for more than INT_MAX bytes.
  HRESULT Adopt(std::vector<BYTE> bytes);
  // Always 1.
  STDMETHOD(GetPackageCount)(int* count) override;
  // A new BlogPackage sharing the held bytes (a parser holding nothing gives a package
  // holding nothing), with one reference for the caller.
  STDMETHOD(GetPackage)(IPackage** package) override;

 private:
  std::shared_ptr<const BYTE[]> bytes_;  // null when no bytes are held
  int length_ = 0;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_BLOGPACKAGEPARSER_H_
