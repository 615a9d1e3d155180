#include "framework/BaseHttpCmd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/atlconv.h"
#include "test/FrameworkTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using framework_testing::FakeBuffer;
using framework_testing::FakeConnection;
using framework_testing::FakeFactory;
using framework_testing::FakePackage;
using framework_testing::FakeParser;
using framework_testing::FakeReplyHeaders;
using framework_testing::ModuleLockWatch;
using framework_testing::RecordingSink;
using framework_testing::RefCount;

typedef std::vector<std::string> Lines;
typedef std::vector<std::pair<std::string, std::string>> HeaderList;

// A concrete HTTP command whose hooks answer from a script and log their calls.
class TestHttpCmd : public BaseHttpCmd {
 public:
  BEGIN_COM_MAP(TestHttpCmd)
  COM_INTERFACE_ENTRY(IWorkshopCmd)
  END_COM_MAP()

  ~TestHttpCmd() override {
    if (destroyed != nullptr) *destroyed = true;
  }

  // ---- script
  std::string host = "blog.velmora.cn";
  bool nullHost = false;
  unsigned short port = 80;
  bool fillParameterBlock = false;
  int method = kMethodGet;
  std::string path = "/touch3/10001";
  HeaderList headersInRequestLine;
  std::optional<std::string> body;
  std::optional<int> bodyLength;  // reported instead of the body's size
  HRESULT headersAnswer = S_OK;
  HRESULT packageAnswer = S_OK;
  CComPtr<FakeParser> parser{new FakeParser};  // null: no parsing wanted
  std::string throwIn;                          // name of a hook that throws
  bool* destroyed = nullptr;

  // ---- record
  Lines calls;
  CComPtr<IHttpReplyHeaders> seenHeaders;
  CComPtr<IPackage> seenPackage;
  std::vector<int> transportErrors;

 protected:
  void GetServer(const char** hostOut, unsigned short* portOut) override {
    Called("GetServer");
    *hostOut = nullHost ? nullptr : host.c_str();
    *portOut = port;
  }
  bool GetConnectionParameter(ConnectionParameter* block) override {
    Called("GetConnectionParameter");
    if (fillParameterBlock) block->reserved[0] = 42;
    return fillParameterBlock;
  }
  void GetRequestLine(int* methodOut, std::string* pathOut) override {
    Called("GetRequestLine");
    for (const auto& header : headersInRequestLine) {
      SetHeader(header.first.c_str(), header.second.c_str());
    }
    *methodOut = method;
    *pathOut = path;
  }
  bool GetRequestBody(const BYTE** data, int* length) override {
    Called("GetRequestBody");
    if (!body) return false;
    *data = reinterpret_cast<const BYTE*>(body->data());
    *length = bodyLength ? *bodyLength : static_cast<int>(body->size());
    return true;
  }
  HRESULT OnResponseHeaders(IHttpReplyHeaders* headers) override {
    Called("OnResponseHeaders");
    seenHeaders = headers;
    return headersAnswer;
  }
  HRESULT OnReplyPackage(IPackage* package) override {
    Called("OnReplyPackage");
    seenPackage = package;
    return packageAnswer;
  }
  CComPtr<IPackageParser> CreateReplyParser() override {
    Called("CreateReplyParser");
    return CComPtr<IPackageParser>(parser.p);
  }
  void OnTransportError(int code) override {
    Called("OnTransportError");
    transportErrors.push_back(code);
  }

 private:
  void Called(const char* hook) {
    calls.push_back(hook);
    if (throwIn == hook) AtlThrow(E_OUTOFMEMORY);
  }
};

typedef CComObject<TestHttpCmd> HttpCmd;

CComPtr<HttpCmd> NewHttpCmd() {
  HttpCmd* created = nullptr;
  EXPECT_EQ(S_OK, HttpCmd::CreateInstance(&created));
  return CComPtr<HttpCmd>(created);
}

int StateOf(IWorkshopCmd* command) {
  int state = -1;
  EXPECT_EQ(S_OK, command->GetState(&state));
  return state;
}

CComPtr<FakeBuffer> Piece(const std::string& bytes) { return CComPtr<FakeBuffer>(new FakeBuffer(bytes)); }

// The last n lines of log.
Lines Tail(const Lines& log, size_t n) {
  return Lines(log.end() - static_cast<std::ptrdiff_t>(std::min(n, log.size())), log.end());
}

int Count(const Lines& lines, const char* line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), std::string(line)));
}

