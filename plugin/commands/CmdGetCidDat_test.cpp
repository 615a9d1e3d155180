#include "commands/CmdGetCidDat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "commands/CommandRegistry.h"
#include "framework/ShareSessionCmd.h"
#include "interfaces/IResultOnAlbum.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "test/CommandTestSupport.h"
#include "test/FrameworkTestSupport.h"
#include "test/SessionTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using commands_testing::FakeMessage;
using commands_testing::FakePlatform;
using commands_testing::FakeServer;
using commands_testing::HostPlatformScope;
using commands_testing::Record;
using framework_testing::FakeBuffer;
using framework_testing::FakeReplyHeaders;
using session_testing::RecordingFailureSink;
using session_testing::RecordingResultSink;
using session_testing::TestDecoder;
using session_testing::TestSession;

typedef CComObject<ShareSessionCmd<CmdGetCidDat>> Command;

const wchar_t kUin[] = L"10001";
const int kCommandId = 41;

// One Cid.dat record: a 20-byte content id and an album id, little-endian.
std::string CidRecord(const std::vector<uint8_t>& cid, int32_t albumId) {
  std::string record(cid.begin(), cid.end());
  record.resize(CmdGetCidDat::kContentIdSize, '\x11');
  for (int i = 0; i < 4; ++i) {
    record.push_back(static_cast<char>(static_cast<uint32_t>(albumId) >> (8 * i)));
  }
  return record;
}

// The content id bytes of record n of the test tables, and its index key.
std::vector<uint8_t> CidBytes(int n) {
  std::vector<uint8_t> bytes(CmdGetCidDat::kContentIdSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(n * 31 + i * 7);
  return bytes;
}

std::wstring KeyOf(const std::vector<uint8_t>& bytes) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring key;
  for (uint8_t b : bytes) {
    key += kHex[b >> 4];
    key += kHex[b & 15];
  }
  return key;
}

// The album ids the session's index holds for key (empty when the index is empty).
std::vector<int> AlbumsOf(BlogSession_* session, const std::wstring& key) {
  int count = 0;
  HRESULT hr = session->QueryAlbumsByCid(key, nullptr, &count);
  if (hr == E_FAIL) return {};
  std::vector<int> ids(static_cast<size_t>(count) + 1, -1);
  EXPECT_EQ(S_OK, session->QueryAlbumsByCid(key, ids.data(), &count));
  ids.resize(static_cast<size_t>(count));
  return ids;
}

// Every pair of a session's index, in the index's order.
std::vector<std::pair<std::wstring, int>> PairsOf(BlogSession_* session) {
  std::vector<std::pair<std::wstring, int>> pairs;
  session->ForEachCidPair(
      [&pairs](const std::wstring& key, int albumId) { pairs.emplace_back(key, albumId); });
  return pairs;
}

class CmdGetCidDatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session->ClearAll();
    session->SetCurrentUin(kUin);
    SetCidDatUrl(L"http://data.velmora.cn/cid/10001/Cid.dat");
    session->AddResultSink(&results);
    session->AddFailureSink(&failures);
  }
  void TearDown() override {
    session->RemoveResultSink(&results);
    session->RemoveFailureSink(&failures);
    session->ClearAll();
    session->SetCurrentUin(L"");
  }

  void SetCidDatUrl(const std::wstring& url) {
    std::unique_ptr<ServerDirectoryRecord> record(new ServerDirectoryRecord);
    record->Opened = true;
    record->CidDatUrl = url;
    Hold hold(session->ServerLock());
    session->StoreServerEntry(kUin, std::move(record));
  }

  // A new command for the user, started: S_OK expected unless said otherwise.
  CComPtr<Command> Started(HRESULT expected = S_OK) {
    Command* created = nullptr;
    EXPECT_EQ(S_OK, CreateTypedShareSessionCmd<CmdGetCidDat>(&created));
    CComPtr<Command> cmd(created);
    cmd->SetUserId(kUin);
    cmd->SetCommandId(kCommandId);
    cmd->SetHttpFactory(platform->factory);
    EXPECT_EQ(expected, cmd->Start());
    return cmd;
  }

  // Plays the connection: connected, request sent, then the whole reply (status and
  // body; no body object when body is null), the body's first firstPiece bytes in a
  // piece of their own when not 0. Returns the command's final state.
  int Exchange(Command* cmd, int status, const std::string* body, size_t firstPiece = 0) {
    CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
    EXPECT_NE(nullptr, events.p);
    if (!events) return -1;
    events->OnConnect(0, nullptr);
    cmd->Step();
    events->OnSendComplete(0, nullptr);
    cmd->Step();
    CComPtr<FakeReplyHeaders> headers(new FakeReplyHeaders(status));
    std::string rest = body != nullptr ? *body : std::string();
    if (body != nullptr && firstPiece != 0) {
      CComPtr<FakeBuffer> first(new FakeBuffer(rest.substr(0, firstPiece)));
      events->OnData(first, nullptr);
      cmd->Step();
      rest.erase(0, firstPiece);
    }
    CComPtr<FakeBuffer> buffer(body != nullptr ? new FakeBuffer(rest) : nullptr);
    events->OnComplete(0, headers, buffer, nullptr);
    cmd->Step();
    int state = -1;
    cmd->GetState(&state);
    return state;
  }

  int Fetch(const std::string& body, int status = 200, size_t firstPiece = 0) {
    CComPtr<Command> cmd = Started();
    return Exchange(cmd, status, &body, firstPiece);
  }

  CComPtr<IResultOnAlbum> FiledResult() {
    CComPtr<ICommonResult> common;
    if (FAILED(session->FetchResult(kCommandId, &common))) return CComPtr<IResultOnAlbum>();
    return CComPtr<IResultOnAlbum>(static_cast<IResultOnAlbum*>(common.p));
  }

  BlogSession_* session = BlogSession_::Instance();
  CComPtr<FakePlatform> platform{new FakePlatform};
  HostPlatformScope scope{platform};
  RecordingResultSink results;
  RecordingFailureSink failures;
};

