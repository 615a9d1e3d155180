#include "host/http/HttpConnectionService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/http/HttpErrorCodes.h"
#include "host/test/HttpTestClient.h"
#include "host/test/TestHttpServer.h"
#include "interfaces/IStringSetter.h"

namespace Velmora {
namespace ZQHost {
namespace {

namespace http = boost::beast::http;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr milliseconds kWait = seconds(10);

// Receives one header value, as the plug-in's setter does.
class TextSetter : public CComObjectRootEx<CComMultiThreadModel>, public IStringSetter {
 public:
  BEGIN_COM_MAP(TextSetter)
  COM_INTERFACE_ENTRY(IStringSetter)
  END_COM_MAP()
  STDMETHOD(SetString)(int length, const BYTE* data) override {
    calls++;
    text.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    return S_OK;
  }
  std::string text;
  int calls = 0;
};

CComPtr<CComObject<TextSetter>> MakeSetter() {
  CComObject<TextSetter>* setter = nullptr;
  CComObject<TextSetter>::CreateInstance(&setter);
  return CComPtr<CComObject<TextSetter>>(setter);
}

std::string HeaderText(IHttpReplyHeaders* headers, const char* name, HRESULT* result) {
  auto setter = MakeSetter();
  *result = headers->GetHeader(name, setter);
  return setter->text;
}

TestHttpServer::Response MakeResponse(http::status status, const std::string& body) {
  TestHttpServer::Response response(status, 11);
  response.body() = body;
  return response;
}

class HttpConnectionServiceTest : public ::testing::Test {
 protected:
  HttpConnectionServiceTest() { service_.GetFactory(&factory_); }

  // A connection to 127.0.0.1:port with client advised (continuing on its own).
  CComPtr<IHttpConnection> Connect(HttpTestClient* client, const char* host, uint16_t port,
                                   bool auto_continue = true) {
    CComPtr<IHttpConnection> connection;
    EXPECT_EQ(S_OK, factory_->CreateConnection(0, nullptr, &connection));
    EXPECT_EQ(S_OK, connection->Advise(client));
    if (auto_continue) client->AutoContinue(connection);
    EXPECT_EQ(S_OK, connection->SetServer(MakeCountedString(host), port));
    EXPECT_EQ(S_OK, connection->Open());
    return connection;
  }

  CComPtr<IHttpRequest> MakeRequest(const char* method, const char* path) {
    CComPtr<IHttpRequest> request;
    EXPECT_EQ(S_OK, factory_->CreateRequest(&request, MakeCountedString(method),
                                            MakeCountedString(path), MakeCountedString("1.1")));
    return request;
  }

  // Connects, sends method path (with body when not null) and waits for the end.
  void RunExchange(HttpTestClient* client, const char* host, uint16_t port, const char* method,
                   const char* path, const std::string* body = nullptr) {
    CComPtr<IHttpConnection> connection = Connect(client, host, port);
    ASSERT_TRUE(client->WaitForCount(1, kWait));
    ASSERT_EQ(0, client->Events()[0].error) << "connect failed";
    CComPtr<IHttpRequest> request = MakeRequest(method, path);
    CComPtr<IHttpBuffer> buffer;
    if (body != nullptr) {
      ASSERT_EQ(S_OK, factory_->CreateBuffer(&buffer));
      ASSERT_EQ(S_OK, buffer->SetData(reinterpret_cast<const BYTE*>(body->data()),
                                      static_cast<int>(body->size())));
    }
    ASSERT_EQ(S_OK, connection->Send(request, buffer));
    ASSERT_TRUE(client->WaitForEnd(kWait)) << client->Kinds();
    connection->Unadvise(client);
    connection->Close();
  }

