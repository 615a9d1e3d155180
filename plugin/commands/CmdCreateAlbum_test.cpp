#include "commands/CmdCreateAlbum.h"

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

typedef CComObject<ShareSessionCmd<CmdCreateAlbum>> Command;

// 旅行 & 海=1 (wide), and its escaped UTF-8 form.
const wchar_t kTripName[] = L"\u65C5\u884C & \u6D77=1";
const char kTripForm[] = "\xE6\x97\x85\xE8\xA1\x8C%20%26%20\xE6\xB5\xB7%3D1";
// The same name as code page 936 bytes.
const char kTripAnsi[] = "\xC2\xC3\xD0\xD0 & \xBA\xA3=1";
// 存在同名专辑: the text of "duplicate".
const wchar_t kDuplicateText[] = L"\u5B58\u5728\u540C\u540D\u4E13\u8F91";
// 创建专辑: the title of operation 6.
const wchar_t kCreateTitle[] = L"\u521B\u5EFA\u4E13\u8F91";

AlbumSpec TripAlbum() {
  AlbumSpec spec;
  spec.id = -1;
  spec.name = kTripName;
  spec.showStatus = 1;
  spec.categoryType = 3;
  spec.desc = L"x+y%";
  spec.picUrl = L"http://pic.velmora.cn/1.jpg";
  spec.tagNum = 2;
  spec.tags = {L"\u5C71", L"a/b?"};  // 山
  return spec;
}

// The album record of TripAlbum with id as the server named it.
Record TripRecord(int id) {
  Record record;
  record.Int(id).Text(kTripAnsi).Int(1).Int(3).Text("x+y%").Text("").Text(
      "http://pic.velmora.cn/1.jpg");
  record.Int(2).Text("\xC9\xBD").Text("a/b?");
  return record;
}

std::vector<BYTE> Join(const Record& head, const Record& tail) {
  std::vector<BYTE> bytes = head.bytes();
  bytes.insert(bytes.end(), tail.bytes().begin(), tail.bytes().end());
  return bytes;
}

class CmdCreateAlbumTest : public AlbumCmdTest {
 protected:
  CComPtr<Command> Create(const AlbumSpec& spec) {
    CComPtr<Command> command = NewCommand<CmdCreateAlbum>();
    CComPtr<AlbumInfo> album = MakeAlbum(spec);
    EXPECT_EQ(S_OK, command->SetAlbum(album));
    return command;
  }
  // Runs a create of spec against the reply body; returns the final state.
  int Run(const AlbumSpec& spec, const std::string& reply) {
    return Exchange(Create(spec), reply);
  }
  // The form sent for spec.
  std::string FormOf(const AlbumSpec& spec) {
    NewConnection();
    Run(spec, ResultReply({{"return", "0"}, {"message", "fail"}}));
    if (!platform->factory->connection->sentRequest()) return "<not sent>";
    return SentBody().value_or("<no body>");
  }
  void SeedOne() {
    AlbumSpec old;
    old.id = 7;
    old.name = L"old";
    old.showStatus = 1;
    old.lastTime = L"2026-12-01 10:00:00";
    Seed(old, {{501, L"CID501"}});
  }
};

// ---------------------------------------------------------------- the request

