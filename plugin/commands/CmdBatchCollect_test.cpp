#include "commands/CmdBatchCollect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands/CommandRegistry.h"
#include "framework/ShareSessionCmd.h"
#include "interfaces/IResultOnBatchOperation.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "test/CommandTestSupport.h"
#include "test/FrameworkTestSupport.h"
#include "test/ResourceWriteTestSupport.h"
#include "test/SessionTestSupport.h"
#include "test/XmlReplyTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using commands_testing::FakeMessage;
using commands_testing::Record;
using framework_testing::FakeFactory;
using resource_write_testing::AddAlbum;
using resource_write_testing::IntOf;
using resource_write_testing::kUin;
using resource_write_testing::MakeResource;
using resource_write_testing::TextOf;
using session_testing::TestDecoder;
using session_testing::TestSession;
using xml_testing::AlbumsOf;
using xml_testing::CidPairsOf;

typedef CComObject<ShareSessionCmd<CmdBatchCollect>> Command;
typedef std::vector<std::pair<std::wstring, int>> Pairs;

const int kCommandId = 77;
const int kAlbum = 12;

// The record a resource writes (ResourceInfo's layout).
std::vector<BYTE> RecordOf(ResourceInfo* resource) {
  std::vector<BYTE> bytes(static_cast<size_t>(resource->RecordSize()));
  RecordWriter writer(bytes.data(), bytes.size());
  EXPECT_TRUE(resource->WriteRecord(writer));
  return bytes;
}

void Append(std::vector<BYTE>* to, const std::vector<BYTE>& bytes) {
  to->insert(to->end(), bytes.begin(), bytes.end());
}

class CmdBatchCollectTest : public resource_write_testing::ResourceWriteTest {
 protected:
  // A new command for the user on factory (the platform's when null), not started.
  CComPtr<Command> NewCommand(const std::vector<CComPtr<ResourceInfo>>& items,
                              FakeFactory* factory = nullptr, int categoryId = kAlbum,
                              const wchar_t* uin = kUin) {
    Command* created = nullptr;
    EXPECT_EQ(S_OK, CreateTypedShareSessionCmd<CmdBatchCollect>(&created));
    CComPtr<Command> cmd(created);
    cmd->SetUserId(uin);
    cmd->SetCommandId(kCommandId);
    cmd->SetCategoryId(categoryId);
    std::vector<IZQResInfo*> pointers;
    for (const CComPtr<ResourceInfo>& item : items) pointers.push_back(item.p);
    EXPECT_EQ(S_OK, cmd->SetItems(pointers.data(), static_cast<int>(pointers.size())));
    cmd->SetHttpFactory(factory != nullptr ? factory : platform->factory.p);
    return cmd;
  }

  // Runs a collect of items with the reply (status, body) and returns the final state.
  int Collect(const std::vector<CComPtr<ResourceInfo>>& items, const std::string& body,
              int status = 200) {
    CComPtr<Command> cmd = NewCommand(items);
    EXPECT_EQ(S_OK, cmd->Start());
    return Play(cmd, platform->factory, status, &body);
  }

  // The body a new command on a fresh factory sends for items; "<not sent>" when no
  // request goes out.
  std::string FormOf(const std::vector<CComPtr<ResourceInfo>>& items,
                     const wchar_t* uin = kUin) {
    CComPtr<FakeFactory> factory(new FakeFactory);
    CComPtr<Command> cmd = NewCommand(items, factory, kAlbum, uin);
    EXPECT_EQ(S_OK, cmd->Start());
    const std::string reply = "<result return=\"0\" message=\"fail\"/>";
    Play(cmd, factory, 200, &reply);
    const std::vector<std::string> log = factory->connection->log();
    const auto sends = std::count(log.begin(), log.end(), "Send+body") +
                       std::count(log.begin(), log.end(), "Send");
    EXPECT_GE(1, sends);
    if (sends == 0) return "<not sent>";
    std::optional<std::string> body = factory->connection->sentBody();
    return body ? *body : "<no body>";
  }

  CComPtr<IResultOnBatchOperation> Result() {
    return Filed<IResultOnBatchOperation>(kCommandId);
  }

  // The first or second table's text for key; "<none>" when absent.
  static std::wstring TableText(IResultOnBatchOperation* result, bool first, int key) {
    BSTR untouched = SysAllocString(L"<none>");
    BSTR text = untouched;
    if (first) {
      result->GetFirstText(key, &text);
    } else {
      result->GetSecondText(key, &text);
    }
    // A text found replaces the caller's BSTR without freeing it.
    if (text != untouched) SysFreeString(untouched);
    return xml_testing::TakeText(text);
  }

  static std::vector<int> FirstIds(IResultOnBatchOperation* result) {
    std::vector<int> ids;
    int count = 0;
    result->GetFirstCount(&count);
    for (int i = 0; i < count; ++i) {
      int id = 0;
      result->GetListItem(1, i, &id);
      ids.push_back(id);
    }
    return ids;
  }
};

// ---------------------------------------------------------------- the request

