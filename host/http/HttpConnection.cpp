#include "host/http/HttpConnection.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

#include "common/Mutex.h"
#include "host/http/HttpBuffer.h"
#include "host/http/HttpErrorCodes.h"
#include "host/http/HttpReplyHeaders.h"
#include "host/http/HttpRequest.h"
#include "host/http/HttpServiceCore.h"

namespace Velmora {
namespace ZQHost {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

// The state of one connection. The caller-side part (client, API state, server) is
// guarded by mutex_ (ZQ_GUARDED_BY); everything else belongs to the connection thread.
// Handlers hold a shared_ptr, so the session lives until its last operation has
// completed.
class HttpSession : public HttpServiceCore::Abortable,
                    public std::enable_shared_from_this<HttpSession> {
 public:
  explicit HttpSession(std::shared_ptr<HttpServiceCore> core)
      : core_(std::move(core)),
        resolver_(core_->Io()),
        resolve_timer_(core_->Io()),
        stream_(core_->Io()) {}

  HRESULT Advise(IHttpConnectionClientEvents* events);
  HRESULT Unadvise(IHttpConnectionClientEvents* events);
  HRESULT SetServer(const CountedString& host, DWORD port);
  HRESULT Open();
  HRESULT Send(IHttpRequest* request, IHttpBuffer* body);
  HRESULT Continue();
  HRESULT Close();
  void Abort(int code) override;

 private:
  // What the caller may do next.
  enum class Api { kNew, kOpening, kConnected, kExchanging, kDone, kClosed };
  // Where the connection thread is; decides which event reports a failure.
  enum class Stage { kIdle, kConnecting, kConnected, kWriting, kReading };
  typedef http::request<http::string_body> Request;

  std::chrono::milliseconds StallTimeout() const {
    return std::chrono::milliseconds(std::max<int64_t>(1, core_->stall_timeout_ms.load()));
  }

  void DoOpen(const std::string& host, uint16_t port, bool server_set);
  void OnResolved(const boost::system::error_code& error, const tcp::resolver::results_type& results);
  void Connect(std::vector<tcp::endpoint> endpoints);
  void OnConnected(const boost::system::error_code& error);
  void DoSend(const std::shared_ptr<Request>& request);
  void OnWritten(const boost::system::error_code& error);
  void DoContinue();
  void ReadHeader();
  void OnHeader(const boost::system::error_code& error);
  // Starts a new body piece and reads into it.
  void ReadBody();
  // Reads more of the body into what is left of the current piece.
  void ReadMoreBody();
  void OnBody(boost::system::error_code error);
  void Complete(IHttpBuffer* last);
  void Fail(int code);
  void End();
  void DoClose();

  // Calls call(client) when a client is advised, without holding mutex_.
  template <class Call>
  void Deliver(Call&& call) {
    CComPtr<IHttpConnectionClientEvents> client;
    {
      Common::MutexLock lock(mutex_);
      client = sink_;
    }
    if (client) call(client.p);
  }

  const std::shared_ptr<HttpServiceCore> core_;

  Common::Mutex mutex_;
  CComPtr<IHttpConnectionClientEvents> sink_ ZQ_GUARDED_BY(mutex_);
  Api api_ ZQ_GUARDED_BY(mutex_) = Api::kNew;
  std::string host_ ZQ_GUARDED_BY(mutex_);
  uint16_t port_ ZQ_GUARDED_BY(mutex_) = 0;
  bool server_set_ ZQ_GUARDED_BY(mutex_) = false;

  tcp::resolver resolver_;
  asio::steady_timer resolve_timer_;
  bool resolve_timed_out_ = false;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::shared_ptr<Request> request_;
  bool head_request_ = false;
  std::optional<http::response_parser<http::buffer_body>> parser_;
  std::vector<char> piece_;
  uint64_t max_body_ = 0;  // the body limit of this reply, kept on the bytes received
  CComPtr<IHttpReplyHeaders> headers_;
  HttpReplyProgress progress_;  // what the service's reply observer is told
  Stage stage_ = Stage::kIdle;
  bool read_body_next_ = false;
  bool waiting_for_continue_ = false;
  bool ended_ = false;
};

// ---------------------------------------------------------------- caller side

HRESULT HttpSession::Advise(IHttpConnectionClientEvents* events) {
  if (events == nullptr) return E_POINTER;
  Common::MutexLock lock(mutex_);
  if (api_ == Api::kClosed) return E_UNEXPECTED;
  if (sink_.p == events) return S_FALSE;
  if (sink_) return E_UNEXPECTED;
  sink_ = events;
  return S_OK;
}

HRESULT HttpSession::Unadvise(IHttpConnectionClientEvents* events) {
  if (events == nullptr) return E_POINTER;
  CComPtr<IHttpConnectionClientEvents> dropped;
  {
    Common::MutexLock lock(mutex_);
    if (sink_.p != events) return E_INVALIDARG;
    dropped.Attach(sink_.Detach());
  }
  return S_OK;  // the client is released here, outside the lock
}

HRESULT HttpSession::SetServer(const CountedString& host, DWORD port) {
  if (host.length < 0) return E_INVALIDARG;
  if (host.length > 0 && host.text == nullptr) return E_POINTER;
  if (port == 0 || port > 65535) return E_INVALIDARG;
  std::string name;
  try {
    name.assign(host.text == nullptr ? "" : host.text, static_cast<size_t>(host.length));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (name.empty()) return E_INVALIDARG;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || c == '/') return E_INVALIDARG;
  }
  Common::MutexLock lock(mutex_);
  if (api_ != Api::kNew) return E_UNEXPECTED;
  host_.swap(name);
  port_ = static_cast<uint16_t>(port);
  server_set_ = true;
  return S_OK;
}

HRESULT HttpSession::Open() {
  std::string host;
  uint16_t port = 0;
  bool server_set = false;
  {
    Common::MutexLock lock(mutex_);
    if (api_ != Api::kNew) return E_UNEXPECTED;
    api_ = Api::kOpening;
    host = host_;
    port = port_;
    server_set = server_set_;
  }
  auto self = shared_from_this();
  if (!core_->Post([self, host, port, server_set]() { self->DoOpen(host, port, server_set); })) {
    Common::MutexLock lock(mutex_);
    if (api_ == Api::kOpening) api_ = Api::kDone;
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT HttpSession::Send(IHttpRequest* request, IHttpBuffer* body) {
  if (request == nullptr) return E_POINTER;
  HttpRequest* source = HttpRequest::FromInterface(request);
  if (source == nullptr) return E_INVALIDARG;
  std::string host;
  uint16_t port = 0;
  {
    Common::MutexLock lock(mutex_);
    if (api_ != Api::kConnected) return E_UNEXPECTED;
    host = host_;
    port = port_;
  }
  auto message = std::make_shared<Request>();
  try {
    message->method_string(source->Method());
    message->target(source->Path());
    message->version(source->Version());
    for (const auto& header : source->Headers()) message->insert(header.first, header.second);
    if (message->find(http::field::host) == message->end()) {
      message->set(http::field::host, port == 80 ? host : host + ":" + std::to_string(port));
    }
    if (body != nullptr) {
      BYTE* data = nullptr;
      int length = 0;
      HRESULT hr = body->GetData(&data, &length);
      if (FAILED(hr)) return hr;
      if (length < 0 || (length > 0 && data == nullptr)) return E_INVALIDARG;
      message->body().assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    }
    // The body's real length, whatever the command's fields said; a request without a
    // body that does not expect one carries no length at all.
    message->prepare_payload();
    http::verb verb = message->method();
    if (message->body().empty() && verb != http::verb::post && verb != http::verb::put &&
        verb != http::verb::options) {
      message->erase(http::field::content_length);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception&) {
    return E_INVALIDARG;  // a request Beast refuses to frame (a TRACE with a body)
  }
  {
    Common::MutexLock lock(mutex_);
    if (api_ != Api::kConnected) return E_UNEXPECTED;
    api_ = Api::kExchanging;
  }
  auto self = shared_from_this();
  if (!core_->Post([self, message]() { self->DoSend(message); })) {
    Common::MutexLock lock(mutex_);
    if (api_ == Api::kExchanging) api_ = Api::kDone;
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT HttpSession::Continue() {
  {
    Common::MutexLock lock(mutex_);
    if (api_ == Api::kDone) return S_FALSE;
    if (api_ != Api::kExchanging) return E_UNEXPECTED;
  }
  auto self = shared_from_this();
  if (!core_->Post([self]() { self->DoContinue(); })) return S_FALSE;
  return S_OK;
}

HRESULT HttpSession::Close() {
  CComPtr<IHttpConnectionClientEvents> dropped;
  {
    Common::MutexLock lock(mutex_);
    if (api_ == Api::kClosed) return S_OK;
    api_ = Api::kClosed;
    dropped.Attach(sink_.Detach());
  }
  auto self = shared_from_this();
  core_->Post([self]() { self->DoClose(); });  // nothing to do once the service stopped
  return S_OK;
}

// ---------------------------------------------------------------- connection thread

void HttpSession::Abort(int code) { Fail(code); }

void HttpSession::DoOpen(const std::string& host, uint16_t port, bool server_set) {
  if (ended_) return;
  stage_ = Stage::kConnecting;
  if (!server_set) {
    Fail(kHttpErrorBadServer);
    return;
  }
  HttpEndpoint target{host, port};
  if (auto mapped = core_->ResolverTable().Lookup(host, port)) target = *mapped;
  if (target.host.empty() || target.port == 0) {
    Fail(kHttpErrorBadServer);
    return;
  }
  boost::system::error_code error;
  asio::ip::address address = asio::ip::make_address(target.host, error);
  if (!error) {
    Connect({tcp::endpoint(address, target.port)});
    return;
  }
  auto self = shared_from_this();
  resolve_timed_out_ = false;
  resolve_timer_.expires_after(StallTimeout());
  resolve_timer_.async_wait([self](const boost::system::error_code& error) {
    if (error || self->ended_) return;
    self->resolve_timed_out_ = true;
    self->resolver_.cancel();
  });
  resolver_.async_resolve(
      target.host, std::to_string(target.port), tcp::resolver::numeric_service,
      [self](const boost::system::error_code& error, const tcp::resolver::results_type& results) {
        self->OnResolved(error, results);
      });
}

void HttpSession::OnResolved(const boost::system::error_code& error,
                             const tcp::resolver::results_type& results) {
  if (ended_) return;
  resolve_timer_.cancel();
  if (error) {
    Fail(resolve_timed_out_ ? kHttpErrorTimedOut : HttpErrorFromBoost(error));
    return;
  }
  std::vector<tcp::endpoint> endpoints;
  for (const auto& entry : results) endpoints.push_back(entry.endpoint());
  if (endpoints.empty()) {
    Fail(kHttpErrorHostNotFound);
    return;
  }
  Connect(std::move(endpoints));
}

void HttpSession::Connect(std::vector<tcp::endpoint> endpoints) {
  auto self = shared_from_this();
  auto list = std::make_shared<std::vector<tcp::endpoint>>(std::move(endpoints));
  stream_.expires_after(StallTimeout());
  stream_.async_connect(*list, [self, list](const boost::system::error_code& error,
                                            const tcp::endpoint&) { self->OnConnected(error); });
}

void HttpSession::OnConnected(const boost::system::error_code& error) {
  if (ended_) return;
  if (error) {
    Fail(HttpErrorFromBoost(error));
    return;
  }
  stream_.expires_never();
  stage_ = Stage::kConnected;
  {
    Common::MutexLock lock(mutex_);
    if (api_ == Api::kOpening) api_ = Api::kConnected;
  }
  Deliver([](IHttpConnectionClientEvents* client) { client->OnConnect(0, nullptr); });
}

void HttpSession::DoSend(const std::shared_ptr<Request>& request) {
  if (ended_) return;
  request_ = request;
  head_request_ = request_->method() == http::verb::head;
  stage_ = Stage::kWriting;
  auto self = shared_from_this();
  stream_.expires_after(StallTimeout());
  http::async_write(stream_, *request_,
                    [self](const boost::system::error_code& error, size_t) {
                      self->OnWritten(error);
                    });
}

void HttpSession::OnWritten(const boost::system::error_code& error) {
  if (ended_) return;
  if (error) {
    Fail(HttpErrorFromBoost(error));
    return;
  }
  stream_.expires_never();
  stage_ = Stage::kReading;
  read_body_next_ = false;
  waiting_for_continue_ = true;
  Deliver([](IHttpConnectionClientEvents* client) { client->OnSendComplete(0, nullptr); });
}

void HttpSession::DoContinue() {
  if (ended_ || !waiting_for_continue_) return;
  waiting_for_continue_ = false;
  if (read_body_next_) {
    ReadBody();
  } else {
    ReadHeader();
  }
}

void HttpSession::ReadHeader() {
  parser_.emplace();
  parser_->body_limit(core_->max_body_bytes.load());
  size_t header_limit = core_->max_header_bytes.load();
  parser_->header_limit(static_cast<std::uint32_t>(std::min<size_t>(header_limit, UINT32_MAX)));
  if (head_request_) parser_->skip(true);
  auto self = shared_from_this();
  stream_.expires_after(StallTimeout());
  http::async_read_header(stream_, buffer_, *parser_,
                          [self](const boost::system::error_code& error, size_t) {
                            self->OnHeader(error);
                          });
}

void HttpSession::OnHeader(const boost::system::error_code& error) {
  if (ended_) return;
  if (error) {
    Fail(HttpErrorFromBoost(error));
    return;
  }
  stream_.expires_never();
  // The parser has refused a declared length above the limit; the body is counted here
  // from now on. Beast counts a body read to the end of the stream by every byte it is
  // offered, not by those the piece took, so a reply read in pieces smaller than what
  // the socket holds would be refused far below the limit.
  max_body_ = core_->max_body_bytes.load();
  parser_->body_limit(boost::none);
  HttpReplyHeaders::FieldList fields;
  CComPtr<IHttpReplyHeaders> headers;
  try {
    for (const auto& field : parser_->get()) {
      fields.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
  } catch (const std::bad_alloc&) {
    Fail(kHttpErrorOther);
    return;
  }
  if (FAILED(HttpReplyHeaders::Create(static_cast<int>(parser_->get().result_int()),
                                      std::move(fields), &headers))) {
    Fail(kHttpErrorOther);
    return;
  }
  headers_ = headers;
  progress_.exchange = this;
  progress_.status = static_cast<int>(parser_->get().result_int());
  const auto length = parser_->content_length();
  progress_.content_length = length ? static_cast<int64_t>(*length) : -1;
  core_->ReportReply(progress_);
  read_body_next_ = true;
  waiting_for_continue_ = true;
  Deliver([&headers](IHttpConnectionClientEvents* client) {
    client->OnHeaders(headers, nullptr);
  });
}

void HttpSession::ReadBody() {
  if (parser_->is_done()) {
    Complete(nullptr);
    return;
  }
  piece_.resize(std::max<size_t>(1, core_->read_piece_bytes.load()));
  parser_->get().body().data = piece_.data();
  parser_->get().body().size = piece_.size();
  // Let one read take up to a whole piece from the socket: the read buffer, left small by
  // the header read, would otherwise take the body a few hundred bytes at a time, each
  // read one OnData and one Continue round trip through the client.
  if (buffer_.capacity() - buffer_.size() < piece_.size()) {
    buffer_.reserve(buffer_.size() + piece_.size());
  }
  ReadMoreBody();
}

void HttpSession::ReadMoreBody() {
  auto self = shared_from_this();
  stream_.expires_after(StallTimeout());
  http::async_read_some(stream_, buffer_, *parser_,
                        [self](const boost::system::error_code& error, size_t) {
                          self->OnBody(error);
                        });
}

void HttpSession::OnBody(boost::system::error_code error) {
  if (ended_) return;
  if (error == http::error::need_buffer) error = {};  // the piece is full
  if (error) {
    Fail(HttpErrorFromBoost(error));
    return;
  }
  const size_t room = parser_->get().body().size;
  const size_t received = piece_.size() - room;
  if (received > max_body_ - std::min<uint64_t>(max_body_, progress_.received)) {
    Fail(kHttpErrorReplyTooLarge);
    return;
  }
  // While the socket already holds more of the body, the piece is filled before it is
  // reported: every OnData costs the client a Continue round trip.
  if (received > 0 && room > 0 && !parser_->is_done()) {
    boost::system::error_code ignored;
    if (stream_.socket().available(ignored) > 0) {
      ReadMoreBody();
      return;
    }
  }
  CComPtr<IHttpBuffer> piece;
  if (received > 0 && FAILED(HttpBuffer::Create(piece_.data(), received, &piece))) {
    Fail(kHttpErrorOther);
    return;
  }
  progress_.received += received;
  // The last piece is reported with the completion.
  if (received > 0 && !parser_->is_done()) core_->ReportReply(progress_);
  if (parser_->is_done()) {
    Complete(piece);
    return;
  }
  if (received == 0) {  // only framing was read (a chunk header): read on
    ReadBody();
    return;
  }
  stream_.expires_never();
  waiting_for_continue_ = true;
  Deliver([&piece](IHttpConnectionClientEvents* client) { client->OnData(piece, nullptr); });
}

void HttpSession::Complete(IHttpBuffer* last) {
  // A connection carries one request: bytes beyond the end of its reply mean the reply's
  // framing lied (a Content-Length shorter than what the server sent), and a body cut at
  // a false length cannot be trusted.
  boost::system::error_code ignored;
  if (buffer_.size() > 0 || stream_.socket().available(ignored) > 0) {
    Fail(kHttpErrorBadReply);
    return;
  }
  progress_.complete = true;
  core_->ReportReply(progress_);
  CComPtr<IHttpReplyHeaders> headers;
  headers.Attach(headers_.Detach());
  End();
  Deliver([&headers, last](IHttpConnectionClientEvents* client) {
    client->OnComplete(0, headers, last, nullptr);
  });
}

void HttpSession::Fail(int code) {
  if (ended_) return;
  Stage stage = stage_;
  headers_.Release();
  End();
  switch (stage) {
    case Stage::kIdle:
      break;  // never opened: there is nobody waiting for an event
    case Stage::kConnecting:
      Deliver([code](IHttpConnectionClientEvents* client) { client->OnConnect(code, nullptr); });
      break;
    case Stage::kWriting:
      Deliver([code](IHttpConnectionClientEvents* client) {
        client->OnSendComplete(code, nullptr);
      });
      break;
    case Stage::kConnected:
    case Stage::kReading:
      Deliver([code](IHttpConnectionClientEvents* client) {
        client->OnComplete(code, nullptr, nullptr, nullptr);
      });
      break;
  }
}

void HttpSession::End() {
  ended_ = true;
  waiting_for_continue_ = false;
  resolve_timer_.cancel();
  resolver_.cancel();
  stream_.close();
  Common::MutexLock lock(mutex_);
  if (api_ != Api::kClosed) api_ = Api::kDone;
}

void HttpSession::DoClose() {
  if (ended_) return;
  headers_.Release();
  End();
}

// ---------------------------------------------------------------- HttpConnection

HRESULT HttpConnection::Create(const std::shared_ptr<HttpServiceCore>& core,
                               IHttpConnection** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (core == nullptr || core->IsStopping()) return E_UNEXPECTED;
  CComObject<HttpConnection>* connection = nullptr;
  HRESULT hr = CComObject<HttpConnection>::CreateInstance(&connection);
  if (FAILED(hr)) return hr;
  CComPtr<IHttpConnection> holder(connection);
  try {
    connection->session_ = std::make_shared<HttpSession>(core);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  core->Track(connection->session_);
  *out = holder.Detach();
  return S_OK;
}

void HttpConnection::FinalRelease() {
  if (session_) session_->Close();
}

STDMETHODIMP HttpConnection::Advise(IHttpConnectionClientEvents* events) {
  return session_->Advise(events);
}

STDMETHODIMP HttpConnection::Unadvise(IHttpConnectionClientEvents* events) {
  return session_->Unadvise(events);
}

STDMETHODIMP HttpConnection::SetServer(CountedString host, DWORD port) {
  return session_->SetServer(host, port);
}

STDMETHODIMP HttpConnection::Open() { return session_->Open(); }

STDMETHODIMP HttpConnection::Send(IHttpRequest* request, IHttpBuffer* body) {
  return session_->Send(request, body);
}

STDMETHODIMP HttpConnection::Continue() { return session_->Continue(); }

STDMETHODIMP HttpConnection::Close() { return session_->Close(); }

}  // namespace ZQHost
}  // namespace Velmora
