#include "commands/CmdRefreshBlogServerInfo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/ShareSessionCmd.h"
#include "interfaces/IResultOnAlbum.h"
#include "module/ZQBlogPlugin.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "test/CommandTestSupport.h"
#include "test/FrameworkTestSupport.h"
#include "test/SessionTestSupport.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using commands_testing::FakeMessage;
using commands_testing::FakePlatform;
using commands_testing::FakeServer;
using commands_testing::HostPlatformScope;
using commands_testing::Record;
using framework_testing::FakeBuffer;
using framework_testing::RecordingSink;
using framework_testing::RefCount;
using session_testing::RecordingFailureSink;
using session_testing::RecordingResultSink;
using session_testing::TestDecoder;
using session_testing::TestSession;

typedef CComObject<ShareSessionCmd<CmdRefreshBlogServerInfo>> Command;

const wchar_t kUin[] = L"10001";
const int kCommandId = 5;
const int kContextValue = 77;

// Lines joined by CR LF.
std::string Lines(const std::vector<std::string>& lines, bool finalLineEnd = false) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i != 0) text += "\r\n";
    text += lines[i];
  }
  if (finalLineEnd) text += "\r\n";
  return text;
}

const char* const kEndpointNames[] = {
    "resource_batch_collect", "resource_batch_remove", "category_delete",  "category_create",
    "category_update",        "resource_update",       "resource_batch_move",
};

// A whole directory for user 10001: endpoint i on host "w<i>.velmora.cn", path
// "/api/<name>".
std::vector<std::string> FullDirectory() {
  std::vector<std::string> lines = {
      "200",
      "7",
      "http://data.velmora.cn/cid/10001/Cid.dat",
      "3",
      "http://data.velmora.cn/blog/10001/albums.xml",
      "-2",
      "http://data.velmora.cn/blog/10001/album/<id>.xml",
  };
  for (int i = 0; i < 7; ++i) {
    lines.push_back(kEndpointNames[i]);
    lines.push_back("w" + std::to_string(i) + ".velmora.cn");
    lines.push_back(std::string("/api/") + kEndpointNames[i]);
  }
  return lines;
}

struct Endpoint {
  std::string host;
  std::string path;
  bool operator==(const Endpoint& o) const { return host == o.host && path == o.path; }
};

class CmdRefreshBlogServerInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session->ClearAll();
    ClearEndpoints();
    session->AddResultSink(&results);
    session->AddFailureSink(&failures);
  }
  void TearDown() override {
    session->RemoveResultSink(&results);
    session->RemoveFailureSink(&failures);
    session->ClearAll();
    ClearEndpoints();
  }

  void ClearEndpoints() {
    Hold hold(session->ServerLock());
    for (int i = 0; i < kEndpointCount; ++i) session->SetOperationEndpoint(i, L"", L"");
  }

  // A new command for uin, not started.
  CComPtr<Command> NewCommand(const wchar_t* uin = kUin) {
    Command* created = nullptr;
    EXPECT_EQ(S_OK, CreateTypedShareSessionCmd<CmdRefreshBlogServerInfo>(&created));
    CComPtr<Command> cmd(created);
    cmd->SetUserId(uin);
    cmd->SetContextValue(kContextValue);
    cmd->SetCommandId(kCommandId);
    cmd->AddEventSink(workshop);
    cmd->SetHttpFactory(platform->factory);
    return cmd;
  }

  // Starts cmd and plays its connection up to the complete reply with body (no body
  // object when body is null); returns the final state.
  int Exchange(Command* cmd, const std::string* body) {
    EXPECT_EQ(S_OK, cmd->Start());
    CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
    EXPECT_NE(nullptr, events.p);
    if (!events) return -1;
    events->OnConnect(0, nullptr);
    cmd->Step();
    events->OnSendComplete(0, nullptr);
    cmd->Step();
    CComPtr<FakeBuffer> buffer(body != nullptr ? new FakeBuffer(*body) : nullptr);
    events->OnComplete(0, nullptr, buffer, nullptr);
    cmd->Step();
    int state = -1;
    cmd->GetState(&state);
    return state;
  }
  int Run(const std::string& body, const wchar_t* uin = kUin) {
    CComPtr<Command> cmd = NewCommand(uin);
    return Exchange(cmd, &body);
  }

  // A copy of uin's record; false when there is none.
  bool RecordOf(const std::wstring& uin, ServerDirectoryRecord* copy) {
    Hold hold(session->ServerLock());
    const ServerDirectoryRecord* record = session->FindServerEntry(uin);
    if (record == nullptr) return false;
    *copy = *record;
    return true;
  }
  void StoreRecord(const ServerDirectoryRecord& record, const wchar_t* uin = kUin) {
    Hold hold(session->ServerLock());
    session->StoreServerEntry(uin, std::unique_ptr<ServerDirectoryRecord>(
                                       new ServerDirectoryRecord(record)));
  }
  Endpoint EndpointOf(int index) {
    Endpoint endpoint;
    EXPECT_TRUE(session->GetOperationEndpoint(index, &endpoint.host, &endpoint.path));
    return endpoint;
  }
  // The result filed under the command id, or null.
  CComPtr<IResultOnAlbum> Result() {
    CComPtr<IResultOnAlbum> album;
    CComPtr<ICommonResult> result;
    if (FAILED(session->FetchResult(kCommandId, &result)) || !result) return album;
    result.QueryInterface(&album);
    return album;
  }
  int ResultStatus() {
    CComPtr<IResultOnAlbum> result = Result();
    int status = -1;
    if (result) result->GetStatus(&status);
    return status;
  }

  static ServerDirectoryRecord OldRecord() {
    ServerDirectoryRecord old;
    old.Opened = true;
    old.CidDatNumber = 1;
    old.CidDatUrl = L"http://old.velmora.cn/cid";
    old.AlbumListNumber = 2;
    old.AlbumListUrl = L"http://old.velmora.cn/albums";
    old.ResourceListNumber = 3;
    old.ResourceListUrl = L"http://old.velmora.cn/<id>";
    return old;
  }

  BlogSession_* session = BlogSession_::Instance();
  CComPtr<FakePlatform> platform{new FakePlatform};
  HostPlatformScope scope{platform};
  CComPtr<RecordingSink> workshop{new RecordingSink};
  RecordingResultSink results;
  RecordingFailureSink failures;
};