TEST_F(CmdBatchCollectTest, OneResourceGivesOneGroupOfElevenFields) {
  CComPtr<ResourceInfo> item = MakeResource(0, L"x");
  item->SetCid(L"0123ABCD");
  item->SetGcid(L"4567EF");
  item->SetResName(L"a b&c=d");
  item->SetUrl(L"http://x.cn/a?b=1");
  item->SetOriginal(L"o/p");
  item->SetRefer(L"r\\s");
  item->SetDesc(L"50%+");
  CComPtr<Command> cmd = NewCommand({item});
  ASSERT_EQ(S_OK, cmd->Start());
  const std::string reply = "<result return=\"0\" message=\"fail\"/>";
  EXPECT_EQ(BaseCmd::kStateSucceeded, Play(cmd, platform->factory, 200, &reply));

  const std::vector<std::string> log = platform->factory->connection->log();
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "SetServer post.velmora.cn:80"));
  CComPtr<framework_testing::FakeRequest> request = platform->factory->lastRequest;
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("POST", request->method);
  EXPECT_EQ("/api/resource_batch_collect", request->path);
  ASSERT_EQ(3u, request->headers.size());
  EXPECT_EQ("Content-Type", request->headers[0].first);
  EXPECT_EQ("application/x-www-form-urlencoded", request->headers[0].second);
  EXPECT_EQ("Cookie", request->headers[1].first);
  EXPECT_EQ(0u, request->headers[1].second.find("login_name=10001; login_time="));
  EXPECT_EQ(std::string("login_name=10001; login_time=20261201100000; key=").size() + 32,
            request->headers[1].second.size());
  EXPECT_EQ((std::pair<std::string, std::string>("Host", "post.velmora.cn")),
            request->headers[2]);

  EXPECT_EQ(
      "encoder=utf-8&uin=10001&category_id=12&korrin_version=&peerid=&num=1"
      "&neednotifyfriend=0"
      "&cid_0=0123ABCD&gcid_0=4567EF&res_name_0=a%20b%26c%3Dd&res_type_0=1"
      "&size_0=1048576&format_0=mp4&undone_0=0&url_0=http:%2F%2Fx.cn%2Fa%3Fb%3D1"
      "&original_0=o%2Fp&refer_0=r%5Cs&desc_0=50%25%2B",
      platform->factory->connection->sentBody().value_or("<no body>"));
}

TEST_F(CmdBatchCollectTest, FieldsArePreparedEachTheirOwnWay) {
  CComPtr<ResourceInfo> first = MakeResource(0, L"a");
  CComPtr<ResourceInfo> second = MakeResource(0, L"b");
  second->SetCid(L"c&d=e");         // as it is
  second->SetGcid(L"g h");          // as it is
  second->SetResName(L"旅行 日记");  // escaped, then UTF-8
  second->SetResType(7);            // the value itself
  second->SetSize(L"1 MB");         // escaped, stays ANSI
  second->SetFormat(L"视频");        // stays ANSI (code page 936)
  second->SetState(2);
  second->SetUrl(L"");
  second->SetOriginal(L"");
  second->SetRefer(L"");
  second->SetDesc(L"说明");
  // The uin goes out as UTF-8 without escaping.
  const std::string form = FormOf({first, second}, L"u&1");
  EXPECT_EQ(
      "encoder=utf-8&uin=u&1&category_id=12&korrin_version=&peerid=&num=2"
      "&neednotifyfriend=0"
      "&cid_0=CID-a&gcid_0=GCID-a&res_name_0=name%20a&res_type_0=1&size_0=1048576"
      "&format_0=mp4&undone_0=0&url_0=http:%2F%2Ffiles.velmora.cn%2Fa"
      "&original_0=http:%2F%2Forigin%2Fa&refer_0=refer&desc_0=desc%20a"
      "&cid_1=c&d=e&gcid_1=g h&res_name_1=\xe6\x97\x85\xe8\xa1\x8c%20\xe6\x97\xa5\xe8\xae\xb0"
      "&res_type_1=7&size_1=1%20MB&format_1=\xca\xd3\xc6\xb5&undone_1=2&url_1="
      "&original_1=&refer_1=&desc_1=\xe8\xaf\xb4\xe6\x98\x8e",
      form);
}

TEST_F(CmdBatchCollectTest, FormOf4095BytesIsSentAndOneMoreIsNot) {
  CComPtr<ResourceInfo> item = MakeResource(0, L"x");
  item->SetDesc(L"");
  const std::string base = FormOf({item});
  ASSERT_NE("<no body>", base);
  ASSERT_LT(base.size(), 4095u);

  item->SetDesc(std::wstring(4095 - base.size(), L'd').c_str());
  EXPECT_EQ(4095u, FormOf({item}).size());

  item->SetDesc(std::wstring(4096 - base.size(), L'd').c_str());
  EXPECT_EQ("<not sent>", FormOf({item}));

  // Many small items overflow the same way, and so does an escaped text that only
  // grows past the bound when escaped.
  std::vector<CComPtr<ResourceInfo>> many;
  for (int i = 0; i < 40; ++i) many.push_back(MakeResource(0, std::to_wstring(i)));
  EXPECT_EQ("<not sent>", FormOf(many));
  item->SetDesc(std::wstring((4095 - base.size()) / 3 + 1, L' ').c_str());
  EXPECT_EQ("<not sent>", FormOf({item}));
}

TEST_F(CmdBatchCollectTest, SetItemsCopiesAndChecksItsArguments) {
  Command* created = nullptr;
  ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdBatchCollect>(&created));
  CComPtr<Command> cmd(created);
  CComPtr<ResourceInfo> item = MakeResource(3, L"x");
  IZQResInfo* items[] = {item.p, nullptr};
  EXPECT_EQ(E_INVALIDARG, cmd->SetItems(items, -1));
  EXPECT_EQ(E_POINTER, cmd->SetItems(nullptr, 1));
  EXPECT_EQ(E_POINTER, cmd->SetItems(items, 2));
  EXPECT_EQ(0, cmd->ItemCount());
  EXPECT_EQ(S_OK, cmd->SetItems(items, 1));
  EXPECT_EQ(1, cmd->ItemCount());
  EXPECT_EQ(1u, framework_testing::RefCount(item)) << "copied, not kept";
  EXPECT_EQ(S_OK, cmd->SetItems(nullptr, 0));
  EXPECT_EQ(0, cmd->ItemCount());
}