  HttpConnectionService service_;
  CComPtr<IHttpConnectionFactory> factory_;
};

// ---------------------------------------------------------------- factory objects

TEST_F(HttpConnectionServiceTest, FactoryReservedSlotsAnswerNotImplemented) {
  EXPECT_EQ(E_NOTIMPL, factory_->Reserved1());
  EXPECT_EQ(E_NOTIMPL, factory_->Reserved3());
  EXPECT_EQ(E_NOTIMPL, factory_->Reserved5());
  CComPtr<IHttpConnection> connection;
  ASSERT_EQ(S_OK, factory_->CreateConnection(0, nullptr, &connection));
  EXPECT_EQ(E_NOTIMPL, connection->Reserved4());
  CComPtr<IHttpRequest> request = MakeRequest("GET", "/");
  EXPECT_EQ(E_NOTIMPL, request->Reserved1());
  EXPECT_EQ(E_NOTIMPL, request->Reserved2());
  CComPtr<IHttpBuffer> buffer;
  ASSERT_EQ(S_OK, factory_->CreateBuffer(&buffer));
  EXPECT_EQ(E_NOTIMPL, buffer->Reserved2());
}

TEST_F(HttpConnectionServiceTest, FactoryAnswersItsOwnInterfaceIds) {
  CComPtr<IHttpConnectionFactory> again;
  EXPECT_EQ(S_OK, factory_.QueryInterface(&again));
  CComPtr<IHttpConnection> connection;
  ASSERT_EQ(S_OK, factory_->CreateConnection(0, nullptr, &connection));
  CComPtr<IHttpConnection> same;
  EXPECT_EQ(S_OK, connection.QueryInterface(&same));
  EXPECT_EQ(connection.p, same.p);
  CComPtr<IHttpBuffer> wrong;
  EXPECT_EQ(E_NOINTERFACE, connection.QueryInterface(&wrong));
  EXPECT_EQ(nullptr, wrong.p);
}

TEST_F(HttpConnectionServiceTest, CreateRequestRefusesWhatCouldSplitTheRequest) {
  struct Case {
    const char* method;
    const char* path;
    const char* version;
  } bad[] = {{"GET", "/a b", "1.1"},  {"GET", "/a\r\nX: y", "1.1"}, {"GET", "", "1.1"},
             {"GE T", "/", "1.1"},    {"GET\r\n", "/", "1.1"},     {"GET", "/", "2.0"},
             {"GET", "/", ""}};
  for (const auto& c : bad) {
    IHttpRequest* request = reinterpret_cast<IHttpRequest*>(0x1);
    EXPECT_EQ(E_INVALIDARG,
              factory_->CreateRequest(&request, MakeCountedString(c.method),
                                      MakeCountedString(c.path), MakeCountedString(c.version)))
        << c.method << " " << c.path << " " << c.version;
    EXPECT_EQ(nullptr, request);
  }
  CComPtr<IHttpRequest> request;
  EXPECT_EQ(S_OK, factory_->CreateRequest(&request, MakeCountedString(""), MakeCountedString("/"),
                                          MakeCountedString("1.0")));
  CComPtr<IHttpRequest> refused;
  EXPECT_EQ(E_INVALIDARG, factory_->CreateRequest(&refused, CountedString{-1, ""},
                                                  MakeCountedString("/"),
                                                  MakeCountedString("1.1")));
  EXPECT_EQ(E_POINTER, factory_->CreateRequest(&refused, CountedString{2, nullptr},
                                               MakeCountedString("/"),
                                               MakeCountedString("1.1")));
  EXPECT_EQ(E_POINTER, factory_->CreateRequest(nullptr, MakeCountedString("GET"),
                                               MakeCountedString("/"), MakeCountedString("1.1")));
}

TEST_F(HttpConnectionServiceTest, AddHeaderRefusesBadNamesAndValues) {
  CComPtr<IHttpRequest> request = MakeRequest("GET", "/");
  EXPECT_EQ(E_INVALIDARG, request->AddHeader(MakeCountedString("X-A"),
                                             MakeCountedString("v\r\nInjected: 1")));
  EXPECT_EQ(E_INVALIDARG, request->AddHeader(MakeCountedString("Bad Name"), MakeCountedString("v")));
  EXPECT_EQ(E_INVALIDARG, request->AddHeader(MakeCountedString(""), MakeCountedString("v")));
  EXPECT_EQ(E_INVALIDARG, request->AddHeader(CountedString{3, "X-A"}, CountedString{-2, ""}));
  EXPECT_EQ(E_POINTER, request->AddHeader(CountedString{3, nullptr}, MakeCountedString("v")));
  EXPECT_EQ(S_OK, request->AddHeader(MakeCountedString("X-Empty"), MakeCountedString(nullptr)));
  EXPECT_EQ(S_OK, request->AddHeader(MakeCountedString("X-Tab"), MakeCountedString("a\tb")));
}

TEST_F(HttpConnectionServiceTest, BufferCopiesAndReportsItsLength) {
  CComPtr<IHttpBuffer> buffer;
  ASSERT_EQ(S_OK, factory_->CreateBuffer(&buffer));
  int length = -1;
  BYTE* data = nullptr;
  ASSERT_EQ(S_OK, buffer->GetData(&data, &length));
  EXPECT_EQ(0, length);
  EXPECT_NE(nullptr, data);  // an empty buffer still gives a pointer one may copy 0 bytes from

  char source[] = "hello";
  ASSERT_EQ(S_OK, buffer->SetData(reinterpret_cast<BYTE*>(source), 5));
  source[0] = 'J';  // the buffer holds its own copy
  length = 0;
  ASSERT_EQ(S_OK, buffer->GetData(nullptr, &length));  // the length alone
  EXPECT_EQ(5, length);
  ASSERT_EQ(S_OK, buffer->GetData(&data, &length));
  EXPECT_EQ("hello", std::string(reinterpret_cast<char*>(data), 5));

  EXPECT_EQ(E_INVALIDARG, buffer->SetData(reinterpret_cast<BYTE*>(source), -1));
  EXPECT_EQ(E_POINTER, buffer->SetData(nullptr, 3));
  EXPECT_EQ(E_POINTER, buffer->GetData(&data, nullptr));
  EXPECT_EQ(S_OK, buffer->SetData(nullptr, 0));
  ASSERT_EQ(S_OK, buffer->GetData(nullptr, &length));
  EXPECT_EQ(0, length);
}

// ---------------------------------------------------------------- exchanges

TEST_F(HttpConnectionServiceTest, GetReportsEventsInOrderOnTheConnectionThread) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    auto response = MakeResponse(http::status::ok, "<categories/>");
    response.set("Content-Type", "text/xml; charset=utf-8");
    exchange.Reply(response);
  });
  auto client = HttpTestClient::Create();
  RunExchange(client, "127.0.0.1", server.Port(), "GET", "/touch3/10001");

  EXPECT_EQ("connect sent headers complete", client->Kinds());
  EXPECT_EQ("<categories/>", client->Body());
  for (const auto& event : client->Events()) {
    EXPECT_EQ(0, event.error) << event.kind;
    EXPECT_EQ(service_.ConnectionThreadId(), event.thread) << event.kind;
  }
  // The header object comes with OnHeaders and again with OnComplete.
  auto events = client->Events();
  ASSERT_NE(nullptr, events[2].headers.p);
  EXPECT_EQ(events[2].headers.p, events[3].headers.p);
  int status = 0;
  EXPECT_EQ(S_OK, events[3].headers->GetStatusCode(&status));
  EXPECT_EQ(200, status);

  auto requests = server.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(http::verb::get, requests[0].method());
  EXPECT_EQ("/touch3/10001", requests[0].target());
  EXPECT_EQ(11, requests[0].version());
  // No Host from the command: the server name and port go out.
  EXPECT_EQ("127.0.0.1:" + std::to_string(server.Port()), requests[0][http::field::host]);
  EXPECT_EQ(requests[0].end(), requests[0].find(http::field::content_length));
}

