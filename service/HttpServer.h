// An HTTP/1.1 server on Boost.Beast: keep-alive connections, bounded request sizes, an
// idle time-out per connection, a cap on open connections, and a clean stop. It knows
// nothing of blogs: each complete request goes to the handler, whose reply is sent back.
#ifndef ZQBLOG_SERVICE_HTTPSERVER_H_
#define ZQBLOG_SERVICE_HTTPSERVER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ServiceOptions.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// The value of the first header of headers named name (case-insensitive), or an empty
// text.
std::string FindHeader(const HttpHeaders& headers, std::string_view name);

struct HttpRequest {
  std::string method;  // "GET", "POST", ...
  std::string target;  // as sent: a path, or an absolute URL
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The first header of that name (case-insensitive), or an empty text.
  std::string Header(std::string_view name) const;
};

struct HttpReply {
  int status = 200;
  std::string content_type;  // no Content-Type header when empty
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

class HttpServer {
 public:
  // Called on the server's threads, possibly for several requests at once.
  using Handler = std::function<HttpReply(const HttpRequest&)>;

  HttpServer(Handler handler, const ServiceOptions& options);
  // Stops the server if it runs.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on address:port (port 0: a free port) and serves on options.io_threads
  // threads. REQUIRES: not started before. False, with *error set, when the address
  // cannot be bound.
  bool Start(const std::string& address, uint16_t port, std::string* error);
  // Stops accepting, closes every open connection and joins the threads. Idempotent.
  void Stop();

  // The bound port and address; meaningful after a successful Start.
  uint16_t port() const;
  std::string address() const;
  // Number of connections open right now.
  size_t open_connections() const;

 private:
  class Impl;
  class Session;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_HTTPSERVER_H_