// ---------------------------------------------------------------- the reply

TEST_F(CmdBatchCollectTest, CollectedAndRefusedItemsOfAnAcceptedReply) {
  AddAlbum(session, kAlbum, true, {MakeResource(7, L"old", kAlbum)});
  CComPtr<ResourceInfo> first = MakeResource(0, L"new");
  CComPtr<ResourceInfo> second = MakeResource(0, L"dup");
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Collect({first, second},
                    "<result return=\"1\" message=\"success\">"
                    "<resource add=\"1\" id=\"501\" state=\"2\"/>"
                    "<resource add=\"0\" id=\"0\" message=\"duplicate\"/>"
                    "</result>"));

  // The collected item is appended to the loaded album with the id and state the reply
  // gave it; the refused one is not.
  std::vector<xml_testing::AlbumState> albums = AlbumsOf(session, kUin);
  ASSERT_EQ(1u, albums.size());
  ASSERT_EQ(2u, albums[0].resources.size());
  EXPECT_EQ(7, albums[0].resources[0].id);
  xml_testing::ResourceState collected = albums[0].resources[1];
  EXPECT_EQ(501, collected.id);
  EXPECT_EQ(2, collected.state);
  EXPECT_EQ(L"CID-new", collected.cid);
  EXPECT_EQ(L"name new", collected.resName);
  EXPECT_EQ(kAlbum, collected.categoryId) << "the caller's copy named no album";
  EXPECT_EQ(L"10001", collected.uin);
  EXPECT_EQ((Pairs{{L"CID-new", kAlbum}, {L"CID-old", kAlbum}}), CidPairsOf(session));

  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 2}}), results.calls());
  CComPtr<IResultOnBatchOperation> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(1, IntOf(result.p, &IResultOnBatchOperation::GetStatus));
  EXPECT_EQ(4, IntOf(result.p, &IResultOnBatchOperation::GetOperationIndex));
  EXPECT_EQ(L"收藏资源", TextOf(result.p, &IResultOnBatchOperation::GetOperationTitle));
  EXPECT_EQ(L"", TextOf(result.p, &IResultOnBatchOperation::GetMessageText));
  EXPECT_EQ(L"10001", TextOf(result.p, &IResultOnBatchOperation::GetUin));
  EXPECT_EQ(kAlbum, IntOf(result.p, &IResultOnBatchOperation::GetCategoryId));
  EXPECT_EQ(1, IntOf(result.p, &IResultOnBatchOperation::GetFirstCount));
  EXPECT_EQ(1, IntOf(result.p, &IResultOnBatchOperation::GetSecondCount));
  EXPECT_EQ(0, IntOf(result.p, &IResultOnBatchOperation::GetTargetCategoryId));
  EXPECT_EQ(std::vector<int>{501}, FirstIds(result));
  EXPECT_EQ(L"2", TableText(result, true, 501));
  EXPECT_EQ(L"duplicate", TableText(result, false, 0));
  EXPECT_EQ(L"<none>", TableText(result, true, 0));
  EXPECT_EQ(L"<none>", TableText(result, false, 501));
  EXPECT_TRUE(failures.calls().empty());
}

TEST_F(CmdBatchCollectTest, AnAlbumNotLoadedGainsOnlyIndexEntries) {
  AddAlbum(session, kAlbum, false, {});
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Collect({MakeResource(0, L"a"), MakeResource(0, L"b")},
                    "<result return=\"1\" message=\"success\">"
                    "<resource add=\"1\" id=\"501\" state=\"0\"/>"
                    "<resource add=\"1\" id=\"502\" state=\"1\"/>"
                    "</result>"));
  std::vector<xml_testing::AlbumState> albums = AlbumsOf(session, kUin);
  ASSERT_EQ(1u, albums.size());
  EXPECT_TRUE(albums[0].resources.empty());
  EXPECT_FALSE(albums[0].resourcesLoaded);
  EXPECT_EQ((Pairs{{L"CID-a", kAlbum}, {L"CID-b", kAlbum}}), CidPairsOf(session));
  CComPtr<IResultOnBatchOperation> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ((std::vector<int>{501, 502}), FirstIds(result));
  EXPECT_EQ(0, IntOf(result.p, &IResultOnBatchOperation::GetSecondCount));
}

TEST_F(CmdBatchCollectTest, AnAlbumNotInTheSessionIsLeftAloneButTheResultIsDelivered) {
  AddAlbum(session, kAlbum + 1, true, {});
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Collect({MakeResource(0, L"a"), MakeResource(0, L"b")},
                    "<result return=\"1\" message=\"success\">"
                    "<resource add=\"1\" id=\"501\" state=\"0\"/>"
                    "<resource add=\"0\" id=\"502\" message=\"exist\"/></result>"));
  CComPtr<IResultOnBatchOperation> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(1, IntOf(result.p, &IResultOnBatchOperation::GetStatus));
  EXPECT_EQ(1, IntOf(result.p, &IResultOnBatchOperation::GetFirstCount));
  EXPECT_EQ(1, IntOf(result.p, &IResultOnBatchOperation::GetSecondCount));
  EXPECT_TRUE(CidPairsOf(session).empty());
  EXPECT_TRUE(AlbumsOf(session, kUin)[0].resources.empty());
}