// ---------------------------------------------------------------- the request

TEST_F(CmdRefreshBlogServerInfoTest, AsksTheMainServerForTheUsersDirectory) {
  CComPtr<Command> cmd = NewCommand();
  const std::string body = "404";
  EXPECT_EQ(5, Exchange(cmd, &body));
  auto request = platform->factory->lastRequest;
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("GET", request->method);
  EXPECT_EQ("/touch3/10001", request->path);
  EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"Host", "blog.velmora.cn"}}),
            request->headers);
  EXPECT_EQ("SetServer blog.velmora.cn:80", platform->factory->connection->log().front());
  EXPECT_EQ("Send", platform->factory->connection->log()[3]) << "no body";
  EXPECT_EQ("RefreshBlogServerInfo", cmd->GetCommandName());
}

// ---------------------------------------------------------------- a whole directory

TEST_F(CmdRefreshBlogServerInfoTest, DirectoryIsStoredAndTheResultDelivered) {
  for (bool finalLineEnd : {false, true}) {
    SCOPED_TRACE(finalLineEnd);
    TearDown();
    SetUp();
    const size_t callsBefore = results.calls().size();
    EXPECT_EQ(5, Run(Lines(FullDirectory(), finalLineEnd)));

    ServerDirectoryRecord record;
    ASSERT_TRUE(RecordOf(kUin, &record));
    EXPECT_TRUE(record.Opened);
    EXPECT_EQ(7, record.CidDatNumber);
    EXPECT_EQ(L"http://data.velmora.cn/cid/10001/Cid.dat", record.CidDatUrl);
    EXPECT_EQ(3, record.AlbumListNumber);
    EXPECT_EQ(L"http://data.velmora.cn/blog/10001/albums.xml", record.AlbumListUrl);
    EXPECT_EQ(-2, record.ResourceListNumber);
    EXPECT_EQ(L"http://data.velmora.cn/blog/10001/album/<id>.xml", record.ResourceListUrl);

    // The other commands find their servers through it.
    std::string host, path;
    ASSERT_TRUE(session->SplitCidDatUrl(kUin, &host, &path));
    EXPECT_EQ("data.velmora.cn", host);
    EXPECT_EQ("/cid/10001/Cid.dat", path);
    ASSERT_TRUE(session->SplitAlbumListUrl(kUin, &host, &path));
    EXPECT_EQ("/blog/10001/albums.xml", path);
    ASSERT_TRUE(session->SplitResourceListUrl(kUin, 12, &host, &path));
    EXPECT_EQ("/blog/10001/album/12.xml", path);
    for (int i = 0; i < 7; ++i) {
      EXPECT_EQ((Endpoint{"w" + std::to_string(i) + ".velmora.cn",
                          std::string("/api/") + kEndpointNames[i]}),
                EndpointOf(i))
          << i;
    }

    CComPtr<IResultOnAlbum> result = Result();
    ASSERT_NE(nullptr, result.p);
    BSTR text = nullptr;
    ASSERT_EQ(S_OK, result->GetUin(&text));
    EXPECT_EQ(L"10001", std::wstring(text));
    SysFreeString(text);
    ASSERT_EQ(S_OK, result->GetOperationTitle(&text));
    EXPECT_EQ(L"获取服务器信息", std::wstring(text));
    SysFreeString(text);
    int value = -1;
    result->GetStatus(&value);
    EXPECT_EQ(1, value);
    result->GetOperationIndex(&value);
    EXPECT_EQ(0, value);
    result->GetExtraValue(&value);
    EXPECT_EQ(kContextValue, value);
    typedef std::vector<std::pair<int, int>> Calls;
    const Calls calls = results.calls();
    const Calls added(calls.begin() + static_cast<std::ptrdiff_t>(callsBefore), calls.end());
    EXPECT_EQ((Calls{{kCommandId, 0}}), added);
    EXPECT_TRUE(failures.calls().empty());
    EXPECT_TRUE(platform->manager->server->published().empty());
  }
}

