// What a forwarding process learns of a command the serving process ran for it: the
// result record carries the whole outcome (the delivered result equals a stand-alone
// run's), a served command answers with it (a refused write too) under a command id of
// its own, an empty answer still gives the host an outcome, and request records keep a
// user id whole.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "commands/CmdBatchCollect.h"
#include "commands/CmdBatchRemove.h"
#include "commands/CmdCopyResource.h"
#include "commands/CmdCreateAlbum.h"
#include "commands/CmdGetAlbumList.h"
#include "commands/CmdGetCidDat.h"
#include "commands/CmdGetResourceList.h"
#include "commands/CmdModifyAlbum.h"
#include "commands/CmdModifyResource.h"
#include "commands/CmdMoveResource.h"
#include "commands/CmdRefreshBlogServerInfo.h"
#include "commands/CmdRefreshResComment.h"
#include "commands/CmdRemoveAlbum.h"
#include "interfaces/IResultOnAlbum.h"
#include "interfaces/IResultOnResComment.h"
#include "interfaces/IResultOnResource.h"
#include "session/BlogCache.h"
#include "test/ResourceBatchTestSupport.h"
#include "test/XmlReplyTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using batch_testing::Bytes;
using batch_testing::Item;
using batch_testing::kUin;
using commands_testing::FakeMessage;
using commands_testing::Record;
using xml_testing::FakeHeaders;
using xml_testing::TakeText;

// A command as the plug-in makes it: the reference that keeps it, and its class.
struct Made {
  CComPtr<IWorkshopCmd> keep;
  BaseBlogCmd* cmd = nullptr;
};

template <class T>
Made Build(const std::function<void(T*)>& setUp) {
  CComObject<ShareSessionCmd<T>>* created = nullptr;
  EXPECT_EQ(S_OK, CreateTypedShareSessionCmd<T>(&created));
  Made made{CComPtr<IWorkshopCmd>(static_cast<IWorkshopCmd*>(created)), created};
  if (setUp) setUp(created);
  return made;
}

CComPtr<AlbumInfo> Album(int id, const wchar_t* name, int newlyAdded) {
  CComObject<AlbumInfo>* album = nullptr;
  EXPECT_EQ(S_OK, CComObject<AlbumInfo>::CreateInstance(&album));
  CComPtr<AlbumInfo> held(album);
  held->SetId(id);
  held->SetCategoryName(name);
  held->SetNewlyAddedResNum(newlyAdded);
  return held;
}

// The list commands cache under a folder of their own, never the working folder.
std::unique_ptr<BlogCache> CacheInTemporaryFolder() {
  static xml_testing::TemporaryFolder folder;
  return std::make_unique<BlogCache>(nullptr, folder.UserPath());
}