TEST_F(CmdBatchCollectTest, RefusedReplyDeliversStatusZeroWithTheTranslatedWord) {
  AddAlbum(session, kAlbum, true, {});
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Collect({MakeResource(0, L"a")},
                    "<result return=\"0\" message=\"fail\">"
                    "<resource add=\"1\" id=\"501\" state=\"0\"/></result>"));
  CComPtr<IResultOnBatchOperation> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(0, IntOf(result.p, &IResultOnBatchOperation::GetStatus));
  EXPECT_EQ(L"数据库错误", TextOf(result.p, &IResultOnBatchOperation::GetMessageText));
  EXPECT_EQ(0, IntOf(result.p, &IResultOnBatchOperation::GetFirstCount));
  EXPECT_EQ(0, IntOf(result.p, &IResultOnBatchOperation::GetSecondCount));
  EXPECT_TRUE(AlbumsOf(session, kUin)[0].resources.empty());
  EXPECT_TRUE(CidPairsOf(session).empty());

  // Any "return" but "1" is a refusal, even an empty one.
  session->ClearAll();
  AddAlbum(session, kAlbum, true, {});
  Collect({MakeResource(0, L"a")},
          "<result return=\"\" message=\"denied\"><resource add=\"1\" id=\"5\"/></result>");
  EXPECT_TRUE(AlbumsOf(session, kUin)[0].resources.empty());
}

TEST_F(CmdBatchCollectTest, ElementsAnswerItemsByPositionUpToTheShorterList) {
  AddAlbum(session, kAlbum, true, {});
  CComPtr<ResourceInfo> a = MakeResource(-5, L"a");
  CComPtr<ResourceInfo> b = MakeResource(-6, L"b");
  CComPtr<ResourceInfo> c = MakeResource(-7, L"c");
  // Three items, two elements: the third item is neither collected nor refused.
  Collect({a, b, c},
          "<result return=\"1\" message=\"success\">"
          "<resource add=\"0\" id=\" 44x\" message=\"excess\"/>"
          "<resource add=\"1\" id=\"abc\" state=\"-3\"/>"
          "</result>");
  CComPtr<IResultOnBatchOperation> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(1, IntOf(result.p, &IResultOnBatchOperation::GetFirstCount));
  EXPECT_EQ(1, IntOf(result.p, &IResultOnBatchOperation::GetSecondCount));
  EXPECT_EQ(L"excess", TableText(result, false, 44)) << "leading blanks, digits up to 'x'";
  EXPECT_EQ(std::vector<int>{0}, FirstIds(result)) << "no digits give 0";
  EXPECT_EQ(L"-3", TableText(result, true, 0));
  std::vector<xml_testing::AlbumState> albums = AlbumsOf(session, kUin);
  ASSERT_EQ(1u, albums[0].resources.size());
  EXPECT_EQ(L"CID-b", albums[0].resources[0].cid) << "element 1 answers item 1";
  EXPECT_EQ(-3, albums[0].resources[0].state);
  EXPECT_EQ((Pairs{{L"CID-b", kAlbum}}), CidPairsOf(session));

  // One item, two elements: the second element is not read.
  session->ClearAll();
  AddAlbum(session, kAlbum, true, {});
  Collect({MakeResource(0, L"only")},
          "<result return=\"1\" message=\"success\">"
          "<resource add=\"1\" id=\"1\" state=\"0\"/>"
          "<resource add=\"1\" id=\"2\" state=\"0\"/>"
          "</result>");
  EXPECT_EQ(1u, AlbumsOf(session, kUin)[0].resources.size());
  EXPECT_EQ(1u, CidPairsOf(session).size());
}

TEST_F(CmdBatchCollectTest, RefusalsKeyedByTheirOwnStandInIdsAllStay) {
  AddAlbum(session, kAlbum, true, {});
  Collect({MakeResource(0, L"a"), MakeResource(0, L"b"), MakeResource(0, L"c"),
           MakeResource(0, L"d")},
          "<result return=\"1\" message=\"success\">"
          "<resource add=\"0\" id=\"0\" message=\"duplicate\"/>"
          "<resource add=\"0\" id=\"-1\" message=\"undone\"/>"
          "<resource add=\"0\" id=\"-2\" message=\"excess\"/>"
          "<resource add=\"0\" id=\"-2\" message=\"later\"/>"
          "</result>");
  CComPtr<IResultOnBatchOperation> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(1, IntOf(result.p, &IResultOnBatchOperation::GetStatus));
  // Distinct ids keep one entry each; two elements with one id keep one entry.
  EXPECT_EQ(3, IntOf(result.p, &IResultOnBatchOperation::GetSecondCount));
  EXPECT_EQ(L"duplicate", TableText(result, false, 0));
  EXPECT_EQ(L"undone", TableText(result, false, -1));
  EXPECT_EQ(L"excess", TableText(result, false, -2));
  EXPECT_TRUE(AlbumsOf(session, kUin)[0].resources.empty());
}

