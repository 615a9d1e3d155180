#include "commands/CmdMoveResource.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "test/ResourceBatchTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using batch_testing::AlbumsHolding;
using batch_testing::Bytes;
using batch_testing::FindResource;
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

typedef batch_testing::BatchCmdTest<CmdMoveResource> CmdMoveResourceTest;
typedef CComObject<ShareSessionCmd<CmdMoveResource>> Command;
typedef std::map<int, std::string> Texts;

std::string Done(int id, int state) {
  return Item({{"done", "1"}, {"id", std::to_string(id)}, {"state", std::to_string(state)}});
}

std::string Refused(int id, const std::string& word) {
  return Item({{"done", "0"}, {"id", std::to_string(id)}, {"message", word}});
}

TEST_F(CmdMoveResourceTest, MovedResourceGoesToTheFrontOfTheFetchedTarget) {
  const int ids[] = {7};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, false, 1, ids));
  const SessionState before = StateOf(session);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success", {Done(7, 0)})));
  ASSERT_TRUE(SentBody().has_value());
  EXPECT_EQ("uin=10001&category_id_from=3&category_id_to=4&choice=0&num=1&id_0=7", *SentBody());

  const SessionState after = StateOf(session);
  EXPECT_EQ((std::vector<int>{5, 9}), ResourceIds(after, 3));
  EXPECT_EQ((std::vector<int>{7, 11, 12}), ResourceIds(after, 4));
  ResourceState expected = *FindResource(before, 3, 7);
  expected.categoryId = 4;
  ASSERT_NE(nullptr, FindResource(after, 4, 7));
  EXPECT_TRUE(expected == *FindResource(after, 4, 7)) << "the same resource, now in album 4";
  EXPECT_EQ((std::vector<int>{4}), AlbumsHolding(after, L"C7"));

  EXPECT_EQ((std::vector<int>{7}), cmd->DoneIds());
  EXPECT_TRUE(cmd->NewIds().empty());
  CComPtr<IResultOnBatchOperation> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int value = -1;
  BSTR text = nullptr;
  result->GetOperationIndex(&value);
  EXPECT_EQ(10, value);
  result->GetStatus(&value);
  EXPECT_EQ(1, value);
  result->GetCategoryId(&value);
  EXPECT_EQ(3, value);
  result->GetTargetCategoryId(&value);
  EXPECT_EQ(4, value);
  result->GetFirstCount(&value);
  EXPECT_EQ(1, value);
  EXPECT_EQ((std::vector<int>{7}), ListOf(result, 1));
  EXPECT_EQ(L"0", TextOf(result, true, 7));
  result->GetOperationTitle(&text);
  EXPECT_EQ(L"\u79fb\u52a8\u8d44\u6e90", batch_testing::TakeText(text));  // 移动资源
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 2}}), results.calls());
}

TEST_F(CmdMoveResourceTest, MoveIntoAnAlbumNeverFetchedLeavesItsListAlone) {
  const int ids[] = {5};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 6, false, 1, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success", {Done(5, 0)})));
  const SessionState after = StateOf(session);
  EXPECT_EQ((std::vector<int>{7, 9}), ResourceIds(after, 3));
  EXPECT_TRUE(ResourceIds(after, 6).empty());
  EXPECT_FALSE(after.albums[2].resourcesLoaded);
  // The index follows the content into album 6, which holds it on the server.
  EXPECT_EQ((std::vector<int>{6}), AlbumsHolding(after, L"C5"));
  EXPECT_EQ(1u, results.calls().size());
}

TEST_F(CmdMoveResourceTest, MoveOfAFileTheTargetHoldsUpdatesThatResource) {
  const int ids[] = {9};  // URL u9, which resource 12 of the target has too
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, false, 1, ids));
  const SessionState before = StateOf(session);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success", {Done(9, 1)})));
  const SessionState after = StateOf(session);
  EXPECT_EQ((std::vector<int>{5, 7}), ResourceIds(after, 3));
  EXPECT_EQ((std::vector<int>{11, 12}), ResourceIds(after, 4));
  ResourceState expected = *FindResource(before, 3, 9);
  expected.id = 12;
  expected.categoryId = 4;
  ASSERT_NE(nullptr, FindResource(after, 4, 12));
  EXPECT_TRUE(expected == *FindResource(after, 4, 12));
  EXPECT_EQ((std::vector<int>{4}), AlbumsHolding(after, L"C9"));
}

