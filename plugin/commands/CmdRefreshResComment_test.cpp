#include "commands/CmdRefreshResComment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/ShareSessionCmd.h"
#include "interfaces/IResultOnResComment.h"
#include "session/BlogSession.h"
#include "test/CommandTestSupport.h"
#include "test/FrameworkTestSupport.h"
#include "test/SessionTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using commands_testing::FakeMessage;
using commands_testing::FakePlatform;
using commands_testing::HostPlatformScope;
using commands_testing::Record;
using framework_testing::FakeBuffer;
using framework_testing::FakeFactory;
using framework_testing::FakeReplyHeaders;
using session_testing::FakeSettingsStore;
using session_testing::RecordingFailureSink;
using session_testing::RecordingResultSink;

typedef CComObject<ShareSessionCmd<CmdRefreshResComment>> Command;
typedef std::vector<std::pair<std::string, std::string>> Headers;

const wchar_t kUin[] = L"10001";
const wchar_t kSection[] = L"10001CID";
const int kCommandId = 63;
// A content id as the host passes it: longer than a result record can carry back.
const char kLongKey[] = "0123456789ABCDEF0123456789ABCDEF01234567";

// The platform of CommandTestSupport with a settings store (null: the host has none).
class StorePlatform : public FakePlatform {
 public:
  STDMETHOD(GetSettingsStore)(ISettingsStore** result) override {
    *result = store;
    if (store == nullptr) return E_FAIL;
    store->AddRef();
    return S_OK;
  }
  ISettingsStore* store = nullptr;
};

// Whether another thread can take lock right now.
bool FreeForOtherThreads(TAVO::System::Thread::CriticalSection& lock) {
  bool taken = false;
  std::thread other([&] {
    taken = lock.TryLock();
    if (taken) lock.Unlock();
  });
  other.join();
  return taken;
}

class CmdRefreshResCommentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform->store = &store;
    session->ClearAll();
    session->SetCurrentUin(kUin);
    session->AddResultSink(&results);
    session->AddFailureSink(&failures);
  }
  void TearDown() override {
    session->RemoveResultSink(&results);
    session->RemoveFailureSink(&failures);
    session->ClearAll();
    session->SetCurrentUin(L"");
    EXPECT_EQ(0, store.LiveSectionHandles()) << "every section handle is released";
  }

  CComPtr<Command> NewCommand(const wchar_t* key, int number) {
    Command* created = nullptr;
    EXPECT_EQ(S_OK, CreateTypedShareSessionCmd<CmdRefreshResComment>(&created));
    CComPtr<Command> cmd(created);
    cmd->SetUserId(kUin);
    cmd->SetCommandId(kCommandId);
    cmd->SetResourceKey(key, number);
    cmd->SetHttpFactory(platform->factory);
    return cmd;
  }

  // Plays the connection through the whole reply (no body object when body is null);
  // returns the command's final state.
  static int Exchange(Command* cmd, FakeFactory* factory, int status, const std::string* body) {
    CComPtr<IHttpConnectionClientEvents> events = factory->connection->events();
    EXPECT_NE(nullptr, events.p);
    if (!events) return -1;
    events->OnConnect(0, nullptr);
    cmd->Step();
    events->OnSendComplete(0, nullptr);
    cmd->Step();
    CComPtr<FakeReplyHeaders> headers(new FakeReplyHeaders(status));
    CComPtr<FakeBuffer> buffer(body != nullptr ? new FakeBuffer(*body) : nullptr);
    events->OnComplete(0, headers, buffer, nullptr);
    cmd->Step();
    int state = -1;
    cmd->GetState(&state);
    return state;
  }

  // Refreshes key (request number 77) against a reply; returns the final state.
  int Refresh(const std::string& body, int status = 200, const wchar_t* key = L"KEY1") {
    CComPtr<Command> cmd = NewCommand(key, 77);
    EXPECT_EQ(S_OK, cmd->Start());
    return Exchange(cmd, platform->factory, status, &body);
  }

  struct Filed {
    bool present = false;
    int status = -1, count = -1, number = -1;
    std::wstring key, uin;
  };
  Filed FiledResult() {
    Filed filed;
    CComPtr<ICommonResult> common;
    if (FAILED(session->FetchResult(kCommandId, &common))) return filed;
    auto* result = static_cast<IResultOnResComment*>(common.p);
    filed.present = true;
    result->GetStatus(&filed.status);
    result->GetCategoryId(&filed.count);
    result->GetRequestNumber(&filed.number);
    BSTR text = nullptr;
    result->GetResourceKey(&text);
    filed.key.assign(text, SysStringLen(text));
    SysFreeString(text);
    result->GetUin(&text);
    filed.uin.assign(text, SysStringLen(text));
    SysFreeString(text);
    return filed;
  }

  // The stored count of key, or "-" when none is stored.
  std::string Stored(const std::string& key) {
    auto section = store.sections.find(kSection);
    if (section == store.sections.end()) return "-";
    auto value = section->second.find(key);
    return value == section->second.end() ? "-" : value->second.text;
  }

  BlogSession_* session = BlogSession_::Instance();
  FakeSettingsStore store;
  CComPtr<StorePlatform> platform{new StorePlatform};
  HostPlatformScope scope{platform};
  RecordingResultSink results;
  RecordingFailureSink failures;
};