TEST_F(CmdRefreshBlogServerInfoTest, ANewDirectoryReplacesTheFieldsOfTheOldOne) {
  StoreRecord(OldRecord());
  EXPECT_EQ(5, Run(Lines(FullDirectory())));
  ServerDirectoryRecord record;
  ASSERT_TRUE(RecordOf(kUin, &record));
  EXPECT_EQ(7, record.CidDatNumber);
  EXPECT_EQ(L"http://data.velmora.cn/blog/10001/albums.xml", record.AlbumListUrl);
}

TEST_F(CmdRefreshBlogServerInfoTest, OnlyTheFirstSevenTripletsAreRead) {
  std::vector<std::string> lines = FullDirectory();
  lines.insert(lines.end(), {"resource_update", "late.velmora.cn", "/late", "garbage"});
  EXPECT_EQ(5, Run(Lines(lines)));
  EXPECT_EQ((Endpoint{"w5.velmora.cn", "/api/resource_update"}), EndpointOf(5));
  EXPECT_EQ(1, ResultStatus());
}

TEST_F(CmdRefreshBlogServerInfoTest, ALaterTripletOfTheSameNameWins) {
  EXPECT_EQ(5, Run(Lines({"200", "1", "http://a.velmora.cn/c", "2", "http://a.velmora.cn/l",
                          "3", "http://a.velmora.cn/<id>", "resource_update", "first.velmora.cn",
                          "/first", "resource_update", "second.velmora.cn", "/second"})));
  EXPECT_EQ((Endpoint{"second.velmora.cn", "/second"}), EndpointOf(5));
  EXPECT_EQ((Endpoint{"", ""}), EndpointOf(0));
}

// ---------------------------------------------------------------- "404"

TEST_F(CmdRefreshBlogServerInfoTest, NoBlogStoresNothingForANewUser) {
  EXPECT_EQ(5, Run("404"));
  ServerDirectoryRecord record;
  EXPECT_FALSE(RecordOf(kUin, &record));
  EXPECT_EQ(1, ResultStatus());
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
}

TEST_F(CmdRefreshBlogServerInfoTest, NoBlogClearsOpenedOnAnExistingRecord) {
  StoreRecord(OldRecord());
  EXPECT_EQ(5, Run(Lines({"404", "9", "http://new.velmora.cn/x"})));
  ServerDirectoryRecord record;
  ASSERT_TRUE(RecordOf(kUin, &record));
  EXPECT_FALSE(record.Opened);
  EXPECT_EQ(1, record.CidDatNumber) << "the rest of the reply is not read";
  EXPECT_EQ(L"http://old.velmora.cn/cid", record.CidDatUrl);
  EXPECT_EQ(1, ResultStatus());
}

// ---------------------------------------------------------------- short replies

