#include "commands/CmdBatchRemove.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test/ResourceBatchTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using batch_testing::Bytes;
using batch_testing::HeaderList;
using batch_testing::kCommandId;
using batch_testing::kUin;
using batch_testing::Reply;
using batch_testing::ResourceIds;
using batch_testing::SessionState;
using batch_testing::StateOf;
using commands_testing::FakeMessage;
using commands_testing::FakeServer;
using commands_testing::Record;

typedef batch_testing::BatchCmdTest<CmdBatchRemove> CmdBatchRemoveTest;
typedef CComObject<ShareSessionCmd<CmdBatchRemove>> Command;

const int kSeven[] = {7, 9};

bool IsLowerHex(const std::string& text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool IsDigits(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

// ---------------------------------------------------------------- the request

TEST_F(CmdBatchRemoveTest, RequestIsSignedFormPostToTheRemoveEndpoint) {
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 2, kSeven));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success")));

  const std::vector<std::string> log = platform->factory->connection->log();
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "SetServer post.velmora.cn:80"));
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "Send+body"));
  CComPtr<framework_testing::FakeRequest> request = SentRequest();
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("POST", request->method);
  EXPECT_EQ("/api/resource_batch_remove", request->path);
  ASSERT_EQ(3u, request->headers.size());
  EXPECT_EQ(std::make_pair(std::string("Content-Type"),
                           std::string("application/x-www-form-urlencoded")),
            request->headers[0]);
  EXPECT_EQ("Cookie", request->headers[1].first);
  EXPECT_EQ(std::make_pair(std::string("Host"), std::string("post.velmora.cn")),
            request->headers[2]);
  // login_name=10001; login_time=<14 digits>; key=<32 lower-case hex digits>
  const std::string cookie = request->headers[1].second;
  const std::string head = "login_name=10001; login_time=";
  ASSERT_EQ(head.size() + 14 + 6 + 32, cookie.size()) << cookie;
  EXPECT_EQ(head, cookie.substr(0, head.size()));
  EXPECT_TRUE(IsDigits(cookie.substr(head.size(), 14)));
  EXPECT_EQ("; key=", cookie.substr(head.size() + 14, 6));
  EXPECT_TRUE(IsLowerHex(cookie.substr(head.size() + 20)));

  ASSERT_TRUE(SentBody().has_value());
  EXPECT_EQ("uin=10001&category_id=3&num=2&id_0=7&id_1=9", *SentBody());
}

TEST_F(CmdBatchRemoveTest, UserIdGoesAsRawUtf8WithoutEscaping) {
  // 张 &=三: code page 936 in the command, UTF-8 on the wire, '&', ' ' and '=' as they are.
  CComPtr<Command> cmd = Make(L"\u5f20 &=\u4e09");
  const int ids[] = {5};
  ASSERT_TRUE(cmd->SetParameters(3, 1, ids));
  EXPECT_EQ("\xd5\xc5 &=\xc8\xfd", cmd->UserId());
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("denied")));
  ASSERT_TRUE(SentBody().has_value());
  EXPECT_EQ("uin=\xe5\xbc\xa0 &=\xe4\xb8\x89&category_id=3&num=1&id_0=5", *SentBody());
  CComPtr<framework_testing::FakeRequest> request = SentRequest();
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ(0u, request->headers[1].second.find("login_name=\xd5\xc5 &=\xc8\xfd; login_time="));
}

TEST_F(CmdBatchRemoveTest, FormOfMoreThan4095BytesIsNotSent) {
  CComPtr<Command> cmd = Make();
  // The longest form that fits: many one-digit ids cut to fit, then ids widened from
  // the last one on until the whole text is 4095 bytes.
  std::vector<int> ids(800, 1);
  auto expected = [&ids]() {
    std::string text = "uin=10001&category_id=3&num=" + std::to_string(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
      text += "&id_" + std::to_string(i) + "=" + std::to_string(ids[i]);
    }
    return text;
  };
  // Adds one digit to the last id that has fewer than nine.
  auto widen = [&ids]() {
    for (size_t k = ids.size(); k > 0; --k) {
      if (ids[k - 1] < 100000000) {
        ids[k - 1] = ids[k - 1] * 10 + 1;
        return;
      }
    }
  };
  while (expected().size() > 4095) ids.pop_back();
  while (expected().size() < 4095) widen();
  ASSERT_EQ(4095u, expected().size());
  ASSERT_TRUE(cmd->SetParameters(3, static_cast<int>(ids.size()), ids.data()));
  std::string form;
  EXPECT_TRUE(cmd->BuildForm(&form));
  EXPECT_EQ(expected(), form);

  // One byte more does not fit; no request goes out.
  widen();
  ASSERT_EQ(4096u, expected().size());
  ASSERT_TRUE(cmd->SetParameters(3, static_cast<int>(ids.size()), ids.data()));
  EXPECT_FALSE(cmd->BuildForm(&form));
  EXPECT_TRUE(form.empty());
  EXPECT_EQ(BaseCmd::kStateFailed, Run(cmd, Reply("fail")));
  EXPECT_EQ(nullptr, SentRequest().p);
}

