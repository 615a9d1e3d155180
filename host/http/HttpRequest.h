// HttpRequest: one HTTP request line with its header fields (IHttpRequest), made by the
// host's connection factory and sent with IHttpConnection::Send. Texts are checked as
// they come in, so nothing a command passes can split the request: a method must be a
// token (or empty), a path visible characters, a header name a token and a header
// value free of CR, LF and other control characters (tab allowed).
// Not for concurrent use: one thread builds it, then Send copies it.
#ifndef ZQBLOG_HOST_HTTP_HTTPREQUEST_H_
#define ZQBLOG_HOST_HTTP_HTTPREQUEST_H_

#include <string>
#include <utility>
#include <vector>

#include "interfaces/IHttpRequest.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

// Answered by QueryInterface only on the host's own requests; lets Send find the
// request's contents behind an IHttpRequest pointer.
// {A4E2D1C7-5B36-4F0A-9E8D-2C71B5F04E19}
inline constexpr IID kHttpRequestImplIid = {
    0xA4E2D1C7, 0x5B36, 0x4F0A, {0x9E, 0x8D, 0x2C, 0x71, 0xB5, 0xF0, 0x4E, 0x19}};

class HttpRequest : public CComObjectRootEx<CComMultiThreadModel>, public IHttpRequest {
 public:
  typedef std::vector<std::pair<std::string, std::string>> HeaderList;

  BEGIN_COM_MAP(HttpRequest)
  COM_INTERFACE_ENTRY(IHttpRequest)
  COM_INTERFACE_ENTRY_IID(kHttpRequestImplIid, IHttpRequest)
  END_COM_MAP()

  // A new request, one reference for the caller. version is "1.0" or "1.1".
  // E_INVALIDARG (and null) for a method that is not a token, an empty path or one with
  // spaces or control characters, or another version; E_POINTER for a null out.
  static HRESULT Create(const std::string& method, const std::string& path,
                        const std::string& version, IHttpRequest** out);

  // The host's request behind request, or null when request is not one of ours.
  // Borrowed: valid while the caller holds request.
  static HttpRequest* FromInterface(IHttpRequest* request);

  // IHttpRequest
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  // E_INVALIDARG for a bad name or value or a negative length; E_POINTER for a null
  // text with a positive length.
  STDMETHOD(AddHeader)(CountedString name, CountedString value) override;

  const std::string& Method() const { return method_; }
  const std::string& Path() const { return path_; }
  // 10 for "1.0", 11 for "1.1".
  int Version() const { return version_; }
  // In the order added.
  const HeaderList& Headers() const { return headers_; }

  // Whether text may stand as a method (a token, or empty) / a path / a header name /
  // a header value.
  static bool IsValidMethod(const std::string& text);
  static bool IsValidPath(const std::string& text);
  static bool IsValidHeaderName(const std::string& text);
  static bool IsValidHeaderValue(const std::string& text);

  // A counted string as a std::string in *out (left as it is for length 0):
  // E_INVALIDARG for a negative length, E_POINTER for a null text with a positive length.
  static HRESULT FromCounted(const CountedString& counted, std::string* out);

 private:
  std::string method_;
  std::string path_;
  int version_ = 11;
  HeaderList headers_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_HTTP_HTTPREQUEST_H_