// ---------------------------------------------------------------- the reply

TEST_F(CmdRefreshResCommentTest, CountIsStoredAndDeliveredWithKeyAndNumber) {
  const int before = static_cast<int>(std::time(nullptr));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Refresh("42"));

  const std::vector<std::string> log = platform->factory->connection->log();
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "SetServer comment.velmora.cn:80"));
  auto request = platform->factory->lastRequest;
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("GET", request->method);
  EXPECT_EQ("/comment/KEY1", request->path);
  EXPECT_EQ((Headers{{"Connection", "Close"}, {"Host", "comment.velmora.cn"}}), request->headers)
      << "no cookie";

  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 3}}), results.calls());
  Filed filed = FiledResult();
  ASSERT_TRUE(filed.present);
  EXPECT_EQ(1, filed.status);
  EXPECT_EQ(42, filed.count);
  EXPECT_EQ(77, filed.number);
  EXPECT_EQ(L"KEY1", filed.key);
  EXPECT_EQ(kUin, filed.uin);

  EXPECT_EQ("42", Stored("KEY1"));
  const int time = store.sections[kSection]["KEY1"].time;
  EXPECT_GE(time, before);
  EXPECT_LE(time, static_cast<int>(std::time(nullptr)));
  EXPECT_TRUE(failures.calls().empty());
}

TEST_F(CmdRefreshResCommentTest, CountIsTheLeadingNumberOfTheBody) {
  EXPECT_EQ(BaseCmd::kStateSucceeded, Refresh("12 comments so far"));
  EXPECT_EQ(12, FiledResult().count);
  EXPECT_EQ("12", Stored("KEY1"));

  // Letters: a successful reply with no number in it, count 0.
  session->ClearAll();
  platform->factory = new FakeFactory;
  EXPECT_EQ(BaseCmd::kStateSucceeded, Refresh("many"));
  Filed filed = FiledResult();
  EXPECT_EQ(1, filed.status);
  EXPECT_EQ(0, filed.count);
  EXPECT_EQ("0", Stored("KEY1"));

  EXPECT_EQ(12, CmdRefreshResComment::ParseCount(" \r\n12", 5));
  EXPECT_EQ(-3, CmdRefreshResComment::ParseCount("-3x", 3));
  EXPECT_EQ(4, CmdRefreshResComment::ParseCount("456", 1)) << "only the given bytes";
  EXPECT_EQ(2147483647, CmdRefreshResComment::ParseCount("99999999999999999999", 20));
  EXPECT_EQ(-2147483647 - 1, CmdRefreshResComment::ParseCount("-99999999999", 12));
  EXPECT_EQ(0, CmdRefreshResComment::ParseCount(nullptr, 4));
}

TEST_F(CmdRefreshResCommentTest, EmptyBodyDeliversStatusZeroAndFails) {
  EXPECT_EQ(BaseCmd::kStateFailed, Refresh(std::string()));
  Filed filed = FiledResult();
  ASSERT_TRUE(filed.present);
  EXPECT_EQ(0, filed.status);
  EXPECT_EQ(0, filed.count);
  EXPECT_EQ(77, filed.number);
  EXPECT_EQ(L"KEY1", filed.key);
  EXPECT_EQ("-", Stored("KEY1"));
}

TEST_F(CmdRefreshResCommentTest, ErrorPageIsNoCount) {
  EXPECT_EQ(BaseCmd::kStateFailed, Refresh("502 Bad Gateway", 502));
  Filed filed = FiledResult();
  ASSERT_TRUE(filed.present);
  EXPECT_EQ(0, filed.status);
  EXPECT_EQ(0, filed.count) << "the status line's digits are not a count";
  EXPECT_EQ("-", Stored("KEY1"));
}