TEST_F(CmdCreateAlbumTest, FormCarriesEveryFieldEscapedAsUtf8) {
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(TripAlbum(), ResultReply({{"return", "0"}, {"message", "fail"}})));
  EXPECT_EQ(std::string("encoder=utf-8&uin=10001&category_name=") + kTripForm +
                "&category_type=3&show_status=1&tag0=\xE5\xB1\xB1&tag1=a%2Fb%3F"
                "&category_desc=x%2By%25&pic_url=http:%2F%2Fpic.velmora.cn%2F1.jpg",
            SentBody().value_or("<no body>"));

  auto request = SentRequest();
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("POST", request->method);
  EXPECT_EQ("/api/category_create", request->path);
  ASSERT_EQ(3u, request->headers.size());
  EXPECT_EQ(Headers::value_type("Content-Type", "application/x-www-form-urlencoded"),
            request->headers[0]);
  EXPECT_EQ("Cookie", request->headers[1].first);
  EXPECT_EQ(0u, request->headers[1].second.find("login_name=10001; login_time="));
  EXPECT_EQ(std::string("login_name=10001; login_time=YYYYMMDDhhmmss; key=").size() + 32,
            request->headers[1].second.size());
  EXPECT_EQ(Headers::value_type("Host", "post.velmora.cn"), request->headers[2]);
  const std::vector<std::string> log = platform->factory->connection->log();
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "SetServer post.velmora.cn:80"));
}

TEST_F(CmdCreateAlbumTest, TagsAndShowStatusAsTheServerTakesThem) {
  AlbumSpec plain;
  plain.name = L"n";
  plain.showStatus = 1;
  EXPECT_EQ("encoder=utf-8&uin=10001&category_name=n&category_type=0&show_status=1"
            "&category_desc=&pic_url=",
            FormOf(plain))
      << "no tags: the description follows the show status";

  for (int shown : {0, 2, -1, 5}) {
    plain.showStatus = shown;
    EXPECT_NE(std::string::npos, FormOf(plain).find("&show_status=0&")) << shown;
  }

  AlbumSpec tagged = plain;
  tagged.tags = {L"a", L"b", L"c"};
  tagged.tagNum = 5;
  EXPECT_NE(std::string::npos, FormOf(tagged).find("&tag0=a&tag1=b&tag2=c&category_desc="))
      << "a count above three sends the three slots";
  tagged.tagNum = -2;
  EXPECT_EQ(std::string::npos, FormOf(tagged).find("tag0")) << "a negative count sends none";
  tagged.tagNum = 1;
  EXPECT_NE(std::string::npos, FormOf(tagged).find("&show_status=0&tag0=a&category_desc="));
}

TEST_F(CmdCreateAlbumTest, AFormOfMoreThan8191BytesIsNotSent) {
  AlbumSpec spec;
  spec.name = L"n";
  const size_t base = FormOf(spec).size();
  spec.desc = std::wstring(CmdCreateAlbum::kFormSize - 1 - base, L'd');
  EXPECT_EQ(CmdCreateAlbum::kFormSize - 1, FormOf(spec).size()) << "8191 bytes fit";
  spec.desc += L"d";
  EXPECT_EQ("<not sent>", FormOf(spec));
  // An escaped character takes three bytes: the bound counts what is sent.
  spec.desc = std::wstring((CmdCreateAlbum::kFormSize - base) / 3 + 1, L' ');
  EXPECT_EQ("<not sent>", FormOf(spec));
}

// ---------------------------------------------------------------- the reply

TEST_F(CmdCreateAlbumTest, AcceptedCreateAppendsTheAlbumAndDeliversItsId) {
  SeedOne();
  const Picture before = Albums();
  CComPtr<Command> command = Create(TripAlbum());
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Exchange(command, ResultReply({{"return", "1"}, {"message", "success"},
                                           {"category_id", "123"}})));

  Picture expected = before;
  expected.insert(expected.begin() + 1,
                  "album 123 name=\xE6\x97\x85\xE8\xA1\x8C & \xE6\xB5\xB7=1 show=1 type=3 "
                  "desc=x+y% last= pic=http://pic.velmora.cn/1.jpg tagnum=2 "
                  "tags=\xE5\xB1\xB1|a/b?| new=0 loaded=0 res=");
  EXPECT_EQ(expected, Albums());
  EXPECT_EQ(123, command->CreatedCategoryId());
  EXPECT_EQ("success", command->Message());

  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
  auto filed = Result();
  ASSERT_TRUE(filed.has_value());
  EXPECT_EQ(1, filed->status);
  EXPECT_EQ(6, filed->operationIndex);
  EXPECT_EQ(123, filed->categoryId);
  EXPECT_EQ(0, filed->extraValue);
  EXPECT_EQ(kUin, filed->uin);
  EXPECT_EQ(kTripName, filed->categoryName);
  EXPECT_EQ(L"", filed->messageText) << "\"success\" has no text";
  EXPECT_EQ(kCreateTitle, filed->title);
  EXPECT_TRUE(failures.calls().empty());
}

