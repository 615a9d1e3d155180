// RecordingRelay: an HTTP relay on loopback in front of the reference service, for the
// host's end-to-end tests. Each request is passed on to the service as it came and the
// reply back as it went, and both are recorded. A hook may run before a request is
// passed on (to change the world between the plug-in's request and the service's
// answer), and a scripted reply may stand in for the service's (to play a broken or
// hostile server). Header-only; used by tests only.
#ifndef ZQBLOG_HOST_TEST_RECORDINGRELAY_H_
#define ZQBLOG_HOST_TEST_RECORDINGRELAY_H_

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "host/test/TestHttpServer.h"

namespace Velmora {
namespace ZQHost {

// Whether text ends with suffix.
inline bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// One exchange the relay passed on.
struct RelayedExchange {
  std::string host;               // the request's Host header
  std::string target;             // the request target
  std::string if_modified_since;  // "<none>" when the request had no such header
  std::string connection;         // the request's Connection header
  int status = 0;                 // the service's answer (0: no answer)
  std::string last_modified;      // the reply's Last-Modified header
  size_t body_size = 0;
};

// A reply the relay gives in place of the service's.
struct ScriptedReply {
  int status = 200;
  std::string body;
  std::string last_modified;  // no header when empty
  std::string content_type = "text/xml; charset=utf-8";
};

// An HTTP relay on loopback in front of the reference service: each request is passed
// on to the service as it came and the reply back as it went, and both are recorded. A
// hook may run before a request is passed on (to change the world between the
// plug-in's request and the service's answer), and a scripted reply may stand in for
// the service's (to play a broken or hostile server).
class RecordingRelay {
 public:
  explicit RecordingRelay(uint16_t service_port)
      : service_port_(service_port),
        server_([this](TestHttpServer::Exchange& exchange) { Relay(exchange); }) {}

  uint16_t port() const { return server_.Port(); }

  // Runs hook(target) before each request is passed on, until cleared (null).
  void SetHook(std::function<void(const std::string& target)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
  }

  // Answers requests whose target ends with suffix with reply instead of asking the
  // service, until ClearScripts.
  void Script(const std::string& suffix, ScriptedReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_[suffix] = std::move(reply);
  }
  void ClearScripts() {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_.clear();
  }

  std::vector<RelayedExchange> Exchanges() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exchanges_;
  }

  // The exchanges whose target ends with suffix, in order.
  std::vector<RelayedExchange> ExchangesFor(const std::string& suffix) const {
    std::vector<RelayedExchange> found;
    for (const RelayedExchange& exchange : Exchanges()) {
      if (EndsWith(exchange.target, suffix)) found.push_back(exchange);
    }
    return found;
  }

 private:
  void Relay(TestHttpServer::Exchange& exchange) {
    RelayedExchange record;
    const TestHttpServer::Request& request = exchange.request;
    record.host = std::string(request[boost::beast::http::field::host]);
    record.target = std::string(request.target());
    record.if_modified_since = request.count(boost::beast::http::field::if_modified_since) != 0
                                   ? std::string(request[boost::beast::http::field::if_modified_since])
                                   : "<none>";
    record.connection = std::string(request[boost::beast::http::field::connection]);
    std::function<void(const std::string&)> hook;
    const ScriptedReply* script = nullptr;
    ScriptedReply scripted;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hook = hook_;
      for (const auto& entry : scripts_) {
        if (EndsWith(record.target, entry.first)) {
          scripted = entry.second;
          script = &scripted;
        }
      }
    }
    if (hook) hook(record.target);
    if (script != nullptr) {
      TestHttpServer::Response response(static_cast<boost::beast::http::status>(script->status), 11);
      response.set(boost::beast::http::field::content_type, script->content_type);
      if (!script->last_modified.empty()) {
        response.set(boost::beast::http::field::last_modified, script->last_modified);
      }
      response.body() = script->body;
      response.keep_alive(false);
      record.status = script->status;
      record.last_modified = script->last_modified;
      record.body_size = script->body.size();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        exchanges_.push_back(record);
      }
      exchange.Reply(std::move(response));
      return;
    }

    TestHttpServer::Response response;
    boost::system::error_code error;
    {
      boost::asio::io_context io;
      boost::asio::ip::tcp::socket socket(io);
      socket.connect({boost::asio::ip::make_address("127.0.0.1"), service_port_}, error);
      if (!error) {
        TestHttpServer::Request forwarded = request;
        forwarded.keep_alive(false);
        boost::beast::http::write(socket, forwarded, error);
      }
      if (!error) {
        boost::beast::flat_buffer buffer;
        boost::beast::http::read(socket, buffer, response, error);
      }
    }
    if (!error) {
      record.status = response.result_int();
      record.last_modified = std::string(response[boost::beast::http::field::last_modified]);
      record.body_size = response.body().size();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      exchanges_.push_back(record);
    }
    if (error) return;  // the plug-in sees the connection close without a reply
    response.keep_alive(false);
    exchange.Reply(std::move(response));
  }

  const uint16_t service_port_;
  mutable std::mutex mutex_;
  std::function<void(const std::string&)> hook_;
  std::map<std::string, ScriptedReply> scripts_;
  std::vector<RelayedExchange> exchanges_;
  TestHttpServer server_;  // last: its threads call Relay until it is destroyed
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_TEST_RECORDINGRELAY_H_
