// FaultRelay: test support, used by the host's tests only. An HTTP relay on loopback in
// front of the reference blog service that passes every request through unharmed,
// except those a test has armed a fault for. An armed request is still passed to the
// service (the service does the work, as a real one would before its answer is lost),
// and the service's real reply is then delivered broken in the one way the fault names.
// One request per connection; each connection is served on its own thread.
// Header-only.
#ifndef ZQBLOG_HOST_TEST_FAULTRELAY_H_
#define ZQBLOG_HOST_TEST_FAULTRELAY_H_

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

namespace Velmora {
namespace ZQHost {

// One way to break a reply.
enum class NetworkFault {
  kResetBeforeHeaders,  // the connection is reset before a byte of the reply
  kResetInHeaders,      // reset after half of the status line and headers
  kResetAfterHeaders,   // reset right after the whole header
  kResetInBody,         // reset after the header and half of the body
  kStall,               // nothing is ever sent; the relay waits for the host to hang up
  kDrip,                // the whole real reply, one byte a millisecond
  kGarbageStatusLine,   // a status line that is not HTTP, then the real headers and body
  kTruncatedChunked,    // chunked: one chunk announced for the whole body, half of it sent
  kLengthTooLong,       // a Content-Length beyond the body, the body, then the close
  kLengthTooShort,      // a Content-Length of half the body, then the whole body
  kHugeBody,            // 100 MiB of body, chunked, streamed until the host stops reading
  kRedirectLoop,        // 302 to the URL asked for, every time it is asked for
};

inline constexpr NetworkFault kAllNetworkFaults[] = {
    NetworkFault::kResetBeforeHeaders, NetworkFault::kResetInHeaders,
    NetworkFault::kResetAfterHeaders,  NetworkFault::kResetInBody,
    NetworkFault::kStall,              NetworkFault::kDrip,
    NetworkFault::kGarbageStatusLine,  NetworkFault::kTruncatedChunked,
    NetworkFault::kLengthTooLong,      NetworkFault::kLengthTooShort,
    NetworkFault::kHugeBody,           NetworkFault::kRedirectLoop,
};

// A short name for tables and test names (letters, digits and '_' only).
inline const char* NetworkFaultName(NetworkFault fault) {
  switch (fault) {
    case NetworkFault::kResetBeforeHeaders: return "RstPre";
    case NetworkFault::kResetInHeaders: return "RstHdr";
    case NetworkFault::kResetAfterHeaders: return "RstPost";
    case NetworkFault::kResetInBody: return "RstBody";
    case NetworkFault::kStall: return "Stall";
    case NetworkFault::kDrip: return "Drip";
    case NetworkFault::kGarbageStatusLine: return "Garbage";
    case NetworkFault::kTruncatedChunked: return "ChunkCut";
    case NetworkFault::kLengthTooLong: return "LenLong";
    case NetworkFault::kLengthTooShort: return "LenShort";
    case NetworkFault::kHugeBody: return "Huge";
    case NetworkFault::kRedirectLoop: return "Redirect";
  }
  return "?";
}

// The body size of kHugeBody.
inline constexpr uint64_t kHugeBodyBytes = 100ull << 20;

// One request the relay answered with a fault.
struct FaultedExchange {
  std::string target;
  NetworkFault fault = NetworkFault::kStall;
  int real_status = 0;             // the service's answer (0: the service gave none)
  std::string real_last_modified;  // its Last-Modified header
  std::string real_body;
  uint64_t bytes_sent = 0;         // what reached the host's socket, framing included
  bool sent_all = false;           // everything the fault meant to send was written
};

class FaultRelay {
 public:
  explicit FaultRelay(uint16_t service_port) : service_port_(service_port) {
    using boost::asio::ip::tcp;
    acceptor_.open(tcp::v4());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    acceptor_.listen();
    port_ = acceptor_.local_endpoint().port();
    accept_thread_ = std::thread([this] { AcceptLoop(); });
  }