TEST_F(CmdCreateAlbumTest, AUserWithoutAListGetsOneHoldingTheNewAlbum) {
  AlbumSpec spec;
  spec.name = L"first";
  spec.showStatus = 2;  // held and cached as 0, as sent
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(spec, ResultReply({{"return", "1"}, {"message", "success"},
                                   {"category_id", " 77abc"}})));
  EXPECT_EQ((Picture{"album 77 name=first show=0 type=0 desc= last= pic= tagnum=0 tags=|| "
                     "new=0 loaded=0 res="}),
            Albums());
  EXPECT_EQ(77, Result()->categoryId) << "the leading number, blanks skipped";
}

TEST_F(CmdCreateAlbumTest, ATagCountBeyondTheSlotsIsCachedAsTheTagsSent) {
  AlbumSpec spec;
  spec.name = L"tagged";
  spec.tags = {L"a", L"b", L"c"};
  spec.tagNum = 5;
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(spec, ResultReply({{"return", "1"}, {"message", "success"},
                                   {"category_id", "78"}})));
  EXPECT_EQ((Picture{"album 78 name=tagged show=0 type=0 desc= last= pic= tagnum=3 tags=a|b|c "
                     "new=0 loaded=0 res="}),
            Albums());
}

TEST_F(CmdCreateAlbumTest, CategoryIdWithoutDigitsIsZero) {
  AlbumSpec spec;
  spec.name = L"n";
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(spec, ResultReply({{"return", "1"}, {"message", "success"},
                                   {"category_id", "abc"}})));
  EXPECT_EQ(0, Result()->categoryId);
  NewConnection();
  session->ClearAll();
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(spec, ResultReply({{"return", "1"}, {"message", "success"}})));
  EXPECT_EQ(0, Result()->categoryId) << "no category_id at all";
}

TEST_F(CmdCreateAlbumTest, RefusedCreateLeavesTheCacheAndDeliversTheWordsText) {
  SeedOne();
  const Picture before = Albums();
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(TripAlbum(), ResultReply({{"return", "0"}, {"message", "duplicate"},
                                          {"category_id", "99"}})));
  EXPECT_EQ(before, Albums());
  auto filed = Result();
  ASSERT_TRUE(filed.has_value());
  EXPECT_EQ(0, filed->status);
  EXPECT_EQ(kDuplicateText, filed->messageText);
  EXPECT_EQ(0, filed->categoryId) << "no id was created";
  EXPECT_EQ(kTripName, filed->categoryName);
}

TEST_F(CmdCreateAlbumTest, ACreatedIdTheListHoldsAlreadyIsFilledNotAddedTwice) {
  // An album list fetched after the server made the album came first.
  SeedOne();
  platform->manager->role = BaseBlogCmd::kRoleServe;
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(TripAlbum(), ResultReply({{"return", "1"}, {"message", "success"},
                                          {"category_id", "7"}})));
  const Picture serving = Albums();
  ASSERT_EQ(2u, serving.size()) << "one album and its content-id pair";
  EXPECT_EQ("album 7 name=\xE6\x97\x85\xE8\xA1\x8C & \xE6\xB5\xB7=1 show=1 type=3 "
            "desc=x+y% last=2026-12-01 10:00:00 pic=http://pic.velmora.cn/1.jpg tagnum=2 "
            "tags=\xE5\xB1\xB1|a/b?| new=0 loaded=1 res=501",
            serving[0]);

  // A forwarding process that held the same ends the same.
  const auto published = Published();
  ASSERT_EQ(1u, published.size());
  session->ClearAll();
  SeedOne();
  EXPECT_TRUE(Decode(kNoticeCreateAlbum, published[0]));
  EXPECT_EQ(serving, Albums());
}

