#include "commands/CmdModifyResource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands/CommandRegistry.h"
#include "framework/ShareSessionCmd.h"
#include "interfaces/IResultOnResource.h"
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
using xml_testing::IdsOf;

typedef CComObject<ShareSessionCmd<CmdModifyResource>> Command;
typedef std::vector<std::pair<std::wstring, int>> Pairs;

const int kCommandId = 91;
const int kSource = 12;
const int kTarget = 13;
const char kAccepted[] = "<result return=\"1\" message=\"success\"/>";

class CmdModifyResourceTest : public resource_write_testing::ResourceWriteTest {
 protected:
  // Albums 12 (resources 5, 6, 7) and 13 (resource 8), both loaded, in session.
  static void AddAlbums(BlogSession_* into) {
    AddAlbum(into, kSource, true,
             {MakeResource(5, L"five", kSource), MakeResource(6, L"six", kSource),
              MakeResource(7, L"seven", kSource)});
    AddAlbum(into, kTarget, true, {MakeResource(8, L"eight", kTarget)});
  }

  CComPtr<Command> NewCommand(int source, int target, int resourceId, const wchar_t* name,
                              const wchar_t* desc, FakeFactory* factory = nullptr,
                              const wchar_t* uin = kUin) {
    Command* created = nullptr;
    EXPECT_EQ(S_OK, CreateTypedShareSessionCmd<CmdModifyResource>(&created));
    CComPtr<Command> cmd(created);
    cmd->SetUserId(uin);
    cmd->SetCommandId(kCommandId);
    cmd->SetParameters(source, target, resourceId, name, desc);
    cmd->SetHttpFactory(factory != nullptr ? factory : platform->factory.p);
    return cmd;
  }

  // Runs the modify with reply body and returns the final state.
  int Modify(int source, int target, int resourceId, const wchar_t* name, const wchar_t* desc,
             const std::string& body) {
    CComPtr<Command> cmd = NewCommand(source, target, resourceId, name, desc);
    EXPECT_EQ(S_OK, cmd->Start());
    return Play(cmd, platform->factory, 200, &body);
  }

  // The body a new command on a fresh factory sends; "<not sent>" when no request goes
  // out.
  std::string FormOf(const wchar_t* name, const wchar_t* desc, const wchar_t* uin = kUin) {
    CComPtr<FakeFactory> factory(new FakeFactory);
    CComPtr<Command> cmd = NewCommand(kSource, kTarget, 6, name, desc, factory, uin);
    EXPECT_EQ(S_OK, cmd->Start());
    const std::string reply = "<result return=\"0\" message=\"fail\"/>";
    Play(cmd, factory, 200, &reply);
    if (!factory->connection->sentRequest()) return "<not sent>";
    std::optional<std::string> body = factory->connection->sentBody();
    return body ? *body : "<no body>";
  }

  CComPtr<IResultOnResource> Result() { return Filed<IResultOnResource>(kCommandId); }

  // The resources of album id in session (empty when it has no such album).
  static std::vector<xml_testing::ResourceState> ResourcesOf(BlogSession_* in, int id) {
    for (const xml_testing::AlbumState& album : AlbumsOf(in, kUin)) {
      if (album.id == id) return album.resources;
    }
    return {};
  }
};

// ---------------------------------------------------------------- the request

TEST_F(CmdModifyResourceTest, FormEscapesAndConvertsTheTexts) {
  CComPtr<Command> cmd = NewCommand(kSource, kTarget, 6, L"a&b=c", L"d e/f");
  ASSERT_EQ(S_OK, cmd->Start());
  const std::string reply = "<result return=\"0\" message=\"fail\"/>";
  Play(cmd, platform->factory, 200, &reply);
  const std::vector<std::string> log = platform->factory->connection->log();
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "SetServer post.velmora.cn:80"));
  CComPtr<framework_testing::FakeRequest> request = platform->factory->lastRequest;
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("POST", request->method);
  EXPECT_EQ("/api/resource_update", request->path);
  ASSERT_EQ(3u, request->headers.size());
  EXPECT_EQ((std::pair<std::string, std::string>("Content-Type",
                                                 "application/x-www-form-urlencoded")),
            request->headers[0]);
  EXPECT_EQ("Cookie", request->headers[1].first);
  EXPECT_EQ(0u, request->headers[1].second.find("login_name=10001; login_time="));
  EXPECT_EQ("Host", request->headers[2].first);
  EXPECT_EQ(
      "encoder=utf-8&uin=10001&category_id_from=12&category_id_to=13&res_id=6"
      "&res_name=a%26b%3Dc&desc=d%20e%2Ff",
      platform->factory->connection->sentBody().value_or("<no body>"));

  // Chinese goes out as raw UTF-8; the uin is escaped here.
  EXPECT_EQ(
      "encoder=utf-8&uin=u%261&category_id_from=12&category_id_to=13&res_id=6"
      "&res_name=\xe6\x97\x85\xe8\xa1\x8c&desc=",
      FormOf(L"旅行", nullptr, L"u&1"));
}

