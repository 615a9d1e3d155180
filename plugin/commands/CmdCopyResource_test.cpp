#include "commands/CmdCopyResource.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "commands/CmdMoveResource.h"
#include "test/ResourceBatchTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using batch_testing::AlbumsHolding;
using batch_testing::Bytes;
using batch_testing::FindResource;
using batch_testing::HeaderList;
using batch_testing::Item;
using batch_testing::kCommandId;
using batch_testing::ListOf;
using batch_testing::Reply;
using batch_testing::ResourceIds;
using batch_testing::SessionState;
using batch_testing::StateOf;
using batch_testing::TextOf;
using commands_testing::FakeMessage;
using commands_testing::FakeServer;
using commands_testing::Record;
using xml_testing::ResourceState;

typedef batch_testing::BatchCmdTest<CmdCopyResource> CmdCopyResourceTest;
typedef CComObject<ShareSessionCmd<CmdCopyResource>> Command;
typedef std::map<int, std::string> Texts;

std::string Done(int id, int state) {
  return Item({{"done", "1"}, {"id", std::to_string(id)}, {"state", std::to_string(state)}});
}

std::string Refused(int id, const std::string& word) {
  return Item({{"done", "0"}, {"id", std::to_string(id)}, {"message", word}});
}

// ---------------------------------------------------------------- the request

TEST_F(CmdCopyResourceTest, CopyAndMoveSendTheSameFormToTheSameEndpoint) {
  const int ids[] = {7, 9};
  CComPtr<Command> copy = Make();
  ASSERT_TRUE(copy->SetParameters(3, 4, true, 2, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(copy, Reply("fail")));
  const std::string form =
      "uin=10001&category_id_from=3&category_id_to=4&choice=1&num=2&id_0=7&id_1=9";
  ASSERT_TRUE(SentBody().has_value());
  EXPECT_EQ(form, *SentBody());
  CComPtr<framework_testing::FakeRequest> request = SentRequest();
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("POST", request->method);
  EXPECT_EQ("/api/resource_batch_move", request->path);
  ASSERT_EQ(3u, request->headers.size());
  EXPECT_EQ("Content-Type", request->headers[0].first);
  EXPECT_EQ("application/x-www-form-urlencoded", request->headers[0].second);
  EXPECT_EQ(0u, request->headers[1].second.find("login_name=10001; login_time="));

  // The move command, asked the same, sends the very same request.
  platform->factory = new framework_testing::FakeFactory;
  CComObject<ShareSessionCmd<CmdMoveResource>>* created = nullptr;
  ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdMoveResource>(&created));
  CComPtr<CComObject<ShareSessionCmd<CmdMoveResource>>> moveCmd(created);
  moveCmd->SetUserId(batch_testing::kUin);
  moveCmd->SetCommandId(kCommandId + 1);
  moveCmd->SetHttpFactory(platform->factory);
  ASSERT_TRUE(moveCmd->SetParameters(3, 4, true, 2, ids));
  ASSERT_EQ(S_OK, moveCmd->Start());
  CComPtr<xml_testing::FakeHeaders> headers(new xml_testing::FakeHeaders(200));
  xml_testing::PlayReply(moveCmd, platform->factory->connection, headers, {Reply("fail")});
  ASSERT_TRUE(SentBody().has_value());
  EXPECT_EQ(form, *SentBody());
  ASSERT_NE(nullptr, SentRequest().p);
  EXPECT_EQ("/api/resource_batch_move", SentRequest()->path);
  const std::vector<std::string> log = platform->factory->connection->log();
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "SetServer post.velmora.cn:80"));
}

TEST_F(CmdCopyResourceTest, FalseFlagSendsChoiceZero) {
  const int ids[] = {5};
  CComPtr<Command> copy = Make();
  ASSERT_TRUE(copy->SetParameters(3, 6, false, 1, ids));
  EXPECT_EQ(0, copy->Choice());
  std::string form;
  ASSERT_TRUE(copy->BuildForm(&form));
  EXPECT_EQ("uin=10001&category_id_from=3&category_id_to=6&choice=0&num=1&id_0=5", form);
}

// ---------------------------------------------------------------- the reply