TEST_F(CmdBatchCollectTest, ServerErrorDeliversOnceBeforeTheBody) {
  AddAlbum(session, kAlbum, true, {});
  // The result is there before any reply parser has been asked for.
  size_t parsersAtEvent = 99;
  results.action = [&](int) { parsersAtEvent = platform->parsers.size(); };
  EXPECT_EQ(BaseCmd::kStateFailed, Collect({MakeResource(0, L"a")}, "", 500))
      << "an empty body is no XML package";
  results.action = nullptr;
  EXPECT_EQ(0u, parsersAtEvent);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 2}}), results.calls());
  CComPtr<IResultOnBatchOperation> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(0, IntOf(result.p, &IResultOnBatchOperation::GetStatus));
  EXPECT_EQ(L"", TextOf(result.p, &IResultOnBatchOperation::GetMessageText));
  EXPECT_EQ(0, IntOf(result.p, &IResultOnBatchOperation::GetFirstCount));
  EXPECT_EQ(kAlbum, IntOf(result.p, &IResultOnBatchOperation::GetCategoryId));
  EXPECT_TRUE(failures.calls().empty());
}

TEST_F(CmdBatchCollectTest, ServerErrorResultIsTheOnlyOneButABodyThatAcceptsIsApplied) {
  AddAlbum(session, kAlbum, true, {});
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Collect({MakeResource(0, L"a")},
                    "<result return=\"1\" message=\"success\">"
                    "<resource add=\"1\" id=\"501\" state=\"0\"/></result>",
                    500));
  // One event, one result with Status 0, given with the headers.
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 2}}), results.calls());
  CComPtr<IResultOnBatchOperation> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(0, IntOf(result.p, &IResultOnBatchOperation::GetStatus));
  // The service did collect: the session and its index hold the resource once.
  ASSERT_EQ(1u, AlbumsOf(session, kUin)[0].resources.size());
  EXPECT_EQ(1u, CidPairsOf(session).size());
}

TEST_F(CmdBatchCollectTest, ServerErrorDeliversInTheServingRoleToo) {
  platform->manager->role = BaseBlogCmd::kRoleServe;
  Collect({MakeResource(0, L"a")}, "", 500);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 2}}), results.calls());
  EXPECT_TRUE(platform->manager->server->published().empty());
  EXPECT_TRUE(platform->manager->server->notices().empty());
}

TEST_F(CmdBatchCollectTest, TransportErrorNotifiesTheFailureSinks) {
  CComPtr<Command> cmd = NewCommand({MakeResource(0, L"a")});
  ASSERT_EQ(S_OK, cmd->Start());
  CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
  ASSERT_NE(nullptr, events.p);
  events->OnConnect(12029, nullptr);
  cmd->Step();
  EXPECT_EQ(BaseCmd::kStateFailed, IntOf(cmd.p, &Command::GetState));
  EXPECT_EQ((std::vector<std::vector<int>>{{12029, 4, 0, 0}}), failures.calls());
  EXPECT_TRUE(results.calls().empty());
}

// ---------------------------------------------------------------- the serving process

TEST_F(CmdBatchCollectTest, ServingProcessPublishesTheChangeInsteadOfDelivering) {
  AddAlbum(session, kAlbum, true, {MakeResource(7, L"old", kAlbum)});
  platform->manager->role = BaseBlogCmd::kRoleServe;
  CComPtr<ResourceInfo> first = MakeResource(0, L"new");
  Collect({first, MakeResource(0, L"dup"), MakeResource(0, L"far")},
          "<result return=\"1\" message=\"success\">"
          "<resource add=\"1\" id=\"501\" state=\"2\"/>"
          "<resource add=\"0\" id=\"0\" message=\"duplicate\"/>"
          "<resource add=\"0\" id=\"-1\" message=\"excess\"/>"
          "</result>");
  EXPECT_TRUE(results.calls().empty());
  const std::vector<std::vector<BYTE>> published = platform->manager->server->published();
  ASSERT_EQ(1u, published.size());
  EXPECT_EQ((std::vector<commands_testing::FakeServer::Notice>{{0, 10, 0, 0}}),
            platform->manager->server->notices());

  // uin, word, album, the collected items' records, the refusals in ascending id order.
  // The command collected its own copy of the item, with the id and state of the reply,
  // in this album.
  CComPtr<ResourceInfo> collected = MakeResource(501, L"new", kAlbum);
  collected->SetState(2);
  std::vector<BYTE> expected = Record().Text("10001").Text("success").Int(kAlbum).Int(1).bytes();
  Append(&expected, RecordOf(collected));
  Append(&expected, Record().Int(2).Int(-1).Text("excess").Int(0).Text("duplicate").bytes());
  EXPECT_EQ(expected, published[0]);
  EXPECT_EQ(0, IntOf(first.p, &ResourceInfo::GetId)) << "the caller's item is not touched";
}

TEST_F(CmdBatchCollectTest, ServingProcessWithAFailedReplyNeitherDeliversNorPublishes) {
  AddAlbum(session, kAlbum, true, {});
  platform->manager->role = BaseBlogCmd::kRoleServe;
  Collect({MakeResource(0, L"a")}, "<result return=\"0\" message=\"denied\"/>");
  EXPECT_TRUE(results.calls().empty());
  EXPECT_TRUE(platform->manager->server->published().empty());
  EXPECT_TRUE(platform->manager->server->notices().empty());
}