TEST_F(CmdBatchRemoveTest, ParametersAreRefusedWhenTheCountCannotBeRead) {
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 2, kSeven));
  EXPECT_FALSE(cmd->SetParameters(4, -1, kSeven));
  EXPECT_FALSE(cmd->SetParameters(4, 1, nullptr));
  EXPECT_EQ(3, cmd->CategoryId());
  EXPECT_EQ((std::vector<int>{7, 9}), cmd->Ids());
  EXPECT_TRUE(cmd->SetParameters(4, 0, nullptr));
  EXPECT_EQ(0, cmd->ItemCount());
  std::string form;
  EXPECT_TRUE(cmd->BuildForm(&form));
  EXPECT_EQ("uin=10001&category_id=4&num=0", form);
}

// ---------------------------------------------------------------- the reply

TEST_F(CmdBatchRemoveTest, SuccessRemovesTheResourcesAndTheirIndexPairsAndDelivers) {
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 2, kSeven));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success")));

  const SessionState state = StateOf(session);
  EXPECT_EQ((std::vector<int>{5}), ResourceIds(state, 3));
  EXPECT_EQ((std::vector<int>{11, 12}), ResourceIds(state, 4));
  EXPECT_EQ((std::vector<int>{4}), batch_testing::AlbumsHolding(state, L"C9"))
      << "the other album's pair of the same content stays";
  EXPECT_TRUE(batch_testing::AlbumsHolding(state, L"C7").empty());
  EXPECT_EQ((std::vector<int>{3}), batch_testing::AlbumsHolding(state, L"C5"));

  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 2}}), results.calls());
  EXPECT_TRUE(failures.calls().empty());
  CComPtr<IResultOnBatchOperation> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int value = -1;
  BSTR text = nullptr;
  result->GetStatus(&value);
  EXPECT_EQ(1, value);
  result->GetOperationIndex(&value);
  EXPECT_EQ(5, value);
  result->GetCategoryId(&value);
  EXPECT_EQ(3, value);
  result->GetFirstCount(&value);
  EXPECT_EQ(2, value);
  result->GetSecondCount(&value);
  EXPECT_EQ(0, value);
  result->GetTargetCategoryId(&value);
  EXPECT_EQ(0, value);
  EXPECT_EQ((std::vector<int>{7, 9}), batch_testing::ListOf(result, 1));
  EXPECT_TRUE(batch_testing::ListOf(result, 2).empty());
  result->GetUin(&text);
  EXPECT_EQ(L"10001", batch_testing::TakeText(text));
  result->GetOperationTitle(&text);
  EXPECT_EQ(L"\u5220\u9664\u8d44\u6e90", batch_testing::TakeText(text));  // 删除资源
  result->GetMessageText(&text);
  EXPECT_EQ(L"", batch_testing::TakeText(text));
}

TEST_F(CmdBatchRemoveTest, RefusalsDeliverStatusZeroWithTheWordsText) {
  const SessionState seeded = StateOf(session);
  struct Case {
    const char* word;
    std::wstring text;
  };
  const Case cases[] = {
      {"no_exist", L"\u4e13\u8f91\u4e0d\u5b58\u5728"},  // 专辑不存在
      {"fail", L"\u6570\u636e\u5e93\u9519\u8bef"},      // 数据库错误
      {"denied", L"cookie\u9a8c\u8bc1\u9519\u8bef"},    // cookie验证错误
      {"undone", L""},                                  // a move/copy word only
      {"", L""},
  };
  int commandId = kCommandId;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    platform->factory = new framework_testing::FakeFactory;
    CComPtr<Command> cmd = Make();
    cmd->SetCommandId(++commandId);
    ASSERT_TRUE(cmd->SetParameters(3, 2, kSeven));
    EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply(c.word)));
    EXPECT_EQ(0, cmd->Status());
    CComPtr<ICommonResult> common;
    ASSERT_EQ(S_OK, session->FetchResult(commandId, &common));
    CComPtr<IResultOnBatchOperation> result(static_cast<IResultOnBatchOperation*>(common.p));
    int value = -1;
    result->GetStatus(&value);
    EXPECT_EQ(0, value);
    result->GetFirstCount(&value);
    EXPECT_EQ(0, value) << "the count is set only on success";
    EXPECT_TRUE(batch_testing::ListOf(result, 1).empty());
    BSTR text = nullptr;
    result->GetMessageText(&text);
    EXPECT_EQ(c.text, batch_testing::TakeText(text));
    EXPECT_EQ(c.word, cmd->Message());
  }
  EXPECT_TRUE(seeded == StateOf(session)) << "nothing changes on a refusal";
}