// ---------------------------------------------------------------- the table

TEST_F(CmdGetCidDatTest, TableIsMergedInOrderAndDelivered) {
  const std::vector<uint8_t> shared = {0x00, 0x0A, 0xFF, 0x7F, 0x80};
  std::string table = CidRecord(shared, 7) + CidRecord(CidBytes(2), 3) +
                      CidRecord(shared, 9) + CidRecord(CidBytes(3), -2);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(table));

  // The request: GET of the URL's path on its host, nothing else.
  const std::vector<std::string> log = platform->factory->connection->log();
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "SetServer data.velmora.cn:80"));
  auto request = platform->factory->lastRequest;
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("GET", request->method);
  EXPECT_EQ("/cid/10001/Cid.dat", request->path);
  EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"Host", "data.velmora.cn"}}),
            request->headers);

  // Two albums sharing a content id come back in the table's order.
  std::vector<uint8_t> sharedFull = shared;
  sharedFull.resize(20, 0x11);
  const std::wstring sharedKey = KeyOf(sharedFull);
  EXPECT_EQ(0u, sharedKey.find(L"000AFF7F80")) << "upper-case hexadecimal";
  EXPECT_EQ((std::vector<int>{7, 9}), AlbumsOf(session, sharedKey));
  EXPECT_EQ((std::vector<int>{3}), AlbumsOf(session, KeyOf(CidBytes(2))));
  EXPECT_EQ((std::vector<int>{-2}), AlbumsOf(session, KeyOf(CidBytes(3))));
  EXPECT_EQ(4u, session->CidPairCount());

  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
  EXPECT_TRUE(failures.calls().empty());
  CComPtr<IResultOnAlbum> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int value = 0;
  result->GetStatus(&value);
  EXPECT_EQ(1, value);
  result->GetOperationIndex(&value);
  EXPECT_EQ(1, value);
  BSTR text = nullptr;
  result->GetOperationTitle(&text);
  EXPECT_EQ(std::wstring(L"获取Cid.dat文件信息"), std::wstring(text, SysStringLen(text)));
  SysFreeString(text);
  result->GetUin(&text);
  EXPECT_EQ(std::wstring(kUin), std::wstring(text, SysStringLen(text)));
  SysFreeString(text);
}

TEST_F(CmdGetCidDatTest, OnlyWholeRecordsAreRead) {
  const std::string two = CidRecord(CidBytes(1), 5) + CidRecord(CidBytes(2), 6);
  // 47 bytes: one record and 23 bytes of a second one, which are ignored.
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(two.substr(0, 47)));
  EXPECT_EQ(1u, session->CidPairCount());
  EXPECT_EQ((std::vector<int>{5}), AlbumsOf(session, KeyOf(CidBytes(1))));
  EXPECT_TRUE(AlbumsOf(session, KeyOf(CidBytes(2))).empty());

  session->ClearAll();
  SetCidDatUrl(L"http://data.velmora.cn/cid/10001/Cid.dat");
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(two));
  EXPECT_EQ(2u, session->CidPairCount());

  // Fewer than 24 bytes: no record, still a fetched (empty) table.
  session->ClearAll();
  SetCidDatUrl(L"http://data.velmora.cn/cid/10001/Cid.dat");
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(two.substr(0, 23)));
  EXPECT_EQ(0u, session->CidPairCount());

  // A table in pieces, split inside a record, is joined and read alike (the table's
  // parser keeps the joined block as it is).
  session->ClearAll();
  SetCidDatUrl(L"http://data.velmora.cn/cid/10001/Cid.dat");
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(two.substr(0, 47), 200, 30));
  EXPECT_EQ(1u, session->CidPairCount());
  EXPECT_EQ((std::vector<int>{5}), AlbumsOf(session, KeyOf(CidBytes(1))));
}

