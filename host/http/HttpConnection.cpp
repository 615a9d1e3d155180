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

// The state of one connection: the caller's side, guarded by mutex_, and the exchange,
// which belongs to the connection thread. Handlers hold a shared_ptr, so the session
// lives until its last operation has completed.
//
// The exchange is a state machine: phase_ is where it is, and Step, on the connection
// thread, makes every change of it. The asynchronous handlers, and the work the
// caller's calls post, only record what happened (the error, the endpoints, the
// request, the code) and call Step with the input that names it. Step acts on the input
// the current phase waits for, sets the next phase, and then tells the client at most
// one event. Every change, and what the client is told:
//
//   phase            input: what it brought               the client is told      next
//   kNew             kOpen: every open slot of the        -                       kQueued
//                    service is taken (joins the queue)
//                    kOpen: a slot taken, then as kAdmit  (as kAdmit)             (as kAdmit)
//                    in kQueued
//   kQueued          kAdmit: no server, or one mapped to  OnConnect(BadServer)    kEnded
//                    no usable address
//                    kAdmit: an IP address (connect)      -                       kConnecting
//                    kAdmit: a name (resolve; the resolve -                       kResolving
//                    timer set)
//   kResolving       kResolveTimer: expired (the resolve  -                       kResolveTimedOut
//                    is cancelled)
//   kResolving,      kResolveDone: an error               OnConnect(code, or      kEnded
//   kResolveTimedOut                                      TimedOut after the
//                                                         timer expired)
//                    kResolveDone: no address             OnConnect(HostNotFound) kEnded
//                    kResolveDone: addresses (connect)    -                       kConnecting
//   kConnecting      kConnectDone: an error               OnConnect(code)         kEnded
//                    kConnectDone                         OnConnect(0)            kConnected
//   kConnected       kSend (write the request)            -                       kWriting
//   kWriting         kWriteDone: an error                 OnSendComplete(code)    kEnded
//                    kWriteDone                           OnSendComplete(0)       kHeaderWait
//   kHeaderWait      kContinue (read the header)          -                       kReadingHeader
//   kReadingHeader   kHeaderDone: an error                OnComplete(code)        kEnded
//                    kHeaderDone: no header object        OnComplete(Other)       kEnded
//                    kHeaderDone                          OnHeaders               kBodyWait
//   kBodyWait        kContinue: the body is complete      (the completion)        kEnded
//                    kContinue (read a new piece)         -                       kReadingBody
//   kReadingBody     kBodyDone: an error                  OnComplete(code)        kEnded
//                    kBodyDone: above the body limit      OnComplete(TooLarge)    kEnded
//                    kBodyDone: the piece has room, the   -                       kReadingBody
//                    body goes on, the socket holds
//                    more (the piece reads on)
//                    kBodyDone: no piece object           OnComplete(Other)       kEnded
//                    kBodyDone: the body is complete      (the completion)        kEnded
//                    kBodyDone: only framing was read     -                       kReadingBody
//                    (read a new piece)
//                    kBodyDone                            OnData(piece)           kBodyWait
//   kNew             kAbort (never opened: nobody waits)  -                       kEnded
//   kQueued          kAbort (opened: OnConnect is owed)   OnConnect(code)         kEnded
//   any other        kAbort                               the phase's failure     kEnded
//   any              kClose (kQueued: leaves the queue)   -                       kEnded
//
// (the completion): bytes beyond the end of the reply (its framing lied) give
// OnComplete(BadReply); otherwise OnComplete(0, headers, last piece or null).
// The phase's failure (FailureEvent): OnConnect(code) while opening (kNew to
// kConnecting: a queued connection was opened and waits for OnConnect, so the service's
// shutdown fails it with OnConnect(Aborted) as it fails one that connects; Close ends it
// without an event, as in every phase), OnSendComplete(code) in kWriting,
// OnComplete(code, null, null) from kConnected on.
// In kEnded nothing happens. Any other input leaves the phase as it is: a handler of an
// operation that the end cancelled, a Continue no phase waits for, the resolve timer
// once the resolve is over, a kAdmit that came after the end.
//
// The open slots: at most the service's max_open_connections exchanges are open at once
// (an exchange is open from its slot to kEnded). A connection opened while every slot
// is taken waits in kQueued, in the service's queue, first come first served; nothing of
// it is on the network. When an open exchange ends, its slot goes straight to the first
// connection queued (HttpServiceCore::ReleaseSlot), which takes it at once (Admit) and
// proceeds with kAdmit, posted as work of its own.
//
// Entering kEnded cancels and closes everything that runs, gives the slot back (or
// leaves the queue) and tells the caller's side (Continue answers S_FALSE from then on)
// before the ending event is delivered.
//
// The stall clock (the resolve timer, the stream's expiry) runs while the connection
// thread waits for the network: it is set when an operation starts (each read of the
// body starts it again) and stopped on entering kConnected, kHeaderWait or kBodyWait,
// where the exchange waits for the client. It does not run in kQueued.
class HttpSession : public HttpServiceCore::Abortable,
                    public HttpServiceCore::Waiter,
                    public std::enable_shared_from_this<HttpSession> {
 public:
  explicit HttpSession(std::shared_ptr<HttpServiceCore> core)
      : core_(std::move(core)),
        resolver_(core_->Io()),
        resolve_timer_(core_->Io()),
        stream_(core_->Io()) {}

  // The caller's side of IHttpConnection (HttpConnection.h states each contract), on
  // any thread: each checks and changes the caller's state (api_) under mutex_; Open,
  // Send, Continue and Close post their work to the connection thread as an input of
  // Step.
  HRESULT Advise(IHttpConnectionClientEvents* events) ZQ_EXCLUDES(mutex_);
  HRESULT Unadvise(IHttpConnectionClientEvents* events) ZQ_EXCLUDES(mutex_);
  HRESULT SetServer(const CountedString& host, DWORD port) ZQ_EXCLUDES(mutex_);
  HRESULT Open() ZQ_EXCLUDES(mutex_);
  HRESULT Send(IHttpRequest* request, IHttpBuffer* body) ZQ_EXCLUDES(mutex_);
  HRESULT Continue() ZQ_EXCLUDES(mutex_);
  HRESULT Close() ZQ_EXCLUDES(mutex_);
  // Runs on the connection thread: records code, Step(kAbort).
  void Abort(int code) ZQ_EXCLUDES(mutex_) override;
  // Runs on the connection thread: takes the slot handed over and posts Step(kAdmit);
  // false when no longer queued.
  bool Admit() override;

 private:
  // What the caller may do next. Its changes:
  //   kNew -> kOpening                 Open
  //   kOpening -> kDone                Open, when the service refuses the work
  //   kOpening -> kConnected           Step, on entering kConnected
  //   kConnected -> kExchanging        Send
  //   kExchanging -> kDone             Send, when the service refuses the work
  //   any but kClosed -> kDone         Step, on entering kEnded
  //   any -> kClosed                   Close
  enum class Api { kNew, kOpening, kConnected, kExchanging, kDone, kClosed };

  // Where the exchange is (the table above). Connection thread only.
  enum class Phase {
    kNew,              // not opened
    kQueued,           // opened while every open slot was taken: waits for one
    kResolving,        // the server's name is being resolved; the resolve timer runs
    kResolveTimedOut,  // the resolve timer expired; the cancelled resolve is to answer
    kConnecting,       // the TCP connection is being made
    kConnected,        // OnConnect(0) told; waits for Send
    kWriting,          // the request is being written
    kHeaderWait,       // OnSendComplete(0) told; waits for Continue to read the header
    kReadingHeader,    // the reply's status line and fields are being read
    kBodyWait,         // OnHeaders or OnData told; waits for Continue to read the body
    kReadingBody,      // a piece of the body is being read
    kEnded,            // completed, failed, closed or aborted: nothing happens any more
  };

  // What has just happened on the connection thread: the input of Step.
  enum class Input {
    kOpen,           // Open's work arrived (server_)
    kAdmit,          // an open slot was handed over while queued
    kResolveTimer,   // the resolve timer fired (error: cancelled)
    kResolveDone,    // the resolve finished (error; endpoints_)
    kConnectDone,    // the connect finished (error)
    kSend,           // Send's work arrived (request_)
    kWriteDone,      // the request's write finished (error)
    kContinue,       // Continue's work arrived
    kHeaderDone,     // the header's read finished (error)
    kBodyDone,       // a read of the body finished (error; the bytes are in piece_)
    kClose,          // Close's work arrived (also the last release of the connection)
    kAbort,          // the service shuts down (abort_code_)
  };

  // An event for the client: made by Step, delivered once the phase is set.
  struct ClientEvent {
    enum class Kind { kNothing, kConnect, kSendComplete, kHeaders, kData, kComplete };
    Kind kind = Kind::kNothing;
    int error = 0;
    CComPtr<IHttpReplyHeaders> headers;  // kHeaders and a completed kComplete
    CComPtr<IHttpBuffer> piece;          // kData, and kComplete's last piece (may be null)
  };

  typedef http::request<http::string_body> Request;

  // Makes every change of phase_ for input (the table above), then delivers the event
  // the change calls for. error is what the finished operation reported. Nothing
  // happens once the phase is kEnded.
  void Step(Input input, const boost::system::error_code& error = {}) ZQ_EXCLUDES(mutex_);

  // The event by which a failure in phase reaches the client.
  static ClientEvent::Kind FailureEvent(Phase phase);

  // ---- the work of the phases; none of them changes the phase.
  std::chrono::milliseconds StallTimeout() const {
    return std::chrono::milliseconds(std::max<int64_t>(1, core_->stall_timeout_ms.load()));
  }
  // Where the server set goes: its mapping in the resolver table, else itself; nullopt
  // when no server was set.
  std::optional<HttpEndpoint> Target() const;
  // Resolves target's name under the resolve timer: kResolveTimer, kResolveDone.
  void Resolve(const HttpEndpoint& target);
  // Connects to the first of endpoints that answers: kConnectDone.
  void Connect(std::vector<tcp::endpoint> endpoints);
  // Writes request_: kWriteDone.
  void Write();
  // Reads the reply's header into a new parser: kHeaderDone.
  void ReadHeader();
  // Takes in the header just read: the body limit, counted on the bytes received from
  // now on; the header object (headers_); the progress, told to the service's observer.
  // False, and nothing told, when the header object cannot be made.
  bool TakeHeader();
  // Starts a new body piece and reads into it: kBodyDone.
  void ReadBody();
  // Reads more of the body into what is left of the current piece: kBodyDone.
  void ReadMoreBody();
  // True when the socket holds bytes not read yet.
  bool SocketHoldsMore();
  // Cancels the resolve and its timer, closes the stream, drops the header object, gives
  // the open slot back or leaves the queue, and tells the caller's side that the
  // exchange is over.
  void Shut() ZQ_EXCLUDES(mutex_);

  // Tells event to the client, when one is advised, without holding mutex_.
  void Deliver(const ClientEvent& event) ZQ_EXCLUDES(mutex_);

  const std::shared_ptr<HttpServiceCore> core_;

  // The caller's side.
  Common::Mutex mutex_;
  CComPtr<IHttpConnectionClientEvents> sink_ ZQ_GUARDED_BY(mutex_);
  Api api_ ZQ_GUARDED_BY(mutex_) = Api::kNew;
  std::string host_ ZQ_GUARDED_BY(mutex_);
  uint16_t port_ ZQ_GUARDED_BY(mutex_) = 0;
  bool server_set_ ZQ_GUARDED_BY(mutex_) = false;

  // The exchange: connection thread only.
  Phase phase_ = Phase::kNew;
  // What the inputs brought.
  std::optional<HttpEndpoint> server_;     // kOpen: the server set, if any
  std::vector<tcp::endpoint> endpoints_;  // kResolveDone: the addresses found
  std::shared_ptr<Request> request_;      // kSend: the request to write
  int abort_code_ = 0;                    // kAbort: the code to fail with
  bool holds_slot_ = false;               // one of the service's open slots is ours
  // The operations and what they read into.
  tcp::resolver resolver_;
  asio::steady_timer resolve_timer_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::response_parser<http::buffer_body>> parser_;
  std::vector<char> piece_;
  uint64_t max_body_ = 0;  // the body limit of this reply, kept on the bytes received
  CComPtr<IHttpReplyHeaders> headers_;
  HttpReplyProgress progress_;  // what the service's reply observer is told
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
  std::optional<HttpEndpoint> server;
  {
    Common::MutexLock lock(mutex_);
    if (api_ != Api::kNew) return E_UNEXPECTED;
    api_ = Api::kOpening;
    if (server_set_) server = HttpEndpoint{host_, port_};
  }
  auto self = shared_from_this();
  if (!core_->Post([self, server]() {
        self->server_ = server;
        self->Step(Input::kOpen);
      })) {
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
  if (!core_->Post([self, message]() {
        self->request_ = message;
        self->Step(Input::kSend);
      })) {
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
  if (!core_->Post([self]() { self->Step(Input::kContinue); })) return S_FALSE;
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
  // Nothing to do once the service stopped.
  core_->Post([self]() { self->Step(Input::kClose); });
  return S_OK;
}

// ---------------------------------------------------------------- connection thread

void HttpSession::Abort(int code) {
  abort_code_ = code;
  Step(Input::kAbort);
}

bool HttpSession::Admit() {
  if (phase_ != Phase::kQueued || holds_slot_) return false;
  holds_slot_ = true;
  auto self = shared_from_this();
  // Refused only once the service stops: its shutdown then fails this connection,
  // which gives the slot back.
  core_->Post([self]() { self->Step(Input::kAdmit); });
  return true;
}

void HttpSession::Step(Input input, const boost::system::error_code& error) {
  if (phase_ == Phase::kEnded) return;  // nothing happens after the end
  Phase next = phase_;
  ClientEvent event;
  // Ends the exchange with code, told by the event the current phase owes.
  auto fail = [&](int code) {
    next = Phase::kEnded;
    event.kind = FailureEvent(phase_);
    event.error = code;
  };
  // The reply has been read to its end; last is its last piece (null: none).
  auto complete = [&](IHttpBuffer* last) {
    // A connection carries one request: bytes beyond the end of its reply mean that its
    // framing lied (a Content-Length shorter than what the server sent), and a body cut
    // at a false length cannot be trusted.
    if (buffer_.size() > 0 || SocketHoldsMore()) {
      fail(kHttpErrorBadReply);
      return;
    }
    progress_.complete = true;
    core_->ReportReply(progress_);
    next = Phase::kEnded;
    event.kind = ClientEvent::Kind::kComplete;
    event.error = 0;
    event.headers.Attach(headers_.Detach());
    event.piece = last;
  };
  // The exchange has its open slot: connects to the server set, resolving it first
  // when it is a name.
  auto open = [&]() {
    const std::optional<HttpEndpoint> target = Target();
    if (!target || target->host.empty() || target->port == 0) {
      fail(kHttpErrorBadServer);
      return;
    }
    boost::system::error_code not_an_address;
    const asio::ip::address address = asio::ip::make_address(target->host, not_an_address);
    if (!not_an_address) {
      Connect({tcp::endpoint(address, target->port)});
      next = Phase::kConnecting;
    } else {
      Resolve(*target);
      next = Phase::kResolving;
    }
  };

  if (input == Input::kClose || (input == Input::kAbort && phase_ == Phase::kNew)) {
    next = Phase::kEnded;  // closed, or never opened: nobody waits for an event
  } else if (input == Input::kAbort) {
    fail(abort_code_);
  } else {
    switch (phase_) {
      case Phase::kNew:
        if (input != Input::kOpen) break;
        holds_slot_ = core_->TakeSlot(this, weak_from_this());
        if (!holds_slot_) {
          next = Phase::kQueued;
          break;
        }
        open();
        break;
      case Phase::kQueued:
        if (input == Input::kAdmit) open();
        break;
      case Phase::kResolving:
      case Phase::kResolveTimedOut:
        if (input == Input::kResolveTimer) {
          // An error: the timer was cancelled, the resolve has answered.
          if (!error && phase_ == Phase::kResolving) {
            resolver_.cancel();
            next = Phase::kResolveTimedOut;
          }
          break;
        }
        if (input != Input::kResolveDone) break;
        resolve_timer_.cancel();
        if (error) {
          fail(phase_ == Phase::kResolveTimedOut ? kHttpErrorTimedOut : HttpErrorFromBoost(error));
        } else if (endpoints_.empty()) {
          fail(kHttpErrorHostNotFound);
        } else {
          Connect(std::move(endpoints_));
          endpoints_.clear();
          next = Phase::kConnecting;
        }
        break;
      case Phase::kConnecting:
        if (input != Input::kConnectDone) break;
        if (error) {
          fail(HttpErrorFromBoost(error));
          break;
        }
        stream_.expires_never();
        {
          Common::MutexLock lock(mutex_);
          if (api_ == Api::kOpening) api_ = Api::kConnected;
        }
        next = Phase::kConnected;
        event.kind = ClientEvent::Kind::kConnect;
        break;
      case Phase::kConnected:
        if (input != Input::kSend) break;
        Write();
        next = Phase::kWriting;
        break;
      case Phase::kWriting:
        if (input != Input::kWriteDone) break;
        if (error) {
          fail(HttpErrorFromBoost(error));
          break;
        }
        stream_.expires_never();
        next = Phase::kHeaderWait;
        event.kind = ClientEvent::Kind::kSendComplete;
        break;
      case Phase::kHeaderWait:
        if (input != Input::kContinue) break;
        ReadHeader();
        next = Phase::kReadingHeader;
        break;
      case Phase::kReadingHeader:
        if (input != Input::kHeaderDone) break;
        if (error) {
          fail(HttpErrorFromBoost(error));
          break;
        }
        stream_.expires_never();
        if (!TakeHeader()) {
          fail(kHttpErrorOther);
          break;
        }
        next = Phase::kBodyWait;
        event.kind = ClientEvent::Kind::kHeaders;
        event.headers = headers_;
        break;
      case Phase::kBodyWait:
        if (input != Input::kContinue) break;
        if (parser_->is_done()) {
          complete(nullptr);
          break;
        }
        ReadBody();
        next = Phase::kReadingBody;
        break;
      case Phase::kReadingBody: {
        if (input != Input::kBodyDone) break;
        if (error && error != http::error::need_buffer) {  // need_buffer: the piece is full
          fail(HttpErrorFromBoost(error));
          break;
        }
        const size_t room = parser_->get().body().size;
        const size_t received = piece_.size() - room;
        if (received > max_body_ - std::min<uint64_t>(max_body_, progress_.received)) {
          fail(kHttpErrorReplyTooLarge);
          break;
        }
        // While the socket already holds more of the body, the piece is filled before
        // it is reported: every OnData costs the client a Continue round trip.
        if (received > 0 && room > 0 && !parser_->is_done() && SocketHoldsMore()) {
          ReadMoreBody();
          break;
        }
        CComPtr<IHttpBuffer> piece;
        if (received > 0 && FAILED(HttpBuffer::Create(piece_.data(), received, &piece))) {
          fail(kHttpErrorOther);
          break;
        }
        progress_.received += received;
        if (parser_->is_done()) {  // the last piece is reported with the completion
          complete(piece);
          break;
        }
        if (received == 0) {  // only framing was read (a chunk header): read on
          ReadBody();
          break;
        }
        core_->ReportReply(progress_);
        stream_.expires_never();
        next = Phase::kBodyWait;
        event.kind = ClientEvent::Kind::kData;
        event.piece = piece;
        break;
      }
      case Phase::kEnded:
        break;
    }
  }

  if (next == Phase::kEnded) Shut();
  phase_ = next;
  Deliver(event);
}

HttpSession::ClientEvent::Kind HttpSession::FailureEvent(Phase phase) {
  switch (phase) {
    case Phase::kNew:
    case Phase::kQueued:
    case Phase::kResolving:
    case Phase::kResolveTimedOut:
    case Phase::kConnecting:
      return ClientEvent::Kind::kConnect;
    case Phase::kWriting:
      return ClientEvent::Kind::kSendComplete;
    case Phase::kConnected:
    case Phase::kHeaderWait:
    case Phase::kReadingHeader:
    case Phase::kBodyWait:
    case Phase::kReadingBody:
      return ClientEvent::Kind::kComplete;
    case Phase::kEnded:
      break;
  }
  return ClientEvent::Kind::kNothing;
}

std::optional<HttpEndpoint> HttpSession::Target() const {
  if (!server_) return std::nullopt;
  if (auto mapped = core_->ResolverTable().Lookup(server_->host, server_->port)) return mapped;
  return server_;
}

void HttpSession::Resolve(const HttpEndpoint& target) {
  auto self = shared_from_this();
  resolve_timer_.expires_after(StallTimeout());
  resolve_timer_.async_wait([self](const boost::system::error_code& error) {
    self->Step(Input::kResolveTimer, error);
  });
  resolver_.async_resolve(
      target.host, std::to_string(target.port), tcp::resolver::numeric_service,
      [self](const boost::system::error_code& error, const tcp::resolver::results_type& results) {
        self->endpoints_.clear();
        for (const auto& entry : results) self->endpoints_.push_back(entry.endpoint());
        self->Step(Input::kResolveDone, error);
      });
}

void HttpSession::Connect(std::vector<tcp::endpoint> endpoints) {
  auto self = shared_from_this();
  auto list = std::make_shared<std::vector<tcp::endpoint>>(std::move(endpoints));
  stream_.expires_after(StallTimeout());
  stream_.async_connect(*list, [self, list](const boost::system::error_code& error,
                                            const tcp::endpoint&) {
    self->Step(Input::kConnectDone, error);
  });
}

void HttpSession::Write() {
  auto self = shared_from_this();
  stream_.expires_after(StallTimeout());
  http::async_write(stream_, *request_, [self](const boost::system::error_code& error, size_t) {
    self->Step(Input::kWriteDone, error);
  });
}

void HttpSession::ReadHeader() {
  parser_.emplace();
  parser_->body_limit(core_->max_body_bytes.load());
  size_t header_limit = core_->max_header_bytes.load();
  parser_->header_limit(static_cast<std::uint32_t>(std::min<size_t>(header_limit, UINT32_MAX)));
  if (request_->method() == http::verb::head) parser_->skip(true);
  auto self = shared_from_this();
  stream_.expires_after(StallTimeout());
  http::async_read_header(stream_, buffer_, *parser_,
                          [self](const boost::system::error_code& error, size_t) {
                            self->Step(Input::kHeaderDone, error);
                          });
}

bool HttpSession::TakeHeader() {
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
    return false;
  }
  if (FAILED(HttpReplyHeaders::Create(static_cast<int>(parser_->get().result_int()),
                                      std::move(fields), &headers))) {
    return false;
  }
  headers_ = headers;
  progress_.exchange = this;
  progress_.status = static_cast<int>(parser_->get().result_int());
  const auto length = parser_->content_length();
  progress_.content_length = length ? static_cast<int64_t>(*length) : -1;
  core_->ReportReply(progress_);
  return true;
}

void HttpSession::ReadBody() {
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
                          self->Step(Input::kBodyDone, error);
                        });
}

