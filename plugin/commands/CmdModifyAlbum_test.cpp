#include "commands/CmdModifyAlbum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
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
using album_testing::MakeAlbum;
using album_testing::Picture;
using album_testing::ResultReply;
using commands_testing::FakeMessage;
using commands_testing::Record;

typedef CComObject<ShareSessionCmd<CmdModifyAlbum>> Command;

// 修改专辑, 专辑不存在, 敏感词.
const wchar_t kModifyTitle[] = L"\u4FEE\u6539\u4E13\u8F91";
const wchar_t kNoExistText[] = L"\u4E13\u8F91\u4E0D\u5B58\u5728";
const wchar_t kIllegalText[] = L"\u654F\u611F\u8BCD";

// Album 12 as the session holds it before the modify: three tags, a last time, a
// resource in the content-id index.
AlbumSpec CachedTwelve() {
  AlbumSpec spec;
  spec.id = 12;
  spec.name = L"old";
  spec.showStatus = 1;
  spec.categoryType = 1;
  spec.desc = L"old desc";
  spec.lastTime = L"2026-12-01 10:00:00";
  spec.picUrl = L"http://pic.velmora.cn/old.jpg";
  spec.tagNum = 3;
  spec.tags = {L"a", L"b", L"c"};
  spec.newlyAdded = 1;
  return spec;
}

// The new description of album 12: 海 & 山, one tag, show status 2, four new resources.
AlbumSpec NewTwelve() {
  AlbumSpec spec;
  spec.id = 12;
  spec.name = L"\u6D77 & \u5C71";
  spec.showStatus = 2;
  spec.categoryType = 4;
  spec.desc = L"new=desc";
  spec.lastTime = L"ignored";
  spec.picUrl = L"";
  spec.tagNum = 1;
  spec.tags = {L"x y"};
  spec.newlyAdded = 4;
  return spec;
}

class CmdModifyAlbumTest : public AlbumCmdTest {
 protected:
  CComPtr<Command> Modify(const AlbumSpec& spec) {
    CComPtr<Command> command = NewCommand<CmdModifyAlbum>();
    CComPtr<AlbumInfo> album = MakeAlbum(spec);
    EXPECT_EQ(S_OK, command->SetAlbum(album));
    return command;
  }
  int Run(const AlbumSpec& spec, const std::string& reply) { return Exchange(Modify(spec), reply); }
  std::string FormOf(const AlbumSpec& spec) {
    NewConnection();
    Run(spec, ResultReply({{"return", "0"}, {"message", "fail"}}));
    if (!platform->factory->connection->sentRequest()) return "<not sent>";
    return SentBody().value_or("<no body>");
  }
  void SeedBoth() {
    Seed(CachedTwelve(), {{501, L"CID501"}});
    AlbumSpec other;
    other.id = 13;
    other.name = L"other";
    Seed(other, {{601, L"CID601"}});
  }
};

// ---------------------------------------------------------------- the request

TEST_F(CmdModifyAlbumTest, FormNamesTheAlbumAndEndsWithTheNewResourceCount) {
  EXPECT_EQ("encoder=utf-8&uin=10001&category_id=12&category_name=\xE6\xB5\xB7%20%26%20"
            "\xE5\xB1\xB1&category_type=4&show_status=0&tag0=x%20y&category_desc=new%3Ddesc"
            "&pic_url=&newly_added_res_num=4",
            FormOf(NewTwelve()));
  auto request = SentRequest();
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("POST", request->method);
  EXPECT_EQ("/api/category_update", request->path);
  ASSERT_EQ(3u, request->headers.size());
  EXPECT_EQ(Headers::value_type("Content-Type", "application/x-www-form-urlencoded"),
            request->headers[0]);
  EXPECT_EQ(0u, request->headers[1].second.find("login_name=10001; login_time="));

  AlbumSpec tagless = NewTwelve();
  tagless.tagNum = 0;
  tagless.showStatus = 1;
  EXPECT_NE(std::string::npos, FormOf(tagless).find("&show_status=1&category_desc="));
}

TEST_F(CmdModifyAlbumTest, AFormOfMoreThan8191BytesIsNotSent) {
  AlbumSpec spec = NewTwelve();
  spec.picUrl = L"";
  const size_t base = FormOf(spec).size();
  spec.picUrl = std::wstring(CmdModifyAlbum::kFormSize - 1 - base, L'p');
  EXPECT_EQ(CmdModifyAlbum::kFormSize - 1, FormOf(spec).size());
  spec.picUrl += L"p";
  EXPECT_EQ("<not sent>", FormOf(spec));
}

// ---------------------------------------------------------------- the reply