TEST_F(CmdCopyResourceTest, CopyGoesToTheFrontOfTheFetchedTargetWithItsNewId) {
  const int ids[] = {7};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, true, 1, ids));
  const SessionState before = StateOf(session);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success", {Done(900, 1)})));

  EXPECT_EQ((std::vector<int>{7}), cmd->DoneIds());
  EXPECT_EQ((Texts{{7, "1"}}), cmd->DoneStates());
  EXPECT_EQ((std::map<int, int>{{7, 900}}), cmd->NewIds());
  EXPECT_TRUE(cmd->FailedIds().empty());

  const SessionState after = StateOf(session);
  EXPECT_EQ((std::vector<int>{5, 7, 9}), ResourceIds(after, 3)) << "the original stays";
  EXPECT_EQ((std::vector<int>{900, 11, 12}), ResourceIds(after, 4));
  const ResourceState* copy = FindResource(after, 4, 900);
  ASSERT_NE(nullptr, copy);
  ResourceState expected = *FindResource(before, 3, 7);
  expected.id = 900;
  expected.categoryId = 4;
  EXPECT_TRUE(expected == *copy) << "every other value is the original's";
  EXPECT_EQ((std::vector<int>{3, 4}), AlbumsHolding(after, L"C7"));

  CComPtr<IResultOnBatchOperation> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int value = -1;
  BSTR text = nullptr;
  result->GetStatus(&value);
  EXPECT_EQ(1, value);
  result->GetOperationIndex(&value);
  EXPECT_EQ(11, value);
  result->GetCategoryId(&value);
  EXPECT_EQ(3, value);
  result->GetTargetCategoryId(&value);
  EXPECT_EQ(4, value);
  result->GetFirstCount(&value);
  EXPECT_EQ(1, value);
  result->GetSecondCount(&value);
  EXPECT_EQ(0, value);
  EXPECT_EQ((std::vector<int>{7}), ListOf(result, 1));
  EXPECT_TRUE(ListOf(result, 2).empty());
  EXPECT_EQ(L"1", TextOf(result, true, 7));
  result->GetOperationTitle(&text);
  EXPECT_EQ(L"\u590d\u5236\u8d44\u6e90", batch_testing::TakeText(text));  // 复制资源
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 2}}), results.calls());
}

TEST_F(CmdCopyResourceTest, CopyOfAFileTheTargetHoldsUpdatesThatResource) {
  const int ids[] = {9};  // URL u9, which resource 12 of the target has too
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, true, 1, ids));
  const SessionState before = StateOf(session);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success", {Done(901, 1)})));
  const SessionState after = StateOf(session);
  EXPECT_EQ((std::vector<int>{11, 12}), ResourceIds(after, 4)) << "no new resource";
  ResourceState expected = *FindResource(before, 3, 9);
  expected.id = 12;
  expected.categoryId = 4;
  ASSERT_NE(nullptr, FindResource(after, 4, 12));
  EXPECT_TRUE(expected == *FindResource(after, 4, 12));
  EXPECT_EQ((std::map<int, int>{{9, 901}}), cmd->NewIds());
  EXPECT_EQ((std::vector<int>{3, 4, 4}), AlbumsHolding(after, L"C9"));
}

TEST_F(CmdCopyResourceTest, CopyIntoAnAlbumNeverFetchedChangesOnlyTheIndex) {
  const int ids[] = {5};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 6, true, 1, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success", {Done(900, 0)})));
  const SessionState after = StateOf(session);
  EXPECT_TRUE(ResourceIds(after, 6).empty());
  EXPECT_FALSE(after.albums[2].resourcesLoaded);
  EXPECT_EQ((std::vector<int>{3, 6}), AlbumsHolding(after, L"C5"));
  EXPECT_EQ(1u, results.calls().size());
}

TEST_F(CmdCopyResourceTest, ItemsAnswerTheRequestedIdsByPosition) {
  const int ids[] = {5, 7, 9};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, true, 3, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(cmd, Reply("success", {Done(900, 2), Refused(0, "duplicate"), Done(901, 1)})));
  EXPECT_EQ((std::vector<int>{5, 9}), cmd->DoneIds());
  EXPECT_EQ((std::vector<int>{7}), cmd->FailedIds());
  EXPECT_EQ((Texts{{5, "2"}, {9, "1"}}), cmd->DoneStates());
  EXPECT_EQ((Texts{{7, "duplicate"}}), cmd->Failures());
  EXPECT_EQ((std::map<int, int>{{5, 900}, {9, 901}}), cmd->NewIds());
  // 5 is new at the front; 9 went into 12, which has its URL.
  EXPECT_EQ((std::vector<int>{900, 11, 12}), ResourceIds(StateOf(session), 4));

  CComPtr<IResultOnBatchOperation> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int value = -1;
  result->GetFirstCount(&value);
  EXPECT_EQ(2, value);
  result->GetSecondCount(&value);
  EXPECT_EQ(1, value);
  EXPECT_EQ((std::vector<int>{5, 9}), ListOf(result, 1));
  EXPECT_EQ((std::vector<int>{7}), ListOf(result, 2));
  EXPECT_EQ(L"duplicate", TextOf(result, false, 7));
  EXPECT_EQ(L"<none>", TextOf(result, true, 7));
}