// One command: how it is made (the same for the run and the forwarding command), the
// reply of its stand-alone run and the status that run delivers.
struct Case {
  const char* name;
  std::function<Made()> make;
  int httpStatus;
  std::string body;
  int status;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string ContentIdTable() {
  std::string table(20, '\x0A');
  table += std::string("\x06\x00\x00\x00", 4);  // album 6
  return table;
}

std::vector<Case> Cases() {
  const int kIds[] = {9, 7, 5};
  return {
      {"RefreshBlogServerInfo",
       [] { return Build<CmdRefreshBlogServerInfo>([](auto* c) { c->SetContextValue(41); }); },
       200,
       "200\r\n1\r\nhttp://data.velmora.cn/cid/10001/Cid.dat\r\n2\r\n"
       "http://data.velmora.cn/blog/10001/albums.xml\r\n3\r\n"
       "http://data.velmora.cn/blog/10001/album/<id>.xml\r\n",
       1},
      {"GetCidDat", [] { return Build<CmdGetCidDat>(nullptr); }, 200, ContentIdTable(), 1},
      {"GetAlbumList",
       [] {
         return Build<CmdGetAlbumList>([](auto* c) { c->UseCache(CacheInTemporaryFolder()); });
       },
       200,
       "<categories><category id=\"3\"><category_name>source</category_name></category>"
       "</categories>",
       1},
      {"GetResourceList",
       [] {
         return Build<CmdGetResourceList>([](auto* c) {
           c->SetAlbumId(6);
           c->UseCache(CacheInTemporaryFolder());
         });
       },
       200,
       "<resources><resource id=\"61\" cid=\"C61\"><res_name>r</res_name></resource>"
       "</resources>",
       1},
      {"RefreshResComment",
       [] { return Build<CmdRefreshResComment>([](auto* c) { c->SetResourceKey(L"KEY7", 42); }); },
       200, "31", 1},
      {"CreateAlbum",
       [] {
         return Build<CmdCreateAlbum>([](auto* c) { c->SetAlbum(Album(-1, L"new", 0)); });
       },
       200, "<result return=\"1\" message=\"success\" category_id=\"123\"/>", 1},
      {"ModifyAlbum",
       [] {
         return Build<CmdModifyAlbum>([](auto* c) { c->SetAlbum(Album(3, L"renamed", 5)); });
       },
       200, "<result return=\"0\" message=\"duplicate\"/>", 0},
      {"RemoveAlbum", [] { return Build<CmdRemoveAlbum>([](auto* c) { c->SetCategoryId(4); }); },
       200, "<result message=\"success\"/>", 1},
      {"BatchCollect",
       [] {
         return Build<CmdBatchCollect>([](auto* c) {
           c->SetCategoryId(3);
           CComPtr<ResourceInfo> held[3];
           IZQResInfo* items[3] = {};
           for (int i = 0; i < 3; ++i) {
             CComObject<ResourceInfo>* item = nullptr;
             CComObject<ResourceInfo>::CreateInstance(&item);
             held[i] = item;
             items[i] = item;
           }
           c->SetItems(items, 3);
         });
       },
       200,
       "<result return=\"1\" message=\"success\">" +
           Item({{"add", "1"}, {"id", "501"}, {"state", "2"}}) +
           Item({{"add", "1"}, {"id", "502"}, {"state", "3"}}) +
           Item({{"add", "0"}, {"id", "503"}, {"message", "duplicate"}}) + "</result>",
       1},
      {"BatchRemove",
       [kIds] {
         return Build<CmdBatchRemove>([kIds](auto* c) { c->SetParameters(3, 2, kIds + 1); });
       },
       200, "<result message=\"success\"/>", 1},
      {"CopyResource",
       [kIds] {
         return Build<CmdCopyResource>([kIds](auto* c) { c->SetParameters(3, 4, true, 3, kIds); });
       },
       200,
       "<result message=\"success\">" + Item({{"done", "1"}, {"id", "903"}, {"state", "2"}}) +
           Item({{"done", "0"}, {"id", "0"}, {"message", "excess"}}) +
           Item({{"done", "1"}, {"id", "901"}, {"state", "1"}}) + "</result>",
       1},
      {"MoveResource",
       [kIds] {
         return Build<CmdMoveResource>([kIds](auto* c) { c->SetParameters(3, 4, false, 3, kIds); });
       },
       200,
       "<result message=\"success\">" + Item({{"done", "1"}, {"id", "9"}, {"state", "4"}}) +
           Item({{"done", "0"}, {"id", "7"}, {"message", "audit"}}) +
           Item({{"done", "1"}, {"id", "5"}, {"state", "6"}}) + "</result>",
       1},
      {"ModifyResource",
       [] {
         return Build<CmdModifyResource>([](auto* c) { c->SetParameters(3, 4, 7, L"n7", L"d7"); });
       },
       200, "<result return=\"1\" message=\"success\"/>", 1},
  };
}

// The seeded session of batch_testing plus the user's directory and every endpoint.
class ForwardedResultTest : public batch_testing::BatchCmdTest<CmdBatchRemove> {
 protected:
  void SetUp() override {
    BatchCmdTest::SetUp();
    std::unique_ptr<ServerDirectoryRecord> record(new ServerDirectoryRecord);
    record->Opened = true;
    record->CidDatUrl = L"http://data.velmora.cn/cid/10001/Cid.dat";
    record->AlbumListUrl = L"http://data.velmora.cn/blog/10001/albums.xml";
    record->ResourceListUrl = L"http://data.velmora.cn/blog/10001/album/<id>.xml";
    Hold hold(session->ServerLock());
    session->StoreServerEntry(kUin, std::move(record));
    for (int index = 0; index <= kEndpointMoveResource; ++index) {
      session->SetOperationEndpoint(index, L"post.velmora.cn", L"/api/op");
    }
  }

