#include "HttpServer.h"

#include <atomic>
#include <cctype>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace Velmora {
namespace ZQBlog {
namespace Service {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace net = boost::asio;
using tcp = boost::asio::ip::tcp;

namespace {

std::string ToString(beast::string_view text) { return std::string(text.data(), text.size()); }

}  // namespace

std::string FindHeader(const HttpHeaders& headers, std::string_view name) {
  const auto same = [name](const std::string& header) {
    if (header.size() != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(header[i])) !=
          std::tolower(static_cast<unsigned char>(name[i]))) {
        return false;
      }
    }
    return true;
  };
  for (const auto& header : headers) {
    if (same(header.first)) return header.second;
  }
  return std::string();
}

std::string HttpRequest::Header(std::string_view name) const { return FindHeader(headers, name); }

class HttpServer::Impl {
 public:
  Impl(Handler h, const ServiceOptions& o) : handler(std::move(h)), options(o) {}

  void Accept();
  void OnAccept(beast::error_code ec, tcp::socket socket);
  void Register(Session* session, const std::shared_ptr<Session>& shared);
  void Unregister(Session* session);

  Handler handler;
  ServiceOptions options;
  std::atomic<bool> stopping{false};
  std::atomic<size_t> connections{0};
  std::mutex sessions_mutex;
  std::unordered_map<Session*, std::weak_ptr<Session>> sessions;
  uint16_t port = 0;
  std::string address;
  bool started = false;
  bool stopped = false;
  // Destroyed before the fields above: pending handlers (and the sessions they hold)
  // go away while the session table still exists.
  net::io_context ioc;
  tcp::acceptor acceptor{net::make_strand(ioc)};
  std::vector<std::thread> threads;
};

class HttpServer::Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket&& socket, Impl& impl) : stream_(std::move(socket)), impl_(impl) {
    ++impl_.connections;
  }

  ~Session() {
    impl_.Unregister(this);
    --impl_.connections;
  }

  void Run() {
    net::dispatch(stream_.get_executor(),
                  beast::bind_front_handler(&Session::DoRead, shared_from_this()));
  }

  // REQUIRES: no server thread is running.
  void Close() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream_.socket().close(ec);
  }

 private:
  void DoRead() {
    if (impl_.stopping) return;
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(impl_.options.max_header_bytes));
    parser_->body_limit(impl_.options.max_body_bytes);
    stream_.expires_after(impl_.options.idle_timeout);
    http::async_read(stream_, buffer_, *parser_,
                     beast::bind_front_handler(&Session::OnRead, shared_from_this()));
  }

  void OnRead(beast::error_code ec, std::size_t) {
    if (impl_.stopping) return;
    if (ec == http::error::end_of_stream) {
      beast::error_code ignored;
      stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
      return;
    }
    if (ec) {
      // A request that broke the rules gets a reply before the connection closes; a
      // connection that died or idled out is just dropped.
      if (ec == http::error::body_limit) {
        SendError(http::status::payload_too_large);
      } else if (ec == http::error::header_limit) {
        SendError(http::status::request_header_fields_too_large);
      } else if (ec.category() == http::make_error_code(http::error::bad_target).category()) {
        SendError(http::status::bad_request);
      }
      return;
    }

    const auto& message = parser_->get();
    HttpRequest request;
    request.method = ToString(message.method_string());
    request.target = ToString(message.target());
    for (const auto& field : message) {
      request.headers.emplace_back(ToString(field.name_string()), ToString(field.value()));
    }
    request.body = message.body();

    HttpReply reply;
    try {
      reply = impl_.handler(request);
    } catch (const std::exception&) {
      reply = HttpReply();
      reply.status = 500;
    }

    response_ = http::response<http::string_body>();
    response_.version(11);
    response_.result(static_cast<unsigned>(reply.status));
    response_.set(http::field::server, "zqblog-service");
    if (!reply.content_type.empty()) response_.set(http::field::content_type, reply.content_type);
    for (const auto& header : reply.headers) response_.set(header.first, header.second);
    const unsigned status = static_cast<unsigned>(reply.status);
    if (status != 304 && status != 204 && status >= 200) response_.body() = std::move(reply.body);
    response_.keep_alive(message.keep_alive());
    response_.prepare_payload();
    // A 304 carries no Content-Length: its value would have to be the full reply's.
    if (status == 304 || status == 204) response_.erase(http::field::content_length);
    Write(response_.need_eof());
  }

  void SendError(http::status status) {
    response_ = http::response<http::string_body>();
    response_.version(11);
    response_.result(status);
    response_.set(http::field::server, "zqblog-service");
    response_.keep_alive(false);
    response_.prepare_payload();
    Write(true);
  }

  void Write(bool close) {
    stream_.expires_after(impl_.options.idle_timeout);
    http::async_write(stream_, response_,
                      beast::bind_front_handler(&Session::OnWrite, shared_from_this(), close));
  }

  void OnWrite(bool close, beast::error_code ec, std::size_t) {
    if (ec || impl_.stopping) return;
    if (close) {
      beast::error_code ignored;
      stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
      return;
    }
    DoRead();
  }

  beast::tcp_stream stream_;
  Impl& impl_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  http::response<http::string_body> response_;
};