TEST_F(CmdModifyAlbumTest, AcceptedModifyRewritesTheCachedAlbumAndDelivers) {
  SeedBoth();
  Picture expected = Albums();
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(NewTwelve(), ResultReply({{"return", "1"}, {"message", "success"}})));
  // The last time, the resources and the tag slots beyond the count stay.
  expected[0] =
      "album 12 name=\xE6\xB5\xB7 & \xE5\xB1\xB1 show=0 type=4 desc=new=desc "
      "last=2026-12-01 10:00:00 pic= tagnum=1 tags=x y|b|c new=4 loaded=1 res=501";
  EXPECT_EQ(expected, Albums());

  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
  auto filed = Result();
  ASSERT_TRUE(filed.has_value());
  EXPECT_EQ(1, filed->status);
  EXPECT_EQ(7, filed->operationIndex);
  EXPECT_EQ(12, filed->categoryId);
  EXPECT_EQ(L"\u6D77 & \u5C71", filed->categoryName);
  EXPECT_EQ(kModifyTitle, filed->title);
  EXPECT_EQ(L"", filed->messageText);
  EXPECT_EQ(kUin, filed->uin);
}

TEST_F(CmdModifyAlbumTest, AcceptedModifyOfAnAlbumTheCacheLacksIsDeliveredInEveryRole) {
  SeedBoth();
  const Picture before = Albums();
  AlbumSpec unknown = NewTwelve();
  unknown.id = 99;
  for (int role : {BaseBlogCmd::kRoleStandAlone, BaseBlogCmd::kRoleServe}) {
    SCOPED_TRACE(role);
    platform->manager->role = role;
    NewConnection();
    const size_t told = results.calls().size();
    EXPECT_EQ(BaseCmd::kStateSucceeded,
              Run(unknown, ResultReply({{"return", "1"}, {"message", "success"}})));
    EXPECT_EQ(before, Albums());
    ASSERT_TRUE(Result().has_value());
    EXPECT_EQ(1, Result()->status);
    EXPECT_EQ(99, Result()->categoryId);
    EXPECT_EQ(told + 1, results.calls().size());
    // Nothing changed here, so nothing is broadcast.
    EXPECT_TRUE(Published().empty());
    EXPECT_TRUE(NoticeCodes().empty());
  }
}

TEST_F(CmdModifyAlbumTest, NoExistDropsTheAlbumAndItsIndexEntries) {
  SeedBoth();
  const Picture before = Albums();
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(NewTwelve(), ResultReply({{"return", "0"}, {"message", "no_exist"}})));
  EXPECT_EQ((Picture{before[1], "cid CID601 -> 13"}), Albums());
  auto filed = Result();
  ASSERT_TRUE(filed.has_value());
  EXPECT_EQ(0, filed->status);
  EXPECT_EQ(kNoExistText, filed->messageText);
  EXPECT_EQ(12, filed->categoryId);
}

TEST_F(CmdModifyAlbumTest, OtherRefusalsLeaveTheCache) {
  SeedBoth();
  const Picture before = Albums();
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(NewTwelve(), ResultReply({{"return", "0"}, {"message", "illegal"}})));
  EXPECT_EQ(before, Albums());
  EXPECT_EQ(kIllegalText, Result()->messageText);
  EXPECT_EQ(0, Result()->status);
}

TEST_F(CmdModifyAlbumTest, TransportErrorTellsTheFailureSinks) {
  CComPtr<Command> command = Modify(NewTwelve());
  ASSERT_EQ(S_OK, command->Start());
  platform->factory->connection->events()->OnConnect(12002, nullptr);
  command->Step();
  EXPECT_EQ((std::vector<std::vector<int>>{{12002, 7, 0, 0}}), failures.calls());
  EXPECT_FALSE(Result().has_value());
}

// ---------------------------------------------------------------- share session

TEST_F(CmdModifyAlbumTest, TheServingProcessBroadcastsAndTheDecoderRebuildsTheSameState) {
  SeedBoth();
  const Picture before = Albums();
  platform->manager->role = BaseBlogCmd::kRoleServe;
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(NewTwelve(), ResultReply({{"return", "1"}, {"message", "success"}})));
  EXPECT_FALSE(Result().has_value());
  EXPECT_EQ((std::vector<int>{4}), NoticeCodes());
  const auto published = Published();
  ASSERT_EQ(1u, published.size());
  Record expected;
  expected.Text("10001").Text("success");
  expected.Int(12).Text("\xBA\xA3 & \xC9\xBD").Int(0).Int(4).Text("new=desc").Text("").Text("");
  expected.Int(1).Text("x y").Int(4);
  EXPECT_EQ(expected.bytes(), published[0]) << "the command's album, its last time empty";

  const Picture serving = Albums();
  session->ClearAll();
  SeedBoth();
  ASSERT_EQ(before, Albums());
  EXPECT_TRUE(Decode(kNoticeModifyAlbum, published[0]));
  EXPECT_EQ(serving, Albums()) << "the last time and the unused tag slots stay here too";
}

