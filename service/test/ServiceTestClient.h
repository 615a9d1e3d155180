// Test support: a small blocking HTTP/1.1 client on Boost.Beast that keeps its
// connection alive between requests, a raw-socket exchange for malformed traffic, and
// form helpers that escape fields exactly as the blog client does.
#ifndef ZQBLOG_SERVICE_TEST_SERVICETESTCLIENT_H_
#define ZQBLOG_SERVICE_TEST_SERVICETESTCLIENT_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Velmora {
namespace ZQBlog {
namespace Service {

struct ClientReply {
  int status = 0;  // 0 when the exchange failed
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  bool keep_alive = false;
  std::string Header(const std::string& name) const;
};

class ServiceTestClient {
 public:
  using Headers = std::vector<std::pair<std::string, std::string>>;

  explicit ServiceTestClient(uint16_t port);
  ~ServiceTestClient();

  ClientReply Get(const std::string& target, const Headers& headers = {});
  // A form POST with the given Cookie header (none when empty).
  ClientReply Post(const std::string& target, const std::string& form,
                   const std::string& cookie);
  ClientReply Send(const std::string& method, const std::string& target,
                   const Headers& headers, const std::string& body);

  // Connections opened so far (1 when every request went over one kept-alive one).
  int connections_opened() const { return connections_; }

 private:
  struct Connection;
  uint16_t port_;
  std::unique_ptr<Connection> connection_;
  int connections_ = 0;
};

// Sends raw bytes on a fresh connection and returns everything read until the server
// closes or the time-out passes (with *closed telling which).
std::string RawExchange(uint16_t port, const std::string& bytes,
                        std::chrono::milliseconds timeout, bool* closed = nullptr);

// The client's form escaping: exactly ten characters are replaced ('%', '+', ' ', '=',
// '&', '?', '/', '\', CR, LF); everything else, bytes above 0x7F included, is kept.
std::string ClientUrlEscape(const std::string& text);

// A cookie signed for uin at login_time (seconds since 1970, written as local time).
std::string TestCookie(const std::string& uin, int64_t login_time);

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_TEST_SERVICETESTCLIENT_H_
