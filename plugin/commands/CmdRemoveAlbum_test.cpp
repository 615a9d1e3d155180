#include "commands/CmdRemoveAlbum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "test/AlbumCmdTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using album_testing::AlbumCmdTest;
using album_testing::AlbumSpec;
using album_testing::Headers;
using album_testing::kCommandId;
using album_testing::kUin;
using album_testing::Picture;
using album_testing::ResultReply;
using commands_testing::FakeMessage;
using commands_testing::Record;

typedef CComObject<ShareSessionCmd<CmdRemoveAlbum>> Command;

// 删除专辑, 专辑不存在, 专辑不为空, cookie验证错误.
const wchar_t kRemoveTitle[] = L"\u5220\u9664\u4E13\u8F91";
const wchar_t kNoExistText[] = L"\u4E13\u8F91\u4E0D\u5B58\u5728";
const wchar_t kNoEmptyText[] = L"\u4E13\u8F91\u4E0D\u4E3A\u7A7A";
const wchar_t kDeniedText[] = L"cookie\u9A8C\u8BC1\u9519\u8BEF";

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

class CmdRemoveAlbumTest : public AlbumCmdTest {
 protected:
  CComPtr<Command> Remove(int categoryId) {
    CComPtr<Command> command = NewCommand<CmdRemoveAlbum>();
    command->SetCategoryId(categoryId);
    return command;
  }
  int Run(int categoryId, const std::string& message) {
    return Exchange(Remove(categoryId), ResultReply({{"message", message}}));
  }
  // Albums 12 ("Trip", two resources) and 13 (one resource sharing a cid with 12).
  void SeedBoth() {
    AlbumSpec trip;
    trip.id = 12;
    trip.name = L"\u65C5\u884C";  // 旅行
    Seed(trip, {{501, L"CID501"}, {502, L"CIDX"}});
    AlbumSpec other;
    other.id = 13;
    other.name = L"other";
    Seed(other, {{601, L"CIDX"}});
  }
};

// ---------------------------------------------------------------- the request

TEST_F(CmdRemoveAlbumTest, FormHoldsExactlyTheUserAndTheCategory) {
  Run(12, "no_empty");
  EXPECT_EQ("uin=10001&category_id=12", SentBody().value_or("<no body>"));
  auto request = SentRequest();
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("POST", request->method);
  EXPECT_EQ("/api/category_delete", request->path);
  ASSERT_EQ(3u, request->headers.size());
  EXPECT_EQ(Headers::value_type("Content-Type", "application/x-www-form-urlencoded"),
            request->headers[0]);
  EXPECT_EQ("Cookie", request->headers[1].first);
  EXPECT_EQ(0u, request->headers[1].second.find("login_name=10001; login_time="));

  NewConnection();
  Run(-7, "no_empty");
  EXPECT_EQ("uin=10001&category_id=-7", SentBody().value_or("<no body>"));
}

TEST_F(CmdRemoveAlbumTest, AFormOfMoreThan1023BytesGoesOutWithoutBody) {
  // "uin=" + user id + "&category_id=12": 19 bytes besides the user id.
  CComPtr<Command> fits = Remove(12);
  fits->SetUserId(std::wstring(1004, L'9').c_str());
  Exchange(fits, ResultReply({{"message", "denied"}}));
  EXPECT_EQ(1023u, SentBody().value_or("").size());

  NewConnection();
  CComPtr<Command> tooLong = Remove(12);
  tooLong->SetUserId(std::wstring(1005, L'9').c_str());
  Exchange(tooLong, ResultReply({{"message", "denied"}}));
  EXPECT_FALSE(SentBody().has_value());
}

// ---------------------------------------------------------------- the reply

TEST_F(CmdRemoveAlbumTest, SuccessRemovesTheAlbumAndEveryIndexEntryOfItAndNamesIt) {
  SeedBoth();
  const Picture before = Albums();
  ASSERT_EQ(5u, before.size());
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(12, "success"));
  EXPECT_EQ((Picture{before[1], "cid CIDX -> 13"}), Albums());

  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
  auto filed = Result();
  ASSERT_TRUE(filed.has_value());
  EXPECT_EQ(1, filed->status);
  EXPECT_EQ(8, filed->operationIndex);
  EXPECT_EQ(12, filed->categoryId);
  EXPECT_EQ(L"\u65C5\u884C", filed->categoryName);
  EXPECT_EQ(kRemoveTitle, filed->title);
  EXPECT_EQ(L"", filed->messageText);
  EXPECT_EQ(kUin, filed->uin);
}