TEST_F(CmdRefreshBlogServerInfoTest, AFirstLineAloneOpensTheBlog) {
  EXPECT_EQ(5, Run("200"));
  ServerDirectoryRecord record;
  ASSERT_TRUE(RecordOf(kUin, &record));
  EXPECT_TRUE(record.Opened);
  EXPECT_EQ(0, record.CidDatNumber);
  EXPECT_EQ(L"", record.CidDatUrl);
  EXPECT_EQ(L"", record.ResourceListUrl);
  EXPECT_EQ(1, ResultStatus());

  // An existing record keeps its fields.
  ServerDirectoryRecord closed = OldRecord();
  closed.Opened = false;
  StoreRecord(closed, L"20002");
  EXPECT_EQ(5, Run("anything", L"20002"));
  ASSERT_TRUE(RecordOf(L"20002", &record));
  EXPECT_TRUE(record.Opened);
  EXPECT_EQ(L"http://old.velmora.cn/albums", record.AlbumListUrl);
}

TEST_F(CmdRefreshBlogServerInfoTest, ATruncatedDirectoryFillsWhatItHas) {
  StoreRecord(OldRecord());
  EXPECT_EQ(5, Run(Lines({"200", "12", "http://data.velmora.cn/cid/10001/Cid.dat", "x4"})));
  ServerDirectoryRecord record;
  ASSERT_TRUE(RecordOf(kUin, &record));
  EXPECT_EQ(12, record.CidDatNumber);
  EXPECT_EQ(L"http://data.velmora.cn/cid/10001/Cid.dat", record.CidDatUrl);
  EXPECT_EQ(0, record.AlbumListNumber) << "no leading digits";
  EXPECT_EQ(L"http://old.velmora.cn/albums", record.AlbumListUrl);
  EXPECT_EQ(3, record.ResourceListNumber);
}

TEST_F(CmdRefreshBlogServerInfoTest, AnEmptyBodyDeliversStatusZeroAndFails) {
  EXPECT_EQ(6, Run(""));
  ServerDirectoryRecord record;
  EXPECT_FALSE(RecordOf(kUin, &record));
  EXPECT_EQ(0, ResultStatus());
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
  EXPECT_TRUE(failures.calls().empty());
}

TEST_F(CmdRefreshBlogServerInfoTest, AReplyWithoutBodyTellsTheFailureSinks) {
  CComPtr<Command> cmd = NewCommand();
  EXPECT_EQ(5, Exchange(cmd, nullptr));
  EXPECT_EQ(nullptr, Result().p);
  EXPECT_TRUE(results.calls().empty());
  EXPECT_EQ((std::vector<std::vector<int>>{{BaseBlogCmd::kFailureBadReply, 0, 0, 0}}),
            failures.calls());
}

// ---------------------------------------------------------------- bad replies

TEST_F(CmdRefreshBlogServerInfoTest, AnUnknownOperationNameFailsTheParse) {
  std::vector<std::string> lines = FullDirectory();
  lines[13] = "category_delete ";  // the third name, with a stray space
  EXPECT_EQ(6, Run(Lines(lines)));
  ServerDirectoryRecord record;
  EXPECT_FALSE(RecordOf(kUin, &record)) << "a new record is not stored";
  EXPECT_EQ(nullptr, Result().p);
  EXPECT_TRUE(results.calls().empty());
  // The endpoints read before stay; those after were never read.
  EXPECT_EQ((Endpoint{"w0.velmora.cn", "/api/resource_batch_collect"}), EndpointOf(0));
  EXPECT_EQ((Endpoint{"w1.velmora.cn", "/api/resource_batch_remove"}), EndpointOf(1));
  EXPECT_EQ((Endpoint{"", ""}), EndpointOf(2));
  EXPECT_EQ((Endpoint{"", ""}), EndpointOf(6));
}

TEST_F(CmdRefreshBlogServerInfoTest, AFailedParseKeepsWhatWasWrittenIntoAnExistingRecord) {
  ServerDirectoryRecord closed = OldRecord();
  closed.Opened = false;
  StoreRecord(closed);
  EXPECT_EQ(6, Run(Lines({"200", "8", "http://new.velmora.cn/cid", "9",
                          "http://new.velmora.cn/albums", "10", "http://new.velmora.cn/<id>",
                          "category_create", "c.velmora.cn"})));  // the path line is missing
  ServerDirectoryRecord record;
  ASSERT_TRUE(RecordOf(kUin, &record));
  EXPECT_TRUE(record.Opened);
  EXPECT_EQ(8, record.CidDatNumber);
  EXPECT_EQ(L"http://new.velmora.cn/<id>", record.ResourceListUrl);
  EXPECT_EQ((Endpoint{"", ""}), EndpointOf(3)) << "a triplet cut short is not stored";
  EXPECT_EQ(nullptr, Result().p);
}