TEST_F(CmdModifyResourceTest, FormOf1023BytesIsSentAndOneMoreIsNot) {
  const std::string base = FormOf(L"n", L"");
  ASSERT_NE("<no body>", base);
  EXPECT_EQ(1023u, FormOf(L"n", std::wstring(1023 - base.size(), L'd').c_str()).size());
  EXPECT_EQ("<not sent>", FormOf(L"n", std::wstring(1024 - base.size(), L'd').c_str()));
  // Escaping counts: a third as many spaces as fit unescaped do not fit.
  EXPECT_EQ("<not sent>", FormOf(L"n", std::wstring((1023 - base.size()) / 3 + 1, L' ').c_str()));
}

// ---------------------------------------------------------------- the reply

TEST_F(CmdModifyResourceTest, PlainEditRenamesInPlace) {
  AddAlbums(session);
  const Pairs index = CidPairsOf(session);
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Modify(kSource, kSource, 6, L"新名字", L"说明 2", kAccepted));
  std::vector<xml_testing::ResourceState> resources = ResourcesOf(session, kSource);
  EXPECT_EQ((std::vector<int>{5, 6, 7}), IdsOf(resources));
  EXPECT_EQ(L"新名字", resources[1].resName);
  EXPECT_EQ(L"说明 2", resources[1].desc);
  EXPECT_EQ(kSource, resources[1].categoryId);
  EXPECT_EQ(L"CID-six", resources[1].cid);
  EXPECT_EQ(L"name five", resources[0].resName);
  EXPECT_EQ(index, CidPairsOf(session));

  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 1}}), results.calls());
  CComPtr<IResultOnResource> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(1, IntOf(result.p, &IResultOnResource::GetStatus));
  EXPECT_EQ(9, IntOf(result.p, &IResultOnResource::GetOperationIndex));
  EXPECT_EQ(L"修改资源", TextOf(result.p, &IResultOnResource::GetOperationTitle));
  EXPECT_EQ(L"", TextOf(result.p, &IResultOnResource::GetMessageText));
  EXPECT_EQ(L"10001", TextOf(result.p, &IResultOnResource::GetUin));
  EXPECT_EQ(kSource, IntOf(result.p, &IResultOnResource::GetCategoryId));
  EXPECT_EQ(kSource, IntOf(result.p, &IResultOnResource::GetTargetCategoryId));
  EXPECT_EQ(6, IntOf(result.p, &IResultOnResource::GetResourceId));
  EXPECT_TRUE(failures.calls().empty());
}

TEST_F(CmdModifyResourceTest, MovePutsTheResourceLastInTheTargetAndMovesItsIndexPair) {
  AddAlbums(session);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Modify(kSource, kTarget, 6, L"moved", L"d", kAccepted));
  EXPECT_EQ((std::vector<int>{5, 7}), IdsOf(ResourcesOf(session, kSource)));
  std::vector<xml_testing::ResourceState> target = ResourcesOf(session, kTarget);
  EXPECT_EQ((std::vector<int>{8, 6}), IdsOf(target));
  EXPECT_EQ(L"moved", target[1].resName);
  EXPECT_EQ(L"d", target[1].desc);
  EXPECT_EQ(kTarget, target[1].categoryId);
  // The content-id index no longer names the source album for the moved resource.
  EXPECT_EQ((Pairs{{L"CID-eight", kTarget},
                   {L"CID-five", kSource},
                   {L"CID-seven", kSource},
                   {L"CID-six", kTarget}}),
            CidPairsOf(session));
  int albums[4] = {0, 0, 0, 0};
  int count = 4;
  ASSERT_EQ(S_OK, session->QueryAlbumsByCid(L"CID-six", albums, &count));
  EXPECT_EQ(1, count);
  EXPECT_EQ(kTarget, albums[0]);
  CComPtr<IResultOnResource> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(kSource, IntOf(result.p, &IResultOnResource::GetCategoryId));
  EXPECT_EQ(kTarget, IntOf(result.p, &IResultOnResource::GetTargetCategoryId));
}