TEST_F(CmdCreateAlbumTest, TransportErrorTellsTheFailureSinks) {
  CComPtr<Command> command = Create(TripAlbum());
  ASSERT_EQ(S_OK, command->Start());
  platform->factory->connection->events()->OnConnect(10061, nullptr);
  command->Step();
  int state = -1;
  command->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateFailed, state);
  EXPECT_EQ((std::vector<std::vector<int>>{{10061, 6, 0, 0}}), failures.calls());
  EXPECT_FALSE(Result().has_value());
}

// ---------------------------------------------------------------- share session

TEST_F(CmdCreateAlbumTest, TheServingProcessBroadcastsAndTheDecoderRebuildsTheSameState) {
  SeedOne();
  const Picture before = Albums();
  platform->manager->role = BaseBlogCmd::kRoleServe;
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(TripAlbum(), ResultReply({{"return", "1"}, {"message", "success"},
                                          {"category_id", "123"}})));
  EXPECT_FALSE(Result().has_value()) << "the serving process delivers nothing itself";
  EXPECT_TRUE(results.calls().empty());
  EXPECT_EQ((std::vector<int>{5}), NoticeCodes());
  const auto published = Published();
  ASSERT_EQ(1u, published.size());
  EXPECT_EQ(Join(Record().Text("10001").Text("success"), TripRecord(123)), published[0]);

  // A forwarding process that held what this one held before ends where this one is.
  const Picture serving = Albums();
  session->ClearAll();
  SeedOne();
  ASSERT_EQ(before, Albums());
  EXPECT_TRUE(Decode(kNoticeCreateAlbum, published[0]));
  EXPECT_EQ(serving, Albums());
}

TEST_F(CmdCreateAlbumTest, TheServingProcessIsSilentWhenTheServerRefuses) {
  platform->manager->role = BaseBlogCmd::kRoleServe;
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(TripAlbum(), ResultReply({{"return", "0"}, {"message", "excess"}})));
  EXPECT_TRUE(Published().empty());
  EXPECT_TRUE(NoticeCodes().empty());
  EXPECT_FALSE(Result().has_value());
}

TEST_F(CmdCreateAlbumTest, ForwardedCreateIsReadByTheServingSideAndAnsweredWithItsStatus) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  AlbumSpec spec = TripAlbum();
  spec.showStatus = 2;
  CComPtr<Command> command = Create(spec);
  ASSERT_EQ(S_OK, command->Start());
  const auto sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("CreateAlbum", sent[0]->name);
  Record request;
  request.Text("10001").Int(-1).Text(kTripAnsi).Int(0).Int(3).Text("x+y%").Text("").Text(
      "http://pic.velmora.cn/1.jpg");
  request.Int(2).Text("\xC9\xBD").Text("a/b?");
  EXPECT_EQ(request.bytes(), sent[0]->payload) << "show status 2 travels as 0, as sent";

  // The serving side reads the record into a command that sends the same form.
  NewConnection();
  CComPtr<Command> served = NewCommand<CmdCreateAlbum>();
  served->SetUserId(L"");
  EXPECT_EQ(S_OK, served->SetOperationMessage(sent[0]));
  EXPECT_EQ("10001", served->UserId());
  ASSERT_EQ(1u, platform->workshop->added.size()) << "submitted";
  platform->manager->role = BaseBlogCmd::kRoleStandAlone;
  Exchange(served, ResultReply({{"return", "0"}}));
  const std::string servedForm = SentBody().value_or("<no body>");
  EXPECT_EQ(FormOf(spec), servedForm);

  // The host answers with a status-only record (zeros after the status).
  session->ClearAll();  // the results the local runs above filed
  int id = 0;
  sent[0]->GetId(&id);
  ASSERT_NE(999, id);
  CComPtr<FakeMessage> other(new FakeMessage(999));
  other->payload.assign(32, 0);
  command->OnRecvOperationResult(other);
  int state = -1;
  command->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateCreated, state) << "another command's answer";
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload.assign(32, 0);
  answer->payload[0] = 1;
  command->OnRecvOperationResult(answer);
  command->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateSucceeded, state);
  auto filed = Result();
  ASSERT_TRUE(filed.has_value());
  EXPECT_EQ(1, filed->status);
  EXPECT_EQ(0, filed->categoryId);
  EXPECT_EQ(kTripName, filed->categoryName);
  EXPECT_TRUE(platform->manager->channel->resultSinks().empty());
}