  // Every field of the result filed under commandId, as text; {"<none>"} without one.
  std::vector<std::wstring> Snapshot(int commandId) {
    CComPtr<ICommonResult> r;
    if (FAILED(session->FetchResult(commandId, &r))) return {L"<none>"};
    std::vector<std::wstring> fields;
    auto add = [&fields](auto* object, auto get) {
      if constexpr (std::is_invocable_v<decltype(get), decltype(object), BSTR*>) {
        BSTR text = nullptr;
        (object->*get)(&text);
        fields.push_back(TakeText(text));
      } else {
        int value = 0;
        (object->*get)(&value);
        fields.push_back(std::to_wstring(value));
      }
    };
    add(r.p, &ICommonResult::GetUin);
    add(r.p, &ICommonResult::GetStatus);
    add(r.p, &ICommonResult::GetMessageText);
    add(r.p, &ICommonResult::GetOperationIndex);
    add(r.p, &ICommonResult::GetOperationTitle);
    add(r.p, &ICommonResult::GetExtraValue);
    add(r.p, &ICommonResult::GetCategoryId);
    CComPtr<IResultOnAlbum> album;
    CComPtr<IResultOnResource> resource;
    CComPtr<IResultOnResComment> comment;
    CComPtr<IResultOnBatchOperation> batch;
    if (SUCCEEDED(r.QueryInterface(&album))) {
      add(album.p, &IResultOnAlbum::GetCategoryName);
    } else if (SUCCEEDED(r.QueryInterface(&resource))) {
      add(resource.p, &IResultOnResource::GetTargetCategoryId);
      add(resource.p, &IResultOnResource::GetResourceId);
    } else if (SUCCEEDED(r.QueryInterface(&comment))) {
      add(comment.p, &IResultOnResComment::GetResourceKey);
      add(comment.p, &IResultOnResComment::GetRequestNumber);
    } else if (SUCCEEDED(r.QueryInterface(&batch))) {
      add(batch.p, &IResultOnBatchOperation::GetFirstCount);
      add(batch.p, &IResultOnBatchOperation::GetSecondCount);
      add(batch.p, &IResultOnBatchOperation::GetTargetCategoryId);
      for (int list : {1, 2}) {
        for (int id : batch_testing::ListOf(batch, list)) fields.push_back(L"#" + std::to_wstring(id));
        fields.push_back(L"|");
      }
      for (int key : {0, 5, 7, 9, 501, 502, 503, 901, 903}) {
        fields.push_back(batch_testing::TextOf(batch, true, key) + L"|" +
                         batch_testing::TextOf(batch, false, key));
      }
    }
    return fields;
  }
};

class ResultRecordRoundTrip : public ForwardedResultTest,
                              public ::testing::WithParamInterface<Case> {};

// The stand-alone run's result against the one a forwarding command delivers from the
// run's result record; and an empty answer, which still delivers (Status 0).
TEST_P(ResultRecordRoundTrip, ForwardedResultEqualsTheStandAloneOne) {
  const Case& c = GetParam();
  Made run = c.make();
  run.cmd->SetUserId(kUin);
  run.cmd->SetCommandId(77);
  run.cmd->SetHttpFactory(platform->factory);
  ASSERT_EQ(S_OK, run.keep->Start());
  CComPtr<FakeHeaders> headers(new FakeHeaders(c.httpStatus));
  xml_testing::PlayReply(run.keep, platform->factory->connection, headers, {c.body});
  const std::vector<std::wstring> standAlone = Snapshot(77);
  ASSERT_NE(L"<none>", standAlone[0]);
  ASSERT_EQ(std::to_wstring(c.status), standAlone[1]);

  CComPtr<FakeMessage> answer(new FakeMessage(5));
  answer->SetPayloadSize(run.cmd->GetResultRecordSize() + 8);
  ASSERT_TRUE(run.cmd->WriteResultRecord(answer->payload.data(),
                                         static_cast<int>(answer->payload.size())));
  Made forwarded = c.make();
  forwarded.cmd->SetUserId(kUin);
  forwarded.cmd->SetCommandId(78);
  ASSERT_EQ(S_OK, forwarded.cmd->OnShareSessionResult(answer));
  EXPECT_EQ(standAlone, Snapshot(78));

  Made unserved = c.make();
  unserved.cmd->SetUserId(kUin);
  unserved.cmd->SetCommandId(79);
  CComPtr<FakeMessage> empty(new FakeMessage(6));
  ASSERT_EQ(S_OK, unserved.cmd->OnShareSessionResult(empty));
  const std::vector<std::wstring> told = Snapshot(79);
  ASSERT_LT(2u, told.size());
  EXPECT_EQ(L"0", told[1]) << "Status";
  EXPECT_EQ(L"", told[2]) << "no message text";
}

INSTANTIATE_TEST_SUITE_P(AllCommands, ResultRecordRoundTrip, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

// A write reply that carries no outcome the command knows (no "return", or none of
// "1" and "0"; the commands whose outcome is the message word alone get neither) is a
// refusal like any other: Status 0, an empty message text, the session untouched,
// nothing broadcast.
class WriteCommandTest : public ForwardedResultTest,
                            public ::testing::WithParamInterface<Case> {};

TEST_P(WriteCommandTest, AReplyWithoutAnOutcomeIsARefusal) {
  const batch_testing::SessionState before = batch_testing::StateOf(session);
  int commandId = 80;
  for (const char* body : {"<result/>", "<result return=\"2\"/>"}) {
    SCOPED_TRACE(body);
    platform->factory = new framework_testing::FakeFactory;
    Made run = GetParam().make();
    run.cmd->SetUserId(kUin);
    run.cmd->SetCommandId(++commandId);
    run.cmd->SetHttpFactory(platform->factory);
    ASSERT_EQ(S_OK, run.keep->Start());
    CComPtr<FakeHeaders> headers(new FakeHeaders(200));
    EXPECT_EQ(BaseCmd::kStateSucceeded,
              xml_testing::PlayReply(run.keep, platform->factory->connection, headers, {body}));
    const std::vector<std::wstring> told = Snapshot(commandId);
    ASSERT_LT(2u, told.size()) << "a result is filed";
    EXPECT_EQ(L"0", told[1]) << "Status";
    EXPECT_EQ(L"", told[2]) << "message text";
    EXPECT_EQ(before, batch_testing::StateOf(session));
  }
  EXPECT_TRUE(Published().empty());
  EXPECT_TRUE(failures.calls().empty());
}

// A form longer than its buffer (a user id longer than any of them) sends nothing: the
// command fails and the failure sinks hear that the request was too long.
TEST_P(WriteCommandTest, AFormTooLongForItsBufferIsNotSent) {
  const std::map<std::string, int> operations = {
      {"CreateAlbum", 6},    {"ModifyAlbum", 7},  {"RemoveAlbum", 8},
      {"BatchCollect", 4},   {"BatchRemove", 5},  {"CopyResource", 11},
      {"MoveResource", 10},  {"ModifyResource", 9}};
  Made run = GetParam().make();
  run.cmd->SetUserId(std::wstring(9000, L'7').c_str());
  run.cmd->SetCommandId(90);
  run.cmd->SetHttpFactory(platform->factory);
  ASSERT_EQ(S_OK, run.keep->Start());
  CComPtr<FakeHeaders> headers(new FakeHeaders(200));
  EXPECT_EQ(BaseCmd::kStateFailed,
            xml_testing::PlayReply(run.keep, platform->factory->connection, headers,
                                   {"<result return=\"1\" message=\"success\"/>"}));
  EXPECT_EQ(nullptr, platform->factory->connection->sentRequest().p);
  EXPECT_EQ((std::vector<std::vector<int>>{
                {BaseBlogCmd::kFailureRequestTooLong, operations.at(GetParam().name), 0, 0}}),
            failures.calls());
  EXPECT_EQ((std::vector<std::wstring>{L"<none>"}), Snapshot(90));
}

std::vector<Case> WriteCases() {
  std::vector<Case> writes;
  for (const Case& c : Cases()) {
    const std::string name = c.name;
    if (name.find("Get") != 0 && name.find("Refresh") != 0) writes.push_back(c);
  }
  return writes;
}

INSTANTIATE_TEST_SUITE_P(WriteCommands, WriteCommandTest, ::testing::ValuesIn(WriteCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

// A served write answers its request with its whole record, accepted or refused, under
// a command id of its own, and files nothing in this process.
TEST_F(ForwardedResultTest, AServedCommandAnswersWithItsWholeRecord) {
  platform->manager->role = BaseBlogCmd::kRoleServe;
  const Bytes request = Record()
                            .Text("10001")
                            .Int(-1).Text("new").Int(1).Int(0).Text("").Text("").Text("").Int(0)
                            .bytes();
  // The reply, then the answer it gives (its payload has 8 spare bytes).
  const std::pair<std::string, Bytes> replies[] = {
      {"<result return=\"1\" message=\"success\" category_id=\"123\"/>",
       Record().Int(1).Int(123).Text("success").Int(0).Int(0).bytes()},
      {"<result return=\"0\" message=\"duplicate\"/>",
       Record().Int(0).Int(0).Text("duplicate").Int(0).Int(0).bytes()},
      {"<result/>", Record().Int(0).Int(0).Text("").Int(0).Int(0).bytes()},
  };
  std::vector<int> ids;
  for (const auto& reply : replies) {
    platform->factory = new framework_testing::FakeFactory;
    Made served = Build<CmdCreateAlbum>(nullptr);
    CComPtr<FakeMessage> message(new FakeMessage(static_cast<int>(ids.size()) + 40));
    message->payload = request;
    ASSERT_EQ(S_OK, static_cast<ShareSessionCmd<CmdCreateAlbum>*>(served.cmd)
                        ->SetOperationMessage(message));
    ids.push_back(served.cmd->CommandId());
    ASSERT_EQ(S_OK, served.keep->Start());
    CComPtr<FakeHeaders> headers(new FakeHeaders(200));
    xml_testing::PlayReply(served.keep, platform->factory->connection, headers, {reply.first});
    CComPtr<FakeMessage> answer = platform->manager->server->lastResult;
    ASSERT_NE(nullptr, answer.p);
    EXPECT_EQ("CreateAlbum", answer->name);
    EXPECT_EQ(reply.second, answer->payload) << reply.first;
    EXPECT_EQ(1u, Published().size()) << "only the accepted write broadcasts";
    platform->manager->server->lastResult.Release();
  }
  EXPECT_NE(0, ids[0]);
  EXPECT_NE(ids[0], ids[1]) << "each from the plug-in's counter";
  EXPECT_TRUE(results.calls().empty());
  CComPtr<ICommonResult> none;
  EXPECT_TRUE(FAILED(session->FetchResult(0, &none))) << "nothing under id 0";
  platform->workshop->added.clear();
}

// A user id whose bytes hold a zero is read whole and goes out whole again in a
// request record; a serving process refuses to run a command for it (a control
// character would go into the cookie and the path).
TEST_F(ForwardedResultTest, AUserIdWithAZeroByteSurvivesRequestRecords) {
  const std::string uin("10\0" "01", 5);
  Bytes collect = Record().Text(uin).Int(3).Int(1).bytes();
  collect.resize(collect.size() + 60, 0);  // a fresh resource's record: 4 ints, 11 texts
  const Bytes modify = Record().Text(uin).Int(3).Int(4).Int(7).Text("n").Text("d").bytes();

  const std::vector<std::pair<Made, Bytes>> served = {
      {Build<CmdBatchCollect>(nullptr), collect}, {Build<CmdModifyResource>(nullptr), modify}};
  for (const auto& entry : served) {
    CComPtr<FakeMessage> request(new FakeMessage(50));
    request->payload = entry.second;
    auto* cmd = dynamic_cast<IBaseShareSessionCmd*>(entry.first.cmd);
    ASSERT_NE(nullptr, cmd);
    EXPECT_EQ(E_INVALIDARG, cmd->SetOperationMessage(request));
    EXPECT_TRUE(platform->workshop->added.empty()) << "nothing submitted";
    ASSERT_TRUE(entry.first.cmd->ReadRequestRecord(request));
    EXPECT_EQ(uin, entry.first.cmd->UserId());
    CComPtr<FakeMessage> again(new FakeMessage(51));
    again->SetPayloadSize(entry.first.cmd->GetRequestRecordSize());
    ASSERT_TRUE(entry.first.cmd->WriteRequestRecord(again));
    EXPECT_EQ(entry.second, again->payload);
  }
  platform->workshop->added.clear();
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