TEST_F(CmdModifyResourceTest, AcceptedChangeTheSessionCannotMakeIsStillDelivered) {
  AddAlbums(session);
  const std::vector<xml_testing::AlbumState> before = AlbumsOf(session, kUin);
  const Pairs index = CidPairsOf(session);
  // A resource the source album does not hold; a source album the session lacks; a
  // target album the session lacks (the name stays too).
  const int cases[][3] = {{kSource, kSource, 99}, {44, 44, 6}, {kSource, 44, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c[2]);
    const size_t told = results.calls().size();
    EXPECT_EQ(BaseCmd::kStateSucceeded, Modify(c[0], c[1], c[2], L"x", L"y", kAccepted));
    EXPECT_EQ(told + 1, results.calls().size());
    CComPtr<IResultOnResource> result = Result();
    ASSERT_NE(nullptr, result.p);
    EXPECT_EQ(1, IntOf(result.p, &IResultOnResource::GetStatus));
  }
  EXPECT_EQ(before, AlbumsOf(session, kUin));
  EXPECT_EQ(index, CidPairsOf(session));
}

TEST_F(CmdModifyResourceTest, RefusalDeliversStatusZeroWithTheWordsText) {
  AddAlbums(session);
  const std::vector<xml_testing::AlbumState> before = AlbumsOf(session, kUin);
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Modify(kSource, kTarget, 6, L"x", L"y",
                   "<result return=\"0\" message=\"no_exist\"/>"));
  EXPECT_EQ(before, AlbumsOf(session, kUin));
  CComPtr<IResultOnResource> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(0, IntOf(result.p, &IResultOnResource::GetStatus));
  EXPECT_EQ(L"专辑不存在", TextOf(result.p, &IResultOnResource::GetMessageText));
  EXPECT_EQ(6, IntOf(result.p, &IResultOnResource::GetResourceId));
}

TEST_F(CmdModifyResourceTest, ABodyThatIsNoXmlPackageFailsWithAFailureNotice) {
  AddAlbums(session);
  EXPECT_EQ(BaseCmd::kStateFailed, Modify(kSource, kSource, 6, L"x", L"y", "<html>"));
  EXPECT_TRUE(results.calls().empty());
  EXPECT_EQ((std::vector<std::vector<int>>{{BaseBlogCmd::kFailureBadReply, 9, 0, 0}}),
            failures.calls());
}

TEST_F(CmdModifyResourceTest, TransportErrorNotifiesTheFailureSinks) {
  CComPtr<Command> cmd = NewCommand(kSource, kSource, 6, L"x", L"y");
  ASSERT_EQ(S_OK, cmd->Start());
  CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
  ASSERT_NE(nullptr, events.p);
  events->OnConnect(0, nullptr);
  cmd->Step();
  events->OnSendComplete(10054, nullptr);
  cmd->Step();
  EXPECT_EQ(BaseCmd::kStateFailed, IntOf(cmd.p, &Command::GetState));
  EXPECT_EQ((std::vector<std::vector<int>>{{10054, 9, 0, 0}}), failures.calls());
  EXPECT_TRUE(results.calls().empty());
}

// ---------------------------------------------------------------- the serving process

