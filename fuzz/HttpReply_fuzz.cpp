// The host's HTTP reply handling (host/http/HttpConnectionService.h): status line, header
// fields, chunked, length-delimited and close-delimited bodies, from arbitrary bytes.
// A peer on the loopback network inside this process accepts the connection, reads the
// request, writes the input as the reply and closes its side; the client continues
// after every event, as a command's Step does.
//
// Input: one byte choosing the size of the body pieces the service reports (1 to 64
// bytes, so that replies come in many pieces), then the reply.
//
// Checks:
//   - the exchange ends, with exactly one ending event (OnComplete, or an error event)
//     and nothing after it; events come in order (connect, sent, headers, data...,
//     complete) and every piece of body is non-empty;
//   - the peer closed its side, so an exchange never ends by the stall time-out;
//   - a reply the client completes (OnComplete 0) is exactly what Beast reads from the
//     same bytes in one go: the same status and the same body, byte for byte; a reply
//     Beast refuses, or one followed by bytes beyond its end (its framing lied), is
//     never completed, and one Beast reads whole always is.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http.hpp>

#include "fuzz/FuzzSupport.h"
#include "host/http/HttpConnectionService.h"
#include "host/http/HttpErrorCodes.h"
#include "interfaces/CountedString.h"
#include "interfaces/IHttpConnectionClientEvents.h"
#include "platform/atl.h"

namespace {

namespace http = boost::beast::http;
using Velmora::ZQBlog::fuzzing::Violation;
using namespace Velmora::ZQHost;

constexpr int kWaitMs = 5000;
constexpr uint64_t kMaxBody = 1u << 20;
constexpr size_t kMaxHeader = 8192;

// Records every event; sends the request once connected and continues after every
// event that waits for it.
class Client : public CComObjectRootEx<CComMultiThreadModel>, public IHttpConnectionClientEvents {
 public:
  BEGIN_COM_MAP(Client)
  COM_INTERFACE_ENTRY(IHttpConnectionClientEvents)
  END_COM_MAP()

  struct Event {
    char kind;  // 'c'onnect, 's'ent, 'h'eaders, 'd'ata, 'e'nd (OnComplete)
    int error;
    int status;  // of the headers given, -1 for none
    std::string body;
    bool emptyPiece;  // a body object holding no bytes
  };

  void Prepare(IHttpConnection* connection, IHttpRequest* request) {
    connection_ = connection;
    request_ = request;
  }

  STDMETHOD(OnConnect)(int error, void*) override {
    Note('c', error, nullptr, nullptr);
    if (error == 0) connection_->Send(request_, nullptr);
    return S_OK;
  }
  STDMETHOD(OnSendComplete)(int error, void*) override {
    Note('s', error, nullptr, nullptr);
    if (error == 0) connection_->Continue();
    return S_OK;
  }
  STDMETHOD(OnHeaders)(IHttpReplyHeaders* headers, void*) override {
    Note('h', 0, headers, nullptr);
    connection_->Continue();
    return S_OK;
  }
  STDMETHOD(OnData)(IHttpBuffer* body, void*) override {
    Note('d', 0, nullptr, body);
    connection_->Continue();
    return S_OK;
  }
  STDMETHOD(OnComplete)(int error, IHttpReplyHeaders* headers, IHttpBuffer* body,
                        void*) override {
    Note('e', error, headers, body);
    return S_OK;
  }