TEST_F(CmdGetCidDatTest, FetchingTheSameTableTwiceHoldsEveryPairTwice) {
  const std::string table = CidRecord(CidBytes(1), 5) + CidRecord(CidBytes(2), 6);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(table));
  platform->factory = new framework_testing::FakeFactory;  // a fresh connection
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(table));
  EXPECT_EQ((std::vector<int>{5, 5}), AlbumsOf(session, KeyOf(CidBytes(1))));
  EXPECT_EQ(4u, session->CidPairCount());
}

TEST_F(CmdGetCidDatTest, MergeReadsNothingPastTheTable) {
  // The table sits at the very end of an exactly sized heap block: a read past it is
  // caught by the address sanitizer.
  const std::string table = CidRecord(CidBytes(4), 12) + CidRecord(CidBytes(5), 13);
  for (size_t length : {size_t{0}, size_t{1}, size_t{23}, size_t{24}, size_t{25}, size_t{47}, size_t{48}}) {
    std::unique_ptr<BYTE[]> exact(new BYTE[length == 0 ? 1 : length]);
    std::memcpy(exact.get(), table.data(), length);
    session->ClearAll();
    EXPECT_EQ(length / 24, CmdGetCidDat::MergeCidTable(session, exact.get(), length)) << length;
    EXPECT_EQ(length / 24, session->CidPairCount()) << length;
  }
  EXPECT_EQ(0u, CmdGetCidDat::MergeCidTable(session, nullptr, 48));
  EXPECT_EQ(0u, CmdGetCidDat::MergeCidTable(nullptr, reinterpret_cast<const BYTE*>(table.data()), 48));
}

TEST_F(CmdGetCidDatTest, MergeHoldsCidLockThroughout) {
  // A thread reading the index meanwhile sees it before or after the merge, never half
  // merged.
  std::string table;
  for (int i = 0; i < 20000; ++i) table += CidRecord(CidBytes(i), i);
  std::atomic<bool> done{false};
  std::vector<size_t> partial;
  std::thread reader([&] {
    while (!done.load()) {
      const size_t seen = session->CidPairCount();
      if (seen != 0 && seen != 20000) partial.push_back(seen);
    }
  });
  CmdGetCidDat::MergeCidTable(session, reinterpret_cast<const BYTE*>(table.data()),
                              table.size());
  done = true;
  reader.join();
  EXPECT_TRUE(partial.empty()) << partial.size() << " half-merged views, first "
                               << (partial.empty() ? 0 : partial[0]);
}

// ---------------------------------------------------------------- replies without a table

TEST_F(CmdGetCidDatTest, EmptyBodyFailsWithoutResult) {
  EXPECT_EQ(BaseCmd::kStateFailed, Fetch(std::string()));
  EXPECT_TRUE(results.calls().empty());
  EXPECT_EQ(nullptr, FiledResult().p);
  EXPECT_EQ(0u, session->CidPairCount());
}

TEST_F(CmdGetCidDatTest, NotFoundDeliversAnEmptySuccessOnce) {
  // Whatever page comes with the 404, its bytes are no table.
  const std::string page(96, 'x');
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(page, 404));
  EXPECT_EQ(0u, session->CidPairCount());
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
  CComPtr<IResultOnAlbum> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int status = 0;
  result->GetStatus(&status);
  EXPECT_EQ(1, status);

  // Without a body as well; in role 1 too (a 404 is delivered in every role).
  session->ClearAll();
  SetCidDatUrl(L"http://data.velmora.cn/cid/10001/Cid.dat");
  platform->factory = new framework_testing::FakeFactory;
  platform->manager->role = BaseBlogCmd::kRoleServe;
  CComPtr<Command> cmd = Started();
  EXPECT_EQ(BaseCmd::kStateSucceeded, Exchange(cmd, 404, nullptr));
  EXPECT_EQ(2u, results.calls().size());
  EXPECT_TRUE(platform->manager->server->notices().empty());
}