TEST_F(CmdModifyResourceTest, ServingProcessPublishesTheChange) {
  AddAlbums(session);
  platform->manager->role = BaseBlogCmd::kRoleServe;
  Modify(kSource, kTarget, 6, L"名", L"d", kAccepted);
  EXPECT_TRUE(results.calls().empty());
  const std::vector<std::vector<BYTE>> published = platform->manager->server->published();
  ASSERT_EQ(1u, published.size());
  EXPECT_EQ(Record()
                .Text("10001")
                .Text("success")
                .Int(kSource)
                .Int(kTarget)
                .Int(6)
                .Text("\xc3\xfb")
                .Text("d")
                .bytes(),
            published[0]);
  EXPECT_EQ((std::vector<commands_testing::FakeServer::Notice>{{0, 7, 0, 0}}),
            platform->manager->server->notices());

  // A refused reply in role 1: neither delivered nor published.
  Modify(kSource, kTarget, 7, L"x", L"y", "<result return=\"0\" message=\"denied\"/>");
  EXPECT_EQ(1u, platform->manager->server->published().size());
  EXPECT_EQ(1u, platform->manager->server->notices().size());
  EXPECT_TRUE(results.calls().empty());
}

TEST_F(CmdModifyResourceTest, BroadcastGivesTheForwardingProcessTheSameAlbumsAndIndex) {
  struct Case {
    const char* what;
    int target;
    std::wstring name;
  };
  const Case cases[] = {
      {"rename", kSource, L"新名字"},
      {"move", kTarget, L"moved"},
      // Longer than a forwarded request may carry: the serving process's own command.
      {"long name", kSource, std::wstring(60, L'长')},
  };
  platform->manager->role = BaseBlogCmd::kRoleServe;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    session->ClearAll();
    platform->manager->server = new commands_testing::FakeServer;
    AddAlbums(session);
    TestSession forwarder;
    forwarder.SetCurrentUin(kUin);
    AddAlbums(&forwarder);
    Modify(kSource, c.target, 6, c.name.c_str(), L"desc", kAccepted);
    const std::vector<std::vector<BYTE>> published = platform->manager->server->published();
    ASSERT_EQ(1u, published.size());
    TestDecoder decoder(&forwarder);
    EXPECT_TRUE(Decode(&decoder, kNoticeModifyResource, published[0]));
    EXPECT_EQ(AlbumsOf(session, kUin), AlbumsOf(&forwarder, kUin));
    EXPECT_EQ(CidPairsOf(session), CidPairsOf(&forwarder));
    std::wstring applied;
    for (const xml_testing::ResourceState& r : ResourcesOf(&forwarder, c.target)) {
      if (r.id == 6) applied = r.resName;
    }
    EXPECT_EQ(c.name, applied);
    forwarder.ClearAll();
  }
}

TEST_F(CmdModifyResourceTest, DecoderRefusesWhatItCannotApplyWhole) {
  TestSession forwarder;
  forwarder.SetCurrentUin(kUin);
  AddAlbums(&forwarder);
  TestDecoder decoder(&forwarder);
  const std::vector<xml_testing::AlbumState> before = AlbumsOf(&forwarder, kUin);
  const Pairs index = CidPairsOf(&forwarder);
  auto record = [](int source, int target, int id) {
    return Record().Text("10001").Text("success").Int(source).Int(target).Int(id).Text("new").Text("d").bytes();
  };

  const std::vector<BYTE> whole = record(kSource, kTarget, 6);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    EXPECT_FALSE(Decode(&decoder, kNoticeModifyResource,
                        std::vector<BYTE>(whole.begin(), whole.begin() + static_cast<long>(cut))))
        << cut;
  }
  EXPECT_FALSE(Decode(&decoder, kNoticeModifyResource, record(kSource, kTarget, 99)));
  EXPECT_FALSE(Decode(&decoder, kNoticeModifyResource, record(44, 44, 6)));
  // A move into an album this process lacks renames nothing either.
  EXPECT_FALSE(Decode(&decoder, kNoticeModifyResource, record(kSource, 44, 6)));
  EXPECT_FALSE(Decode(&decoder, kNoticeModifyResource,
                      Record().Text("").Text("success").Int(kSource).Int(kSource).Int(6)
                          .Text("n").Text("d").bytes()));
  EXPECT_EQ(before, AlbumsOf(&forwarder, kUin));
  EXPECT_EQ(index, CidPairsOf(&forwarder));

  // A word other than "success" changes nothing and is no error.
  EXPECT_TRUE(Decode(&decoder, kNoticeModifyResource, Record().Text("10001").Text("fail").bytes()));
  EXPECT_EQ(before, AlbumsOf(&forwarder, kUin));

  // Equal albums only rename.
  EXPECT_TRUE(Decode(&decoder, kNoticeModifyResource, record(kSource, kSource, 7)));
  std::vector<xml_testing::ResourceState> source = ResourcesOf(&forwarder, kSource);
  EXPECT_EQ((std::vector<int>{5, 6, 7}), IdsOf(source));
  EXPECT_EQ(L"new", source[2].resName);
  EXPECT_EQ(L"d", source[2].desc);
  EXPECT_EQ(index, CidPairsOf(&forwarder));
  forwarder.ClearAll();
}