TEST_F(CmdRefreshBlogServerInfoTest, CarriageReturnOnlyLinesLoseTheirFirstCharacter) {
  EXPECT_EQ(5, Run("200\r15\rhttp://data.velmora.cn/cid\r42"));
  ServerDirectoryRecord record;
  ASSERT_TRUE(RecordOf(kUin, &record));
  EXPECT_EQ(5, record.CidDatNumber);
  EXPECT_EQ(L"ttp://data.velmora.cn/cid", record.CidDatUrl);
  EXPECT_EQ(2, record.AlbumListNumber);
}

TEST_F(CmdRefreshBlogServerInfoTest, LineFeedOnlyTextIsOneLine) {
  EXPECT_EQ(5, Run("404\n"));
  ServerDirectoryRecord record;
  ASSERT_TRUE(RecordOf(kUin, &record)) << "\"404\\n\" is not \"404\"";
  EXPECT_TRUE(record.Opened);

  EXPECT_EQ(5, Run("200\n7\nhttp://data.velmora.cn/cid\nresource_update\nx\ny", L"20002"));
  ASSERT_TRUE(RecordOf(L"20002", &record));
  EXPECT_TRUE(record.Opened);
  EXPECT_EQ(0, record.CidDatNumber);
  EXPECT_EQ(L"", record.CidDatUrl);
  EXPECT_EQ((Endpoint{"", ""}), EndpointOf(5));
}

TEST_F(CmdRefreshBlogServerInfoTest, BinaryGarbageIsSurvived) {
  // Bytes of every value, NULs and lone lead bytes of code page 936 included, with CRs
  // placed so that line 7 is an operation name nobody knows.
  std::string garbage;
  for (int i = 0; i < 4096; ++i) {
    garbage += static_cast<char>((i * 37 + 11) & 0xFF);
    if (i % 97 == 0) garbage += '\r';
  }
  EXPECT_EQ(6, Run(garbage));
  ServerDirectoryRecord record;
  EXPECT_FALSE(RecordOf(kUin, &record));
  EXPECT_EQ(nullptr, Result().p);

  // Without a CR it is one line that is not "404": the blog counts as open.
  std::string oneLine;
  for (int i = 0; i < 512; ++i) {
    char c = static_cast<char>((i * 53 + 7) & 0xFF);
    oneLine += c == '\r' ? 'x' : c;
  }
  EXPECT_EQ(5, Run(oneLine, L"20002"));
  ASSERT_TRUE(RecordOf(L"20002", &record));
  EXPECT_TRUE(record.Opened);
}

// ---------------------------------------------------------------- transport error

TEST_F(CmdRefreshBlogServerInfoTest, TransportErrorGoesToTheFailureSinks) {
  CComPtr<Command> cmd = NewCommand();
  ASSERT_EQ(S_OK, cmd->Start());
  CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
  ASSERT_NE(nullptr, events.p);
  events->OnConnect(10061, nullptr);
  cmd->Step();
  int state = -1;
  cmd->GetState(&state);
  EXPECT_EQ(6, state);
  EXPECT_EQ((std::vector<std::vector<int>>{{10061, 0, 0, 0}}), failures.calls());
  EXPECT_TRUE(results.calls().empty());
  EXPECT_EQ(nullptr, Result().p);
}

// ---------------------------------------------------------------- the share session