TEST_F(HttpConnectionServiceTest, PostSendsHeadersInOrderAndTheBodyWithItsLength) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.Reply(MakeResponse(http::status::ok, "<result message=\"success\"/>"));
  });
  auto client = HttpTestClient::Create();
  CComPtr<IHttpConnection> connection = Connect(client, "127.0.0.1", server.Port());
  ASSERT_TRUE(client->WaitForCount(1, kWait));
  CComPtr<IHttpRequest> request = MakeRequest("POST", "/api/create_category");
  ASSERT_EQ(S_OK, request->AddHeader(MakeCountedString("Content-Type"),
                                     MakeCountedString("application/x-www-form-urlencoded")));
  ASSERT_EQ(S_OK, request->AddHeader(MakeCountedString("Cookie"),
                                     MakeCountedString("uin=10001; sig=ab")));
  ASSERT_EQ(S_OK, request->AddHeader(MakeCountedString("Host"),
                                     MakeCountedString("post.velmora.cn")));
  // A wrong length from the command is replaced by the body's real one.
  ASSERT_EQ(S_OK, request->AddHeader(MakeCountedString("Content-Length"), MakeCountedString("3")));
  const std::string body = "uin=10001&category_name=%E6%97%85";
  CComPtr<IHttpBuffer> buffer;
  ASSERT_EQ(S_OK, factory_->CreateBuffer(&buffer));
  ASSERT_EQ(S_OK, buffer->SetData(reinterpret_cast<const BYTE*>(body.data()),
                                  static_cast<int>(body.size())));
  ASSERT_EQ(S_OK, connection->Send(request, buffer));
  // Both are copied by Send: changing them now changes nothing on the wire.
  buffer->SetData(reinterpret_cast<const BYTE*>("x"), 1);
  request->AddHeader(MakeCountedString("X-Late"), MakeCountedString("1"));
  ASSERT_TRUE(client->WaitForEnd(kWait));
  connection->Close();

  EXPECT_EQ("connect sent headers complete", client->Kinds());
  EXPECT_EQ("<result message=\"success\"/>", client->Body());
  auto requests = server.Requests();
  ASSERT_EQ(1u, requests.size());
  const auto& received = requests[0];
  EXPECT_EQ(http::verb::post, received.method());
  EXPECT_EQ(body, received.body());
  EXPECT_EQ(std::to_string(body.size()), received[http::field::content_length]);
  EXPECT_EQ("post.velmora.cn", received[http::field::host]);  // the command's own Host stays
  EXPECT_EQ(received.end(), received.find("X-Late"));
  std::vector<std::string> names;
  for (const auto& field : received) names.push_back(std::string(field.name_string()));
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ("Content-Type", names[0]);
  EXPECT_EQ("Cookie", names[1]);
  EXPECT_EQ("Host", names[2]);
}

TEST_F(HttpConnectionServiceTest, NothingIsReadUntilContinue) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.Reply(MakeResponse(http::status::ok, "body"));
  });
  auto client = HttpTestClient::Create();
  CComPtr<IHttpConnection> connection = Connect(client, "127.0.0.1", server.Port(), false);
  ASSERT_TRUE(client->WaitForCount(1, kWait));
  EXPECT_EQ(E_UNEXPECTED, connection->Continue());  // nothing sent yet
  ASSERT_EQ(S_OK, connection->Send(MakeRequest("GET", "/"), nullptr));
  ASSERT_TRUE(client->WaitForCount(2, kWait));
  // The reply is on its way, but the connection waits for the client.
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ("connect sent", client->Kinds());
  ASSERT_EQ(S_OK, connection->Continue());
  ASSERT_TRUE(client->WaitForCount(3, kWait));
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ("connect sent headers", client->Kinds());
  ASSERT_EQ(S_OK, connection->Continue());
  ASSERT_TRUE(client->WaitForEnd(kWait));
  EXPECT_EQ("connect sent headers complete", client->Kinds());
  EXPECT_EQ("body", client->Body());
  EXPECT_EQ(S_FALSE, connection->Continue());  // the exchange is over
  connection->Close();
}

TEST_F(HttpConnectionServiceTest, ChunkedBodyArrivesInPiecesOnePerContinue) {
  service_.SetReadPieceBytes(16);
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.WriteRaw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    const char* chunks[] = {"<resources>", "<resource id=\"501\"/>", "</resources>"};
    for (const char* chunk : chunks) {
      char size[24];
      std::snprintf(size, sizeof(size), "%zx\r\n", std::strlen(chunk));
      exchange.WriteRaw(std::string(size) + chunk + "\r\n");
      std::this_thread::sleep_for(milliseconds(50));
    }
    exchange.WriteRaw("0\r\n\r\n");
  });
  auto client = HttpTestClient::Create();
  RunExchange(client, "127.0.0.1", server.Port(), "GET", "/album/12.xml");

  EXPECT_EQ("<resources><resource id=\"501\"/></resources>", client->Body());
  auto events = client->Events();
  ASSERT_GE(events.size(), 5u);
  EXPECT_EQ("connect", events[0].kind);
  EXPECT_EQ("sent", events[1].kind);
  EXPECT_EQ("headers", events[2].kind);
  EXPECT_EQ("complete", events.back().kind);
  EXPECT_EQ(0, events.back().error);
  size_t pieces = 0;
  for (size_t i = 3; i + 1 < events.size(); ++i) {
    EXPECT_EQ("data", events[i].kind);
    EXPECT_FALSE(events[i].body.empty());
    EXPECT_LE(events[i].body.size(), 16u);
    pieces++;
  }
  EXPECT_GE(pieces, 3u);  // 43 bytes in pieces of at most 16
}

TEST_F(HttpConnectionServiceTest, BodyAlreadyReceivedFillsAPieceAcrossSocketReads) {
  // The body waits in the socket before the client continues. One socket read takes at
  // most 64 KiB; the piece is filled by further reads while the socket holds more,
  // instead of one OnData (and one Continue round trip) per read.
  service_.SetReadPieceBytes(200000);
  const std::string body(150000, 'b');
  TestHttpServer server([&body](TestHttpServer::Exchange& exchange) {
    exchange.Reply(MakeResponse(http::status::ok, body));
  });
  auto client = HttpTestClient::Create();
  CComPtr<IHttpConnection> connection = Connect(client, "127.0.0.1", server.Port(), false);
  ASSERT_TRUE(client->WaitForCount(1, kWait));
  ASSERT_EQ(S_OK, connection->Send(MakeRequest("GET", "/"), nullptr));
  ASSERT_TRUE(client->WaitForCount(2, kWait));
  ASSERT_EQ(S_OK, connection->Continue());
  ASSERT_TRUE(client->WaitForCount(3, kWait));  // the headers
  std::this_thread::sleep_for(milliseconds(300));  // the body arrives meanwhile
  for (size_t seen = 3; !client->WaitForEnd(milliseconds(0)); ++seen) {
    ASSERT_EQ(S_OK, connection->Continue());
    ASSERT_TRUE(client->WaitForCount(seen + 1, kWait));
  }
  EXPECT_EQ(body, client->Body());
  auto events = client->Events();
  ASSERT_GE(events.size(), 4u);
  ASSERT_EQ("headers", events[2].kind);
  EXPECT_GT(events[3].body.size(), 65536u);
  EXPECT_LE(events[3].body.size(), 200000u);
  connection->Close();
}