// ---------------------------------------------------------------- the forwarding process

TEST_F(CmdModifyResourceTest, ForwardedCommandSendsItsParametersAndDeliversTheAnswer) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  const std::wstring name46(23, L'名');  // 46 bytes in code page 936
  CComPtr<Command> cmd = NewCommand(kSource, kTarget, 6, name46.c_str(), L"desc");
  ASSERT_EQ(S_OK, cmd->Start());
  const std::vector<CComPtr<FakeMessage>> sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("ModifyResource", sent[0]->name);
  std::string gbk46;
  for (int i = 0; i < 23; ++i) gbk46 += "\xc3\xfb";
  const std::vector<BYTE> expected =
      Record().Text("10001").Int(kSource).Int(kTarget).Int(6).Text(gbk46).Text("desc").bytes();
  EXPECT_EQ(expected, sent[0]->payload);
  EXPECT_EQ(static_cast<int>(expected.size()), cmd->GetRequestRecordSize());

  int id = 0;
  sent[0]->GetId(&id);
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload = Record().Int(0).Text("no_exist").bytes();
  answer->payload.resize(answer->payload.size() + 8, 0);
  cmd->OnRecvOperationResult(answer);
  EXPECT_EQ(BaseCmd::kStateSucceeded, IntOf(cmd.p, &Command::GetState));
  CComPtr<IResultOnResource> result = Result();
  ASSERT_NE(nullptr, result.p);
  EXPECT_EQ(0, IntOf(result.p, &IResultOnResource::GetStatus));
  EXPECT_EQ(L"专辑不存在", TextOf(result.p, &IResultOnResource::GetMessageText));
  EXPECT_EQ(kTarget, IntOf(result.p, &IResultOnResource::GetTargetCategoryId));

  // The host's status-only answer reads as an empty word.
  platform->manager->channel = new commands_testing::FakeChannel;
  CComPtr<Command> other = NewCommand(kSource, kSource, 6, L"n", L"d");
  other->SetCommandId(kCommandId + 1);
  ASSERT_EQ(S_OK, other->Start());
  platform->manager->channel->sent()[0]->GetId(&id);
  CComPtr<FakeMessage> statusOnly(new FakeMessage(id));
  statusOnly->payload = Record().Int(1).bytes();
  statusOnly->payload.resize(32, 0);
  other->OnRecvOperationResult(statusOnly);
  CComPtr<IResultOnResource> second = Filed<IResultOnResource>(kCommandId + 1);
  ASSERT_NE(nullptr, second.p);
  EXPECT_EQ(1, IntOf(second.p, &IResultOnResource::GetStatus));
  EXPECT_EQ(L"", TextOf(second.p, &IResultOnResource::GetMessageText));
}

TEST_F(CmdModifyResourceTest, TextsAbove46BytesAreNotForwarded) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  const std::wstring name47 = std::wstring(23, L'名') + L"x";
  struct Case {
    const char* what;
    std::wstring uin, name, desc;
  };
  const Case cases[] = {
      {"name", kUin, name47, L"d"},
      {"description", kUin, L"n", std::wstring(47, L'd')},
      {"uin", std::wstring(47, L'1'), L"n", L"d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform->manager->channel = new commands_testing::FakeChannel;
    CComPtr<Command> cmd =
        NewCommand(kSource, kSource, 6, c.name.c_str(), c.desc.c_str(), nullptr, c.uin.c_str());
    EXPECT_EQ(E_FAIL, cmd->Start());
    EXPECT_EQ(BaseCmd::kStateFailed, IntOf(cmd.p, &Command::GetState));
    EXPECT_TRUE(platform->manager->channel->sent().empty());
    EXPECT_TRUE(platform->manager->channel->resultSinks().empty());
    const std::vector<std::string> log = platform->manager->channel->log();
    EXPECT_EQ(log.end(), std::find(log.begin(), log.end(), "SendOperationMessage"));
  }
  EXPECT_TRUE(results.calls().empty());
}

