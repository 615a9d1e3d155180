// The HTTP front end under abuse: keep-alive, request limits, garbage, idle and
// concurrent connections, the connection cap and a clean stop.
#include "HttpServer.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <gtest/gtest.h>

#include "service/test/ServiceTestClient.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {
namespace {

using Clock = std::chrono::steady_clock;

HttpReply Echo(const HttpRequest& request) {
  if (request.target == "/throw") throw std::runtime_error("handler failure");
  HttpReply reply;
  reply.content_type = "text/plain";
  reply.body = request.method + " " + request.target + " " + request.body;
  return reply;
}

class HttpServerTest : public ::testing::Test {
 protected:
  void Start(const ServiceOptions& options) {
    server_ = std::make_unique<HttpServer>(Echo, options);
    std::string error;
    ASSERT_TRUE(server_->Start("127.0.0.1", 0, &error)) << error;
    ASSERT_NE(0, server_->port());
  }
  std::unique_ptr<HttpServer> server_;
};

TEST_F(HttpServerTest, KeepsConnectionsAlive) {
  Start(ServiceOptions());
  ServiceTestClient client(server_->port());
  for (int i = 0; i < 5; ++i) {
    const ClientReply reply = client.Send("POST", "/x" + std::to_string(i), {}, "body");
    ASSERT_EQ(200, reply.status);
    EXPECT_EQ("POST /x" + std::to_string(i) + " body", reply.body);
    EXPECT_TRUE(reply.keep_alive);
  }
  EXPECT_EQ(1, client.connections_opened());
  // A request that asks to close gets its reply, then the connection goes.
  EXPECT_FALSE(client.Get("/y", {{"Connection", "close"}}).keep_alive);
  EXPECT_EQ(200, client.Get("/z").status);
  EXPECT_EQ(2, client.connections_opened());
}

TEST_F(HttpServerTest, BoundsRequestSizes) {
  ServiceOptions options;
  options.max_body_bytes = 1024;
  options.max_header_bytes = 2048;
  Start(options);
  ServiceTestClient client(server_->port());
  EXPECT_EQ(200, client.Send("POST", "/ok", {}, std::string(1024, 'a')).status);
  EXPECT_EQ(413, client.Send("POST", "/big", {}, std::string(1025, 'a')).status);
  EXPECT_EQ(431, client.Get("/h", {{"X-Long", std::string(4096, 'h')}}).status);
  EXPECT_EQ(200, client.Get("/after").status) << "the server goes on serving";
}

TEST_F(HttpServerTest, AnswersGarbageWith400AndGoesOn) {
  Start(ServiceOptions());
  bool closed = false;
  const std::string reply =
      RawExchange(server_->port(), "\x16\x03\x01\x02\x00 nonsense\r\n\r\n",
                  std::chrono::milliseconds(2000), &closed);
  EXPECT_EQ(0u, reply.find("HTTP/1.1 400")) << reply;
  EXPECT_TRUE(closed);
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 7919) & 0xFF);
  RawExchange(server_->port(), noise, std::chrono::milliseconds(2000), &closed);
  EXPECT_TRUE(closed);
  RawExchange(server_->port(), "GET / HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
              std::chrono::milliseconds(2000), &closed);
  EXPECT_TRUE(closed);
  ServiceTestClient client(server_->port());
  EXPECT_EQ(200, client.Get("/still-alive").status);
}

TEST_F(HttpServerTest, HandlerFailureIs500) {
  Start(ServiceOptions());
  ServiceTestClient client(server_->port());
  EXPECT_EQ(500, client.Get("/throw").status);
  EXPECT_EQ(200, client.Get("/fine").status);
}

TEST_F(HttpServerTest, ClosesIdleConnections) {
  ServiceOptions options;
  options.idle_timeout = std::chrono::milliseconds(200);
  Start(options);
  const auto start = Clock::now();
  bool closed = false;
  // Half a request, then silence.
  RawExchange(server_->port(), "GET / HTTP/1.1\r\nHost: x\r\n", std::chrono::milliseconds(3000),
              &closed);
  EXPECT_TRUE(closed);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
}

TEST_F(HttpServerTest, ServesConcurrentClients) {
  Start(ServiceOptions());
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      ServiceTestClient client(server_->port());
      for (int i = 0; i < 25; ++i) {
        const std::string path = "/t" + std::to_string(t) + "/" + std::to_string(i);
        const ClientReply reply = client.Get(path);
        if (reply.status == 200 && reply.body == "GET " + path + " ") ++ok;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(200, ok.load());
}

TEST_F(HttpServerTest, CapsOpenConnections) {
  ServiceOptions options;
  options.max_connections = 2;
  Start(options);
  ServiceTestClient first(server_->port());
  ServiceTestClient second(server_->port());
  ASSERT_EQ(200, first.Get("/1").status);
  ASSERT_EQ(200, second.Get("/2").status);
  bool closed = false;
  const std::string third = RawExchange(server_->port(), "GET /3 HTTP/1.1\r\n\r\n",
                                        std::chrono::milliseconds(2000), &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ("", third);
  EXPECT_EQ(200, first.Get("/1again").status);
  EXPECT_EQ(1, first.connections_opened());
}

TEST_F(HttpServerTest, StopClosesConnectionsAndTheListener) {
  Start(ServiceOptions());
  namespace net = boost::asio;
  net::io_context ioc;
  boost::beast::tcp_stream stream(ioc);
  stream.connect(net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), server_->port()));
  const uint16_t port = server_->port();
  // Wait until the server holds the connection.
  for (int i = 0; i < 200 && server_->open_connections() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(1u, server_->open_connections());
  const auto start = Clock::now();
  server_->Stop();
  server_->Stop();  // idempotent
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(0u, server_->open_connections());
  char byte;
  boost::beast::error_code ec;
  stream.expires_after(std::chrono::seconds(2));
  stream.read_some(net::buffer(&byte, 1), ec);
  EXPECT_TRUE(ec == net::error::eof || ec == net::error::connection_reset) << ec.message();
  ServiceTestClient late(port);
  EXPECT_EQ(0, late.Get("/late").status);
}

TEST_F(HttpServerTest, ReportsBindFailures) {
  Start(ServiceOptions());
  HttpServer other(Echo, ServiceOptions());
  std::string error;
  EXPECT_FALSE(other.Start("127.0.0.1", server_->port(), &error));
  EXPECT_NE(std::string::npos, error.find(std::to_string(server_->port()))) << error;
  HttpServer bad(Echo, ServiceOptions());
  EXPECT_FALSE(bad.Start("not an address", 0, &error));
  EXPECT_FALSE(error.empty());
  std::string again;
  EXPECT_FALSE(server_->Start("127.0.0.1", 0, &again)) << "a server starts once";
}

}  // namespace
}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