  // Wakes every connection still served (a stall, a drip, a huge body), then joins.
  ~FaultRelay() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      for (int fd : open_sockets_) ::shutdown(fd, SHUT_RDWR);
    }
    boost::system::error_code ignored;
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket wake(io);
    wake.connect({boost::asio::ip::make_address("127.0.0.1"), port_}, ignored);
    accept_thread_.join();
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      threads.swap(threads_);
    }
    for (std::thread& thread : threads) thread.join();
  }

  FaultRelay(const FaultRelay&) = delete;
  FaultRelay& operator=(const FaultRelay&) = delete;

  uint16_t port() const { return port_; }

  // Every later request whose target ends with suffix gets fault, until Disarm.
  void Arm(NetworkFault fault, const std::string& suffix) {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = true;
    fault_ = fault;
    suffix_ = suffix;
  }
  void Disarm() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
  }

  // The requests answered with a fault so far, in order of arrival.
  std::vector<FaultedExchange> Faulted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faulted_;
  }

 private:
  typedef boost::asio::ip::tcp::socket Socket;
  typedef boost::beast::http::request<boost::beast::http::string_body> Request;
  typedef boost::beast::http::response<boost::beast::http::string_body> Response;

  // Writes bytes to the host; false once the host has gone (or the relay stops).
  struct Writer {
    Socket& socket;
    uint64_t sent = 0;
    bool Write(const std::string& bytes) {
      boost::system::error_code error;
      sent += boost::asio::write(socket, boost::asio::buffer(bytes), error);
      return !error;
    }
  };

  static bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
  }

  static std::string HeaderText(const Response& response) {
    std::ostringstream text;
    text << response.base();
    return text.str();
  }

  static std::string Hex(uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%llx", static_cast<unsigned long long>(value));
    return text;
  }

  static void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

  // An abortive close: the host sees a reset, not an end of stream.
  void Reset(Socket& socket) {
    Forget(socket.native_handle());
    boost::system::error_code ignored;
    socket.set_option(boost::asio::socket_base::linger(true, 0), ignored);
    socket.close(ignored);
  }

  // The socket is no longer woken at stop (it is about to be closed).
  void Forget(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_sockets_.erase(std::remove(open_sockets_.begin(), open_sockets_.end(), fd),
                        open_sockets_.end());
  }

  bool Stopping() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
  }

  void AcceptLoop() {
    for (;;) {
      auto socket = std::make_shared<Socket>(io_);
      boost::system::error_code error;
      acceptor_.accept(*socket, error);
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      if (error) continue;
      open_sockets_.push_back(socket->native_handle());
      threads_.emplace_back([this, socket] { Serve(*socket); });
    }
  }

  // The service's reply to request, re-framed with a Content-Length and no keep-alive;
  // false when the service could not be asked.
  bool AskService(const Request& request, Response* response) {
    boost::system::error_code error;
    boost::asio::io_context io;
    Socket service(io);
    service.connect({boost::asio::ip::make_address("127.0.0.1"), service_port_}, error);
    Request forwarded = request;
    forwarded.keep_alive(false);
    if (!error) boost::beast::http::write(service, forwarded, error);
    boost::beast::flat_buffer buffer;
    if (!error) boost::beast::http::read(service, buffer, *response, error);
    if (error) return false;
    response->chunked(false);
    response->keep_alive(false);
    response->prepare_payload();
    return true;
  }

  void Serve(Socket& socket) {
    const int fd = socket.native_handle();
    boost::beast::flat_buffer buffer;
    Request request;
    boost::system::error_code error;
    boost::beast::http::read(socket, buffer, request, error);
    if (!error) {
      const std::string target(request.target());
      bool armed = false;
      NetworkFault fault = NetworkFault::kStall;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        armed = armed_ && EndsWith(target, suffix_);
        fault = fault_;
      }
      Response response;
      const bool answered = AskService(request, &response);
      if (!armed) {
        Writer writer{socket};
        if (answered) writer.Write(HeaderText(response) + response.body());
      } else {
        FaultedExchange record;
        record.target = target;
        record.fault = fault;
        if (answered) {
          record.real_status = response.result_int();
          record.real_last_modified =
              std::string(response[boost::beast::http::field::last_modified]);
          record.real_body = response.body();
        }
        Writer writer{socket};
        record.sent_all = Break(fault, request, response, socket, writer);
        record.bytes_sent = writer.sent;
        std::lock_guard<std::mutex> lock(mutex_);
        faulted_.push_back(record);
      }
    }
    boost::system::error_code ignored;
    if (socket.is_open()) {
      Forget(fd);
      socket.shutdown(Socket::shutdown_both, ignored);
      socket.close(ignored);
    }
  }

  // Sends the reply broken by fault; true when everything meant to be sent was written.
  // A fault that ends in a reset closes the socket itself.
  bool Break(NetworkFault fault, const Request& request, Response& response, Socket& socket,
             Writer& writer) {
    const std::string head = HeaderText(response);
    const std::string& body = response.body();
    switch (fault) {
      case NetworkFault::kResetBeforeHeaders:
        Reset(socket);
        return true;
      case NetworkFault::kResetInHeaders: {
        const bool sent = writer.Write(head.substr(0, head.size() / 2));
        Pause();
        Reset(socket);
        return sent;
      }
      case NetworkFault::kResetAfterHeaders: {
        const bool sent = writer.Write(head);
        Pause();
        Reset(socket);
        return sent;
      }
      case NetworkFault::kResetInBody: {
        const bool sent = writer.Write(head + body.substr(0, body.size() / 2));
        Pause();
        Reset(socket);
        return sent;
      }
      case NetworkFault::kStall: {
        // The host sent its whole request: the read ends when it hangs up (or the
        // relay stops).
        char byte = 0;
        boost::system::error_code error;
        while (!error) socket.read_some(boost::asio::buffer(&byte, 1), error);
        return true;
      }
      case NetworkFault::kDrip: {
        const std::string reply = head + body;
        for (char byte : reply) {
          if (Stopping() || !writer.Write(std::string(1, byte))) return false;
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
      }
      case NetworkFault::kGarbageStatusLine: {
        const size_t line_end = head.find("\r\n");
        return writer.Write("ZQ/9 \x01\x02 not a status line" + head.substr(line_end) + body);
      }
      case NetworkFault::kTruncatedChunked: {
        response.chunked(true);
        return writer.Write(HeaderText(response) + Hex(body.size()) + "\r\n" +
                            body.substr(0, body.size() / 2));
      }
      case NetworkFault::kLengthTooLong: {
        response.content_length(body.size() * 2 + 64);
        return writer.Write(HeaderText(response) + body);
      }
      case NetworkFault::kLengthTooShort: {
        response.content_length(body.size() / 2);
        return writer.Write(HeaderText(response) + body);
      }
      case NetworkFault::kHugeBody: {
        // Chunked, so the host learns the size only by counting: a length announced
        // up front would be refused at the header and nothing streamed.
        response.chunked(true);
        if (!writer.Write(HeaderText(response))) return false;
        constexpr size_t kChunk = 64u << 10;
        const std::string chunk = Hex(kChunk) + "\r\n" + std::string(kChunk, 'x') + "\r\n";
        for (uint64_t done = 0; done < kHugeBodyBytes; done += kChunk) {
          if (Stopping() || !writer.Write(chunk)) return false;
        }
        return writer.Write("0\r\n\r\n");
      }
      case NetworkFault::kRedirectLoop: {
        const std::string host(request[boost::beast::http::field::host]);
        return writer.Write("HTTP/1.1 302 Found\r\nLocation: http://" + host +
                            std::string(request.target()) +
                            "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
      }
    }
    return false;
  }

  const uint16_t service_port_;
  boost::asio::io_context io_;
  boost::asio::ip::tcp::acceptor acceptor_{io_};
  uint16_t port_ = 0;
  std::thread accept_thread_;

  mutable std::mutex mutex_;
  bool stopping_ = false;
  bool armed_ = false;
  NetworkFault fault_ = NetworkFault::kStall;
  std::string suffix_;
  std::vector<int> open_sockets_;
  std::vector<std::thread> threads_;
  std::vector<FaultedExchange> faulted_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_TEST_FAULTRELAY_H_