// The workshop's part is played by the test: a recording sink registered before
// Start, and Pump, which steps the command while a step is requested.
class BaseHttpCmdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    factory = new FakeFactory;
    connection = factory->connection;
    cmd = NewHttpCmd();
    cmd->SetHttpFactory(factory);
    workshop = new RecordingSink;
    ASSERT_EQ(S_OK, cmd->AddEventSink(workshop));
  }
  void TearDown() override {
    // A command left running still holds itself: end it so nothing leaks.
    if (cmd != nullptr && !BaseCmd::IsTerminalState(StateOf(cmd))) cmd->SetState(8, nullptr);
  }

  // Steps while the state is 3, as the workshop does on each change to 3.
  void Pump() {
    for (int i = 0; i < 100 && StateOf(cmd) == 3; ++i) ASSERT_EQ(S_OK, cmd->Step());
    ASSERT_NE(3, StateOf(cmd));
  }
  IHttpConnectionClientEvents* Events() {
    events = connection->events();
    return events;
  }
  // Start, then the connection reports that it is open.
  void StartAndConnect() {
    ASSERT_EQ(S_OK, cmd->Start());
    ASSERT_NE(nullptr, Events());
    ASSERT_EQ(S_OK, events->OnConnect(0, nullptr));
    ASSERT_EQ(3, StateOf(cmd));
    Pump();
  }
  // Start, connect, send; the connection reports the request sent.
  void StartAndSend() {
    StartAndConnect();
    ASSERT_EQ(S_OK, events->OnSendComplete(0, nullptr));
    Pump();
  }
  // From the start to the complete reply, with the given body pieces (the last one
  // comes with OnComplete; none: OnComplete without body).
  void RunReply(const std::vector<std::string>& pieces, IHttpReplyHeaders* headers = nullptr) {
    StartAndSend();
    for (size_t i = 0; i + 1 < pieces.size(); ++i) {
      ASSERT_EQ(S_OK, events->OnData(Piece(pieces[i]), nullptr));
      Pump();
    }
    CComPtr<FakeBuffer> last;
    if (!pieces.empty()) last = Piece(pieces.back());
    ASSERT_EQ(S_OK, events->OnComplete(0, headers, last, nullptr));
    Pump();
  }

  CComPtr<FakeFactory> factory;
  CComPtr<FakeConnection> connection;
  CComPtr<HttpCmd> cmd;
  CComPtr<RecordingSink> workshop;
  CComPtr<IHttpConnectionClientEvents> events;
};

// ---------------------------------------------------------------- Start

TEST_F(BaseHttpCmdTest, StartOpensTheConnectionToTheCommandsServer) {
  EXPECT_EQ(S_OK, cmd->Start());
  EXPECT_EQ(2, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{2}), workshop->newStates());
  EXPECT_EQ((Lines{"GetConnectionParameter", "GetServer"}), cmd->calls);
  EXPECT_EQ(1, factory->connectionsCreated);
  EXPECT_EQ(0, factory->lastReserved);
  EXPECT_EQ(nullptr, factory->lastParameters) << "the hook filled no block";
  EXPECT_EQ((Lines{"SetServer blog.velmora.cn:80", "Advise", "Open"}), connection->log());
  // The test, the command's own sink and the connection's advise each hold one.
  EXPECT_EQ(3u, RefCount(static_cast<IWorkshopCmd*>(cmd.p)));
  EXPECT_EQ(static_cast<IHttpConnectionClientEvents*>(cmd.p), Events());
}

TEST_F(BaseHttpCmdTest, StartPassesTheParameterBlockWhenTheCommandFillsIt) {
  cmd->fillParameterBlock = true;
  cmd->port = 8080;
  EXPECT_EQ(S_OK, cmd->Start());
  EXPECT_NE(nullptr, factory->lastParameters);
  EXPECT_EQ(sizeof(BaseHttpCmd::ConnectionParameter), factory->lastParameterSize);
  EXPECT_EQ("SetServer blog.velmora.cn:8080", connection->log().front());
}

TEST_F(BaseHttpCmdTest, StartWithANullServerSendsAnEmptyHost) {
  cmd->nullHost = true;
  StartAndConnect();
  EXPECT_EQ("SetServer :80", connection->log().front());
  EXPECT_EQ((HeaderList{{"Host", ""}}), connection->sentRequest()->headers);
}

TEST(BaseHttpCmdStartTest, WithoutFactoryTheCommandFailsCleanly) {
  ModuleLockWatch locks;
  bool destroyed = false;
  CComPtr<RecordingSink> workshop(new RecordingSink);
  {
    auto cmd = NewHttpCmd();
    cmd->destroyed = &destroyed;
    ASSERT_EQ(S_OK, cmd->AddEventSink(workshop));
    EXPECT_EQ(E_FAIL, cmd->Start());
    EXPECT_EQ(6, StateOf(cmd));
    EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p))) << "own reference dropped";
    EXPECT_EQ(S_OK, cmd->Step()) << "stepping an ended command is harmless";
    EXPECT_EQ(6, StateOf(cmd));
  }
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(0, locks.Delta());
  EXPECT_EQ((std::vector<int>{6}), workshop->newStates());
}

TEST_F(BaseHttpCmdTest, StartFailsWhenTheFactoryMakesNoConnection) {
  factory->connectionResult = E_OUTOFMEMORY;
  EXPECT_EQ(E_FAIL, cmd->Start());
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{6}), workshop->newStates());
  EXPECT_TRUE(connection->log().empty());
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p)));
}

TEST_F(BaseHttpCmdTest, StartFailsWhenTheFactorySucceedsWithoutAConnection) {
  factory->connectionNullOnSuccess = true;
  EXPECT_EQ(E_FAIL, cmd->Start());
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ((Lines{"GetConnectionParameter"}), cmd->calls);
}