TEST_F(CmdRefreshResCommentTest, TransportErrorDeliversStatusZero) {
  CComPtr<Command> cmd = NewCommand(L"KEY1", 77);
  ASSERT_EQ(S_OK, cmd->Start());
  platform->factory->connection->events()->OnConnect(12007, nullptr);
  cmd->Step();
  int state = 0;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateFailed, state);
  EXPECT_TRUE(failures.calls().empty());
  EXPECT_EQ(1u, results.calls().size());
  ASSERT_TRUE(FiledResult().present);
  EXPECT_EQ(0, FiledResult().status);
}

TEST_F(CmdRefreshResCommentTest, ResultEventComesAfterResultLockIsReleased) {
  bool resultLockFree = false;
  results.action = [&](int) { resultLockFree = FreeForOtherThreads(session->ResultLock()); };
  EXPECT_EQ(BaseCmd::kStateSucceeded, Refresh("5"));
  results.action = nullptr;
  EXPECT_TRUE(resultLockFree);
}

TEST_F(CmdRefreshResCommentTest, KeyThatCannotTravelIsRefusedBeforeAnyRequest) {
  for (const wchar_t* key : {L"a b", L"KEY\r\nCookie: x", L"K\tY"}) {
    platform->factory = new FakeFactory;
    CComPtr<Command> cmd = NewCommand(key, 1);
    ASSERT_EQ(S_OK, cmd->Start());
    EXPECT_EQ(BaseCmd::kStateFailed, Exchange(cmd, platform->factory, 200, nullptr));
    EXPECT_EQ(0, platform->factory->requestsCreated);
  }
  EXPECT_TRUE(results.calls().empty());
}

// ---------------------------------------------------------------- the settings store

TEST_F(CmdRefreshResCommentTest, SectionIsCreatedWhenMissingAndReusedAfter) {
  EXPECT_EQ(BaseCmd::kStateSucceeded, Refresh("1", 200, L"A"));
  EXPECT_EQ((std::vector<std::pair<std::wstring, int>>{{kSection, 1}}), store.createCalls);
  platform->factory = new FakeFactory;
  EXPECT_EQ(BaseCmd::kStateSucceeded, Refresh("2", 200, L"B"));
  EXPECT_EQ(1u, store.createCalls.size()) << "the section exists now";
  EXPECT_EQ("1", Stored("A"));
  EXPECT_EQ("2", Stored("B"));
}

TEST_F(CmdRefreshResCommentTest, CountIsDeliveredWhenItCannotBeStored) {
  store.createFails = true;
  EXPECT_EQ(BaseCmd::kStateSucceeded, Refresh("9"));
  EXPECT_EQ(9, FiledResult().count);
  EXPECT_TRUE(store.sections.empty());

  session->ClearAll();
  platform->store = nullptr;
  platform->factory = new FakeFactory;
  EXPECT_EQ(BaseCmd::kStateSucceeded, Refresh("8"));
  EXPECT_EQ(8, FiledResult().count);
}

// ---------------------------------------------------------------- the share session

TEST_F(CmdRefreshResCommentTest, RecordsCarryTheKeyAndNumber) {
  CComPtr<Command> cmd = NewCommand(L"KEY1", 77);
  EXPECT_EQ(4 + 5 + 4 + 4 + 4, cmd->GetRequestRecordSize());
  CComPtr<FakeMessage> message(new FakeMessage(1));
  message->SetPayloadSize(cmd->GetRequestRecordSize());
  ASSERT_TRUE(cmd->WriteRequestRecord(message));
  EXPECT_EQ(Record().Text("10001").Int(77).Text("KEY1").bytes(), message->payload);

  EXPECT_EQ(4 + 16, cmd->GetResultRecordSize()) << "the key's length plus 16";
  std::vector<BYTE> result(static_cast<size_t>(cmd->GetResultRecordSize()));
  EXPECT_TRUE(cmd->WriteResultRecord(result.data(), static_cast<int>(result.size())));
  EXPECT_EQ(Record().Int(0).Int(77).Int(0).Text("KEY1").bytes(), result);
  EXPECT_FALSE(cmd->WriteResultRecord(result.data(), 19));

  // A key the serving side could not read is not sent at all.
  CComPtr<Command> huge = NewCommand(std::wstring(1025, L'k').c_str(), 1);
  CComPtr<FakeMessage> big(new FakeMessage(2));
  big->SetPayloadSize(huge->GetRequestRecordSize());
  EXPECT_FALSE(huge->WriteRequestRecord(big));
}