TEST_F(CmdModifyAlbumTest, ForwardedModifyCarriesTheNewResourceCount) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  CComPtr<Command> command = Modify(NewTwelve());
  ASSERT_EQ(S_OK, command->Start());
  const auto sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("ModifyAlbum", sent[0]->name);
  Record request;
  request.Text("10001").Int(12).Text("\xBA\xA3 & \xC9\xBD").Int(0).Int(4).Text("new=desc");
  request.Text("").Text("").Int(1).Text("x y").Int(4);
  EXPECT_EQ(request.bytes(), sent[0]->payload);
  EXPECT_EQ(static_cast<int>(request.bytes().size()), command->GetRequestRecordSize());

  NewConnection();
  CComPtr<Command> served = NewCommand<CmdModifyAlbum>();
  EXPECT_EQ(S_OK, served->SetOperationMessage(sent[0]));
  int count = 0;
  served->Album()->GetNewlyAddedResNum(&count);
  EXPECT_EQ(4, count);
  platform->manager->role = BaseBlogCmd::kRoleStandAlone;
  Exchange(served, ResultReply({{"return", "0"}}));
  const std::string servedForm = SentBody().value_or("<no body>");
  EXPECT_EQ(FormOf(NewTwelve()), servedForm);

  // Cut before the count: refused, nothing taken over.
  CComPtr<FakeMessage> cut(new FakeMessage(8));
  cut->payload.assign(sent[0]->payload.begin(), sent[0]->payload.end() - 1);
  CComPtr<Command> refusing = NewCommand<CmdModifyAlbum>();
  EXPECT_EQ(E_FAIL, refusing->SetOperationMessage(cut));
  int id = 0;
  refusing->Album()->GetId(&id);
  EXPECT_EQ(-1, id);

  AlbumSpec wordy = NewTwelve();
  wordy.desc = std::wstring(97, L'd');
  platform->manager->role = BaseBlogCmd::kRoleForward;
  EXPECT_EQ(E_FAIL, Modify(wordy)->Start());
  EXPECT_EQ(1u, platform->manager->channel->sent().size());
}

TEST_F(CmdModifyAlbumTest, ResultRecordCarriesStatusAndMessage) {
  SeedBoth();
  CComPtr<Command> command = Modify(NewTwelve());
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Exchange(command, ResultReply({{"return", "1"}, {"message", "success"}})));
  const int size = command->GetResultRecordSize();
  std::vector<BYTE> payload(static_cast<size_t>(size));
  ASSERT_TRUE(command->WriteResultRecord(payload.data(), size));
  EXPECT_EQ(Record().Int(1).Text("success").bytes(), payload);

  CComPtr<Command> reader = Modify(NewTwelve());
  ASSERT_TRUE(reader->ReadResultRecord(payload.data(), size));
  EXPECT_EQ(1, reader->Status());
  EXPECT_EQ("success", reader->Message());
  EXPECT_FALSE(reader->ReadResultRecord(payload.data(), size - 1));
}

// ---------------------------------------------------------------- the decoder, code 4

TEST_F(CmdModifyAlbumTest, DecoderAppliesOnlyAWholeSuccessfulModifyOfAKnownAlbum) {
  SeedBoth();
  const Picture before = Albums();
  EXPECT_TRUE(Decode(kNoticeModifyAlbum, Record().Text("10001").Text("fail").bytes()));
  EXPECT_EQ(before, Albums());

  Record unknown;
  unknown.Text("10001").Text("success").Int(99).Text("n").Int(1).Int(0).Text("").Text("").Text(
      "").Int(0).Int(3);
  EXPECT_FALSE(Decode(kNoticeModifyAlbum, unknown.bytes())) << "album 99 is not here";
  Record otherUser;
  otherUser.Text("20002").Text("success").Int(12).Text("n").Int(1).Int(0).Text("").Text("").Text(
      "").Int(0).Int(3);
  EXPECT_FALSE(Decode(kNoticeModifyAlbum, otherUser.bytes())) << "20002 has no albums here";

  Record noCount;
  noCount.Text("10001").Text("success").Int(12).Text("n").Int(1).Int(0).Text("").Text("").Text(
      "").Int(0);
  EXPECT_FALSE(Decode(kNoticeModifyAlbum, noCount.bytes())) << "the count is missing";
  EXPECT_EQ(before, Albums()) << "nothing applied from a cut record";

  Record whole = noCount;
  whole.Int(3);
  EXPECT_TRUE(Decode(kNoticeModifyAlbum, whole.bytes()));
  EXPECT_EQ("album 12 name=n show=1 type=0 desc= last=2026-12-01 10:00:00 pic= tagnum=0 "
            "tags=a|b|c new=3 loaded=1 res=501",
            Albums()[0]);
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