TEST_F(BaseHttpCmdTest, ACommandIsStartedOnlyOnce) {
  ASSERT_EQ(S_OK, cmd->Start());
  EXPECT_EQ(E_FAIL, cmd->Start());
  EXPECT_EQ(1, factory->connectionsCreated);
  EXPECT_EQ(2, StateOf(cmd));
  EXPECT_EQ(3u, connection->log().size());
}

TEST_F(BaseHttpCmdTest, AHookThrowingInStartFailsTheCommand) {
  cmd->throwIn = "GetServer";
  EXPECT_EQ(E_FAIL, cmd->Start());
  EXPECT_EQ(6, StateOf(cmd));
  // The connection made before the throw was released by the end of the command.
  EXPECT_EQ((Lines{"Unadvise(other)", "Close"}), connection->log());
  EXPECT_EQ(2u, RefCount(connection)) << "held by the factory fake and this test only";
}

TEST_F(BaseHttpCmdTest, ReservedSlots) {
  EXPECT_EQ(S_OK, cmd->Reserved3());
  EXPECT_EQ(E_FAIL, cmd->Reserved4());
  EXPECT_EQ(0, StateOf(cmd));
}

// ---------------------------------------------------------------- sending

TEST_F(BaseHttpCmdTest, StepBeforeAnyEventChangesNothing) {
  ASSERT_EQ(S_OK, cmd->Start());
  EXPECT_EQ(S_OK, cmd->Step());
  EXPECT_EQ(2, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{2}), workshop->newStates());
  EXPECT_EQ(3u, connection->log().size());
}

TEST_F(BaseHttpCmdTest, ConnectedStepSendsRequestWithHeadersInByteOrderAndBody) {
  cmd->method = BaseHttpCmd::kMethodPost;
  cmd->path = "/resource_update";
  cmd->body = std::string("uin=1&a=%E4", 11);
  cmd->SetHeader("Host", "override.velmora.cn");  // set before Start: not replaced
  cmd->SetHeader("Cookie", "first");
  cmd->headersInRequestLine = {{"Cookie", "second"},
                               {"Content-Type", "application/x-www-form-urlencoded"},
                               {"Accept", "*/*"}};
  StartAndConnect();

  EXPECT_EQ(2, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{2, 3, 2}), workshop->newStates());
  EXPECT_EQ((Lines{"GetConnectionParameter", "GetServer", "GetRequestLine", "GetRequestBody"}),
            cmd->calls);
  auto request = connection->sentRequest();
  ASSERT_NE(nullptr, request);
  EXPECT_EQ("POST", request->method);
  EXPECT_EQ("/resource_update", request->path);
  EXPECT_EQ("1.1", request->version);
  EXPECT_EQ((HeaderList{{"Accept", "*/*"},
                        {"Content-Type", "application/x-www-form-urlencoded"},
                        {"Cookie", "first"},
                        {"Host", "override.velmora.cn"}}),
            request->headers);
  EXPECT_EQ(std::optional<std::string>("uin=1&a=%E4"), connection->sentBody());
  EXPECT_EQ("SetServer blog.velmora.cn:80", connection->log().front())
      << "the server is the command's, whatever the Host header says";
  EXPECT_EQ("Send+body", connection->log().back());
  // The request and the body buffer are not kept after sending.
  EXPECT_EQ(3u, RefCount(request)) << "held by the connection fake, the factory fake, this test";
  EXPECT_EQ(1u, RefCount(factory->lastBuffer)) << "held by the factory fake only";
}

TEST_F(BaseHttpCmdTest, HeaderNamesAreOrderedByBytesAndKeepTheirFirstValue) {
  cmd->SetHeader("b", "1");
  cmd->SetHeader("B", "2");
  cmd->SetHeader("b", "3");
  cmd->SetHeader("\xC3\xA9", "high byte");  // sorts after every ASCII name
  cmd->SetHeader("a-b", "4");
  cmd->SetHeader(nullptr, "ignored");
  cmd->SetHeader("Empty", nullptr);
  StartAndConnect();
  EXPECT_EQ((HeaderList{{"B", "2"},
                        {"Empty", ""},
                        {"Host", "blog.velmora.cn"},
                        {"a-b", "4"},
                        {"b", "1"},
                        {"\xC3\xA9", "high byte"}}),
            connection->sentRequest()->headers);
}

class BaseHttpCmdMethodTest : public BaseHttpCmdTest,
                              public ::testing::WithParamInterface<std::pair<int, const char*>> {};

TEST_P(BaseHttpCmdMethodTest, MethodCodeGivesTheMethodText) {
  cmd->method = GetParam().first;
  StartAndConnect();
  ASSERT_NE(nullptr, factory->lastRequest);
  EXPECT_EQ(GetParam().second, factory->lastRequest->method);
  EXPECT_EQ("Send", connection->log().back()) << "no body";
  EXPECT_EQ(0, factory->buffersCreated);
  EXPECT_EQ(2, StateOf(cmd));
}

