// HttpReplyHeaders: the status and header fields of a reply (IHttpReplyHeaders), as a
// connection reports them. Immutable once made, so any thread may read it.
#ifndef ZQBLOG_HOST_HTTP_HTTPREPLYHEADERS_H_
#define ZQBLOG_HOST_HTTP_HTTPREPLYHEADERS_H_

#include <string>
#include <utility>
#include <vector>

#include "interfaces/IHttpReplyHeaders.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class HttpReplyHeaders : public CComObjectRootEx<CComMultiThreadModel>,
                         public IHttpReplyHeaders {
 public:
  typedef std::vector<std::pair<std::string, std::string>> FieldList;

  BEGIN_COM_MAP(HttpReplyHeaders)
  COM_INTERFACE_ENTRY(IHttpReplyHeaders)
  END_COM_MAP()

  // A new object with statusCode and fields (in the order received), one reference for
  // the caller. REQUIRES: out not null (E_POINTER).
  static HRESULT Create(int statusCode, FieldList fields, IHttpReplyHeaders** out);

  // IHttpReplyHeaders
  STDMETHOD(GetStatusCode)(int* statusCode) override;
  // The first field whose name equals name without regard to ASCII case goes to
  // value->SetString (whose answer is returned when it fails); S_FALSE, value not
  // called, when there is none. E_POINTER for a null name or value. value is borrowed:
  // no reference is taken or dropped.
  STDMETHOD(GetHeader)(LPCSTR name, IStringSetter* value) override;

 private:
  int status_code_ = 0;
  FieldList fields_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_HTTP_HTTPREPLYHEADERS_H_
