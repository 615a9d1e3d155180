// TestHttpServer: a small HTTP/1.1 server for the host's tests, on 127.0.0.1 and a
// free port. Each connection gets its own thread: the server reads one request,
// records it, and hands it with the socket to the test's handler, which writes
// whatever reply it likes (a normal response, raw bytes, nothing at all); the
// connection is closed when the handler returns. Header-only; used by tests only.
#ifndef ZQBLOG_HOST_TEST_TESTHTTPSERVER_H_
#define ZQBLOG_HOST_TEST_TESTHTTPSERVER_H_

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

namespace Velmora {
namespace ZQHost {

class TestHttpServer {
 public:
  typedef boost::beast::http::request<boost::beast::http::string_body> Request;
  typedef boost::beast::http::response<boost::beast::http::string_body> Response;

  // One request being answered.
  class Exchange {
   public:
    Exchange(TestHttpServer* server, boost::asio::ip::tcp::socket* socket, Request request)
        : request(std::move(request)), server_(server), socket_(socket) {}

    // Sends response with its length set from its body.
    void Reply(Response response) {
      response.prepare_payload();
      boost::system::error_code ignored;
      boost::beast::http::write(*socket_, response, ignored);
    }
    // Sends bytes as they are.
    void WriteRaw(const std::string& bytes) {
      boost::system::error_code ignored;
      boost::asio::write(*socket_, boost::asio::buffer(bytes), ignored);
    }
    // Waits for the server to stop or for duration; true when it is stopping.
    bool WaitForStop(std::chrono::milliseconds duration) { return server_->WaitForStop(duration); }

    Request request;

   private:
    TestHttpServer* server_;
    boost::asio::ip::tcp::socket* socket_;
  };

  typedef std::function<void(Exchange&)> Handler;

  explicit TestHttpServer(Handler handler) : handler_(std::move(handler)) {
    using boost::asio::ip::tcp;
    acceptor_.open(tcp::v4());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    acceptor_.listen();
    port_ = acceptor_.local_endpoint().port();
    accept_thread_ = std::thread([this]() { AcceptLoop(); });
  }

  ~TestHttpServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      // Wake the handlers that wait for a request that will never come.
      for (int fd : open_sockets_) ::shutdown(fd, SHUT_RDWR);
    }
    stop_cv_.notify_all();
    // Wake the blocking accept with a connection of our own.
    {
      boost::system::error_code ignored;
      boost::asio::io_context io;
      boost::asio::ip::tcp::socket wake(io);
      wake.connect({boost::asio::ip::make_address("127.0.0.1"), port_}, ignored);
      accept_thread_.join();
    }
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      threads.swap(threads_);
    }
    for (auto& thread : threads) thread.join();
  }

  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  uint16_t Port() const { return port_; }

  // Every request read so far, in order of arrival.
  std::vector<Request> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  // Connections accepted so far.
  int Connections() const { return connections_.load(); }

  bool WaitForStop(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> lock(mutex_);
    return stop_cv_.wait_for(lock, duration, [this]() { return stopping_; });
  }

 private:
  void AcceptLoop() {
    for (;;) {
      auto socket = std::make_shared<boost::asio::ip::tcp::socket>(io_);
      boost::system::error_code error;
      acceptor_.accept(*socket, error);
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      if (error) continue;
      connections_++;
      open_sockets_.push_back(socket->native_handle());
      threads_.emplace_back([this, socket]() { Serve(socket); });
    }
  }

  void Serve(const std::shared_ptr<boost::asio::ip::tcp::socket>& socket) {
    boost::beast::flat_buffer buffer;
    Request request;
    boost::system::error_code error;
    boost::beast::http::read(*socket, buffer, request, error);
    if (!error) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      Exchange exchange(this, socket.get(), std::move(request));
      handler_(exchange);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = open_sockets_.begin(); it != open_sockets_.end(); ++it) {
      if (*it == socket->native_handle()) {
        open_sockets_.erase(it);
        break;
      }
    }
    boost::system::error_code ignored;
    socket->shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    socket->close(ignored);
  }

  Handler handler_;
  boost::asio::io_context io_;
  boost::asio::ip::tcp::acceptor acceptor_{io_};
  uint16_t port_ = 0;
  std::thread accept_thread_;

  mutable std::mutex mutex_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;
  std::vector<int> open_sockets_;
  std::vector<std::thread> threads_;
  std::vector<Request> requests_;
  std::atomic<int> connections_{0};
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_TEST_TESTHTTPSERVER_H_