INSTANTIATE_TEST_SUITE_P(Codes, BaseHttpCmdMethodTest,
                         ::testing::Values(std::make_pair(0, "GET"), std::make_pair(1, "POST"),
                                           std::make_pair(2, ""), std::make_pair(-1, "")));

TEST_F(BaseHttpCmdTest, RequestNotCreatedFailsTheCommand) {
  factory->requestResult = E_FAIL;
  StartAndConnect();
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{2, 3, 6}), workshop->newStates());
  EXPECT_EQ((Lines{"GetConnectionParameter", "GetServer", "GetRequestLine"}), cmd->calls);
  EXPECT_EQ((Lines{"SetServer blog.velmora.cn:80", "Advise", "Open", "Unadvise", "Close"}),
            connection->log());
  EXPECT_EQ(nullptr, connection->events()) << "unadvised";
  events.Release();
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p))) << "only the test holds it";
}

TEST_F(BaseHttpCmdTest, BodyBufferNotMadeFailsTheCommandInsteadOfSendingWithoutBody) {
  cmd->method = BaseHttpCmd::kMethodPost;
  cmd->body = "uin=1";
  factory->bufferResult = E_OUTOFMEMORY;
  StartAndConnect();
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ(nullptr, connection->sentRequest()) << "nothing sent";
  EXPECT_EQ("Close", connection->log().back());
}

TEST_F(BaseHttpCmdTest, ABodyTheBufferRefusesFailsTheCommand) {
  cmd->method = BaseHttpCmd::kMethodPost;
  cmd->body = std::string("x");
  cmd->bodyLength = -1;  // refused by the buffer's SetData
  StartAndConnect();
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ(1, factory->lastBuffer->setDataCalls.load());
  EXPECT_EQ(nullptr, connection->sentRequest()) << "nothing sent";
}

TEST_F(BaseHttpCmdTest, AnEmptyBodyIsSentAsAnEmptyBuffer) {
  cmd->method = BaseHttpCmd::kMethodPost;
  cmd->body = std::string();
  StartAndConnect();
  EXPECT_EQ(2, StateOf(cmd));
  EXPECT_EQ(std::optional<std::string>(""), connection->sentBody());
  EXPECT_EQ("Send+body", connection->log().back());
}

TEST_F(BaseHttpCmdTest, AHookThrowingInStepFailsTheCommand) {
  cmd->throwIn = "GetRequestLine";
  StartAndConnect();
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ(nullptr, connection->sentRequest());
  EXPECT_EQ("Close", connection->log().back());
}

// ---------------------------------------------------------------- transfer

TEST_F(BaseHttpCmdTest, TransferEventsMakeTheStepContinueTheConnection) {
  StartAndSend();
  EXPECT_EQ("Continue", connection->log().back());
  ASSERT_EQ(S_OK, events->OnHeaders(CComPtr<FakeReplyHeaders>(new FakeReplyHeaders), nullptr));
  Pump();
  ASSERT_EQ(S_OK, events->OnData(Piece("abc"), nullptr));
  Pump();
  ASSERT_EQ(S_OK, events->OnData(nullptr, nullptr));  // nothing to append
  Pump();
  ASSERT_EQ(S_OK, events->OnHeaders(nullptr, nullptr));
  Pump();
  Lines log = connection->log();
  EXPECT_EQ((Lines{"Send", "Continue", "Continue", "Continue", "Continue", "Continue"}),
            Lines(log.begin() + 3, log.end()));
  EXPECT_EQ(2, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2}), workshop->newStates());
}

TEST_F(BaseHttpCmdTest, EventsBeforeTheStepAreToldOnceAndThePhaseHoldsTheLatest) {
  StartAndConnect();
  ASSERT_EQ(S_OK, events->OnSendComplete(0, nullptr));
  ASSERT_EQ(S_OK, events->OnHeaders(CComPtr<FakeReplyHeaders>(new FakeReplyHeaders), nullptr));
  ASSERT_EQ(S_OK, events->OnData(Piece("<a>"), nullptr));
  ASSERT_EQ(S_OK, events->OnComplete(0, nullptr, Piece("</a>"), nullptr));
  EXPECT_EQ((std::vector<int>{2, 3, 2, 3}), workshop->newStates()) << "one request for four events";
  ASSERT_EQ(S_OK, cmd->Step());
  EXPECT_EQ(5, StateOf(cmd)) << "the step processed the complete reply";
  EXPECT_EQ("<a></a>", cmd->parser->parsed);
  EXPECT_EQ("Send", connection->log()[3]);
  EXPECT_EQ(0, Count(connection->log(), "Continue"));
}

// ---------------------------------------------------------------- the reply