TEST_F(CmdBatchRemoveTest, AcceptedRemovalTheSessionCannotShowIsStillDelivered) {
  // An album not cached, and one whose list was never fetched: the session stays as it
  // is, the caller hears that the service removed the resources.
  const int ids[] = {8};
  for (int album : {99, 6}) {
    SCOPED_TRACE(album);
    const SessionState seeded = StateOf(session);
    const size_t told = results.calls().size();
    CComPtr<Command> cmd = Make();
    ASSERT_TRUE(cmd->SetParameters(album, 1, ids));
    EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success")));
    EXPECT_EQ(told + 1, results.calls().size());
    CComPtr<IResultOnBatchOperation> result = FiledResult();
    ASSERT_NE(nullptr, result.p);
    int status = 0;
    result->GetStatus(&status);
    EXPECT_EQ(1, status);
    EXPECT_TRUE(failures.calls().empty());
    EXPECT_TRUE(seeded == StateOf(session));
  }
}

TEST_F(CmdBatchRemoveTest, AnIdTheAlbumLacksIsPassedOverAndTheRestRemoved) {
  CComPtr<Command> cmd = Make();
  const int ids[] = {5, 99, 7};
  ASSERT_TRUE(cmd->SetParameters(3, 3, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success")));
  const SessionState state = StateOf(session);
  EXPECT_EQ((std::vector<int>{9}), ResourceIds(state, 3));
  // The cache and the index agree: neither holds 5 or 7 any more.
  EXPECT_TRUE(batch_testing::AlbumsHolding(state, L"C5").empty());
  EXPECT_TRUE(batch_testing::AlbumsHolding(state, L"C7").empty());
  EXPECT_EQ(1u, results.calls().size());
}

TEST_F(CmdBatchRemoveTest, TransportErrorNotifiesTheAlbumIdFirst) {
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 2, kSeven));
  ASSERT_EQ(S_OK, cmd->Start());
  CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
  ASSERT_NE(nullptr, events.p);
  events->OnConnect(12029, nullptr);
  cmd->Step();
  int state = -1;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateFailed, state);
  EXPECT_EQ((std::vector<std::vector<int>>{{3, 5, 0, 0}}), failures.calls());
  EXPECT_TRUE(results.calls().empty());
}

// ---------------------------------------------------------------- share session

TEST_F(CmdBatchRemoveTest, ServingProcessPublishesTheRemovalForTheDecoder) {
  platform->manager->role = 1;
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 2, kSeven));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success")));
  EXPECT_TRUE(results.calls().empty()) << "the serving process delivers nothing itself";

  const Bytes expected =
      Record().Text("10001").Text("success").Int(3).Int(2).Int(7).Int(9).bytes();
  ASSERT_EQ(1u, Published().size());
  EXPECT_EQ(expected, Published()[0]);
  EXPECT_EQ(static_cast<int>(expected.size()), cmd->GetChangeRecordSize());
  EXPECT_EQ((std::vector<FakeServer::Notice>{{0, 11, 0, 0}}), Notices());

  // A forwarding process that applies the broadcast ends where this one is.
  const SessionState served = StateOf(session);
  EXPECT_TRUE(ReplayOnSeededSession(Published()[0], kNoticeBatchRemove));
  EXPECT_TRUE(served == StateOf(session));
}

TEST_F(CmdBatchRemoveTest, ServingProcessNeitherPublishesNorDeliversARefusal) {
  platform->manager->role = 1;
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 2, kSeven));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("no_exist")));
  EXPECT_TRUE(Published().empty());
  EXPECT_TRUE(Notices().empty());
  EXPECT_TRUE(results.calls().empty());
}

TEST_F(CmdBatchRemoveTest, ForwardingProcessSendsTheRequestRecordAndDeliversTheResultRecord) {
  platform->manager->role = 0;
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 2, kSeven));
  ASSERT_EQ(S_OK, cmd->Start());
  auto sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("BatchRemove", sent[0]->name);
  EXPECT_EQ(Record().Text("10001").Int(3).Int(2).Int(7).Int(9).bytes(), sent[0]->payload);

  int id = 0;
  sent[0]->GetId(&id);
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload = Record().Int(1).Text("success").Int(0).Int(0).bytes();
  EXPECT_EQ(S_OK, cmd->OnRecvOperationResult(answer));
  int state = -1;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateSucceeded, state);
  CComPtr<IResultOnBatchOperation> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int value = -1;
  result->GetStatus(&value);
  EXPECT_EQ(1, value);
  result->GetFirstCount(&value);
  EXPECT_EQ(2, value);
  EXPECT_EQ((std::vector<int>{7, 9}), batch_testing::ListOf(result, 1))
      << "the ids of its own request, which the serving process removed";
  EXPECT_TRUE(batch_testing::ListOf(result, 2).empty());
}