// The forwarding process applies the broadcast and ends with what the serving process
// has, for an album whose resources are loaded and for one whose are not.
TEST_F(CmdBatchCollectTest, BroadcastGivesTheForwardingProcessTheSameAlbumsAndIndex) {
  for (bool loaded : {true, false}) {
    SCOPED_TRACE(loaded ? "loaded" : "not loaded");
    session->ClearAll();
    platform->manager->server.Release();
    platform->manager->server = new commands_testing::FakeServer;
    AddAlbum(session, kAlbum, loaded, {MakeResource(7, L"old", kAlbum)});
    AddAlbum(session, kAlbum + 1, true, {});
    TestSession forwarder;
    forwarder.SetCurrentUin(kUin);
    AddAlbum(&forwarder, kAlbum, loaded, {MakeResource(7, L"old", kAlbum)});
    AddAlbum(&forwarder, kAlbum + 1, true, {});

    platform->manager->role = BaseBlogCmd::kRoleServe;
    Collect({MakeResource(0, L"a"), MakeResource(0, L"b"), MakeResource(0, L"c")},
            "<result return=\"1\" message=\"success\">"
            "<resource add=\"1\" id=\"501\" state=\"2\"/>"
            "<resource add=\"0\" id=\"0\" message=\"duplicate\"/>"
            "<resource add=\"1\" id=\"502\" state=\"0\"/>"
            "</result>");
    const std::vector<std::vector<BYTE>> published = platform->manager->server->published();
    ASSERT_EQ(1u, published.size());

    TestDecoder decoder(&forwarder);
    EXPECT_TRUE(Decode(&decoder, kNoticeBatchCollect, published[0]));
    EXPECT_EQ(AlbumsOf(session, kUin), AlbumsOf(&forwarder, kUin));
    EXPECT_EQ(CidPairsOf(session), CidPairsOf(&forwarder));
    EXPECT_EQ(loaded ? 3u : 1u, AlbumsOf(&forwarder, kUin)[0].resources.size());
    EXPECT_EQ(3u, CidPairsOf(&forwarder).size());
    forwarder.ClearAll();
  }
}

TEST_F(CmdBatchCollectTest, DecoderRefusesBroadcastsItCannotApplyWhole) {
  CComPtr<ResourceInfo> item = MakeResource(501, L"a", kAlbum);
  const std::vector<BYTE> head = Record().Text("10001").Text("success").Int(kAlbum).Int(1).bytes();
  std::vector<BYTE> whole = head;
  Append(&whole, RecordOf(item));
  Append(&whole, Record().Int(1).Int(0).Text("duplicate").bytes());

  TestSession forwarder;
  forwarder.SetCurrentUin(kUin);
  AddAlbum(&forwarder, kAlbum, true, {});
  TestDecoder decoder(&forwarder);
  const std::vector<xml_testing::AlbumState> before = AlbumsOf(&forwarder, kUin);

  // Cut anywhere, the payload changes nothing.
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    std::vector<BYTE> part(whole.begin(), whole.begin() + static_cast<long>(cut));
    EXPECT_FALSE(Decode(&decoder, kNoticeBatchCollect, part)) << cut;
  }
  EXPECT_EQ(before, AlbumsOf(&forwarder, kUin));
  EXPECT_TRUE(CidPairsOf(&forwarder).empty());

  // A refusal text above the largest record item, an impossible count, an empty user id.
  std::vector<BYTE> longRefusal = head;
  Append(&longRefusal, RecordOf(item));
  Append(&longRefusal, Record().Int(1).Int(0).Text(std::string(65537, 'm')).bytes());
  EXPECT_FALSE(Decode(&decoder, kNoticeBatchCollect, longRefusal));
  EXPECT_FALSE(Decode(&decoder, kNoticeBatchCollect,
                      Record().Text("10001").Text("success").Int(kAlbum).Int(1000000).bytes()));
  EXPECT_FALSE(Decode(&decoder, kNoticeBatchCollect,
                      Record().Text("10001").Text("success").Int(kAlbum).Int(-1).bytes()));
  std::vector<BYTE> noUser = Record().Text("").Text("success").Int(kAlbum).Int(0).Int(0).bytes();
  EXPECT_FALSE(Decode(&decoder, kNoticeBatchCollect, noUser));
  EXPECT_EQ(before, AlbumsOf(&forwarder, kUin));
  EXPECT_TRUE(CidPairsOf(&forwarder).empty());

  // An album this process lacks: false, nothing changed.
  std::vector<BYTE> otherAlbum = Record().Text("10001").Text("success").Int(99).Int(1).bytes();
  Append(&otherAlbum, RecordOf(item));
  Append(&otherAlbum, Record().Int(0).bytes());
  EXPECT_FALSE(Decode(&decoder, kNoticeBatchCollect, otherAlbum));
  EXPECT_TRUE(CidPairsOf(&forwarder).empty());

  // A word other than "success" ends the record and changes nothing.
  EXPECT_TRUE(Decode(&decoder, kNoticeBatchCollect, Record().Text("10001").Text("fail").bytes()));
  EXPECT_EQ(before, AlbumsOf(&forwarder, kUin));

  // The whole payload applies.
  EXPECT_TRUE(Decode(&decoder, kNoticeBatchCollect, whole));
  EXPECT_EQ(1u, AlbumsOf(&forwarder, kUin)[0].resources.size());
  EXPECT_EQ((Pairs{{L"CID-a", kAlbum}}), CidPairsOf(&forwarder));
  forwarder.ClearAll();
}

// ---------------------------------------------------------------- the forwarding process