void HttpServer::Impl::Accept() {
  acceptor.async_accept(net::make_strand(ioc),
                        beast::bind_front_handler(&Impl::OnAccept, this));
}

void HttpServer::Impl::OnAccept(beast::error_code ec, tcp::socket socket) {
  if (stopping || !acceptor.is_open()) return;
  if (!ec) {
    if (connections >= options.max_connections) {
      beast::error_code ignored;
      socket.close(ignored);
    } else {
      auto session = std::make_shared<Session>(std::move(socket), *this);
      Register(session.get(), session);
      session->Run();
    }
  }
  Accept();
}

void HttpServer::Impl::Register(Session* session, const std::shared_ptr<Session>& shared) {
  std::lock_guard<std::mutex> lock(sessions_mutex);
  sessions[session] = shared;
}

void HttpServer::Impl::Unregister(Session* session) {
  std::lock_guard<std::mutex> lock(sessions_mutex);
  sessions.erase(session);
}

HttpServer::HttpServer(Handler handler, const ServiceOptions& options)
    : impl_(std::make_unique<Impl>(std::move(handler), options)) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(const std::string& address, uint16_t port, std::string* error) {
  if (impl_->started) {
    if (error != nullptr) *error = "server already started";
    return false;
  }
  beast::error_code ec;
  const net::ip::address ip = net::ip::make_address(address, ec);
  if (ec) {
    if (error != nullptr) *error = "bad listen address '" + address + "': " + ec.message();
    return false;
  }
  const tcp::endpoint endpoint(ip, port);
  tcp::acceptor& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    if (error != nullptr) {
      *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + ec.message();
    }
    beast::error_code ignored;
    acceptor.close(ignored);
    return false;
  }
  const tcp::endpoint bound = acceptor.local_endpoint(ec);
  impl_->port = bound.port();
  impl_->address = bound.address().to_string();
  impl_->started = true;
  impl_->Accept();
  const int count = impl_->options.io_threads > 0 ? impl_->options.io_threads : 1;
  for (int i = 0; i < count; ++i) {
    impl_->threads.emplace_back([this] { impl_->ioc.run(); });
  }
  return true;
}

void HttpServer::Stop() {
  if (!impl_->started || impl_->stopped) return;
  impl_->stopped = true;
  impl_->stopping = true;
  impl_->ioc.stop();
  for (std::thread& thread : impl_->threads) thread.join();
  impl_->threads.clear();
  // No server thread runs now: close the listener and every connection, then let the
  // aborted operations finish so the sessions are released.
  beast::error_code ignored;
  impl_->acceptor.close(ignored);
  std::vector<std::shared_ptr<Session>> open;
  {
    std::lock_guard<std::mutex> lock(impl_->sessions_mutex);
    for (auto& entry : impl_->sessions) {
      if (auto session = entry.second.lock()) open.push_back(std::move(session));
    }
  }
  for (auto& session : open) session->Close();
  open.clear();
  impl_->ioc.restart();
  impl_->ioc.poll();
}

uint16_t HttpServer::port() const { return impl_->port; }

std::string HttpServer::address() const { return impl_->address; }

size_t HttpServer::open_connections() const { return impl_->connections; }

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