bool HttpSession::SocketHoldsMore() {
  boost::system::error_code ignored;
  return stream_.socket().available(ignored) > 0;
}

void HttpSession::Shut() {
  resolve_timer_.cancel();
  resolver_.cancel();
  stream_.close();
  headers_.Release();
  if (holds_slot_) {
    holds_slot_ = false;
    core_->ReleaseSlot();
  } else if (phase_ == Phase::kQueued) {
    core_->Withdraw(this);
  }
  Common::MutexLock lock(mutex_);
  if (api_ != Api::kClosed) api_ = Api::kDone;
}

void HttpSession::Deliver(const ClientEvent& event) {
  if (event.kind == ClientEvent::Kind::kNothing) return;
  CComPtr<IHttpConnectionClientEvents> client;
  {
    Common::MutexLock lock(mutex_);
    client = sink_;
  }
  if (!client) return;
  switch (event.kind) {
    case ClientEvent::Kind::kConnect:
      client->OnConnect(event.error, nullptr);
      break;
    case ClientEvent::Kind::kSendComplete:
      client->OnSendComplete(event.error, nullptr);
      break;
    case ClientEvent::Kind::kHeaders:
      client->OnHeaders(event.headers, nullptr);
      break;
    case ClientEvent::Kind::kData:
      client->OnData(event.piece, nullptr);
      break;
    case ClientEvent::Kind::kComplete:
      client->OnComplete(event.error, event.headers, event.piece, nullptr);
      break;
    case ClientEvent::Kind::kNothing:
      break;
  }
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