TEST_F(CmdBatchCollectTest, ForwardedCommandSendsItsItemsAndDeliversTheRecordedOutcome) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  CComPtr<ResourceInfo> a = MakeResource(0, L"a");
  CComPtr<ResourceInfo> b = MakeResource(0, L"b");
  CComPtr<Command> cmd = NewCommand({a, b});
  ASSERT_EQ(S_OK, cmd->Start());
  const std::vector<CComPtr<FakeMessage>> sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("BatchCollect", sent[0]->name);
  std::vector<BYTE> expected = Record().Text("10001").Int(kAlbum).Int(2).bytes();
  Append(&expected, RecordOf(a));
  Append(&expected, RecordOf(b));
  EXPECT_EQ(expected, sent[0]->payload);
  EXPECT_EQ(BaseCmd::kStateCreated, IntOf(cmd.p, &Command::GetState));

  int id = 0;
  sent[0]->GetId(&id);
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload = Record().Int(1).Text("success").Int(3).Int(1).bytes();
  answer->payload.resize(answer->payload.size() + 8, 0);
  cmd->OnRecvOperationResult(answer);
  EXPECT_EQ(BaseCmd::kStateSucceeded, IntOf(cmd.p, &Command::GetState));
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 2}}), results.calls());
  CComPtr<IResultOnBatchOperation> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(1, IntOf(result.p, &IResultOnBatchOperation::GetStatus));
  EXPECT_EQ(3, IntOf(result.p, &IResultOnBatchOperation::GetFirstCount));
  EXPECT_EQ(1, IntOf(result.p, &IResultOnBatchOperation::GetSecondCount));
  EXPECT_EQ(kAlbum, IntOf(result.p, &IResultOnBatchOperation::GetCategoryId));
  EXPECT_EQ(L"", TextOf(result.p, &IResultOnBatchOperation::GetMessageText));
  EXPECT_TRUE(platform->manager->channel->resultSinks().empty());
}

TEST_F(CmdBatchCollectTest, ForwardedCommandReadsTheStatusOnlyAnswer) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  CComPtr<Command> cmd = NewCommand({MakeResource(0, L"a")});
  ASSERT_EQ(S_OK, cmd->Start());
  int id = 0;
  platform->manager->channel->sent()[0]->GetId(&id);
  // The host's own answer: the status, then zero bytes.
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload = Record().Int(0).bytes();
  answer->payload.resize(32, 0);
  cmd->OnRecvOperationResult(answer);
  CComPtr<IResultOnBatchOperation> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(0, IntOf(result.p, &IResultOnBatchOperation::GetStatus));
  EXPECT_EQ(0, IntOf(result.p, &IResultOnBatchOperation::GetFirstCount));

  // A record cut short is not read: the command fails without a result.
  platform->manager->channel = new commands_testing::FakeChannel;
  CComPtr<Command> other = NewCommand({MakeResource(0, L"b")});
  other->SetCommandId(kCommandId + 1);
  ASSERT_EQ(S_OK, other->Start());
  platform->manager->channel->sent()[0]->GetId(&id);
  CComPtr<FakeMessage> cut(new FakeMessage(id));
  cut->payload = Record().Int(1).Text("success").Int(3).bytes();
  other->OnRecvOperationResult(cut);
  EXPECT_EQ(BaseCmd::kStateFailed, IntOf(other.p, &Command::GetState));
  EXPECT_EQ(nullptr, Filed<IResultOnBatchOperation>(kCommandId + 1).p);
}

TEST_F(CmdBatchCollectTest, ItemsTheServingProcessCouldNotReadAreNotForwarded) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  struct Case {
    const char* what;
    const wchar_t* uin;
    void (*change)(ResourceInfo*);
    bool forwarded;
  };
  const Case cases[] = {
      {"format of 46 bytes", kUin, [](ResourceInfo* r) { r->SetFormat(std::wstring(46, L'f').c_str()); }, true},
      {"format of 47 bytes", kUin, [](ResourceInfo* r) { r->SetFormat(std::wstring(47, L'f').c_str()); }, false},
      {"name of 196 bytes", kUin, [](ResourceInfo* r) { r->SetResName(std::wstring(98, L'名').c_str()); }, true},
      {"name of 197 bytes", kUin, [](ResourceInfo* r) { r->SetResName((std::wstring(98, L'名') + L"x").c_str()); }, false},
      {"url of 197 bytes", kUin, [](ResourceInfo* r) { r->SetUrl(std::wstring(197, L'u').c_str()); }, false},
      {"uin of 47 bytes", L"12345678901234567890123456789012345678901234567", [](ResourceInfo*) {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform->manager->channel = new commands_testing::FakeChannel;
    CComPtr<ResourceInfo> item = MakeResource(0, L"a");
    c.change(item);
    CComPtr<Command> cmd = NewCommand({MakeResource(0, L"ok"), item}, nullptr, kAlbum, c.uin);
    EXPECT_EQ(c.forwarded ? S_OK : E_FAIL, cmd->Start());
    EXPECT_EQ(c.forwarded ? 1u : 0u, platform->manager->channel->sent().size());
    EXPECT_EQ(c.forwarded ? BaseCmd::kStateCreated : BaseCmd::kStateFailed,
              IntOf(cmd.p, &Command::GetState));
    if (!c.forwarded) {
      EXPECT_TRUE(platform->manager->channel->resultSinks().empty());
    } else {
      platform->manager->channel->DetachResultSink(cmd);
    }
  }
  EXPECT_TRUE(results.calls().empty());
}

TEST_F(CmdBatchCollectTest, ServingProcessRunsTheForwardedRequestAsSent) {
  // The forwarding side's request and its form.
  std::vector<CComPtr<ResourceInfo>> items = {MakeResource(0, L"a"), MakeResource(0, L"旅行")};
  items[1]->SetDesc(L"a&b c");
  const std::string form = FormOf(items);
  platform->manager->role = BaseBlogCmd::kRoleForward;
  CComPtr<Command> forwarded = NewCommand(items);
  ASSERT_EQ(S_OK, forwarded->Start());
  CComPtr<FakeMessage> request = platform->manager->channel->sent()[0];
  platform->manager->channel->DetachResultSink(forwarded);

  // The serving side: created by name, reads the record, is submitted and sends the
  // same form.
  platform->manager->role = BaseBlogCmd::kRoleStandAlone;
  IWorkshopCmd* made = nullptr;
  ASSERT_TRUE(request->name == "BatchCollect");
  size_t count = 0;
  const BlogCommandRegistration* table = BlogCommandTable(&count);
  CommandFactory factory = nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (std::string(table[i].name) == "BatchCollect") factory = table[i].factory;
  }
  ASSERT_NE(nullptr, factory);
  ASSERT_EQ(S_OK, factory(&made));
  CComPtr<IWorkshopCmd> served(made);
  Command* command = static_cast<Command*>(made);
  EXPECT_EQ(S_OK, command->SetOperationMessage(request));
  ASSERT_EQ(1u, platform->workshop->added.size());
  EXPECT_EQ(2, command->ItemCount());
  EXPECT_EQ(kAlbum, command->CategoryId());
  EXPECT_EQ("10001", command->UserId());
  ASSERT_EQ(S_OK, command->Start());
  const std::string reply = "<result return=\"0\" message=\"fail\"/>";
  Play(command, platform->factory, 200, &reply);
  EXPECT_EQ(form, platform->factory->connection->sentBody().value_or("<no body>"));
}