TEST_F(BaseHttpCmdTest, FourPiecesAreParsedAsOneBodyInOrder) {
  std::vector<CComPtr<FakeBuffer>> pieces{Piece("<list>"), Piece("<a/>"), Piece("<b/>"),
                                          Piece("</list>")};
  StartAndSend();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(S_OK, events->OnData(pieces[i], nullptr));
    Pump();
  }
  ASSERT_EQ(S_OK, events->OnComplete(0, nullptr, pieces[3], nullptr));
  Pump();

  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ(1, cmd->parser->parseCalls);
  EXPECT_EQ("<list><a/><b/></list>", cmd->parser->parsed);
  EXPECT_EQ(cmd->parser->package.p, cmd->seenPackage.p);
  for (auto& piece : pieces) {
    EXPECT_EQ(1, piece->getDataCalls.load()) << "each piece is read once";
    EXPECT_EQ(0, piece->setDataCalls.load()) << "the host's buffers are not rewritten";
    EXPECT_EQ(1u, RefCount(piece)) << "and not kept";
  }
  EXPECT_EQ((Lines{"CreateReplyParser", "OnReplyPackage"}), Tail(cmd->calls, 2));
  EXPECT_EQ((Lines{"Unadvise", "Close"}), Tail(connection->log(), 2));
}

TEST_F(BaseHttpCmdTest, ManyPiecesAreEachCopiedOnce) {
  // The first piece is kept as the host gave it until a second one comes; from then on
  // each piece is copied once, as it arrives.
  constexpr int kPieces = 3000;
  std::string expected;
  StartAndSend();
  std::vector<CComPtr<FakeBuffer>> pieces;
  for (int i = 0; i < kPieces; ++i) {
    std::string bytes(997, static_cast<char>('a' + i % 26));
    bytes += std::to_string(i);
    expected += bytes;
    pieces.push_back(Piece(bytes));
    ASSERT_EQ(S_OK, events->OnData(pieces.back(), nullptr));
    ASSERT_EQ(i == 0 ? 0 : 1, pieces.back()->getDataCalls.load()) << i;
    if (i == 1) {
      ASSERT_EQ(1, pieces[0]->getDataCalls.load());
    }
    Pump();
  }
  ASSERT_EQ(S_OK, events->OnComplete(0, nullptr, nullptr, nullptr));
  Pump();
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_TRUE(cmd->parser->parsed == expected) << "body of " << cmd->parser->parsed.size()
                                               << " bytes differs";
  for (auto& piece : pieces) {
    EXPECT_EQ(1, piece->getDataCalls.load());
    EXPECT_EQ(1u, RefCount(piece));
  }
}

TEST_F(BaseHttpCmdTest, ABodyInOnePieceIsParsedFromTheHostsBuffer) {
  auto piece = Piece("<whole/>");
  StartAndSend();
  ASSERT_EQ(S_OK, events->OnData(piece, nullptr));
  Pump();
  EXPECT_EQ(2u, RefCount(piece));  // kept, not copied
  ASSERT_EQ(S_OK, events->OnComplete(0, nullptr, nullptr, nullptr));
  Pump();
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ("<whole/>", cmd->parser->parsed);
  EXPECT_EQ(1, piece->getDataCalls.load());
  EXPECT_EQ(1u, RefCount(piece));  // released once parsed
}

TEST_F(BaseHttpCmdTest, CompleteReplyWithoutBodySucceedsWithoutAskingForAParser) {
  CComPtr<FakeReplyHeaders> headers(new FakeReplyHeaders(304));
  RunReply({}, headers);
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ((Lines{"OnResponseHeaders"}), Tail(cmd->calls, 1));
  EXPECT_EQ(headers.p, cmd->seenHeaders.p);
  EXPECT_EQ(0, cmd->parser->parseCalls);
}

TEST_F(BaseHttpCmdTest, NoParserWantedSucceedsWithoutParsing) {
  cmd->parser.Release();
  RunReply({"raw"});
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ("CreateReplyParser", cmd->calls.back());
  EXPECT_EQ(nullptr, cmd->seenPackage);
}

TEST_F(BaseHttpCmdTest, BodyThatDoesNotParseFailsTheCommand) {
  cmd->parser->parseResult = E_FAIL;
  RunReply({"<broken"});
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ("<broken", cmd->parser->parsed);
  EXPECT_EQ(0, cmd->parser->getPackageCalls);
  EXPECT_EQ("CreateReplyParser", cmd->calls.back());
}

TEST_F(BaseHttpCmdTest, ZeroPackagesFailTheCommandWithoutOnReplyPackage) {
  cmd->parser->packageCount = 0;
  RunReply({"<empty/>"});
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ(0, cmd->parser->getPackageCalls);
  EXPECT_EQ("CreateReplyParser", cmd->calls.back());
}

TEST_F(BaseHttpCmdTest, NullPackageFailsTheCommand) {
  cmd->parser->package.Release();
  RunReply({"<x/>"});
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ(1, cmd->parser->getPackageCalls);
  EXPECT_EQ("CreateReplyParser", cmd->calls.back());
}

TEST_F(BaseHttpCmdTest, RejectedPackageFailsTheCommand) {
  cmd->packageAnswer = E_FAIL;
  RunReply({"<x/>"});
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ("OnReplyPackage", cmd->calls.back());
}

TEST_F(BaseHttpCmdTest, AnyNonNegativeAnswerAcceptsThePackage) {
  cmd->packageAnswer = S_FALSE;
  RunReply({"<x/>"});
  EXPECT_EQ(5, StateOf(cmd));
}

