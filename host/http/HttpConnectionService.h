// HttpConnectionService: the host's HTTP connection service. One io_context runs on
// one connection thread, which carries every connection and reports every event
// (HttpConnection.h says which, in what order). The plug-in reaches it through the
// factory (GetFactory); the embedder sets where names go (ResolverTable) and the
// limits.
//
// Example:
//   HttpConnectionService http;
//   http.ResolverTable().Map("blog.velmora.cn", 80, {"127.0.0.1", 8080});
//   CComPtr<IHttpConnectionFactory> factory;
//   http.GetFactory(&factory);
#ifndef ZQBLOG_HOST_HTTP_HTTPCONNECTIONSERVICE_H_
#define ZQBLOG_HOST_HTTP_HTTPCONNECTIONSERVICE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#include "host/http/HttpReplyProgress.h"
#include "host/http/HttpResolverTable.h"
#include "interfaces/IHttpConnectionFactory.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class HttpServiceCore;

struct HttpServiceOptions {
  // An exchange that makes no progress for this long fails with kHttpErrorTimedOut.
  std::chrono::milliseconds stall_timeout{std::chrono::seconds(30)};
  // A reply body above this many bytes fails with kHttpErrorReplyTooLarge.
  uint64_t max_body_bytes = 64ull << 20;
  // The largest piece of body one OnData reports.
  size_t read_piece_bytes = 256u << 10;
  // A reply header (status line and fields) above this fails with
  // kHttpErrorReplyTooLarge.
  size_t max_header_bytes = 64u << 10;
  // At most this many exchanges are open at once (from Open to their end: completed,
  // failed, closed or aborted). A connection whose Open comes while that many are open
  // waits, first come first served, until one ends; it then proceeds as an Open does.
  // While it waits nothing of it is on the network: the stall time-out does not run,
  // Close ends it without an event, and the service's shutdown fails it with
  // OnConnect(kHttpErrorAborted). REQUIRES: > 0.
  size_t max_open_connections = 64;
};

class HttpConnectionService {
 public:
  // Starts the connection thread.
  explicit HttpConnectionService(const HttpServiceOptions& options = HttpServiceOptions());
  // Fails every connection still running with kHttpErrorAborted (the event is
  // delivered), refuses new ones (the factory answers E_UNEXPECTED), and joins the
  // connection thread. Objects already handed out stay valid.
  ~HttpConnectionService();
  HttpConnectionService(const HttpConnectionService&) = delete;
  HttpConnectionService& operator=(const HttpConnectionService&) = delete;

  // The service's factory, one reference for the caller (the same object each time).
  HRESULT GetFactory(IHttpConnectionFactory** out);

  // Where connections go; changes apply to connections opened afterwards.
  HttpResolverTable& ResolverTable();

  // The limits (HttpServiceOptions); they apply to operations started afterwards. A
  // higher cap on open connections lets the connections waiting for it proceed; a lower
  // one lets the open ones end first.
  // REQUIRES: timeout > 0, bytes > 0, connections > 0.
  void SetStallTimeout(std::chrono::milliseconds timeout);
  void SetMaxBodyBytes(uint64_t bytes);
  void SetReadPieceBytes(size_t bytes);
  void SetMaxOpenConnections(size_t connections);

  // The exchanges open now, and the most that were open at once since the service
  // started. Any thread; a count taken on the way.
  size_t OpenConnections() const;
  size_t OpenConnectionPeak() const;

  // Who hears of the progress of every reply (HttpReplyProgress.h); null: nobody.
  // Replaces the observer for reports made afterwards.
  void SetReplyObserver(HttpReplyObserver observer);

  // The thread that runs the connections and delivers their events.
  std::thread::id ConnectionThreadId() const { return thread_id_; }

 private:
  std::shared_ptr<HttpServiceCore> core_;
  CComPtr<IHttpConnectionFactory> factory_;
  std::thread thread_;
  std::thread::id thread_id_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_HTTP_HTTPCONNECTIONSERVICE_H_