TEST_F(CmdCopyResourceTest, ItemsBeyondTheRequestedIdsAreNotRead) {
  const int ids[] = {5};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, true, 1, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(cmd, Reply("success", {Done(900, 1), Done(901, 1), Refused(0, "excess")})));
  EXPECT_EQ((std::vector<int>{5}), cmd->DoneIds());
  EXPECT_TRUE(cmd->FailedIds().empty());
  EXPECT_EQ((std::vector<int>{900, 11, 12}), ResourceIds(StateOf(session), 4));
}

TEST_F(CmdCopyResourceTest, IdsWithoutAnItemAreInNeitherList) {
  const int ids[] = {5, 7};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, true, 2, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success", {Done(900, 1)})));
  EXPECT_EQ((std::vector<int>{5}), cmd->DoneIds());
  EXPECT_TRUE(cmd->FailedIds().empty());
  EXPECT_TRUE(cmd->Failures().empty());
}

TEST_F(CmdCopyResourceTest, RefusalTakesTheFirstItemsWordForItsText) {
  struct Case {
    std::string reply;
    std::string word;
    std::wstring text;
  };
  const Case cases[] = {
      // 目标专辑装不下更多的资源
      {Reply("fail", {Refused(7, "excess"), Refused(9, "audit")}), "excess",
       L"\u76ee\u6807\u4e13\u8f91\u88c5\u4e0d\u4e0b\u66f4\u591a\u7684\u8d44\u6e90"},
      // 目标专辑满
      {Reply("fail"), "fail", L"\u76ee\u6807\u4e13\u8f91\u6ee1"},
      // 目标专辑不存在
      {Reply("no_exist"), "no_exist", L"\u76ee\u6807\u4e13\u8f91\u4e0d\u5b58\u5728"},
      // no entry for copy and move
      {Reply("forbidden"), "forbidden", L""},
  };
  const SessionState seeded = StateOf(session);
  int commandId = kCommandId;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    platform->factory = new framework_testing::FakeFactory;
    CComPtr<Command> cmd = Make();
    cmd->SetCommandId(++commandId);
    const int ids[] = {7, 9};
    ASSERT_TRUE(cmd->SetParameters(3, 4, true, 2, ids));
    EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, c.reply));
    EXPECT_EQ(c.word, cmd->Message());
    EXPECT_TRUE(cmd->DoneIds().empty());
    EXPECT_TRUE(cmd->FailedIds().empty());
    CComPtr<ICommonResult> common;
    ASSERT_EQ(S_OK, session->FetchResult(commandId, &common));
    int value = -1;
    common->GetStatus(&value);
    EXPECT_EQ(0, value);
    BSTR text = nullptr;
    common->GetMessageText(&text);
    EXPECT_EQ(c.text, batch_testing::TakeText(text));
  }
  EXPECT_TRUE(seeded == StateOf(session));
}

TEST_F(CmdCopyResourceTest, MessageIsReadIntoA4096ByteBuffer) {
  const int ids[] = {7};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, true, 1, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply(std::string(5000, 'w'))));
  EXPECT_EQ(std::string(4095, 'w'), cmd->Message());
}

TEST_F(CmdCopyResourceTest, MissingAlbumLeavesTheSessionButDeliversTheCopies) {
  const SessionState seeded = StateOf(session);
  int commandId = kCommandId;
  for (const std::pair<int, int>& albums : {std::make_pair(99, 4), std::make_pair(3, 99)}) {
    platform->factory = new framework_testing::FakeFactory;
    CComPtr<Command> cmd = Make();
    cmd->SetCommandId(++commandId);
    const int ids[] = {7};
    ASSERT_TRUE(cmd->SetParameters(albums.first, albums.second, true, 1, ids));
    EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success", {Done(900, 1)})));
    EXPECT_EQ(1, cmd->Status());
    EXPECT_EQ((std::map<int, int>{{7, 900}}), cmd->NewIds());
  }
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId + 1, 2}, {kCommandId + 2, 2}}),
            results.calls());
  EXPECT_TRUE(failures.calls().empty());
  EXPECT_TRUE(seeded == StateOf(session));
}