TEST_F(BaseHttpCmdTest, TheLatestHeaderObjectGoesToTheCommandAndIsDropped) {
  CComPtr<FakeReplyHeaders> first(new FakeReplyHeaders(200));
  CComPtr<FakeReplyHeaders> second(new FakeReplyHeaders(500));
  cmd->headersAnswer = E_FAIL;  // ignored: the body is processed anyway
  StartAndSend();
  ASSERT_EQ(S_OK, events->OnHeaders(first, nullptr));
  Pump();
  ASSERT_EQ(S_OK, events->OnHeaders(nullptr, nullptr));  // keeps the first
  Pump();
  ASSERT_EQ(S_OK, events->OnComplete(0, second, Piece("<x/>"), nullptr));
  Pump();
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ(second.p, cmd->seenHeaders.p);
  EXPECT_EQ(1, Count(cmd->calls, "OnResponseHeaders"));
  EXPECT_EQ(1u, RefCount(first)) << "replaced and released";
  cmd->seenHeaders.Release();
  EXPECT_EQ(1u, RefCount(second)) << "dropped after the reply step";
}

TEST_F(BaseHttpCmdTest, NullHeaderObjectOnCompleteKeepsTheOneReportedBefore) {
  CComPtr<FakeReplyHeaders> headers(new FakeReplyHeaders(200));
  StartAndSend();
  ASSERT_EQ(S_OK, events->OnHeaders(headers, nullptr));
  Pump();
  ASSERT_EQ(S_OK, events->OnComplete(0, nullptr, nullptr, nullptr));
  Pump();
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ(headers.p, cmd->seenHeaders.p);
}

TEST_F(BaseHttpCmdTest, NoHeaderObjectMeansNoOnResponseHeaders) {
  RunReply({"<x/>"});
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ(0, Count(cmd->calls, "OnResponseHeaders"));
}

TEST_F(BaseHttpCmdTest, ZeroLengthPiecesAddNothingButAnEmptyBodyIsStillParsed) {
  RunReply({"", "ab", "", "c", ""});
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ("abc", cmd->parser->parsed);
}

TEST_F(BaseHttpCmdTest, AnEmptyBodyBufferIsAnEmptyBodyNotAMissingOne) {
  RunReply({""});
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ(1, cmd->parser->parseCalls) << "an empty body goes to the parser";
  EXPECT_EQ("", cmd->parser->parsed);
  EXPECT_FALSE(cmd->parser->parsedPointerWasNull);
}

TEST_F(BaseHttpCmdTest, APieceThatCannotBeReadFailsTheReply) {
  StartAndSend();
  ASSERT_EQ(S_OK, events->OnData(Piece("<a>"), nullptr));
  Pump();
  auto unreadable = Piece("lost");
  unreadable->failGetData = true;
  ASSERT_EQ(S_OK, events->OnData(unreadable, nullptr));
  Pump();
  ASSERT_EQ(S_OK, events->OnComplete(0, nullptr, Piece("</a>"), nullptr));
  Pump();
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ(0, cmd->parser->parseCalls) << "an incomplete body is not parsed";
}

// ---------------------------------------------------------------- errors

TEST_F(BaseHttpCmdTest, ConnectErrorEndsAfterTheNextStepWithOneTransportError) {
  ASSERT_EQ(S_OK, cmd->Start());
  ASSERT_EQ(S_OK, Events()->OnConnect(10061, nullptr));
  EXPECT_EQ(3, StateOf(cmd));
  EXPECT_TRUE(cmd->transportErrors.empty()) << "the event only records";
  ASSERT_EQ(S_OK, cmd->Step());
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{10061}), cmd->transportErrors);
  EXPECT_EQ((std::vector<int>{2, 3, 6}), workshop->newStates());
  EXPECT_EQ((Lines{"SetServer blog.velmora.cn:80", "Advise", "Open", "Unadvise", "Close"}),
            connection->log());
  ASSERT_EQ(S_OK, cmd->Step());
  EXPECT_EQ(1u, cmd->transportErrors.size()) << "an ended command does not report again";
}

TEST_F(BaseHttpCmdTest, SendErrorEndsWithTransportError) {
  StartAndConnect();
  ASSERT_EQ(S_OK, events->OnSendComplete(-5, nullptr));
  Pump();
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{-5}), cmd->transportErrors);
}

TEST_F(BaseHttpCmdTest, CompleteWithErrorIgnoresItsBodyAndEndsWithTransportError) {
  StartAndSend();
  ASSERT_EQ(S_OK, events->OnData(Piece("<a>"), nullptr));
  Pump();
  auto last = Piece("</a>");
  ASSERT_EQ(S_OK, events->OnComplete(12002, CComPtr<FakeReplyHeaders>(new FakeReplyHeaders),
                                     last, nullptr));
  Pump();
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{12002}), cmd->transportErrors);
  EXPECT_EQ(0, last->getDataCalls.load());
  EXPECT_EQ(0, cmd->parser->parseCalls);
  EXPECT_EQ(0, Count(cmd->calls, "OnResponseHeaders"));
}