TEST_F(CmdRemoveAlbumTest, NoExistDropsTheCachedAlbumAndDeliversStatusZero) {
  SeedBoth();
  const Picture before = Albums();
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(12, "no_exist"));
  EXPECT_EQ((Picture{before[1], "cid CIDX -> 13"}), Albums());
  auto filed = Result();
  ASSERT_TRUE(filed.has_value());
  EXPECT_EQ(0, filed->status);
  EXPECT_EQ(kNoExistText, filed->messageText);
  EXPECT_EQ(L"", filed->categoryName) << "the name is kept on success only";

  // An album the cache lacks: still a result.
  NewConnection();
  session->ClearAll();
  SeedBoth();
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(77, "no_exist"));
  EXPECT_EQ(before, Albums());
  EXPECT_EQ(0, Result()->status);
}

TEST_F(CmdRemoveAlbumTest, WithoutAFetchedListTheSessionStaysButTheResultIsDelivered) {
  session->AddCidPair(L"CID501", 12);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(12, "success"));
  EXPECT_EQ((Picture{"no list", "cid CID501 -> 12"}), Albums());
  ASSERT_TRUE(Result().has_value());
  EXPECT_EQ(1, Result()->status);
  EXPECT_EQ(12, Result()->categoryId);
  EXPECT_TRUE(failures.calls().empty());
}

TEST_F(CmdRemoveAlbumTest, SuccessForAnAlbumTheListLacksClearsItsIndexEntriesEverywhere) {
  SeedBoth();
  session->AddCidPair(L"CID900", 90);
  const Picture before = Albums();
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(90, "success"));
  Picture expected = before;
  expected.erase(std::find(expected.begin(), expected.end(), "cid CID900 -> 90"));
  EXPECT_EQ(expected, Albums());
  ASSERT_TRUE(Result().has_value());
  EXPECT_EQ(1, Result()->status);

  // The serving process broadcasts the index change, so every process drops the pair.
  platform->manager->role = BaseBlogCmd::kRoleServe;
  NewConnection();
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(90, "success"));
  EXPECT_EQ(1u, Published().size());
}

TEST_F(CmdRemoveAlbumTest, OtherWordsLeaveTheCacheAndCarryTheirText) {
  SeedBoth();
  const Picture before = Albums();
  const std::pair<std::string, std::wstring> words[] = {
      {"no_empty", kNoEmptyText}, {"denied", kDeniedText}, {"Success", L""}, {"", L""}};
  for (const auto& word : words) {
    SCOPED_TRACE(word.first);
    NewConnection();
    session->ClearAll();
    SeedBoth();
    EXPECT_EQ(BaseCmd::kStateSucceeded, Run(12, word.first));
    EXPECT_EQ(before, Albums());
    auto filed = Result();
    ASSERT_TRUE(filed.has_value());
    EXPECT_EQ(0, filed->status);
    EXPECT_EQ(word.second, filed->messageText);
  }
  // A reply without "message" at all.
  NewConnection();
  session->ClearAll();
  SeedBoth();
  EXPECT_EQ(BaseCmd::kStateSucceeded, Exchange(Remove(12), ResultReply({})));
  EXPECT_EQ(before, Albums());
  EXPECT_EQ(0, Result()->status);
}

TEST_F(CmdRemoveAlbumTest, DeliveryRunsUnderTheAlbumListLockThenTheResultLock) {
  SeedBoth();
  bool albumsHeld = false;
  bool resultsHeld = false;
  results.action = [&](int) {
    albumsHeld = !FreeForOtherThreads(session->AlbumListLock());
    resultsHeld = !FreeForOtherThreads(session->ResultLock());
  };
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(12, "success"));
  results.action = nullptr;
  EXPECT_TRUE(albumsHeld);
  EXPECT_TRUE(resultsHeld);
  EXPECT_TRUE(FreeForOtherThreads(session->AlbumListLock())) << "released afterwards";
}

TEST_F(CmdRemoveAlbumTest, TransportErrorTellsTheFailureSinks) {
  CComPtr<Command> command = Remove(12);
  ASSERT_EQ(S_OK, command->Start());
  platform->factory->connection->events()->OnConnect(10060, nullptr);
  command->Step();
  EXPECT_EQ((std::vector<std::vector<int>>{{10060, 8, 0, 0}}), failures.calls());
  EXPECT_FALSE(Result().has_value());
}

// ---------------------------------------------------------------- share session

TEST_F(CmdRemoveAlbumTest, TheServingProcessBroadcastsAndTheDecoderRebuildsTheSameState) {
  SeedBoth();
  const Picture before = Albums();
  platform->manager->role = BaseBlogCmd::kRoleServe;
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(12, "success"));
  EXPECT_FALSE(Result().has_value());
  EXPECT_EQ((std::vector<int>{6}), NoticeCodes());
  const auto published = Published();
  ASSERT_EQ(1u, published.size());
  EXPECT_EQ(Record().Text("10001").Text("success").Int(12).bytes(), published[0]);

  const Picture serving = Albums();
  session->ClearAll();
  SeedBoth();
  ASSERT_EQ(before, Albums());
  EXPECT_TRUE(Decode(kNoticeRemoveAlbum, published[0]));
  EXPECT_EQ(serving, Albums()) << "the index entries of the album go here too";
}