TEST_F(CmdCopyResourceTest, TransportErrorNotifiesTheSourceAlbumFirst) {
  const int ids[] = {7};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, true, 1, ids));
  ASSERT_EQ(S_OK, cmd->Start());
  CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
  ASSERT_NE(nullptr, events.p);
  events->OnConnect(0, nullptr);
  cmd->Step();
  events->OnSendComplete(10054, nullptr);
  cmd->Step();
  EXPECT_EQ((std::vector<std::vector<int>>{{3, 11, 0, 0}}), failures.calls());
  EXPECT_TRUE(results.calls().empty());
}

// ---------------------------------------------------------------- share session

TEST_F(CmdCopyResourceTest, ServingProcessPublishesTheCopiesInReplyOrder) {
  platform->manager->role = 1;
  const int ids[] = {9, 7, 5};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, true, 3, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(cmd, Reply("success", {Refused(0, "excess"), Done(902, 1), Done(901, 2)})));
  EXPECT_TRUE(results.calls().empty());
  const Bytes expected = Record()
                             .Text("10001")
                             .Text("success")
                             .Int(3)
                             .Int(4)
                             .Int(2)
                             .Int(7)
                             .Int(902)
                             .Int(5)
                             .Int(901)
                             .Int(1)
                             .Int(9)
                             .Text("excess")
                             .bytes();
  ASSERT_EQ(1u, Published().size());
  EXPECT_EQ(expected, Published()[0]);
  EXPECT_EQ(static_cast<int>(expected.size()), cmd->GetChangeRecordSize());
  EXPECT_EQ((std::vector<FakeServer::Notice>{{0, 8, 0, 0}}), Notices());

  const SessionState served = StateOf(session);
  EXPECT_EQ((std::vector<int>{901, 902, 11, 12}), ResourceIds(served, 4));
  EXPECT_TRUE(ReplayOnSeededSession(Published()[0], kNoticeCopyResource));
  EXPECT_TRUE(served == StateOf(session)) << "the forwarding process ends where this one is";
}

TEST_F(CmdCopyResourceTest, ForwardingProcessTakesCountsAndTablesFromTheResultRecord) {
  platform->manager->role = 0;
  const int ids[] = {7, 9};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, true, 2, ids));
  ASSERT_EQ(S_OK, cmd->Start());
  auto sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("CopyResource", sent[0]->name);
  EXPECT_EQ(Record().Text("10001").Int(3).Int(4).Byte(1).Int(2).Int(7).Int(9).bytes(),
            sent[0]->payload);

  int id = 0;
  sent[0]->GetId(&id);
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload =
      Record().Int(1).Text("success").Int(1).Int(7).Text("1").Int(1).Int(9).Text("excess").bytes();
  EXPECT_EQ(S_OK, cmd->OnRecvOperationResult(answer));
  CComPtr<IResultOnBatchOperation> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int value = -1;
  result->GetStatus(&value);
  EXPECT_EQ(1, value);
  result->GetFirstCount(&value);
  EXPECT_EQ(1, value);
  result->GetSecondCount(&value);
  EXPECT_EQ(1, value);
  EXPECT_TRUE(ListOf(result, 1).empty());
  EXPECT_TRUE(ListOf(result, 2).empty());
  EXPECT_EQ(L"1", TextOf(result, true, 7));
  EXPECT_EQ(L"excess", TextOf(result, false, 9));
}