TEST_F(HttpConnectionServiceTest, NotModifiedReplyHasHeadersAndNoBody) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    TestHttpServer::Response response(http::status::not_modified, 11);
    response.set("Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT");
    response.set("X-Twice", "first");
    response.insert("X-Twice", "second");
    exchange.Reply(response);
  });
  auto client = HttpTestClient::Create();
  RunExchange(client, "127.0.0.1", server.Port(), "GET", "/albums.xml");

  EXPECT_EQ("connect sent headers complete", client->Kinds());
  auto events = client->Events();
  ASSERT_EQ(4u, events.size());
  EXPECT_FALSE(events[3].had_body);  // OnComplete with a null buffer
  IHttpReplyHeaders* headers = events[3].headers;
  ASSERT_NE(nullptr, headers);
  int status = 0;
  EXPECT_EQ(S_OK, headers->GetStatusCode(&status));
  EXPECT_EQ(304, status);
  HRESULT hr = E_FAIL;
  EXPECT_EQ("Tue, 01 Dec 2026 10:00:00 GMT", HeaderText(headers, "last-modified", &hr));
  EXPECT_EQ(S_OK, hr);
  EXPECT_EQ("Tue, 01 Dec 2026 10:00:00 GMT", HeaderText(headers, "LAST-MODIFIED", &hr));
  EXPECT_EQ("first", HeaderText(headers, "x-twice", &hr));
  auto setter = MakeSetter();
  EXPECT_EQ(S_FALSE, headers->GetHeader("ETag", setter));
  EXPECT_EQ(0, setter->calls);  // an absent field leaves the setter alone
  EXPECT_EQ(E_POINTER, headers->GetHeader(nullptr, setter));
  EXPECT_EQ(E_POINTER, headers->GetHeader("ETag", nullptr));
  EXPECT_EQ(E_POINTER, headers->GetStatusCode(nullptr));
}

TEST_F(HttpConnectionServiceTest, ErrorStatusIsAReplyNotAnError) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.Reply(MakeResponse(http::status::not_found, "404"));
  });
  auto client = HttpTestClient::Create();
  RunExchange(client, "127.0.0.1", server.Port(), "GET", "/album/99.xml");
  auto events = client->Events();
  ASSERT_EQ("complete", events.back().kind);
  EXPECT_EQ(0, events.back().error);
  int status = 0;
  events.back().headers->GetStatusCode(&status);
  EXPECT_EQ(404, status);
  EXPECT_EQ("404", client->Body());
}

TEST_F(HttpConnectionServiceTest, RequestWithEmptyMethodEndsInAnError) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.Reply(MakeResponse(http::status::ok, "unexpected"));
  });
  auto client = HttpTestClient::Create();
  RunExchange(client, "127.0.0.1", server.Port(), "", "/x");
  auto events = client->Events();
  EXPECT_NE(0, events.back().error) << client->Kinds();
  EXPECT_TRUE(server.Requests().empty());
}

// ---------------------------------------------------------------- failures

TEST_F(HttpConnectionServiceTest, RefusedConnectionReportsOnConnectErrorAndNothingMore) {
  uint16_t port = 0;
  {
    // A port that was free a moment ago: nothing listens there now.
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor(
        io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    port = acceptor.local_endpoint().port();
  }
  auto client = HttpTestClient::Create();
  CComPtr<IHttpConnection> connection = Connect(client, "127.0.0.1", port);
  ASSERT_TRUE(client->WaitForEnd(kWait));
  std::this_thread::sleep_for(milliseconds(200));
  auto events = client->Events();
  ASSERT_EQ(1u, events.size()) << client->Kinds();
  EXPECT_EQ("connect", events[0].kind);
  EXPECT_EQ(kHttpErrorConnectionRefused, events[0].error);
  EXPECT_EQ(E_UNEXPECTED, connection->Send(MakeRequest("GET", "/"), nullptr));
}

TEST_F(HttpConnectionServiceTest, StalledServerTimesOut) {
  service_.SetStallTimeout(seconds(1));
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.WaitForStop(seconds(30));  // reads the request, never answers
  });
  auto client = HttpTestClient::Create();
  auto start = std::chrono::steady_clock::now();
  RunExchange(client, "127.0.0.1", server.Port(), "GET", "/slow");
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ("connect sent complete", client->Kinds());
  EXPECT_EQ(kHttpErrorTimedOut, client->Events().back().error);
  EXPECT_GE(elapsed, milliseconds(900));
  EXPECT_LT(elapsed, seconds(8));
}

TEST_F(HttpConnectionServiceTest, StallInTheMiddleOfTheBodyTimesOut) {
  service_.SetStallTimeout(seconds(1));
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.WriteRaw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part");
    exchange.WaitForStop(seconds(30));
  });
  auto client = HttpTestClient::Create();
  RunExchange(client, "127.0.0.1", server.Port(), "GET", "/slow");
  EXPECT_EQ("connect sent headers data complete", client->Kinds());
  EXPECT_EQ("only part", client->Body());
  EXPECT_EQ(kHttpErrorTimedOut, client->Events().back().error);
}

TEST_F(HttpConnectionServiceTest, DeclaredBodyAboveTheLimitIsRefusedBeforeAnyData) {
  service_.SetMaxBodyBytes(1024);
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.Reply(MakeResponse(http::status::ok, std::string(2048, 'x')));
  });
  auto client = HttpTestClient::Create();
  RunExchange(client, "127.0.0.1", server.Port(), "GET", "/big");
  EXPECT_EQ("connect sent complete", client->Kinds());
  EXPECT_EQ(kHttpErrorReplyTooLarge, client->Events().back().error);
  EXPECT_EQ("", client->Body());
}

