// HttpConnection: one connection of the host's HTTP service (IHttpConnection). It
// carries one request and its reply, then closes.
//
// Every call only checks its arguments and posts work to the connection thread; none
// waits for the network or for an event. The events go to the advised
// IHttpConnectionClientEvents on the connection thread, in this order:
//   OnConnect(0 or error)      the TCP connection is open, or could not be opened;
//   OnSendComplete(0 or error) after Send: the request went out;
//   OnHeaders(headers)         the reply's status line and fields;
//   OnData(piece)              a piece of the reply body (never empty);
//   OnComplete(0, headers, last piece or null)   the reply is complete;
// and OnComplete(error, null, null) for a failure after the request went out. Every
// event but OnConnect and OnComplete waits for Continue before the connection reads
// further, so a client sees one event per Continue. Nothing is reported after an
// event with an error, after OnComplete, after Unadvise returns, or after Close.
// Events are called without any lock of the connection held; an event that started
// before Unadvise or Close may still be running when they return.
//
// An Open that comes while the service has its cap of exchanges open
// (HttpServiceOptions::max_open_connections) waits its turn before it connects; its
// OnConnect comes once it has connected. Waiting is not a stall.
//
// Errors are the codes of HttpErrorCodes.h. A stalled exchange (no progress for the
// service's stall time-out: resolving, connecting, writing the request, reading the
// header, or between two reads of the body) fails with kHttpErrorTimedOut; waiting for
// Send or Continue is not a stall. A body above the service's limit fails with
// kHttpErrorReplyTooLarge, before any of it is reported when its declared length is
// too large. Bytes that follow the end of a reply (a Content-Length shorter than what
// the server sends) fail it with kHttpErrorBadReply instead of completing it.
//
// The request goes out as the command built it; "Host" is added from SetServer when
// the request has none (":port" unless the port is 80), and the body's length is set
// in "Content-Length".
#ifndef ZQBLOG_HOST_HTTP_HTTPCONNECTION_H_
#define ZQBLOG_HOST_HTTP_HTTPCONNECTION_H_

#include <memory>

#include "interfaces/IHttpConnection.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class HttpServiceCore;
class HttpSession;

class HttpConnection : public CComObjectRootEx<CComMultiThreadModel>, public IHttpConnection {
 public:
  BEGIN_COM_MAP(HttpConnection)
  COM_INTERFACE_ENTRY(IHttpConnection)
  END_COM_MAP()

  // A new, unopened connection of core's service, one reference for the caller.
  // E_UNEXPECTED (and null) when the service is stopping.
  static HRESULT Create(const std::shared_ptr<HttpServiceCore>& core, IHttpConnection** out);

  // The last Release closes the connection.
  void FinalRelease();

  // IHttpConnection
  // One client at a time: E_UNEXPECTED while another is advised or after Close; S_FALSE
  // when events is advised already; E_POINTER for null.
  STDMETHOD(Advise)(IHttpConnectionClientEvents* events) override;
  // E_INVALIDARG when events is not the advised client; E_POINTER for null.
  STDMETHOD(Unadvise)(IHttpConnectionClientEvents* events) override;
  // Before Open only (E_UNEXPECTED after). E_INVALIDARG for an empty host name, one
  // with spaces, control characters or '/', or a port of 0 or above 65535.
  STDMETHOD(SetServer)(CountedString host, DWORD port) override;
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  // Once (E_UNEXPECTED after); OnConnect follows, with kHttpErrorBadServer when no
  // server was set. E_UNEXPECTED when the service has stopped (no event then).
  STDMETHOD(Open)() override;
  // Once, after OnConnect(0) (E_UNEXPECTED otherwise). The request must come from the
  // host's factory (E_INVALIDARG otherwise); request and body are copied before this
  // returns.
  STDMETHOD(Send)(IHttpRequest* request, IHttpBuffer* body) override;
  // After Send: the connection reads on once the current event has been handled.
  // S_FALSE when the exchange has ended; E_UNEXPECTED before Send or after Close.
  STDMETHOD(Continue)() override;
  // Ends the exchange and drops the advised client; no event follows. Repeatable.
  STDMETHOD(Close)() override;

 private:
  std::shared_ptr<HttpSession> session_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_HTTP_HTTPCONNECTION_H_