  // Waits for an event that ends the exchange; false after kWaitMs.
  bool WaitForEnd() {
    std::unique_lock<std::mutex> lock(mutex_);
    return ended_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [this] { return ends_ > 0; });
  }
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  void Note(char kind, int error, IHttpReplyHeaders* headers, IHttpBuffer* body) {
    Event event{kind, error, -1, std::string(), false};
    if (headers != nullptr && FAILED(headers->GetStatusCode(&event.status))) event.status = -2;
    if (body != nullptr) {
      BYTE* data = nullptr;
      int length = 0;
      if (FAILED(body->GetData(&data, &length)) || length <= 0) {
        event.emptyPiece = true;
      } else {
        event.body.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    if (kind == 'e' || error != 0) {
      ++ends_;
      ended_.notify_all();
    }
  }

  IHttpConnection* connection_ = nullptr;
  IHttpRequest* request_ = nullptr;
  std::mutex mutex_;
  std::condition_variable ended_;
  std::vector<Event> events_;
  int ends_ = 0;
};

// A listening socket on 127.0.0.77 (an address of the loopback network that other
// programs on this machine do not dial: none of theirs reaches this peer) and a free
// port.
constexpr char kPeerAddress[] = "127.0.0.77";

struct Peer {
  Peer() {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, kPeerAddress, &address.sin_addr);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      Violation("no loopback listener");
    }
    port = ntohs(address.sin_port);
  }
  int listener = -1;
  uint16_t port = 0;
};

// Whether fd becomes readable within kWaitMs. The fuzzer's own timer (SIGALRM, for
// -timeout) interrupts poll now and then: it waits on for the time left.
bool Readable(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
    if (ready >= 0 || errno != EINTR) return ready == 1;
  }
}