TEST_F(BaseHttpCmdTest, EventsThatReachAnEndedCommandAreIgnored) {
  StartAndSend();
  ASSERT_EQ(S_OK, events->OnComplete(0, nullptr, Piece("<x/>"), nullptr));
  Pump();
  ASSERT_EQ(5, StateOf(cmd));
  const size_t told = workshop->changes().size();
  // A connection thread that was already inside an event when the command ended.
  EXPECT_EQ(S_OK, events->OnData(Piece("late"), nullptr));
  EXPECT_EQ(S_OK, events->OnConnect(99, nullptr));
  EXPECT_EQ(S_OK, events->OnComplete(0, nullptr, Piece("late"), nullptr));
  EXPECT_EQ(5, StateOf(cmd)) << "an ended command stays ended";
  EXPECT_EQ(told, workshop->changes().size());
  EXPECT_EQ(S_OK, cmd->Step());
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ(1, cmd->parser->parseCalls);
  EXPECT_TRUE(cmd->transportErrors.empty());
}

TEST_F(BaseHttpCmdTest, EventsAfterAnErrorDoNotOverwriteIt) {
  StartAndSend();
  ASSERT_EQ(S_OK, events->OnComplete(12029, nullptr, nullptr, nullptr));
  // Against the connection's contract, more events follow before the step.
  ASSERT_EQ(S_OK, events->OnData(Piece("late"), nullptr));
  ASSERT_EQ(S_OK, events->OnComplete(0, nullptr, Piece("late"), nullptr));
  Pump();
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{12029}), cmd->transportErrors);
  EXPECT_EQ(0, cmd->parser->parseCalls);
}

TEST_F(BaseHttpCmdTest, EventsAfterTheCompleteReplyDoNotOverwriteIt) {
  StartAndSend();
  ASSERT_EQ(S_OK, events->OnComplete(0, nullptr, Piece("<x/>"), nullptr));
  ASSERT_EQ(S_OK, events->OnData(Piece("late"), nullptr));
  ASSERT_EQ(S_OK, events->OnSendComplete(5, nullptr));
  Pump();
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ("<x/>", cmd->parser->parsed);
  EXPECT_TRUE(cmd->transportErrors.empty());
}

TEST_F(BaseHttpCmdTest, OutsideTerminalStateReleasesTheConnectionToo) {
  StartAndSend();
  ASSERT_EQ(S_OK, cmd->SetState(7, nullptr));
  EXPECT_EQ((Lines{"Unadvise", "Close"}), Tail(connection->log(), 2));
  EXPECT_EQ(nullptr, connection->events());
  events.Release();
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p)));
}

// ---------------------------------------------------------------- lifetime

TEST(BaseHttpCmdLifetimeTest, TheRunningCommandOutlivesTheHostsReferenceUntilItEnds) {
  ModuleLockWatch locks;
  bool destroyed = false;
  CComPtr<FakeFactory> factory(new FakeFactory);
  CComPtr<FakeConnection> connection = factory->connection;
  IWorkshopCmd* raw = nullptr;
  {
    auto cmd = NewHttpCmd();
    cmd->destroyed = &destroyed;
    cmd->SetHttpFactory(factory);
    ASSERT_EQ(S_OK, cmd->Start());
    raw = cmd;
  }
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(1, locks.Delta());
  {
    CComPtr<IHttpConnectionClientEvents> events = connection->events();
    ASSERT_NE(nullptr, events);
    events->OnConnect(0, nullptr);
    raw->Step();
    events->OnSendComplete(0, nullptr);
    raw->Step();
    events->OnComplete(0, nullptr, CComPtr<FakeBuffer>(new FakeBuffer("<ok/>")), nullptr);
  }
  EXPECT_FALSE(destroyed);
  ASSERT_EQ(S_OK, raw->Step());  // processes the reply, ends the command
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(0, locks.Delta());
  EXPECT_EQ(1u, RefCount(factory)) << "the factory was released";
  EXPECT_EQ(2u, RefCount(connection)) << "held by the factory fake and this test only";
  EXPECT_EQ(nullptr, connection->events());
}

TEST(BaseHttpCmdLifetimeTest, DestructionReleasesTheFactoryAndTheParser) {
  ModuleLockWatch locks;
  CComPtr<FakeFactory> factory(new FakeFactory);
  CComPtr<FakeParser> parser(new FakeParser);
  {
    auto cmd = NewHttpCmd();
    cmd->SetHttpFactory(factory);
    cmd->parser = parser;
    ASSERT_EQ(S_OK, cmd->Start());
    CComPtr<IHttpConnectionClientEvents> events = factory->connection->events();
    events->OnConnect(0, nullptr);
    cmd->Step();
    events->OnComplete(0, nullptr, CComPtr<FakeBuffer>(new FakeBuffer("x")), nullptr);
    cmd->Step();
    ASSERT_EQ(5, StateOf(cmd));
    cmd->parser.Release();
    EXPECT_EQ(2u, RefCount(parser)) << "the command keeps its parser";
    EXPECT_EQ(2u, RefCount(factory));
  }
  EXPECT_EQ(1u, RefCount(parser));
  EXPECT_EQ(1u, RefCount(factory));
  EXPECT_EQ(1u, RefCount(parser->package)) << "the kept package was released";
  EXPECT_EQ(0, locks.Delta());
}