TEST_F(HttpConnectionServiceTest, ChunkedBodyAboveTheLimitFailsWhenItCrossesIt) {
  service_.SetMaxBodyBytes(1024);
  service_.SetReadPieceBytes(256);
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.WriteRaw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    for (int i = 0; i < 8; ++i) exchange.WriteRaw("100\r\n" + std::string(256, 'y') + "\r\n");
    exchange.WriteRaw("0\r\n\r\n");
  });
  auto client = HttpTestClient::Create();
  RunExchange(client, "127.0.0.1", server.Port(), "GET", "/big");
  auto events = client->Events();
  EXPECT_EQ("complete", events.back().kind);
  EXPECT_EQ(kHttpErrorReplyTooLarge, events.back().error);
  EXPECT_LE(client->Body().size(), 1024u);
}

TEST_F(HttpConnectionServiceTest, BodyReadToTheEndInSmallPiecesIsHeldToTheLimitByItsBytes) {
  // The socket holds far more than a piece: the limit must count what was received.
  service_.SetMaxBodyBytes(8192);
  service_.SetReadPieceBytes(16);
  const std::string body(6000, 'z');
  TestHttpServer server([&body](TestHttpServer::Exchange& exchange) {
    exchange.WriteRaw("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body);
  });
  auto client = HttpTestClient::Create();
  RunExchange(client, "127.0.0.1", server.Port(), "GET", "/close-delimited");
  EXPECT_EQ(0, client->Events().back().error);
  EXPECT_EQ(body.size(), client->Body().size());
  EXPECT_TRUE(client->Body() == body);

  service_.SetMaxBodyBytes(5000);
  TestHttpServer larger([&body](TestHttpServer::Exchange& exchange) {
    exchange.WriteRaw("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body);
  });
  auto refused = HttpTestClient::Create();
  RunExchange(refused, "127.0.0.1", larger.Port(), "GET", "/close-delimited");
  EXPECT_EQ(kHttpErrorReplyTooLarge, refused->Events().back().error);
  EXPECT_LE(refused->Body().size(), 5000u);
}

TEST(HttpConnectionServiceLimitTest, HeaderAboveTheLimitIsRefused) {
  HttpServiceOptions options;
  options.max_header_bytes = 512;
  HttpConnectionService service(options);
  CComPtr<IHttpConnectionFactory> factory;
  ASSERT_EQ(S_OK, service.GetFactory(&factory));
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    auto response = MakeResponse(http::status::ok, "x");
    response.set("X-Padding", std::string(1024, 'p'));
    exchange.Reply(response);
  });
  auto client = HttpTestClient::Create();
  CComPtr<IHttpConnection> connection;
  ASSERT_EQ(S_OK, factory->CreateConnection(0, nullptr, &connection));
  connection->Advise(client);
  client->AutoContinue(connection);
  connection->SetServer(MakeCountedString("127.0.0.1"), server.Port());
  connection->Open();
  ASSERT_TRUE(client->WaitForCount(1, kWait));
  CComPtr<IHttpRequest> request;
  factory->CreateRequest(&request, MakeCountedString("GET"), MakeCountedString("/"),
                         MakeCountedString("1.1"));
  ASSERT_EQ(S_OK, connection->Send(request, nullptr));
  ASSERT_TRUE(client->WaitForEnd(kWait));
  connection->Close();
  EXPECT_EQ("connect sent complete", client->Kinds());
  EXPECT_EQ(kHttpErrorReplyTooLarge, client->Events().back().error);
}

TEST_F(HttpConnectionServiceTest, ReplyCutShortIsAnError) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.WriteRaw("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort");
  });
  auto client = HttpTestClient::Create();
  RunExchange(client, "127.0.0.1", server.Port(), "GET", "/cut");
  EXPECT_EQ(kHttpErrorConnectionClosed, client->Events().back().error) << client->Kinds();
}

TEST_F(HttpConnectionServiceTest, MalformedReplyIsAnError) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.WriteRaw("SPDY/9 banana\r\n\r\n");
  });
  auto client = HttpTestClient::Create();
  RunExchange(client, "127.0.0.1", server.Port(), "GET", "/bad");
  EXPECT_EQ("connect sent complete", client->Kinds());
  EXPECT_EQ(kHttpErrorBadReply, client->Events().back().error);
}

TEST_F(HttpConnectionServiceTest, OpenWithoutServerReportsBadServer) {
  auto client = HttpTestClient::Create();
  CComPtr<IHttpConnection> connection;
  ASSERT_EQ(S_OK, factory_->CreateConnection(0, nullptr, &connection));
  ASSERT_EQ(S_OK, connection->Advise(client));
  ASSERT_EQ(S_OK, connection->Open());
  ASSERT_TRUE(client->WaitForEnd(kWait));
  EXPECT_EQ("connect", client->Kinds());
  EXPECT_EQ(kHttpErrorBadServer, client->Events()[0].error);
  connection->Close();
}

TEST_F(HttpConnectionServiceTest, CallsOutOfOrderAreRefused) {
  CComPtr<IHttpConnection> connection;
  ASSERT_EQ(S_OK, factory_->CreateConnection(0, nullptr, &connection));
  EXPECT_EQ(E_INVALIDARG, connection->SetServer(MakeCountedString("example.test"), 0));
  EXPECT_EQ(E_INVALIDARG, connection->SetServer(MakeCountedString("example.test"), 70000));
  EXPECT_EQ(E_INVALIDARG, connection->SetServer(MakeCountedString(""), 80));
  EXPECT_EQ(E_INVALIDARG, connection->SetServer(MakeCountedString("a b"), 80));
  EXPECT_EQ(E_UNEXPECTED, connection->Send(MakeRequest("GET", "/"), nullptr));
  EXPECT_EQ(E_POINTER, connection->Advise(nullptr));

  auto client = HttpTestClient::Create();
  auto other = HttpTestClient::Create();
  ASSERT_EQ(S_OK, connection->Advise(client));
  EXPECT_EQ(S_FALSE, connection->Advise(client));
  EXPECT_EQ(E_UNEXPECTED, connection->Advise(other));
  EXPECT_EQ(E_INVALIDARG, connection->Unadvise(other));

  ASSERT_EQ(S_OK, connection->SetServer(MakeCountedString("127.0.0.1"), 9));
  ASSERT_EQ(S_OK, connection->Open());
  EXPECT_EQ(E_UNEXPECTED, connection->Open());
  EXPECT_EQ(E_UNEXPECTED, connection->SetServer(MakeCountedString("127.0.0.1"), 10));
  ASSERT_TRUE(client->WaitForEnd(kWait));
  EXPECT_EQ(S_OK, connection->Close());
  EXPECT_EQ(S_OK, connection->Close());
  EXPECT_EQ(E_UNEXPECTED, connection->Advise(client));
}