TEST_F(CmdMoveResourceTest, ItemsAreKeyedByTheirOwnIds) {
  const int ids[] = {5, 7, 9};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, false, 3, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(cmd, Reply("success", {Done(7, 2), Refused(5, "audit"), Done(99, 1)})));
  EXPECT_EQ((std::vector<int>{7, 99}), cmd->DoneIds());
  EXPECT_EQ((std::vector<int>{5}), cmd->FailedIds());
  EXPECT_EQ((Texts{{7, "2"}, {99, "1"}}), cmd->DoneStates());
  EXPECT_EQ((Texts{{5, "audit"}}), cmd->Failures());
  // 99 is not in the source: nothing to move for it.
  const SessionState after = StateOf(session);
  EXPECT_EQ((std::vector<int>{5, 9}), ResourceIds(after, 3));
  EXPECT_EQ((std::vector<int>{7, 11, 12}), ResourceIds(after, 4));
  CComPtr<IResultOnBatchOperation> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ((std::vector<int>{5}), ListOf(result, 2));
  EXPECT_EQ(L"audit", TextOf(result, false, 5));
}

TEST_F(CmdMoveResourceTest, MoveWithinOneAlbumKeepsTheResource) {
  const SessionState seeded = StateOf(session);
  const int ids[] = {7};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 3, false, 1, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success", {Done(7, 0)})));
  EXPECT_TRUE(seeded == StateOf(session));
  EXPECT_EQ(1u, results.calls().size());
}

TEST_F(CmdMoveResourceTest, RefusalTakesTheFirstItemsWordForItsText) {
  const SessionState seeded = StateOf(session);
  const int ids[] = {7};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, false, 1, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("fail", {Refused(7, "undone")})));
  EXPECT_EQ("undone", cmd->Message());
  CComPtr<IResultOnBatchOperation> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int value = -1;
  result->GetStatus(&value);
  EXPECT_EQ(0, value);
  BSTR text = nullptr;
  result->GetMessageText(&text);
  // CR LF 下载未完成的资源不允许移动复制到专辑
  EXPECT_EQ(L"\r\n\u4e0b\u8f7d\u672a\u5b8c\u6210\u7684\u8d44\u6e90\u4e0d\u5141\u8bb8"
            L"\u79fb\u52a8\u590d\u5236\u5230\u4e13\u8f91",
            batch_testing::TakeText(text));
  EXPECT_TRUE(seeded == StateOf(session));
}

TEST_F(CmdMoveResourceTest, MessageIsReadIntoAn8192ByteBuffer) {
  const int ids[] = {7};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, false, 1, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply(std::string(9000, 'w'))));
  EXPECT_EQ(std::string(8191, 'w'), cmd->Message());
}

TEST_F(CmdMoveResourceTest, TransportErrorNotifiesTheSourceAlbumFirst) {
  const int ids[] = {7};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, false, 1, ids));
  ASSERT_EQ(S_OK, cmd->Start());
  CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
  ASSERT_NE(nullptr, events.p);
  events->OnConnect(12002, nullptr);
  cmd->Step();
  EXPECT_EQ((std::vector<std::vector<int>>{{3, 10, 0, 0}}), failures.calls());
  EXPECT_TRUE(results.calls().empty());
}

TEST_F(CmdMoveResourceTest, ServingProcessPublishesTheMoveAndDeliversNothing) {
  platform->manager->role = 1;
  const int ids[] = {9, 7, 5};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, false, 3, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Run(cmd, Reply("success", {Done(9, 1), Refused(7, "duplicate"), Done(5, 0)})));
  EXPECT_TRUE(results.calls().empty());
  const Bytes expected = Record()
                             .Text("10001")
                             .Text("success")
                             .Int(3)
                             .Int(4)
                             .Int(2)
                             .Int(9)
                             .Int(5)
                             .Int(1)
                             .Int(7)
                             .Text("duplicate")
                             .bytes();
  ASSERT_EQ(1u, Published().size());
  EXPECT_EQ(expected, Published()[0]);
  EXPECT_EQ(static_cast<int>(expected.size()), cmd->GetChangeRecordSize());
  EXPECT_EQ((std::vector<FakeServer::Notice>{{0, 9, 0, 0}}), Notices());

  const SessionState served = StateOf(session);
  EXPECT_EQ((std::vector<int>{7}), ResourceIds(served, 3));
  EXPECT_EQ((std::vector<int>{5, 11, 12}), ResourceIds(served, 4));
  EXPECT_TRUE(ReplayOnSeededSession(Published()[0], kNoticeMoveResource));
  EXPECT_TRUE(served == StateOf(session)) << "the forwarding process ends where this one is";
}