TEST_F(CmdRefreshResCommentTest, ServingProcessRefusesARequestWithoutKey) {
  platform->manager->role = BaseBlogCmd::kRoleServe;
  CComPtr<Command> cmd = NewCommand(nullptr, 0);
  CComPtr<FakeMessage> userOnly(new FakeMessage(5));
  userOnly->name = "RefreshResComment";
  userOnly->payload = Record().Text("10001").bytes();
  EXPECT_EQ(E_FAIL, cmd->SetOperationMessage(userOnly));
  EXPECT_TRUE(platform->workshop->added.empty()) << "no request for an empty key";
  CComPtr<FakeMessage> cut(new FakeMessage(6));
  cut->payload = Record().Text("10001").Int(3).Int(40).Text("KEY").bytes();
  EXPECT_EQ(E_FAIL, cmd->SetOperationMessage(cut));
  EXPECT_TRUE(platform->workshop->added.empty());
}

TEST_F(CmdRefreshResCommentTest, ForwardedRefreshRoundTrip) {
  std::wstring longKey(kLongKey, kLongKey + sizeof(kLongKey) - 1);

  // The forwarding process sends the refresh with its parameters.
  platform->manager->role = BaseBlogCmd::kRoleForward;
  CComPtr<Command> forwarded = NewCommand(longKey.c_str(), 77);
  ASSERT_EQ(S_OK, forwarded->Start());
  auto sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("RefreshResComment", sent[0]->name);
  EXPECT_EQ(Record().Text("10001").Int(77).Text(kLongKey).bytes(), sent[0]->payload);

  // The serving process runs it for the same key and answers with a result message
  // instead of delivering the result itself.
  platform->manager->role = BaseBlogCmd::kRoleServe;
  FakeFactory* servingFactory = new FakeFactory;
  platform->factory = servingFactory;
  Command* created = nullptr;
  ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdRefreshResComment>(&created));
  CComPtr<Command> serving(created);
  ASSERT_EQ(S_OK, serving->SetOperationMessage(sent[0]));
  ASSERT_EQ(1u, platform->workshop->added.size());
  ASSERT_EQ(S_OK, serving->Start());
  const std::string body = "31";
  EXPECT_EQ(BaseCmd::kStateSucceeded, Exchange(serving, servingFactory, 200, &body));
  EXPECT_EQ("/comment/" + std::string(kLongKey), servingFactory->lastRequest->path);
  EXPECT_TRUE(results.calls().empty()) << "the serving process files nothing";
  EXPECT_EQ("31", Stored(kLongKey));
  auto answer = platform->manager->server->lastResult;
  ASSERT_NE(nullptr, answer.p);
  EXPECT_EQ("RefreshResComment", answer->name);
  std::vector<BYTE> expected = Record().Int(1).Int(77).Int(31).Text(kLongKey).bytes();
  expected.resize(expected.size() + 8, 0);
  EXPECT_EQ(expected, answer->payload);

  // The forwarding process reads the answer: its own key and number, the server's count.
  store.sections.clear();
  forwarded->OnRecvOperationResult(answer);
  int state = 0;
  forwarded->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateSucceeded, state);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 3}}), results.calls());
  Filed filed = FiledResult();
  EXPECT_EQ(1, filed.status);
  EXPECT_EQ(31, filed.count);
  EXPECT_EQ(77, filed.number);
  EXPECT_EQ(longKey, filed.key) << "a 40-byte key survives, though a record carries 16";
  EXPECT_EQ("31", Stored(kLongKey)) << "stored on the forwarding side as well";
}

TEST_F(CmdRefreshResCommentTest, StatusOnlyAnswerDeliversNoCount) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  CComPtr<Command> forwarded = NewCommand(L"KEY1", 77);
  ASSERT_EQ(S_OK, forwarded->Start());
  int id = 0;
  platform->manager->channel->sent()[0]->GetId(&id);
  // What the host answers when the serving side made no result message: the status
  // and zero bytes.
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload.assign(12, 0);
  forwarded->OnRecvOperationResult(answer);
  Filed filed = FiledResult();
  ASSERT_TRUE(filed.present);
  EXPECT_EQ(0, filed.status);
  EXPECT_EQ(0, filed.count);
  EXPECT_EQ(77, filed.number);
  EXPECT_EQ(L"KEY1", filed.key);
  EXPECT_EQ("-", Stored("KEY1"));

  // An answer too short for a status is refused: nothing delivered, the command fails.
  session->ClearAll();
  CComPtr<Command> other = NewCommand(L"KEY2", 1);
  ASSERT_EQ(S_OK, other->Start());
  platform->manager->channel->sent()[1]->GetId(&id);
  CComPtr<FakeMessage> cut(new FakeMessage(id));
  cut->payload = {1, 0};
  other->OnRecvOperationResult(cut);
  other->GetState(&id);
  EXPECT_EQ(BaseCmd::kStateFailed, id);
  EXPECT_FALSE(FiledResult().present);
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