TEST_F(CmdCopyResourceTest, ResultRecordIsWrittenInAscendingIdOrderAndReadBackWhole) {
  const int ids[] = {9, 7, 5};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, true, 3, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(cmd, Reply("success", {Done(903, 2), Refused(0, "excess"), Done(901, 1)})));
  CComPtr<FakeMessage> request(new FakeMessage(4));
  ASSERT_NE(nullptr, cmd->BuildResultMessage(request).p);
  Bytes expected = Record()
                       .Int(1)
                       .Text("success")
                       .Int(2)
                       .Int(5)
                       .Text("1")
                       .Int(9)
                       .Text("2")
                       .Int(1)
                       .Int(7)
                       .Text("excess")
                       .Int(2).Int(9).Int(5)  // the done ids in reply order
                       .Int(1).Int(7)         // the failed ids
                       .bytes();
  EXPECT_EQ(static_cast<int>(expected.size()), cmd->GetResultRecordSize());
  Bytes payload = platform->manager->server->lastResult->payload;
  ASSERT_EQ(expected.size() + 8, payload.size());
  payload.resize(expected.size());
  EXPECT_EQ(expected, payload);

  // A state longer than the largest record item refuses the record whole.
  CComPtr<Command> other = Make();
  const Bytes overlong =
      Record().Int(1).Text("success").Int(1).Int(5).Text(std::string(65537, 's')).Int(0).bytes();
  EXPECT_FALSE(other->ReadResultRecord(overlong.data(), static_cast<int>(overlong.size())));
  EXPECT_EQ(0, other->Status());
  EXPECT_TRUE(other->DoneStates().empty());
  // One cut short too.
  Bytes cut = expected;
  cut.resize(cut.size() - 3);
  EXPECT_FALSE(other->ReadResultRecord(cut.data(), static_cast<int>(cut.size())));
  EXPECT_TRUE(other->ReadResultRecord(expected.data(), static_cast<int>(expected.size())));
  EXPECT_EQ(1, other->Status());
  EXPECT_EQ((Texts{{5, "1"}, {9, "2"}}), other->DoneStates());
  EXPECT_EQ((Texts{{7, "excess"}}), other->Failures());
  EXPECT_EQ((std::vector<int>{9, 5}), other->DoneIds());
  EXPECT_EQ((std::vector<int>{7}), other->FailedIds());
}

TEST_F(CmdCopyResourceTest, ServingSideReadsTheRequestRecord) {
  CComPtr<Command> cmd = Make(L"");
  CComPtr<FakeMessage> request(new FakeMessage(5));
  request->payload = Record().Text("10001").Int(3).Int(4).Byte(7).Int(1).Int(9).bytes();
  EXPECT_EQ(S_OK, cmd->SetOperationMessage(request));
  EXPECT_EQ("10001", cmd->UserId());
  EXPECT_EQ(3, cmd->CategoryId());
  EXPECT_EQ(4, cmd->TargetCategoryId());
  EXPECT_EQ(1, cmd->Choice()) << "any non-zero byte is choice 1";
  EXPECT_EQ((std::vector<int>{9}), cmd->Ids());

  CComPtr<Command> refused = Make(L"");
  request->payload = Record().Text("10001").Int(3).Int(4).Byte(0).Int(2).Int(9).bytes();
  EXPECT_EQ(E_FAIL, refused->SetOperationMessage(request));
  EXPECT_EQ("", refused->UserId());
  EXPECT_TRUE(refused->Ids().empty());
}

// ---------------------------------------------------------------- the decoder, code 8

TEST_F(CmdCopyResourceTest, DecoderSkipsCopiesOfResourcesTheSourceLacks) {
  const Bytes payload = Record()
                            .Text("10001")
                            .Text("success")
                            .Int(3)
                            .Int(4)
                            .Int(2)
                            .Int(99)
                            .Int(900)
                            .Int(5)
                            .Int(901)
                            .Int(0)
                            .bytes();
  EXPECT_TRUE(ReplayOnSeededSession(payload, kNoticeCopyResource));
  const SessionState state = StateOf(session);
  EXPECT_EQ((std::vector<int>{901, 11, 12}), ResourceIds(state, 4));
  EXPECT_EQ((std::vector<int>{3, 4}), AlbumsHolding(state, L"C5"));
}

TEST_F(CmdCopyResourceTest, DecoderRejectsBrokenPayloadsAndMissingAlbums) {
  const SessionState seeded = StateOf(session);
  EXPECT_TRUE(ReplayOnSeededSession(Record().Text("10001").Text("fail").bytes(),
                                    kNoticeCopyResource));
  EXPECT_TRUE(seeded == StateOf(session));
  const Bytes broken[] = {
      // the refusals cut short: nothing is applied although the copies were whole
      Record().Text("10001").Text("success").Int(3).Int(4).Int(1).Int(5).Int(900).Int(2)
          .Int(7).Text("excess").bytes(),
      // a refusal text longer than the largest record item
      Record().Text("10001").Text("success").Int(3).Int(4).Int(1).Int(5).Int(900).Int(1)
          .Int(7).Text(std::string(65537, 'e')).bytes(),
      // more pairs than the payload holds
      Record().Text("10001").Text("success").Int(3).Int(4).Int(500).Int(5).Int(900).bytes(),
      // the target album is not here
      Record().Text("10001").Text("success").Int(3).Int(99).Int(1).Int(5).Int(900).Int(0)
          .bytes(),
  };
  for (const Bytes& payload : broken) {
    EXPECT_FALSE(ReplayOnSeededSession(payload, kNoticeCopyResource));
    EXPECT_TRUE(seeded == StateOf(session));
  }
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