// A request made elsewhere cannot be sent: the connection could not read it.
class ForeignRequest : public CComObjectRootEx<CComMultiThreadModel>, public IHttpRequest {
 public:
  BEGIN_COM_MAP(ForeignRequest)
  COM_INTERFACE_ENTRY(IHttpRequest)
  END_COM_MAP()
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(AddHeader)(CountedString, CountedString) override { return S_OK; }
};

TEST_F(HttpConnectionServiceTest, ForeignRequestIsRefused) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.Reply(MakeResponse(http::status::ok, ""));
  });
  auto client = HttpTestClient::Create();
  CComPtr<IHttpConnection> connection = Connect(client, "127.0.0.1", server.Port());
  ASSERT_TRUE(client->WaitForCount(1, kWait));
  CComObject<ForeignRequest>* foreign = nullptr;
  CComObject<ForeignRequest>::CreateInstance(&foreign);
  CComPtr<IHttpRequest> holder(foreign);
  EXPECT_EQ(E_INVALIDARG, connection->Send(holder, nullptr));
  EXPECT_EQ(E_POINTER, connection->Send(nullptr, nullptr));
  // Still connected: a proper request goes out.
  EXPECT_EQ(S_OK, connection->Send(MakeRequest("GET", "/"), nullptr));
  ASSERT_TRUE(client->WaitForEnd(kWait));
  EXPECT_EQ(0, client->Events().back().error);
  connection->Close();
}

TEST_F(HttpConnectionServiceTest, NoEventAfterUnadviseOrClose) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.WaitForStop(milliseconds(300));
    exchange.Reply(MakeResponse(http::status::ok, "late"));
  });
  for (bool use_close : {false, true}) {
    auto client = HttpTestClient::Create();
    CComPtr<IHttpConnection> connection = Connect(client, "127.0.0.1", server.Port());
    ASSERT_TRUE(client->WaitForCount(1, kWait));
    ASSERT_EQ(S_OK, connection->Send(MakeRequest("GET", "/"), nullptr));
    ASSERT_TRUE(client->WaitForCount(2, kWait));
    if (use_close) {
      EXPECT_EQ(S_OK, connection->Close());
    } else {
      EXPECT_EQ(S_OK, connection->Unadvise(client));
    }
    std::this_thread::sleep_for(milliseconds(700));
    EXPECT_EQ("connect sent", client->Kinds()) << (use_close ? "Close" : "Unadvise");
    connection->Close();
  }
}

TEST_F(HttpConnectionServiceTest, ReleasingAConnectionMidExchangeClosesIt) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.WaitForStop(milliseconds(300));
    exchange.Reply(MakeResponse(http::status::ok, "late"));
  });
  auto client = HttpTestClient::Create();
  {
    CComPtr<IHttpConnection> connection = Connect(client, "127.0.0.1", server.Port(), false);
    ASSERT_TRUE(client->WaitForCount(1, kWait));
    ASSERT_EQ(S_OK, connection->Send(MakeRequest("GET", "/"), nullptr));
    ASSERT_TRUE(client->WaitForCount(2, kWait));
    connection->Continue();
  }  // the last reference goes while the reply is awaited
  std::this_thread::sleep_for(milliseconds(700));
  EXPECT_EQ("connect sent", client->Kinds());
}

TEST_F(HttpConnectionServiceTest, SeveralConnectionsRunSideBySide) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    std::this_thread::sleep_for(milliseconds(100));
    exchange.Reply(MakeResponse(http::status::ok, std::string(exchange.request.target())));
  });
  std::vector<CComPtr<CComObject<HttpTestClient>>> clients;
  std::vector<CComPtr<IHttpConnection>> connections;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(HttpTestClient::Create());
    connections.push_back(Connect(clients.back(), "127.0.0.1", server.Port()));
  }
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(clients[i]->WaitForCount(1, kWait));
    ASSERT_EQ(S_OK, connections[i]->Send(MakeRequest("GET", ("/n" + std::to_string(i)).c_str()),
                                         nullptr));
  }
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(clients[i]->WaitForEnd(kWait));
    EXPECT_EQ("/n" + std::to_string(i), clients[i]->Body());
    connections[i]->Close();
  }
}

// ---------------------------------------------------------------- open connections

// Holds each reply of a TestHttpServer until the test lets its path go (or the server
// stops).
class ReplyGate {
 public:
  void Release(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    released_.push_back(path);
  }
  void Hold(TestHttpServer::Exchange& exchange) {
    const std::string path(exchange.request.target());
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& released : released_) {
          if (released == path) return;
        }
      }
      if (exchange.WaitForStop(milliseconds(20))) return;
    }
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> released_;
};

// A connection of factory to 127.0.0.1:port, opened, client advised and continuing.
CComPtr<IHttpConnection> OpenTo(IHttpConnectionFactory* factory, HttpTestClient* client,
                                uint16_t port) {
  CComPtr<IHttpConnection> connection;
  EXPECT_EQ(S_OK, factory->CreateConnection(0, nullptr, &connection));
  EXPECT_EQ(S_OK, connection->Advise(client));
  client->AutoContinue(connection);
  EXPECT_EQ(S_OK, connection->SetServer(MakeCountedString("127.0.0.1"), port));
  EXPECT_EQ(S_OK, connection->Open());
  return connection;
}

HRESULT SendGet(IHttpConnectionFactory* factory, IHttpConnection* connection, const char* path) {
  CComPtr<IHttpRequest> request;
  factory->CreateRequest(&request, MakeCountedString("GET"), MakeCountedString(path),
                         MakeCountedString("1.1"));
  return connection->Send(request, nullptr);
}