// ---------------------------------------------------------------- threads

// A workshop on its own thread steps the command each time the state becomes 3,
// while the test plays the connection thread and reports events without waiting for
// the steps: events arrive while Step runs.
class ThreadedWorkshop {
 public:
  explicit ThreadedWorkshop(IWorkshopCmd* command) : command_(command), sink_(new RecordingSink) {
    sink_->onChange = [this](IWorkshopCmd*, int newState) {
      std::lock_guard<std::mutex> hold(mutex_);
      if (newState == 3) ++requests_;
      if (BaseCmd::IsTerminalState(newState)) ended_ = true;
      wake_.notify_all();
    };
    command_->AddEventSink(sink_);
    thread_ = std::thread([this] { Run(); });
  }
  ~ThreadedWorkshop() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ended_ = true;
      wake_.notify_all();
    }
    thread_.join();
  }
  void WaitForEnd() {
    std::unique_lock<std::mutex> hold(mutex_);
    wake_.wait(hold, [&] { return ended_; });
  }
  int steps() {
    std::lock_guard<std::mutex> hold(mutex_);
    return steps_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
      wake_.wait(hold, [&] { return requests_ > 0 || ended_; });
      if (ended_) return;
      requests_ = 0;
      ++steps_;
      hold.unlock();
      command_->Step();
      hold.lock();
    }
  }

  CComPtr<IWorkshopCmd> command_;  // the workshop holds the commands it runs
  CComPtr<RecordingSink> sink_;
  std::mutex mutex_;
  std::condition_variable wake_;
  int requests_ = 0;
  int steps_ = 0;
  bool ended_ = false;
  std::thread thread_;
};

TEST(BaseHttpCmdThreadTest, EventsArrivingWhileStepRunsAreAllProcessed) {
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE(run);
    CComPtr<FakeFactory> factory(new FakeFactory);
    CComPtr<FakeConnection> connection = factory->connection;
    bool destroyed = false;
    auto cmd = NewHttpCmd();
    cmd->destroyed = &destroyed;
    cmd->SetHttpFactory(factory);
    CComPtr<FakeParser> parser = cmd->parser;
    {
      ThreadedWorkshop workshop(cmd);
      ASSERT_EQ(S_OK, cmd->Start());
      CComPtr<IHttpConnectionClientEvents> events = connection->events();
      std::string expected;
      std::thread connectionThread([&] {
        events->OnConnect(0, nullptr);
        connection->WaitForSends(1);
        events->OnSendComplete(0, nullptr);
        events->OnHeaders(CComPtr<FakeReplyHeaders>(new FakeReplyHeaders), nullptr);
        for (int i = 0; i < 200; ++i) {
          std::string bytes = "<" + std::to_string(i) + ">";
          expected += bytes;
          events->OnData(CComPtr<FakeBuffer>(new FakeBuffer(bytes)), nullptr);
        }
        expected += "<end/>";
        events->OnComplete(0, nullptr, CComPtr<FakeBuffer>(new FakeBuffer("<end/>")), nullptr);
      });
      connectionThread.join();
      workshop.WaitForEnd();
      EXPECT_GE(workshop.steps(), 2);
      EXPECT_EQ(5, StateOf(cmd));
      EXPECT_EQ(expected, parser->parsed);
      EXPECT_EQ(1, parser->parseCalls);
      EXPECT_TRUE(cmd->transportErrors.empty());
    }
    cmd.Release();
    EXPECT_TRUE(destroyed);
  }
}

TEST(BaseHttpCmdThreadTest, AnErrorFromTheConnectionThreadEndsTheCommand) {
  CComPtr<FakeFactory> factory(new FakeFactory);
  CComPtr<FakeConnection> connection = factory->connection;
  auto cmd = NewHttpCmd();
  cmd->SetHttpFactory(factory);
  {
    ThreadedWorkshop workshop(cmd);
    ASSERT_EQ(S_OK, cmd->Start());
    CComPtr<IHttpConnectionClientEvents> events = connection->events();
    std::thread connectionThread([&] {
      events->OnConnect(0, nullptr);
      connection->WaitForSends(1);
      events->OnSendComplete(0, nullptr);
      for (int i = 0; i < 50; ++i) events->OnData(CComPtr<FakeBuffer>(new FakeBuffer("z")), nullptr);
      events->OnComplete(10054, nullptr, nullptr, nullptr);
      // Late events after the error: ignored once the command has ended.
      events->OnData(CComPtr<FakeBuffer>(new FakeBuffer("late")), nullptr);
    });
    connectionThread.join();
    workshop.WaitForEnd();
  }
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{10054}), cmd->transportErrors);
  EXPECT_EQ(0, cmd->parser->parseCalls);
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
