#include "ServiceTestClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "service/CookieCheck.h"
#include "service/HttpServer.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace net = boost::asio;
using tcp = boost::asio::ip::tcp;

std::string ClientReply::Header(const std::string& name) const {
  return FindHeader(headers, name);
}

struct ServiceTestClient::Connection {
  net::io_context ioc;
  beast::tcp_stream stream{ioc};
  beast::flat_buffer buffer;
};

ServiceTestClient::ServiceTestClient(uint16_t port) : port_(port) {}

ServiceTestClient::~ServiceTestClient() = default;

ClientReply ServiceTestClient::Get(const std::string& target, const Headers& headers) {
  return Send("GET", target, headers, std::string());
}

ClientReply ServiceTestClient::Post(const std::string& target, const std::string& form,
                                    const std::string& cookie) {
  Headers headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
  if (!cookie.empty()) headers.emplace_back("Cookie", cookie);
  return Send("POST", target, headers, form);
}

ClientReply ServiceTestClient::Send(const std::string& method, const std::string& target,
                                    const Headers& headers, const std::string& body) {
  // One retry on a fresh connection covers a kept-alive connection the server closed.
  for (int attempt = 0; attempt < 2; ++attempt) {
    beast::error_code ec;
    if (!connection_) {
      connection_ = std::make_unique<Connection>();
      connection_->stream.expires_after(std::chrono::seconds(5));
      connection_->stream.connect(
          tcp::endpoint(net::ip::make_address("127.0.0.1"), port_), ec);
      if (ec) {
        connection_.reset();
        return ClientReply();
      }
      ++connections_;
    }
    http::request<http::string_body> request;
    request.method_string(method);
    request.target(target);
    request.version(11);
    request.set(http::field::host, "blog.velmora.cn");
    for (const auto& header : headers) request.set(header.first, header.second);
    request.body() = body;
    request.prepare_payload();
    connection_->stream.expires_after(std::chrono::seconds(5));
    http::write(connection_->stream, request, ec);
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    if (method == "HEAD") parser.skip(true);
    if (!ec) http::read(connection_->stream, connection_->buffer, parser, ec);
    if (ec) {
      connection_.reset();
      continue;
    }
    const auto& response = parser.get();
    ClientReply reply;
    reply.status = static_cast<int>(response.result_int());
    reply.body = response.body();
    for (const auto& field : response) {
      reply.headers.emplace_back(std::string(field.name_string()),
                                 std::string(field.value()));
    }
    reply.keep_alive = response.keep_alive();
    if (!reply.keep_alive) connection_.reset();
    return reply;
  }
  return ClientReply();
}

std::string RawExchange(uint16_t port, const std::string& bytes,
                        std::chrono::milliseconds timeout, bool* closed) {
  net::io_context ioc;
  beast::tcp_stream stream(ioc);
  beast::error_code ec;
  stream.expires_after(timeout);
  stream.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port), ec);
  if (closed != nullptr) *closed = false;
  if (ec) return std::string();
  if (!bytes.empty()) net::write(stream, net::buffer(bytes), ec);
  std::string received;
  char chunk[4096];
  for (;;) {
    stream.expires_after(timeout);
    const size_t n = stream.read_some(net::buffer(chunk), ec);
    received.append(chunk, n);
    if (ec) {
      if (closed != nullptr) *closed = ec != beast::error::timeout;
      break;
    }
  }
  return received;
}

std::string ClientUrlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '%': out += "%25"; break;
      case '+': out += "%2B"; break;
      case ' ': out += "%20"; break;
      case '=': out += "%3D"; break;
      case '&': out += "%26"; break;
      case '?': out += "%3F"; break;
      case '/': out += "%2F"; break;
      case '\\': out += "%5C"; break;
      case '\r': out += "%0D"; break;
      case '\n': out += "%0A"; break;
      default: out += c; break;
    }
  }
  return out;
}

std::string TestCookie(const std::string& uin, int64_t login_time) {
  return BuildSignedCookie(uin, LoginTimeText(login_time));
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