TEST_F(CmdMoveResourceTest, ServingProcessPublishesAMoveIntoAnAlbumNeverFetched) {
  platform->manager->role = 1;
  const int ids[] = {5, 7};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 6, false, 2, ids));
  EXPECT_EQ(BaseCmd::kStateSucceeded, Run(cmd, Reply("success", {Done(5, 0), Done(7, 0)})));
  ASSERT_EQ(1u, Published().size());
  const SessionState served = StateOf(session);
  EXPECT_TRUE(ReplayOnSeededSession(Published()[0], kNoticeMoveResource));
  EXPECT_TRUE(served == StateOf(session));
}

TEST_F(CmdMoveResourceTest, ForwardingProcessSendsTheMoveRecord) {
  platform->manager->role = 0;
  const int ids[] = {7};
  CComPtr<Command> cmd = Make();
  ASSERT_TRUE(cmd->SetParameters(3, 4, false, 1, ids));
  ASSERT_EQ(S_OK, cmd->Start());
  auto sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("MoveResource", sent[0]->name);
  EXPECT_EQ(Record().Text("10001").Int(3).Int(4).Byte(0).Int(1).Int(7).bytes(), sent[0]->payload);

  int id = 0;
  sent[0]->GetId(&id);
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload = Record().Int(0).Text("no_exist").bytes();
  EXPECT_EQ(S_OK, cmd->OnRecvOperationResult(answer));
  CComPtr<IResultOnBatchOperation> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int value = -1;
  result->GetStatus(&value);
  EXPECT_EQ(0, value);
  BSTR text = nullptr;
  result->GetMessageText(&text);
  EXPECT_EQ(L"\u76ee\u6807\u4e13\u8f91\u4e0d\u5b58\u5728", batch_testing::TakeText(text));
}

// ---------------------------------------------------------------- the decoder, code 9

TEST_F(CmdMoveResourceTest, DecoderSkipsIdsTheSourceLacks) {
  const Bytes payload =
      Record().Text("10001").Text("success").Int(3).Int(4).Int(2).Int(99).Int(5).Int(0).bytes();
  EXPECT_TRUE(ReplayOnSeededSession(payload, kNoticeMoveResource));
  const SessionState state = StateOf(session);
  EXPECT_EQ((std::vector<int>{7, 9}), ResourceIds(state, 3));
  EXPECT_EQ((std::vector<int>{5, 11, 12}), ResourceIds(state, 4));
  EXPECT_EQ((std::vector<int>{4}), AlbumsHolding(state, L"C5"));
}

TEST_F(CmdMoveResourceTest, DecoderRejectsBrokenPayloadsAndMissingAlbums) {
  const SessionState seeded = StateOf(session);
  EXPECT_TRUE(ReplayOnSeededSession(Record().Text("10001").Text("excess").bytes(),
                                    kNoticeMoveResource));
  EXPECT_TRUE(seeded == StateOf(session));
  const Bytes broken[] = {
      // no refusal count
      Record().Text("10001").Text("success").Int(3).Int(4).Int(1).Int(5).bytes(),
      // a negative id count
      Record().Text("10001").Text("success").Int(3).Int(4).Int(-1).Int(0).bytes(),
      // the source album is not here
      Record().Text("10001").Text("success").Int(99).Int(4).Int(1).Int(5).Int(0).bytes(),
      // a user id longer than its limit
      Record().Text(std::string(47, '1')).Text("success").Int(3).Int(4).Int(0).Int(0).bytes(),
  };
  for (const Bytes& payload : broken) {
    EXPECT_FALSE(ReplayOnSeededSession(payload, kNoticeMoveResource));
    EXPECT_TRUE(seeded == StateOf(session));
  }
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