TEST_F(CmdCreateAlbumTest, AForwardTheServingSideCouldNotReadIsRefusedHere) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  AlbumSpec spec;
  spec.name = std::wstring(96, L'n');
  CComPtr<Command> fits = Create(spec);
  EXPECT_EQ(S_OK, fits->Start()) << "96 bytes are read whole";
  ASSERT_EQ(1u, platform->manager->channel->sent().size());
  CComPtr<Command> served = NewCommand<CmdCreateAlbum>();
  EXPECT_EQ(S_OK, served->SetOperationMessage(platform->manager->channel->sent()[0]));
  EXPECT_EQ(std::string(96, 'n'),
            album_testing::TextOf(&AlbumInfo::GetCategoryName, served->Album()));

  std::vector<AlbumSpec> refused(4, spec);
  refused[0].name = std::wstring(97, L'n');
  refused[1].name = std::wstring(49, L'\u6D77');  // 98 bytes in code page 936
  refused[2].desc = std::wstring(97, L'd');
  refused[3].tagNum = 3;
  refused[3].tags = {L"a", L"b", std::wstring(97, L't')};
  for (const AlbumSpec& album : refused) {
    CComPtr<Command> command = Create(album);
    EXPECT_EQ(E_FAIL, command->Start());
    int state = -1;
    command->GetState(&state);
    EXPECT_EQ(BaseCmd::kStateFailed, state);
  }
  CComPtr<Command> longUser = Create(spec);
  longUser->SetUserId(std::wstring(47, L'1').c_str());
  EXPECT_EQ(E_FAIL, longUser->Start());
  EXPECT_EQ(1u, platform->manager->channel->sent().size()) << "nothing more was sent";
  EXPECT_EQ(1u, platform->manager->channel->resultSinks().size())
      << "only the command that was sent waits; the refused ones detached";
}

TEST_F(CmdCreateAlbumTest, ServingSideRefusesARecordItCannotRead) {
  CComPtr<Command> served = NewCommand<CmdCreateAlbum>();
  CComPtr<FakeMessage> message(new FakeMessage(5));
  message->name = "CreateAlbum";
  Record record;
  record.Text("20002").Int(-1).Text(std::string(97, 'n')).Int(1).Int(0).Text("").Text("").Text(
      "").Int(0);
  message->payload = record.bytes();
  EXPECT_EQ(E_FAIL, served->SetOperationMessage(message));
  EXPECT_EQ("10001", served->UserId()) << "nothing changed";
  message->payload = Record().Text("20002").Int(-1).Text("n").bytes();  // cut short
  EXPECT_EQ(E_FAIL, served->SetOperationMessage(message));
  EXPECT_TRUE(platform->workshop->added.empty());
}