TEST_F(CmdBatchRemoveTest, ResultRecordWithAnOverlongTextIsRefusedWhole) {
  platform->manager->role = 0;
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 2, kSeven));
  ASSERT_EQ(S_OK, cmd->Start());
  auto sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  int id = 0;
  sent[0]->GetId(&id);
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload = Record().Int(1).Text(std::string(47, 'x')).bytes();
  EXPECT_EQ(S_OK, cmd->OnRecvOperationResult(answer));
  int state = -1;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateFailed, state);
  EXPECT_EQ(0, cmd->Status());
  EXPECT_EQ("", cmd->Message());
  EXPECT_TRUE(results.calls().empty());
}

TEST_F(CmdBatchRemoveTest, ServingSideReadsTheRequestRecordWholeOrNotAtAll) {
  CComPtr<Command> cmd = Make(L"");
  CComPtr<FakeMessage> request(new FakeMessage(5));
  // A user id of 47 bytes, a list shorter than its count, a negative count.
  const Bytes refused[] = {
      Record().Text(std::string(47, '1')).Int(3).Int(1).Int(7).bytes(),
      Record().Text("10001").Int(3).Int(3).Int(7).Int(9).bytes(),
      Record().Text("10001").Int(3).Int(-1).bytes(),
  };
  for (const Bytes& bytes : refused) {
    request->payload = bytes;
    EXPECT_EQ(E_FAIL, cmd->SetOperationMessage(request));
    EXPECT_EQ("", cmd->UserId());
    EXPECT_EQ(0, cmd->ItemCount());
    EXPECT_TRUE(cmd->Ids().empty());
  }
  EXPECT_TRUE(platform->workshop->added.empty());

  request->payload = Record().Text(std::string(46, '1')).Int(3).Int(2).Int(7).Int(9).bytes();
  EXPECT_EQ(S_OK, cmd->SetOperationMessage(request));
  EXPECT_EQ(std::string(46, '1'), cmd->UserId());
  EXPECT_EQ(3, cmd->CategoryId());
  EXPECT_EQ((std::vector<int>{7, 9}), cmd->Ids());
  EXPECT_EQ(1u, platform->workshop->added.size());
}

TEST_F(CmdBatchRemoveTest, ResultMessageCarriesStatusAndWord) {
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 2, kSeven));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success")));
  CComPtr<FakeMessage> request(new FakeMessage(9));
  CComPtr<IShareSessionMessage> answer = cmd->BuildResultMessage(request);
  ASSERT_NE(nullptr, answer.p);
  CComPtr<FakeMessage> made = platform->manager->server->lastResult;
  EXPECT_EQ("BatchRemove", made->name);
  Bytes expected = Record().Int(1).Text("success").bytes();
  EXPECT_EQ(static_cast<int>(expected.size()), cmd->GetResultRecordSize());
  expected.resize(expected.size() + 8, 0);
  EXPECT_EQ(expected, made->payload);
}

// ---------------------------------------------------------------- the decoder, code 11

TEST_F(CmdBatchRemoveTest, DecoderPassesOverAnIdTheAlbumLacks) {
  const Bytes payload =
      Record().Text("10001").Text("success").Int(3).Int(3).Int(5).Int(99).Int(7).bytes();
  EXPECT_TRUE(ReplayOnSeededSession(payload, kNoticeBatchRemove));
  const SessionState state = StateOf(session);
  EXPECT_EQ((std::vector<int>{9}), ResourceIds(state, 3));
  EXPECT_TRUE(batch_testing::AlbumsHolding(state, L"C7").empty());
}

TEST_F(CmdBatchRemoveTest, DecoderIgnoresRefusalsAndRejectsBrokenPayloads) {
  const SessionState seeded = StateOf(session);
  EXPECT_TRUE(ReplayOnSeededSession(Record().Text("10001").Text("no_exist").bytes(),
                                    kNoticeBatchRemove));
  EXPECT_TRUE(seeded == StateOf(session));
  const Bytes broken[] = {
      // more ids than the payload holds
      Record().Text("10001").Text("success").Int(3).Int(1000).Int(5).bytes(),
      // the album is not here
      Record().Text("10001").Text("success").Int(99).Int(1).Int(5).bytes(),
      // an empty user id
      Record().Text("").Text("success").Int(3).Int(1).Int(5).bytes(),
      // the word cut short
      Record().Text("10001").Int(7).bytes(),
  };
  for (const Bytes& payload : broken) {
    EXPECT_FALSE(ReplayOnSeededSession(payload, kNoticeBatchRemove));
    EXPECT_TRUE(seeded == StateOf(session));
  }
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