TEST_F(CmdModifyResourceTest, ServingProcessReadsTheRequestRecord) {
  size_t count = 0;
  const BlogCommandRegistration* table = BlogCommandTable(&count);
  CommandFactory factory = nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (std::string(table[i].name) == "ModifyResource") factory = table[i].factory;
  }
  ASSERT_NE(nullptr, factory);

  auto made = [&]() {
    IWorkshopCmd* created = nullptr;
    EXPECT_EQ(S_OK, factory(&created));
    return CComPtr<Command>(static_cast<Command*>(created));
  };
  CComPtr<Command> cmd = made();
  CComPtr<FakeMessage> request(new FakeMessage(3));
  request->payload =
      Record().Text("10001").Int(kSource).Int(kTarget).Int(6).Text("a&b").Text("c d").bytes();
  EXPECT_EQ(S_OK, cmd->SetOperationMessage(request));
  EXPECT_EQ(1u, platform->workshop->added.size());
  EXPECT_EQ("10001", cmd->UserId());
  EXPECT_EQ(kSource, cmd->SourceAlbumId());
  EXPECT_EQ(kTarget, cmd->TargetAlbumId());
  EXPECT_EQ(6, cmd->ResourceId());
  EXPECT_EQ("a&b", cmd->ResourceName());
  EXPECT_EQ("c d", cmd->Description());
  ASSERT_EQ(S_OK, cmd->Start());
  const std::string reply = "<result return=\"0\" message=\"fail\"/>";
  Play(cmd, platform->factory, 200, &reply);
  EXPECT_EQ(
      "encoder=utf-8&uin=10001&category_id_from=12&category_id_to=13&res_id=6"
      "&res_name=a%26b&desc=c%20d",
      platform->factory->connection->sentBody().value_or("<no body>"));

  // A 47-byte name, a 47-byte description or a record cut short is refused whole.
  const std::vector<BYTE> good =
      Record().Text("10001").Int(kSource).Int(kTarget).Int(6).Text("n").Text("d").bytes();
  const std::vector<std::vector<BYTE>> bad = {
      Record().Text("10001").Int(1).Int(2).Int(6).Text(std::string(47, 'n')).Text("d").bytes(),
      Record().Text("10001").Int(1).Int(2).Int(6).Text("n").Text(std::string(47, 'd')).bytes(),
      std::vector<BYTE>(good.begin(), good.end() - 1),
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    CComPtr<Command> refused = made();
    CComPtr<FakeMessage> message(new FakeMessage(4));
    message->payload = bad[i];
    EXPECT_EQ(E_FAIL, refused->SetOperationMessage(message)) << i;
    EXPECT_EQ(0, refused->SourceAlbumId()) << i;
    EXPECT_EQ("", refused->ResourceName()) << i;
  }
  EXPECT_EQ(1u, platform->workshop->added.size());
}

TEST_F(CmdModifyResourceTest, ResultRecordIsStatusAndWord) {
  AddAlbums(session);
  CComPtr<Command> cmd = NewCommand(kSource, kSource, 6, L"n", L"d");
  ASSERT_EQ(S_OK, cmd->Start());
  const std::string reply = "<result return=\"0\" message=\"no_exist\"/>";
  Play(cmd, platform->factory, 200, &reply);
  EXPECT_EQ(16, cmd->GetResultRecordSize());
  CComPtr<FakeMessage> request(new FakeMessage(9));
  ASSERT_NE(nullptr, cmd->BuildResultMessage(request).p);
  std::vector<BYTE> expected = Record().Int(0).Text("no_exist").bytes();
  expected.resize(expected.size() + 8, 0);
  EXPECT_EQ(expected, platform->manager->server->lastResult->payload);
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