TEST_F(CmdCreateAlbumTest, ResultRecordCarriesStatusIdAndMessage) {
  CComPtr<Command> command = Create(TripAlbum());
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Exchange(command, ResultReply({{"return", "1"}, {"message", "success"},
                                           {"category_id", "321"}})));
  const int size = command->GetResultRecordSize();
  EXPECT_EQ(4 + 4 + 4 + 7, size);
  std::vector<BYTE> payload(static_cast<size_t>(size));
  ASSERT_TRUE(command->WriteResultRecord(payload.data(), size));
  EXPECT_EQ(Record().Int(1).Int(321).Text("success").bytes(), payload);
  EXPECT_FALSE(command->WriteResultRecord(payload.data(), size - 1));

  CComPtr<Command> reader = Create(TripAlbum());
  ASSERT_TRUE(reader->ReadResultRecord(payload.data(), size));
  EXPECT_EQ(1, reader->Status());
  EXPECT_EQ(321, reader->CreatedCategoryId());
  EXPECT_EQ("success", reader->Message());

  std::vector<BYTE> longWord = Record().Int(1).Int(9).Text(std::string(47, 'w')).bytes();
  EXPECT_FALSE(reader->ReadResultRecord(longWord.data(), static_cast<int>(longWord.size())));
  EXPECT_EQ(321, reader->CreatedCategoryId()) << "nothing changed";
  EXPECT_FALSE(reader->ReadResultRecord(payload.data(), 7));
}

// ---------------------------------------------------------------- the decoder, code 5

TEST_F(CmdCreateAlbumTest, DecoderAppliesOnlyAWholeSuccessfulCreate) {
  SeedOne();
  const Picture before = Albums();
  EXPECT_TRUE(Decode(kNoticeCreateAlbum, Record().Text("10001").Text("duplicate").bytes()));
  EXPECT_EQ(before, Albums()) << "a refusal changes nothing";

  std::vector<BYTE> whole = Join(Record().Text("10001").Text("success"), TripRecord(9));
  for (size_t cut : {whole.size() - 1, whole.size() - 5, size_t{20}, size_t{3}}) {
    EXPECT_FALSE(Decode(kNoticeCreateAlbum, std::vector<BYTE>(whole.begin(), whole.begin() + cut)))
        << cut;
    EXPECT_EQ(before, Albums()) << cut;
  }
  EXPECT_FALSE(Decode(kNoticeCreateAlbum, Join(Record().Text("").Text("success"), TripRecord(9))))
      << "no user";
  EXPECT_TRUE(Decode(kNoticeCreateAlbum,
                     Join(Record().Text("10001").Text(std::string(47, 's')), TripRecord(9))))
      << "a long word is no success";
  EXPECT_EQ(before, Albums());

  EXPECT_TRUE(Decode(kNoticeCreateAlbum, whole));
  ASSERT_EQ(before.size() + 1, Albums().size());
  EXPECT_EQ(0u, Albums()[1].find("album 9 name=\xE6\x97\x85"));
}

TEST_F(CmdCreateAlbumTest, DecoderTakesTextsLongerThanAForwardedRecordCanCarry) {
  // The serving process's own host may describe an album with long texts; what fitted
  // its form reaches the forwarding processes whole.
  Record record;
  record.Text("10001").Text("success").Int(31).Text(std::string(150, 'n')).Int(1).Int(0).Text(
      std::string(3000, 'd')).Text("").Text(std::string(300, 'p')).Int(1).Text(std::string(120, 't'));
  EXPECT_TRUE(Decode(kNoticeCreateAlbum, record.bytes()));
  const Picture albums = Albums();
  ASSERT_EQ(1u, albums.size());
  EXPECT_NE(std::string::npos, albums[0].find("name=" + std::string(150, 'n') + " "));
  EXPECT_NE(std::string::npos, albums[0].find("desc=" + std::string(3000, 'd') + " "));
  EXPECT_NE(std::string::npos, albums[0].find("tags=" + std::string(120, 't') + "||"));

  Record tooLong;
  tooLong.Text("10001").Text("success").Int(32).Text(std::string(65537, 'n'));
  EXPECT_FALSE(Decode(kNoticeCreateAlbum, tooLong.bytes()));
  EXPECT_EQ(albums, Albums()) << "refused whole";
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