// read, send and accept, taken up again when the fuzzer's timer interrupts them.
ssize_t ReadSome(int fd, char* buffer, size_t size) {
  ssize_t n;
  do {
    n = read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}
ssize_t SendSome(int fd, const char* data, size_t size) {
  ssize_t n;
  do {
    n = send(fd, data, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n;
}
int AcceptOne(int listener) {
  int fd;
  do {
    fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Reads a request head from fd; false when none comes.
bool ReadRequestHead(int fd, std::string* head) {
  char buffer[4096];
  while (head->find("\r\n\r\n") == std::string::npos) {
    if (!Readable(fd)) return false;
    const ssize_t n = ReadSome(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    head->append(buffer, static_cast<size_t>(n));
  }
  return true;
}

// Answers this run's connection (its request carries marker): reads the request head,
// writes reply, closes the writing side, then reads until the client has closed. Null
// when it did, else what went wrong.
const char* Answer(int listener, const std::string& marker, const std::string& reply) {
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    if (attempt == 3) return "three connections in a row without this run's request";
    if (!Readable(listener)) return "the client never connected";
    fd = AcceptOne(listener);
    if (fd < 0) Violation("accept failed");
    std::string head;
    if (!ReadRequestHead(fd, &head) || head.find(marker) == std::string::npos) {
      close(fd);  // not this run's request
      fd = -1;
    }
  }
  for (size_t done = 0; done < reply.size();) {
    const ssize_t n = SendSome(fd, reply.data() + done, reply.size() - done);
    if (n <= 0) break;  // the client gave up on the reply and closed
    done += static_cast<size_t>(n);
  }
  shutdown(fd, SHUT_WR);
  char buffer[4096];
  while (Readable(fd) && ReadSome(fd, buffer, sizeof buffer) > 0) {
  }
  // The client has closed: a reset instead of a FIN leaves no TIME_WAIT behind, which
  // tens of thousands of exchanges a minute would otherwise pile up on the port.
  const linger reset{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(fd);
  return nullptr;
}

// What Beast reads from the reply in one go: the status, the body and how many bytes
// follow the reply's end, or false when it refuses the bytes or they end before the
// reply does.
bool ReadInOneGo(const std::string& reply, int* status, std::string* body, size_t* beyond) {
  http::response_parser<http::string_body> parser;
  // Eager only once the header is read: an eager put runs on past a Content-Length
  // over the body limit and has the string body reserve all of it.
  parser.eager(false);
  parser.body_limit(kMaxBody);
  parser.header_limit(static_cast<std::uint32_t>(kMaxHeader));
  boost::beast::error_code error;
  size_t used = 0;
  while (!parser.is_done() && used < reply.size()) {
    const size_t n =
        parser.put(boost::asio::buffer(reply.data() + used, reply.size() - used), error);
    used += n;
    if (parser.is_header_done()) parser.eager(true);
    if (error == http::error::need_more) {
      error = {};
      if (n == 0) break;
      continue;
    }
    if (error) return false;
  }
  if (!parser.is_done()) {
    if (!parser.got_some()) return false;  // nothing came at all
    parser.put_eof(error);
    if (error || !parser.is_done()) return false;
  }
  *status = static_cast<int>(parser.get().result_int());
  *body = parser.get().body();
  *beyond = reply.size() - used;
  return true;
}

HttpConnectionService& Service() {
  static HttpConnectionService* service = [] {
    HttpServiceOptions options;
    options.stall_timeout = std::chrono::milliseconds(2 * kWaitMs);
    options.max_body_bytes = kMaxBody;
    options.max_header_bytes = kMaxHeader;
    return new HttpConnectionService(options);  // lives as long as the process
  }();
  return *service;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static Peer peer;
  HttpConnectionService& service = Service();
  service.SetReadPieceBytes(1 + data[0] % 64);
  const std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);

  // Every run's request carries a number of its own, so the peer answers no other.
  static uint64_t runs = 0;
  const std::string marker = std::to_string(getpid()) + "-" + std::to_string(++runs);
  CComPtr<IHttpConnectionFactory> factory;
  CComPtr<IHttpConnection> connection;
  CComPtr<IHttpRequest> request;
  if (FAILED(service.GetFactory(&factory)) ||
      FAILED(factory->CreateConnection(0, nullptr, &connection)) ||
      FAILED(factory->CreateRequest(&request, MakeCountedString("GET"), MakeCountedString("/"),
                                    MakeCountedString("1.1"))) ||
      FAILED(request->AddHeader(MakeCountedString("X-Fuzz-Run"),
                                MakeCountedString(marker.c_str())))) {
    Violation("the HTTP service makes no connection");
  }
  CComObject<Client>* made = nullptr;
  CComObject<Client>::CreateInstance(&made);
  CComPtr<CComObject<Client>> client(made);
  client->Prepare(connection, request);
  if (FAILED(connection->Advise(client)) ||
      FAILED(connection->SetServer(MakeCountedString(kPeerAddress), peer.port)) ||
      FAILED(connection->Open())) {
    Violation("the connection does not open");
  }
  if (const char* problem = Answer(peer.listener, marker, reply)) {
    for (const Client::Event& event : client->Events()) {
      std::fprintf(stderr, "event %c error %08x\n", event.kind,
                   static_cast<unsigned>(event.error));
    }
    Violation(problem);
  }
  if (!client->WaitForEnd()) Violation("the exchange did not end");
  connection->Unadvise(client);
  connection->Close();

  const std::vector<Client::Event> events = client->Events();
  // connect, sent, headers, data..., end; an error ends it where it happens.
  std::string kinds;
  std::string body;
  for (size_t i = 0; i < events.size(); ++i) {
    const Client::Event& event = events[i];
    const bool ending = event.kind == 'e' || event.error != 0;
    if (ending != (i + 1 == events.size())) {
      Violation("an event came after the exchange ended, or none ended it");
    }
    if (event.error == kHttpErrorTimedOut) Violation("stalled although the peer closed");
    if (event.kind == 'd') {
      if (event.emptyPiece) Violation("an empty piece of body was reported");
      body += event.body;
    }
    kinds += event.kind;
  }
  const size_t afterData = kinds.find_first_not_of('d', 3);
  const bool ordered = kinds == "c" || kinds == "cs" || kinds == "cse" ||
                       (kinds.compare(0, 3, "csh") == 0 && afterData == kinds.size() - 1 &&
                        kinds.back() == 'e');
  if (!ordered) Violation("events out of order");
  const Client::Event& end = events.back();
  int status = 0;
  std::string expected;
  size_t beyond = 0;
  const bool readable = ReadInOneGo(reply, &status, &expected, &beyond);
  // A connection carries one reply: bytes beyond its end mean its framing lied.
  const bool whole = readable && beyond == 0;
  if (end.kind == 'e' && end.error == 0) {
    if (!whole) Violation("the client completed a reply refused, or with bytes beyond its end");
    body += end.body;
    if (end.status != status) Violation("the completed reply has another status");
    if (body != expected) Violation("the completed reply has another body");
  } else if (whole) {
    Violation("a reply Beast reads whole ended in an error");
  }
  return 0;
}