TEST_F(CmdRefreshBlogServerInfoTest, ServingProcessBroadcastsWhatTheDecoderReads) {
  platform->manager->role = BaseBlogCmd::kRoleServe;
  EXPECT_EQ(5, Run(Lines(FullDirectory())));
  EXPECT_TRUE(results.calls().empty()) << "the serving process delivers no result";
  EXPECT_EQ(nullptr, Result().p);

  FakeServer* server = platform->manager->server;
  ASSERT_EQ(1u, server->published().size());
  const std::vector<BYTE> payload = server->published()[0];
  EXPECT_EQ(Record()
                .Text("10001")
                .Byte(1)
                .Int(7)
                .Text("http://data.velmora.cn/cid/10001/Cid.dat")
                .Int(3)
                .Text("http://data.velmora.cn/blog/10001/albums.xml")
                .Int(-2)
                .Text("http://data.velmora.cn/blog/10001/album/<id>.xml")
                .bytes(),
            payload);
  EXPECT_EQ((std::vector<FakeServer::Notice>{{0, 0, 0, 0}}), server->notices());

  // A forwarding process applies the broadcast and ends with the same record.
  TestSession forwarding;
  forwarding.SetCurrentUin(L"someone");
  TestDecoder decoder(&forwarding);
  platform->manager->channel->broadcast = payload;
  ASSERT_TRUE(decoder.DecodeMessage(kNoticeServerDirectory, 0, 0));
  ServerDirectoryRecord served;
  ASSERT_TRUE(RecordOf(kUin, &served));
  Hold hold(forwarding.ServerLock());
  const ServerDirectoryRecord* applied = forwarding.FindServerEntry(kUin);
  ASSERT_NE(nullptr, applied);
  EXPECT_EQ(served.Opened, applied->Opened);
  EXPECT_EQ(served.CidDatNumber, applied->CidDatNumber);
  EXPECT_EQ(served.CidDatUrl, applied->CidDatUrl);
  EXPECT_EQ(served.AlbumListNumber, applied->AlbumListNumber);
  EXPECT_EQ(served.AlbumListUrl, applied->AlbumListUrl);
  EXPECT_EQ(served.ResourceListNumber, applied->ResourceListNumber);
  EXPECT_EQ(served.ResourceListUrl, applied->ResourceListUrl);
}

TEST_F(CmdRefreshBlogServerInfoTest, ServingProcessBroadcastsANoBlogAnswerForAKnownUserOnly) {
  platform->manager->role = BaseBlogCmd::kRoleServe;
  EXPECT_EQ(5, Run("404"));
  EXPECT_EQ(1, ResultStatus());
  EXPECT_TRUE(platform->manager->server->published().empty()) << "no record here, none there";
  // A record this process keeps loses Opened: every process must hear of it.
  StoreRecord(OldRecord());
  EXPECT_EQ(5, Run("404"));
  FakeServer* server = platform->manager->server;
  ASSERT_EQ(1u, server->published().size());
  const std::vector<BYTE> payload = server->published()[0];
  ASSERT_GT(payload.size(), 9u);
  EXPECT_EQ(0, payload[9]) << "Opened, after the user id 10001";
  EXPECT_EQ(1, ResultStatus()) << "and its own command is told, as in every role";
  EXPECT_EQ((std::vector<FakeServer::Notice>{{0, 0, 0, 0}}), server->notices());
}

TEST_F(CmdRefreshBlogServerInfoTest, ChangeRecordSizeCountsEveryItem) {
  CComPtr<Command> cmd = NewCommand();
  // No record: the user id and empty fields.
  EXPECT_EQ(13 + (5 + 4) + 3 * 4, cmd->GetChangeRecordSize());
  StoreRecord(OldRecord());
  EXPECT_EQ(13 + (5 + 4) + (25 + 4) + (28 + 4) + (26 + 4), cmd->GetChangeRecordSize());
}

TEST_F(CmdRefreshBlogServerInfoTest, ForwardedCommandEndsWithTheServingProcessesStatus) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  CComPtr<Command> cmd = NewCommand();
  ASSERT_EQ(S_OK, cmd->Start());
  auto sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("RefreshBlogServerInfo", sent[0]->name);
  EXPECT_EQ(Record().Text("10001").bytes(), sent[0]->payload);
  EXPECT_EQ(0, platform->factory->connectionsCreated) << "no HTTP in a forwarding process";

  int id = 0;
  sent[0]->GetId(&id);
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload = Record().Int(1).Int(0).Int(0).bytes();
  EXPECT_EQ(S_OK, cmd->OnRecvOperationResult(answer));
  int state = -1;
  cmd->GetState(&state);
  EXPECT_EQ(5, state);
  EXPECT_EQ(1, ResultStatus());
  CComPtr<IResultOnAlbum> result = Result();
  ASSERT_NE(nullptr, result.p);
  int extra = 0;
  result->GetExtraValue(&extra);
  EXPECT_EQ(kContextValue, extra);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
}