TEST_F(CmdGetCidDatTest, ErrorPageIsNotReadAsATableAndTheHostIsTold) {
  const std::string page(48, '<');
  EXPECT_EQ(BaseCmd::kStateFailed, Fetch(page, 500));
  EXPECT_EQ(0u, session->CidPairCount());
  EXPECT_TRUE(results.calls().empty());
  EXPECT_EQ((std::vector<std::vector<int>>{{BaseBlogCmd::kFailureBadReply, 1, 0, 0}}),
            failures.calls());
}

TEST_F(CmdGetCidDatTest, TransportErrorGoesToTheFailureSinks) {
  CComPtr<Command> cmd = Started();
  platform->factory->connection->events()->OnConnect(12029, nullptr);
  cmd->Step();
  int state = 0;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateFailed, state);
  EXPECT_EQ((std::vector<std::vector<int>>{{12029, 1, 0, 0}}), failures.calls());
  EXPECT_TRUE(results.calls().empty());
  EXPECT_EQ(nullptr, FiledResult().p);
}

TEST_F(CmdGetCidDatTest, NoRequestWithoutAUsableUrl) {
  {
    Hold hold(session->ServerLock());
    session->StoreServerEntry(kUin, nullptr);
  }
  CComPtr<Command> cmd = Started(E_FAIL);
  int state = 0;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateFailed, state);
  for (const std::string& line : platform->factory->connection->log()) {
    EXPECT_EQ(std::string::npos, line.find("SetServer")) << line;
  }
  // The host hears of it as of a connection that failed.
  const std::vector<int> notice = {BaseBlogCmd::kFailureNoServer, 1, 0, 0};
  EXPECT_EQ((std::vector<std::vector<int>>{notice}), failures.calls());

  SetCidDatUrl(L"http://data.example.com/cid/10001/Cid.dat");
  platform->factory = new framework_testing::FakeFactory;
  cmd = Started(E_FAIL);
  EXPECT_EQ(0, platform->factory->requestsCreated);
  EXPECT_TRUE(results.calls().empty());
  EXPECT_EQ((std::vector<std::vector<int>>{notice, notice}), failures.calls());
}

// ---------------------------------------------------------------- the share session

TEST_F(CmdGetCidDatTest, ServingProcessBroadcastsTheWholeIndex) {
  session->AddCidPair(L"EARLIER", 4);
  platform->manager->role = BaseBlogCmd::kRoleServe;
  const std::string table = CidRecord(CidBytes(1), 5) + CidRecord(CidBytes(1), 6);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(table));

  EXPECT_TRUE(results.calls().empty()) << "role 1 broadcasts instead of delivering";
  FakeServer* server = platform->manager->server;
  ASSERT_EQ(1u, server->notices().size());
  EXPECT_TRUE((FakeServer::Notice{0, 1, 0, 0}) == server->notices()[0]);
  ASSERT_EQ(1u, server->published().size());
  const std::wstring wideKey = KeyOf(CidBytes(1));
  const std::string key(wideKey.begin(), wideKey.end());
  EXPECT_EQ(Record().Text("10001").Int(3).Text(key).Int(5).Text(key).Int(6).Text("EARLIER").Int(4).bytes(),
            server->published()[0]);
}

TEST_F(CmdGetCidDatTest, ChangeRecordSizeMatchesTheRecord) {
  session->AddCidPair(L"AB", 1);
  session->AddCidPair(L"\x4E2D\x6587", 2);  // not ASCII: its ANSI form is 4 bytes
  std::vector<BYTE> record = CmdGetCidDat::BuildChangeRecord(session, "10001");
  EXPECT_EQ(Record().Text("10001").Int(2).Text("AB").Int(1).Text("\xD6\xD0\xCE\xC4").Int(2).bytes(),
            record);
  CComPtr<Command> cmd = Started();
  EXPECT_EQ(static_cast<int>(record.size()), cmd->GetChangeRecordSize());
  cmd->SetState(8, nullptr);
}

// Feeds payload to a forwarding process's decoder as a code-1 broadcast.
bool Decode(FakePlatform* platform, TestDecoder* decoder, const std::vector<BYTE>& payload) {
  platform->manager->channel->broadcast = payload;
  return decoder->DecodeMessage(kNoticeCidData, 0, 0);
}