TEST_F(CmdBatchCollectTest, ServingProcessRefusesABadRequestRecord) {
  CComPtr<ResourceInfo> item = MakeResource(0, L"a");
  std::vector<BYTE> good = Record().Text("10001").Int(kAlbum).Int(1).bytes();
  Append(&good, RecordOf(item));
  const std::vector<std::vector<BYTE>> bad = {
      std::vector<BYTE>(good.begin(), good.end() - 1),                     // cut short
      Record().Text("10001").Int(kAlbum).Int(-1).bytes(),                  // negative count
      Record().Text("10001").Int(kAlbum).Int(2).bytes(),                   // count too large
      Record().Text(std::string(47, '1')).Int(kAlbum).Int(0).bytes(),     // uin above 46
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    Command* created = nullptr;
    ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdBatchCollect>(&created));
    CComPtr<Command> cmd(created);
    CComPtr<FakeMessage> request(new FakeMessage(5));
    request->payload = bad[i];
    EXPECT_EQ(E_FAIL, cmd->SetOperationMessage(request)) << i;
    EXPECT_EQ(0, cmd->ItemCount()) << i;
  }
  EXPECT_TRUE(platform->workshop->added.empty());
  Command* created = nullptr;
  ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdBatchCollect>(&created));
  CComPtr<Command> cmd(created);
  CComPtr<FakeMessage> request(new FakeMessage(5));
  request->payload = good;
  EXPECT_EQ(S_OK, cmd->SetOperationMessage(request));
  EXPECT_EQ(1, cmd->ItemCount());
}

TEST_F(CmdBatchCollectTest, ResultRecordCarriesStatusWordAndCounts) {
  AddAlbum(session, kAlbum, true, {});
  CComPtr<Command> cmd = NewCommand({MakeResource(0, L"a"), MakeResource(0, L"b")});
  ASSERT_EQ(S_OK, cmd->Start());
  const std::string reply =
      "<result return=\"1\" message=\"success\">"
      "<resource add=\"1\" id=\"501\" state=\"2\"/>"
      "<resource add=\"0\" id=\"0\" message=\"duplicate\"/></result>";
  Play(cmd, platform->factory, 200, &reply);
  CComPtr<FakeMessage> request(new FakeMessage(9));
  CComPtr<IShareSessionMessage> answer = cmd->BuildResultMessage(request);
  ASSERT_NE(nullptr, answer.p);
  // Status, word, the two counts, then the collected ids, states and refusals.
  std::vector<BYTE> expected = Record()
                                   .Int(1).Text("success").Int(1).Int(1)
                                   .Int(1).Int(501)
                                   .Int(1).Int(501).Text("2")
                                   .Int(1).Int(0).Text("duplicate")
                                   .bytes();
  EXPECT_EQ(static_cast<int>(expected.size()), cmd->GetResultRecordSize());
  expected.resize(expected.size() + 8, 0);
  EXPECT_EQ(expected, platform->manager->server->lastResult->payload);

  // A word longer than its reader takes goes out cut to 46 bytes, so it can be read.
  CComPtr<FakeFactory> factory(new FakeFactory);
  CComPtr<Command> wordy = NewCommand({MakeResource(0, L"c")}, factory);
  ASSERT_EQ(S_OK, wordy->Start());
  const std::string longWord = "<result return=\"0\" message=\"" + std::string(60, 'w') + "\"/>";
  Play(wordy, factory, 200, &longWord);
  ASSERT_NE(nullptr, wordy->BuildResultMessage(request).p);
  EXPECT_EQ(Record().Int(0).Text(std::string(46, 'w')).Int(0).Int(0).Int(0).Int(0).Int(0).bytes(),
            std::vector<BYTE>(platform->manager->server->lastResult->payload.begin(),
                              platform->manager->server->lastResult->payload.end() - 8));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