TEST_F(CmdRemoveAlbumTest, TheServingProcessIsSilentWithoutSuccess) {
  SeedBoth();
  platform->manager->role = BaseBlogCmd::kRoleServe;
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(12, "no_exist"));
  EXPECT_TRUE(Published().empty());
  EXPECT_TRUE(NoticeCodes().empty());
  EXPECT_FALSE(Result().has_value());
}

TEST_F(CmdRemoveAlbumTest, ForwardedRemovalCarriesUserAndCategory) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  CComPtr<Command> command = Remove(12);
  ASSERT_EQ(S_OK, command->Start());
  const auto sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("RemoveAlbum", sent[0]->name);
  EXPECT_EQ(Record().Text("10001").Int(12).bytes(), sent[0]->payload);

  CComPtr<Command> served = NewCommand<CmdRemoveAlbum>();
  served->SetUserId(L"");
  EXPECT_EQ(S_OK, served->SetOperationMessage(sent[0]));
  EXPECT_EQ("10001", served->UserId());
  EXPECT_EQ(12, served->CategoryId());

  CComPtr<FakeMessage> cut(new FakeMessage(3));
  cut->payload = Record().Text("20002").bytes();
  CComPtr<Command> refusing = Remove(5);
  EXPECT_EQ(E_FAIL, refusing->SetOperationMessage(cut));
  EXPECT_EQ("10001", refusing->UserId());
  EXPECT_EQ(5, refusing->CategoryId());

  CComPtr<Command> longUser = Remove(12);
  longUser->SetUserId(std::wstring(47, L'1').c_str());
  EXPECT_EQ(E_FAIL, longUser->Start()) << "the serving side could not read it";
  EXPECT_EQ(1u, platform->manager->channel->sent().size());

  // The host's status-only answer.
  int id = 0;
  sent[0]->GetId(&id);
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload.assign(32, 0);
  answer->payload[0] = 1;
  command->OnRecvOperationResult(answer);
  auto filed = Result();
  ASSERT_TRUE(filed.has_value());
  EXPECT_EQ(1, filed->status);
  EXPECT_EQ(12, filed->categoryId);
}

TEST_F(CmdRemoveAlbumTest, ResultRecordCarriesStatusMessageAndName) {
  SeedBoth();
  CComPtr<Command> command = Remove(12);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Exchange(command, ResultReply({{"message", "success"}})));
  const int size = command->GetResultRecordSize();
  std::vector<BYTE> payload(static_cast<size_t>(size));
  ASSERT_TRUE(command->WriteResultRecord(payload.data(), size));
  ASSERT_FALSE(command->RemovedAlbumName().empty());
  EXPECT_EQ(Record().Int(1).Text("success").Text(WideToAnsi(command->RemovedAlbumName())).bytes(),
            payload);
  CComPtr<Command> reader = Remove(12);
  ASSERT_TRUE(reader->ReadResultRecord(payload.data(), size));
  EXPECT_EQ(1, reader->Status());
  EXPECT_EQ("success", reader->Message());
  EXPECT_EQ(command->RemovedAlbumName(), reader->RemovedAlbumName());
  std::vector<BYTE> longWord = Record().Int(0).Text(std::string(47, 'w')).bytes();
  EXPECT_FALSE(reader->ReadResultRecord(longWord.data(), static_cast<int>(longWord.size())));
  EXPECT_EQ("success", reader->Message());
}

// ---------------------------------------------------------------- the decoder, code 6

TEST_F(CmdRemoveAlbumTest, DecoderRemovesOnlyOnAWholeSuccessfulRemoval) {
  SeedBoth();
  const Picture before = Albums();
  EXPECT_TRUE(Decode(kNoticeRemoveAlbum, Record().Text("10001").Text("no_empty").bytes()));
  EXPECT_FALSE(Decode(kNoticeRemoveAlbum, Record().Text("10001").Text("success").bytes()))
      << "no album id";
  EXPECT_FALSE(Decode(kNoticeRemoveAlbum, Record().Text("20002").Text("success").Int(12).bytes()))
      << "a user without a list here";
  EXPECT_EQ(before, Albums());

  session->AddCidPair(L"CID900", 90);
  EXPECT_FALSE(Decode(kNoticeRemoveAlbum, Record().Text("10001").Text("success").Int(90).bytes()))
      << "an album the list lacks";
  EXPECT_EQ(before, Albums()) << "its index entries went all the same";

  EXPECT_TRUE(Decode(kNoticeRemoveAlbum, Record().Text("10001").Text("success").Int(13).bytes()));
  EXPECT_EQ((Picture{before[0], "cid CID501 -> 12", "cid CIDX -> 12"}), Albums());
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