// ---------------------------------------------------------------- lines and numbers

TEST(CmdRefreshBlogServerInfoLinesTest, SplitsOnCarriageReturns) {
  typedef std::vector<std::wstring> L;
  EXPECT_EQ((L{L"404"}), CmdRefreshBlogServerInfo::SplitDirectoryLines(L"404"));
  EXPECT_EQ((L{L"a", L"b", L"c"}), CmdRefreshBlogServerInfo::SplitDirectoryLines(L"a\r\nb\r\nc"));
  EXPECT_EQ((L{L"a", L"b"}), CmdRefreshBlogServerInfo::SplitDirectoryLines(L"a\r\nb\r\n"));
  EXPECT_EQ((L{L"a", L"", L"c"}), CmdRefreshBlogServerInfo::SplitDirectoryLines(L"a\r\n\r\nc"));
  EXPECT_EQ((L{L"a", L"", L"c"}), CmdRefreshBlogServerInfo::SplitDirectoryLines(L"a\r\r\nc"));
  EXPECT_EQ((L{L"a"}), CmdRefreshBlogServerInfo::SplitDirectoryLines(L"a\r"));
  EXPECT_EQ((L{L""}), CmdRefreshBlogServerInfo::SplitDirectoryLines(L""));
  EXPECT_EQ((L{L"", L"x"}), CmdRefreshBlogServerInfo::SplitDirectoryLines(L"\r\nx"));
  EXPECT_EQ((L{L"a\nb"}), CmdRefreshBlogServerInfo::SplitDirectoryLines(L"a\nb"));
}

TEST(CmdRefreshBlogServerInfoLinesTest, NumbersReadLikeAPlainConversion) {
  EXPECT_EQ(42, CmdRefreshBlogServerInfo::ParseDirectoryNumber(L"42"));
  EXPECT_EQ(-7, CmdRefreshBlogServerInfo::ParseDirectoryNumber(L"  -7abc"));
  EXPECT_EQ(3, CmdRefreshBlogServerInfo::ParseDirectoryNumber(L"+3"));
  EXPECT_EQ(0, CmdRefreshBlogServerInfo::ParseDirectoryNumber(L"abc"));
  EXPECT_EQ(0, CmdRefreshBlogServerInfo::ParseDirectoryNumber(L""));
  EXPECT_EQ(0, CmdRefreshBlogServerInfo::ParseDirectoryNumber(L"-"));
  EXPECT_EQ(2147483647, CmdRefreshBlogServerInfo::ParseDirectoryNumber(L"99999999999999999999"));
  EXPECT_EQ(-2147483647 - 1, CmdRefreshBlogServerInfo::ParseDirectoryNumber(L"-2147483648"));
  EXPECT_EQ(-2147483647 - 1, CmdRefreshBlogServerInfo::ParseDirectoryNumber(L"-99999999999"));
}

// ---------------------------------------------------------------- concurrency

TEST_F(CmdRefreshBlogServerInfoTest, CommandsOfSeveralUsersRunAtOnce) {
  // Each thread runs a command with a factory of its own while another reads the
  // session the way the plug-in's queries do.
  const int kThreads = 4;
  std::vector<CComPtr<FakePlatform>> hosts;
  std::vector<CComPtr<Command>> commands;
  for (int t = 0; t < kThreads; ++t) {
    hosts.emplace_back(new FakePlatform);
    std::wstring uin = L"u" + std::to_wstring(t);
    Command* created = nullptr;
    ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdRefreshBlogServerInfo>(&created));
    commands.emplace_back(created);
    commands.back()->SetUserId(uin.c_str());
    commands.back()->SetCommandId(100 + t);
    commands.back()->SetHttpFactory(hosts.back()->factory);
  }
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) {
      Hold hold(session->ServerLock());
      for (int t = 0; t < kThreads; ++t) {
        const ServerDirectoryRecord* record = session->FindServerEntry(L"u" + std::to_wstring(t));
        if (record != nullptr) {
          EXPECT_TRUE(record->Opened);
        }
      }
    }
  });
  std::vector<std::thread> runners;
  for (int t = 0; t < kThreads; ++t) {
    runners.emplace_back([&, t] {
      Command* cmd = commands[t];
      const std::string body = Lines(FullDirectory());
      EXPECT_EQ(S_OK, cmd->Start());
      CComPtr<IHttpConnectionClientEvents> events = hosts[t]->factory->connection->events();
      ASSERT_NE(nullptr, events.p);
      events->OnConnect(0, nullptr);
      cmd->Step();
      events->OnSendComplete(0, nullptr);
      cmd->Step();
      CComPtr<FakeBuffer> buffer(new FakeBuffer(body));
      events->OnComplete(0, nullptr, buffer, nullptr);
      cmd->Step();
    });
  }
  for (std::thread& runner : runners) runner.join();
  done = true;
  reader.join();
  for (int t = 0; t < kThreads; ++t) {
    ServerDirectoryRecord record;
    ASSERT_TRUE(RecordOf(L"u" + std::to_wstring(t), &record));
    EXPECT_EQ(7, record.CidDatNumber);
    CComPtr<ICommonResult> result;
    EXPECT_EQ(S_OK, session->FetchResult(100 + t, &result));
  }
  EXPECT_EQ(static_cast<size_t>(kThreads), results.calls().size());
}