TEST(HttpConnectionServiceCapTest, ConnectionBeyondTheCapConnectsWhenAnOpenOneEnds) {
  ReplyGate gate;
  TestHttpServer server([&gate](TestHttpServer::Exchange& exchange) {
    gate.Hold(exchange);
    exchange.Reply(MakeResponse(http::status::ok, std::string(exchange.request.target())));
  });
  HttpServiceOptions options;
  options.max_open_connections = 2;
  HttpConnectionService service(options);
  CComPtr<IHttpConnectionFactory> factory;
  ASSERT_EQ(S_OK, service.GetFactory(&factory));
  auto first = HttpTestClient::Create();
  auto second = HttpTestClient::Create();
  auto third = HttpTestClient::Create();
  CComPtr<IHttpConnection> a = OpenTo(factory, first, server.Port());
  CComPtr<IHttpConnection> b = OpenTo(factory, second, server.Port());
  CComPtr<IHttpConnection> c = OpenTo(factory, third, server.Port());
  ASSERT_TRUE(first->WaitForCount(1, kWait));
  ASSERT_TRUE(second->WaitForCount(1, kWait));
  ASSERT_EQ(S_OK, SendGet(factory, a, "/a"));
  ASSERT_EQ(S_OK, SendGet(factory, b, "/b"));
  ASSERT_TRUE(first->WaitForCount(2, kWait));
  ASSERT_TRUE(second->WaitForCount(2, kWait));
  // Both replies are held: the third waits, off the network.
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ("", third->Kinds());
  EXPECT_EQ(2, server.Connections());
  EXPECT_EQ(2u, service.OpenConnections());

  gate.Release("/a");
  ASSERT_TRUE(first->WaitForEnd(kWait));
  EXPECT_EQ(0, first->Events().back().error);
  ASSERT_TRUE(third->WaitForCount(1, kWait));
  EXPECT_EQ("connect", third->Kinds());
  EXPECT_EQ(0, third->Events()[0].error);
  gate.Release("/c");
  ASSERT_EQ(S_OK, SendGet(factory, c, "/c"));
  ASSERT_TRUE(third->WaitForEnd(kWait));
  EXPECT_EQ("/c", third->Body());
  gate.Release("/b");
  ASSERT_TRUE(second->WaitForEnd(kWait));
  EXPECT_EQ("/b", second->Body());
  EXPECT_EQ(3, server.Connections());
  EXPECT_EQ(2u, service.OpenConnectionPeak());
  for (IHttpConnection* connection : {a.p, b.p, c.p}) connection->Close();
}

TEST(HttpConnectionServiceCapTest, QueuedConnectionClosedNeverConnectsAndShutdownFailsTheRest) {
  ReplyGate gate;
  TestHttpServer server([&gate](TestHttpServer::Exchange& exchange) {
    gate.Hold(exchange);
    exchange.Reply(MakeResponse(http::status::ok, std::string(exchange.request.target())));
  });
  std::vector<CComPtr<CComObject<HttpTestClient>>> clients;
  std::vector<CComPtr<IHttpConnection>> connections;
  CComPtr<IHttpConnectionFactory> factory;
  {
    HttpServiceOptions options;
    options.max_open_connections = 2;
    HttpConnectionService service(options);
    ASSERT_EQ(S_OK, service.GetFactory(&factory));
    for (int i = 0; i < 5; ++i) {
      clients.push_back(HttpTestClient::Create());
      connections.push_back(OpenTo(factory, clients.back(), server.Port()));
    }
    ASSERT_TRUE(clients[0]->WaitForCount(1, kWait));
    ASSERT_TRUE(clients[1]->WaitForCount(1, kWait));
    ASSERT_EQ(S_OK, SendGet(factory, connections[0], "/0"));
    ASSERT_EQ(S_OK, SendGet(factory, connections[1], "/1"));
    ASSERT_TRUE(clients[1]->WaitForCount(2, kWait));
    EXPECT_EQ(S_OK, connections[2]->Close());  // the first one queued
    gate.Release("/0");
    ASSERT_TRUE(clients[0]->WaitForEnd(kWait));
    // The slot goes past the closed one to the next in line.
    ASSERT_TRUE(clients[3]->WaitForCount(1, kWait));
    EXPECT_EQ(0, clients[3]->Events()[0].error);
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ("", clients[4]->Kinds());  // still queued
  }  // the service stops: every open and queued connection fails
  EXPECT_EQ("", clients[2]->Kinds());
  EXPECT_EQ("connect sent headers complete", clients[0]->Kinds());
  EXPECT_EQ("connect sent complete", clients[1]->Kinds());
  EXPECT_EQ(kHttpErrorAborted, clients[1]->Events().back().error);
  EXPECT_EQ("connect complete", clients[3]->Kinds());
  EXPECT_EQ(kHttpErrorAborted, clients[3]->Events().back().error);
  EXPECT_EQ("connect", clients[4]->Kinds());
  EXPECT_EQ(kHttpErrorAborted, clients[4]->Events().back().error);
  EXPECT_EQ(3, server.Connections());
  for (auto& connection : connections) connection->Close();
}

// ---------------------------------------------------------------- resolver table

TEST_F(HttpConnectionServiceTest, ResolverTableSendsServiceNamesToTheTestServer) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.Reply(MakeResponse(http::status::ok, "200\r\n"));
  });
  service_.ResolverTable().Map("blog.velmora.cn", 80, {"127.0.0.1", server.Port()});
  auto client = HttpTestClient::Create();
  RunExchange(client, "BLOG.velmora.cn", 80, "GET", "/touch3/10001");
  EXPECT_EQ(0, client->Events().back().error) << client->Kinds();
  EXPECT_EQ("200\r\n", client->Body());
  auto requests = server.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("BLOG.velmora.cn", requests[0][http::field::host]);  // port 80 is not written

  // Another name is not mapped: it resolves normally, and this one does not exist.
  auto stranger = HttpTestClient::Create();
  CComPtr<IHttpConnection> connection = Connect(stranger, "comment.velmora.invalid", 80);
  ASSERT_TRUE(stranger->WaitForEnd(kWait));
  connection->Close();
  EXPECT_EQ("connect", stranger->Kinds());
  EXPECT_EQ(kHttpErrorHostNotFound, stranger->Events()[0].error);

  // The catch-all takes every name without its own mapping.
  service_.ResolverTable().MapAll({"localhost", server.Port()});
  auto caught = HttpTestClient::Create();
  RunExchange(caught, "comment.velmora.invalid", 80, "GET", "/comment/1");
  EXPECT_EQ(0, caught->Events().back().error) << caught->Kinds();
  EXPECT_EQ(2u, server.Requests().size());
}