TEST_F(CmdGetCidDatTest, BroadcastRoundTripLeavesBothProcessesWithTheSameIndex) {
  TestSession forwarder;
  forwarder.SetCurrentUin(kUin);
  forwarder.AddCidPair(L"STALE", 99);  // applied from an older state of the server
  session->AddCidPair(L"\x4E2D\x6587", 8);  // travels as ANSI bytes, made wide again
  TestDecoder decoder(&forwarder);
  platform->manager->role = BaseBlogCmd::kRoleServe;
  const std::string table = CidRecord(CidBytes(1), 5) + CidRecord(CidBytes(2), 6) +
                            CidRecord(CidBytes(1), 7);

  for (int fetch = 1; fetch <= 3; ++fetch) {
    platform->factory = new framework_testing::FakeFactory;
    EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(table)) << fetch;
    auto published = platform->manager->server->published();
    ASSERT_EQ(static_cast<size_t>(fetch), published.size());
    EXPECT_TRUE(Decode(platform, &decoder, published.back())) << fetch;
    // The serving process holds each fetch's pairs once more; the forwarding one holds
    // exactly the same, not the sum of all broadcasts.
    EXPECT_EQ(PairsOf(session), PairsOf(&forwarder)) << fetch;
    EXPECT_EQ(static_cast<size_t>(3 * fetch + 1), forwarder.CidPairCount());
  }
  EXPECT_EQ(std::vector<int>({5, 7, 5, 7, 5, 7}), AlbumsOf(&forwarder, KeyOf(CidBytes(1))));
  EXPECT_TRUE(AlbumsOf(&forwarder, L"STALE").empty());
}

TEST_F(CmdGetCidDatTest, DecoderRefusesBadBroadcastsAndKeepsItsIndex) {
  TestSession forwarder;
  forwarder.SetCurrentUin(kUin);
  forwarder.AddCidPair(L"KEEP", 1);
  TestDecoder decoder(&forwarder);
  const std::string cid(40, 'C');
  const std::vector<std::vector<BYTE>> bad = {
      Record().Text("10001").Int(2).Text(cid).Int(5).bytes(),            // ends early
      Record().Text("10001").Int(2).Text(cid).Int(5).Text(cid).bytes(),  // album id cut
      Record().Text("10001").Int(0x7FFFFFFF).Text(cid).Int(5).bytes(),   // count lies
      Record().Text("10001").Int(-1).bytes(),                            // negative count
      Record().Text("10001").Int(1).Text(std::string(65537, 'C')).Int(5).bytes(),  // too long
      Record().Text("").Int(1).Text(cid).Int(5).bytes(),                 // no user
      Record().Text("10001").bytes(),                                    // no count
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_FALSE(Decode(platform, &decoder, bad[i])) << i;
    EXPECT_EQ((std::vector<std::pair<std::wstring, int>>{{L"KEEP", 1}}), PairsOf(&forwarder)) << i;
  }
  // A content id longer than a Cid.dat key (a resource list's may be), and an empty
  // index.
  EXPECT_TRUE(Decode(platform, &decoder,
                     Record().Text("10001").Int(1).Text(std::string(200, 'C')).Int(5).bytes()));
  EXPECT_EQ((std::vector<int>{5}), AlbumsOf(&forwarder, std::wstring(200, L'C')));
  EXPECT_TRUE(Decode(platform, &decoder, Record().Text("10001").Int(0).bytes()));
  EXPECT_EQ(0u, forwarder.CidPairCount());
}

TEST_F(CmdGetCidDatTest, ForwardingProcessSendsTheUserAndDeliversTheAnswer) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  CComPtr<Command> cmd = Started();
  EXPECT_EQ(0, platform->factory->connectionsCreated) << "no HTTP in a forwarding process";
  auto sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("GetCidDat", sent[0]->name);
  EXPECT_EQ(Record().Text("10001").bytes(), sent[0]->payload);

  int id = 0;
  sent[0]->GetId(&id);
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload = Record().Int(1).Int(0).Int(0).bytes();
  cmd->OnRecvOperationResult(answer);
  int state = 0;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateSucceeded, state);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
  CComPtr<IResultOnAlbum> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int status = 0;
  result->GetStatus(&status);
  EXPECT_EQ(1, status);
}

TEST(CmdGetCidDatRegistryTest, BothCommandsAreRegisteredUnderTheirNames) {
  size_t count = 0;
  const BlogCommandRegistration* table = BlogCommandTable(&count);
  int found = 0;
  for (size_t i = 0; i < count; ++i) {
    const std::string name = table[i].name;
    if (name != "GetCidDat" && name != "RefreshResComment") continue;
    ++found;
    IWorkshopCmd* made = nullptr;
    ASSERT_EQ(S_OK, table[i].factory(&made));
    CComPtr<IWorkshopCmd> command(made);  // the factory hands out a count of 0
    EXPECT_EQ(name, static_cast<BaseBlogCmd*>(command.p)->GetCommandName());
  }
  EXPECT_EQ(2, found);
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