// ---------------------------------------------------------------- the plug-in operation

class RefreshOperationTest : public CmdRefreshBlogServerInfoTest {
 protected:
  void SetUp() override {
    CmdRefreshBlogServerInfoTest::SetUp();
    plugin->ClearSession();
  }
  void TearDown() override {
    if (platform->workshop) {
      for (auto& added : platform->workshop->added) added->SetState(8, nullptr);
    }
    plugin->SetCurrentUser(L"");
    plugin->ClearSession();
    CmdRefreshBlogServerInfoTest::TearDown();
  }
  IZQBlogOperation* operation() { return static_cast<IZQBlogOperation*>(plugin); }

  ZQBlogPlugin_* plugin = ZQBlogPlugin_::Instance();
};

TEST_F(RefreshOperationTest, NeedsASignedInUserAndAHost) {
  IWorkshopCmd* command = reinterpret_cast<IWorkshopCmd*>(0x1);
  EXPECT_EQ(E_FAIL, operation()->RefreshBlogServerInfo(kUin, 1, nullptr, &command));
  EXPECT_TRUE(platform->workshop->added.empty());
  plugin->SetCurrentUser(L"Me");
  {
    ZQCP::SetHostPlatform(nullptr);
    EXPECT_EQ(E_FAIL, operation()->RefreshBlogServerInfo(kUin, 1, nullptr, &command));
    ZQCP::SetHostPlatform(platform);
  }
  EXPECT_TRUE(platform->workshop->added.empty());
  platform->workshop.Release();
  EXPECT_EQ(E_FAIL, operation()->RefreshBlogServerInfo(kUin, 1, nullptr, &command));
}

TEST_F(RefreshOperationTest, CreatesConfiguresAndSubmitsTheCommand) {
  plugin->SetCurrentUser(L"Me");
  CComPtr<RecordingSink> caller(new RecordingSink);
  IWorkshopCmd* command = nullptr;
  ASSERT_EQ(S_OK, operation()->RefreshBlogServerInfo(L"20002", 31, caller, &command));
  ASSERT_NE(nullptr, command);
  CComPtr<IWorkshopCmd> held;
  held.Attach(command);
  ASSERT_EQ(1u, platform->workshop->added.size());
  EXPECT_EQ(command, platform->workshop->added[0].p);
  EXPECT_EQ(2u, RefCount(command)) << "the caller's and the workshop's";

  auto* typed = dynamic_cast<Command*>(command);
  ASSERT_NE(nullptr, typed) << "a ShareSessionCmd<CmdRefreshBlogServerInfo>";
  EXPECT_EQ("20002", typed->UserId()) << "the user id of the argument";
  EXPECT_EQ(31, typed->ContextValue());
  EXPECT_EQ(1, typed->CommandId());

  // The caller's sink hears the command; the workshop's factory was handed over.
  ASSERT_EQ(S_OK, command->Start());
  EXPECT_EQ((std::vector<int>{2}), caller->newStates());
  EXPECT_EQ(1, platform->factory->connectionsCreated);

  // The next one gets the next id; a null out pointer is allowed.
  ASSERT_EQ(S_OK, operation()->RefreshBlogServerInfo(L"20002", 0, nullptr, nullptr));
  ASSERT_EQ(2u, platform->workshop->added.size());
  EXPECT_EQ(2, dynamic_cast<Command*>(platform->workshop->added[1].p)->CommandId());
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