TEST(HttpResolverTableTest, MappingsCatchAllAndParsing) {
  HttpResolverTable table;
  EXPECT_FALSE(table.Lookup("blog.velmora.cn", 80).has_value());
  table.Map("Blog.Velmora.CN", 80, {"127.0.0.1", 8080});
  EXPECT_EQ((HttpEndpoint{"127.0.0.1", 8080}), table.Lookup("blog.velmora.cn", 80));
  EXPECT_FALSE(table.Lookup("blog.velmora.cn", 81).has_value());
  table.MapAll({"10.0.0.1", 9000});
  EXPECT_EQ((HttpEndpoint{"10.0.0.1", 9000}), table.Lookup("blog.velmora.cn", 81));
  EXPECT_EQ((HttpEndpoint{"127.0.0.1", 8080}), table.Lookup("BLOG.velmora.cn", 80));
  table.Unmap("blog.velmora.cn", 80);
  EXPECT_EQ((HttpEndpoint{"10.0.0.1", 9000}), table.Lookup("blog.velmora.cn", 80));
  table.UnmapAll();
  EXPECT_FALSE(table.Lookup("blog.velmora.cn", 80).has_value());

  HttpEndpoint endpoint;
  EXPECT_TRUE(HttpResolverTable::ParseEndpoint("127.0.0.1:8080", &endpoint));
  EXPECT_EQ((HttpEndpoint{"127.0.0.1", 8080}), endpoint);
  EXPECT_TRUE(HttpResolverTable::ParseEndpoint("[::1]:65535", &endpoint));
  EXPECT_EQ((HttpEndpoint{"::1", 65535}), endpoint);
  EXPECT_TRUE(HttpResolverTable::ParseEndpoint("localhost:1", &endpoint));
  EXPECT_EQ((HttpEndpoint{"localhost", 1}), endpoint);
  for (const char* bad : {"127.0.0.1", "127.0.0.1:", ":80", "127.0.0.1:0", "127.0.0.1:65536",
                          "::1:80", "[::1]80", "[]:80", "host:8o", "a b:80", "h:123456"}) {
    EXPECT_FALSE(HttpResolverTable::ParseEndpoint(bad, &endpoint)) << bad;
  }
  EXPECT_EQ((HttpEndpoint{"localhost", 1}), endpoint);  // unchanged by the failures
}

TEST(HttpErrorCodesTest, EveryFailureMapsToAStableNonZeroCode) {
  namespace error = boost::asio::error;
  EXPECT_EQ(kHttpErrorConnectionRefused, HttpErrorFromBoost(error::connection_refused));
  EXPECT_EQ(kHttpErrorTimedOut, HttpErrorFromBoost(boost::beast::error::timeout));
  EXPECT_EQ(kHttpErrorHostNotFound, HttpErrorFromBoost(error::host_not_found));
  EXPECT_EQ(kHttpErrorConnectionReset, HttpErrorFromBoost(error::connection_reset));
  EXPECT_EQ(kHttpErrorConnectionClosed, HttpErrorFromBoost(http::error::partial_message));
  EXPECT_EQ(kHttpErrorReplyTooLarge, HttpErrorFromBoost(http::error::body_limit));
  EXPECT_EQ(kHttpErrorBadReply, HttpErrorFromBoost(http::error::bad_chunk));
  EXPECT_EQ(kHttpErrorAborted, HttpErrorFromBoost(error::operation_aborted));
  EXPECT_EQ(kHttpErrorOther, HttpErrorFromBoost(error::no_buffer_space));
  EXPECT_EQ(kHttpErrorOther, HttpErrorFromBoost({}));
  EXPECT_EQ(HRESULT_FROM_WIN32(10061), kHttpErrorConnectionRefused);
  EXPECT_EQ(HRESULT_FROM_WIN32(10060), kHttpErrorTimedOut);
  EXPECT_EQ(HRESULT_FROM_WIN32(11001), kHttpErrorHostNotFound);
  EXPECT_EQ(HRESULT_FROM_WIN32(223), kHttpErrorReplyTooLarge);
  EXPECT_EQ(E_INVALIDARG, kHttpErrorBadServer);
}

// ---------------------------------------------------------------- shutdown

TEST(HttpConnectionServiceShutdownTest, ShutdownAbortsRunningExchangesAndRefusesNewOnes) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.WaitForStop(seconds(30));
  });
  auto client = HttpTestClient::Create();
  CComPtr<IHttpConnectionFactory> factory;
  CComPtr<IHttpConnection> connection;
  {
    HttpConnectionService service;
    ASSERT_EQ(S_OK, service.GetFactory(&factory));
    ASSERT_EQ(S_OK, factory->CreateConnection(0, nullptr, &connection));
    connection->Advise(client);
    client->AutoContinue(connection);
    connection->SetServer(MakeCountedString("127.0.0.1"), server.Port());
    connection->Open();
    ASSERT_TRUE(client->WaitForCount(1, kWait));
    CComPtr<IHttpRequest> request;
    factory->CreateRequest(&request, MakeCountedString("GET"), MakeCountedString("/"),
                           MakeCountedString("1.1"));
    ASSERT_EQ(S_OK, connection->Send(request, nullptr));
    ASSERT_TRUE(client->WaitForCount(2, kWait));
  }
  EXPECT_EQ("connect sent complete", client->Kinds());
  EXPECT_EQ(kHttpErrorAborted, client->Events().back().error);
  CComPtr<IHttpConnection> late;
  EXPECT_EQ(E_UNEXPECTED, factory->CreateConnection(0, nullptr, &late));
  EXPECT_EQ(nullptr, late.p);
  // The objects outlive the service and still answer.
  EXPECT_EQ(S_FALSE, connection->Continue());
  EXPECT_EQ(S_OK, connection->Close());
  CComPtr<IHttpBuffer> buffer;
  EXPECT_EQ(S_OK, factory->CreateBuffer(&buffer));
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
