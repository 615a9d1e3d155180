#include "commands/CmdGetResourceList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "commands/CommandRegistry.h"
#include "framework/ShareSessionCmd.h"
#include "interfaces/IResultOnAlbum.h"
#include "session/BlogCache.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "test/CommandTestSupport.h"
#include "test/FrameworkTestSupport.h"
#include "test/SessionTestSupport.h"
#include "test/XmlReplyTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using commands_testing::FakeMessage;
using commands_testing::FakeServer;
using commands_testing::HostPlatformScope;
using commands_testing::Record;
using framework_testing::FakeFactory;
using session_testing::FakeSettingsStore;
using session_testing::RecordingFailureSink;
using session_testing::RecordingResultSink;
using session_testing::TestDecoder;
using session_testing::TestSession;
using xml_testing::AlbumsOf;
using xml_testing::AlbumState;
using xml_testing::CidPairsOf;
using xml_testing::ElementPtr;
using xml_testing::FakeHeaders;
using xml_testing::IdsOf;
using xml_testing::MakeElement;
using xml_testing::Pieces;
using xml_testing::PlayReply;
using xml_testing::ResourceState;
using xml_testing::TakeText;
using xml_testing::TemporaryFolder;
using xml_testing::XmlPlatform;
using xml_testing::XmlText;

typedef CComObject<ShareSessionCmd<CmdGetResourceList>> Command;
typedef std::vector<std::pair<std::string, std::string>> Headers;
typedef std::vector<std::pair<std::wstring, int>> CidPairs;

const wchar_t kUin[] = L"10001";
const int kAlbum = 12;
const int kCommandId = 63;
const char kValidator[] = "Tue, 01 Dec 2026 10:00:00 GMT";

std::string CidOf(int id) { return "C" + std::to_string(id * 1000 + 7); }

// A "resource" as the service writes it.
ElementPtr Resource(int id, const std::string& name = "", int resType = 1) {
  ElementPtr resource = MakeElement("resource");
  resource->Attr("id", std::to_string(id))
      .Attr("cid", CidOf(id))
      .Attr("gcid", "G" + std::to_string(id))
      .Attr("res_type", std::to_string(resType))
      .Attr("size", "1048576")
      .Attr("format", "mp4")
      .Attr("last_time", "2026-12-01 10:00:00")
      .Attr("state", "2");
  resource->Child("res_name", name.empty() ? "file " + std::to_string(id) : name)
      .Child("url", "http://dl.velmora.cn/" + std::to_string(id))
      .Child("original", "http://src.velmora.cn/" + std::to_string(id))
      .Child("desc", "about " + std::to_string(id));
  return resource;
}

std::string ListOf(const std::vector<ElementPtr>& resources) {
  ElementPtr root = MakeElement("resources");
  for (const ElementPtr& resource : resources) root->Add(resource);
  return XmlText(*root);
}

// Makes album id of uin in session (an empty album, resources not loaded).
void MakeAlbum(BlogSession_* session, const std::wstring& uin, int id) {
  Hold hold(session->AlbumListLock());
  session->GetOrCreateAlbumList(uin)->NewAlbum()->SetId(id);
}

class CmdGetResourceListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session->ClearAll();
    session->SetCurrentUin(kUin);
    StoreDirectory(kUin);
    MakeAlbum(session, kUin, kAlbum);
    MakeAlbum(session, kUin, 13);
    session->AddResultSink(&results);
    session->AddFailureSink(&failures);
  }
  void TearDown() override {
    session->RemoveResultSink(&results);
    session->RemoveFailureSink(&failures);
    session->ClearAll();
    session->SetCurrentUin(L"");
  }

  void StoreDirectory(const std::wstring& uin) {
    std::unique_ptr<ServerDirectoryRecord> record(new ServerDirectoryRecord);
    record->Opened = true;
    record->ResourceListUrl = L"http://data.velmora.cn/blog/" + uin + L"/album/<id>.xml";
    Hold hold(session->ServerLock());
    session->StoreServerEntry(uin, std::move(record));
  }

  CComPtr<Command> Started(int commandId = kCommandId, int album = kAlbum,
                           const std::wstring& uin = kUin) {
    platform->factory = new FakeFactory;
    Command* created = nullptr;
    EXPECT_EQ(S_OK, CreateTypedShareSessionCmd<CmdGetResourceList>(&created));
    CComPtr<Command> cmd(created);
    cmd->SetUserId(uin.c_str());
    cmd->SetCommandId(commandId);
    cmd->SetAlbumId(album);
    cmd->SetHttpFactory(platform->factory);
    cmd->UseCache(std::unique_ptr<BlogCache>(new BlogCache(&store, folder.UserPath())));
    EXPECT_EQ(S_OK, cmd->Start());
    return cmd;
  }

  int Fetch(int status, const std::string* body, const std::string& lastModified = "",
            int commandId = kCommandId, int album = kAlbum, const std::wstring& uin = kUin) {
    CComPtr<Command> cmd = Started(commandId, album, uin);
    CComPtr<FakeHeaders> headers(new FakeHeaders(status));
    if (!lastModified.empty()) headers->Field("Last-Modified", lastModified);
    return PlayReply(cmd, platform->factory->connection, headers,
                     body != nullptr ? Pieces(*body, 2) : std::vector<std::string>());
  }
  int Fetch(int status, const std::string& body, const std::string& lastModified = "",
            int commandId = kCommandId) {
    return Fetch(status, &body, lastModified, commandId);
  }

  std::filesystem::path CacheFile(int album = kAlbum) const {
    return folder.path() / "10001" / "BlogCache" / ("Album_" + std::to_string(album) + ".xml");
  }
  std::string CachedBody() const {
    std::string body;
    EXPECT_TRUE(xml_testing::ReadFile(CacheFile(), &body));
    return body;
  }
  std::string StoredValidator() {
    auto section = store.sections.find(kUin);
    if (section == store.sections.end()) return "<none>";
    auto value = section->second.find("Album_12_Modified");
    return value == section->second.end() ? "<none>" : value->second.text;
  }

  CComPtr<IResultOnAlbum> FiledResult(int commandId = kCommandId) {
    CComPtr<ICommonResult> common;
    if (FAILED(session->FetchResult(commandId, &common))) return CComPtr<IResultOnAlbum>();
    return CComPtr<IResultOnAlbum>(static_cast<IResultOnAlbum*>(common.p));
  }
  int FiledStatus(int commandId = kCommandId) {
    CComPtr<IResultOnAlbum> result = FiledResult(commandId);
    int status = -1;
    if (result) result->GetStatus(&status);
    return status;
  }

  // Album id of uin in target, as it is now.
  AlbumState AlbumNow(BlogSession_* target = nullptr, int id = kAlbum,
                      const std::wstring& uin = kUin) {
    for (const AlbumState& album : AlbumsOf(target != nullptr ? target : session, uin)) {
      if (album.id == id) return album;
    }
    ADD_FAILURE() << "no album " << id;
    return AlbumState();
  }
  void SetLoaded(bool loaded) {
    Hold hold(session->AlbumListLock());
    session->FindAlbum(kUin, kAlbum)->SetResourcesLoaded(loaded);
  }

  BlogSession_* session = BlogSession_::Instance();
  CComPtr<XmlPlatform> platform{new XmlPlatform};
  HostPlatformScope scope{platform};
  FakeSettingsStore store;
  TemporaryFolder folder;
  RecordingResultSink results;
  RecordingFailureSink failures;
};

// ---------------------------------------------------------------- fresh replies

TEST_F(CmdGetResourceListTest, AFreshListFillsTheAlbumFrontFirstAndTheIndex) {
  const std::string body = ListOf({Resource(501, "电影"), Resource(502, "", 5), Resource(503, "", 0)});
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(200, body, kValidator));

  auto request = platform->factory->lastRequest;
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("GET", request->method);
  EXPECT_EQ("/blog/10001/album/12.xml", request->path);
  EXPECT_EQ((Headers{{"Host", "data.velmora.cn"},
                     {"If-Modified-Since", "Fri, 1 Jun 1000 01:01:01 GMT"}}),
            request->headers);

  const AlbumState album = AlbumNow();
  EXPECT_TRUE(album.resourcesLoaded);
  ASSERT_EQ((std::vector<int>{503, 502, 501}), IdsOf(album.resources))
      << "each new resource goes to the front";
  const ResourceState& film = album.resources[2];
  EXPECT_EQ(L"C501007", film.cid);
  EXPECT_EQ(L"G501", film.gcid);
  EXPECT_EQ(L"电影", film.resName);
  EXPECT_EQ(L"mp4", film.format);
  EXPECT_EQ(L"1048576", film.size);
  EXPECT_EQ(L"2026-12-01 10:00:00", film.lastTime);
  EXPECT_EQ(L"http://dl.velmora.cn/501", film.url);
  EXPECT_EQ(L"http://src.velmora.cn/501", film.original);
  EXPECT_EQ(L"", film.refer);
  EXPECT_EQ(L"about 501", film.desc);
  EXPECT_EQ(1, film.resType);
  EXPECT_EQ(2, film.state);
  EXPECT_EQ(kAlbum, film.categoryId);
  EXPECT_EQ(std::wstring(kUin), film.uin);
  EXPECT_EQ(2, album.resources[1].resType) << "res_type 5 is stored as 2";
  EXPECT_EQ(0, album.resources[0].resType);

  EXPECT_EQ((CidPairs{{L"C501007", 12}, {L"C502007", 12}, {L"C503007", 12}}),
            CidPairsOf(session));

  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
  CComPtr<IResultOnAlbum> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int value = -1;
  result->GetStatus(&value);
  EXPECT_EQ(1, value);
  result->GetOperationIndex(&value);
  EXPECT_EQ(3, value);
  result->GetCategoryId(&value);
  EXPECT_EQ(kAlbum, value);
  BSTR text = nullptr;
  result->GetOperationTitle(&text);
  EXPECT_EQ(L"获取资源列表信息", TakeText(text));
  result->GetUin(&text);
  EXPECT_EQ(std::wstring(kUin), TakeText(text));
  EXPECT_EQ(body, CachedBody());
  EXPECT_EQ(kValidator, StoredValidator());
  EXPECT_TRUE(AlbumNow(nullptr, 13).resources.empty());
}

TEST_F(CmdGetResourceListTest, AFetchReplacesTheAlbumsResourcesAndItsIndexEntries) {
  session->AddCidPair(L"OTHER", 13);
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({Resource(1), Resource(2)})));
  ASSERT_EQ(BaseCmd::kStateSucceeded,
            Fetch(200, ListOf({Resource(3), Resource(3, "duplicate")}), "", kCommandId + 1));
  const AlbumState album = AlbumNow();
  EXPECT_EQ((std::vector<int>{3}), IdsOf(album.resources)) << "whatever it held before";
  EXPECT_EQ(L"file 3", album.resources[0].resName) << "a repeated id keeps the first";
  EXPECT_EQ((CidPairs{{L"C3007", 12}, {L"OTHER", 13}}), CidPairsOf(session));
  EXPECT_EQ(1, FiledStatus(kCommandId + 1));
}

TEST_F(CmdGetResourceListTest, TheUserWwwKeepsResourcesAndLeavesTheIndexAlone) {
  StoreDirectory(L"www");
  MakeAlbum(session, L"www", kAlbum);
  session->AddCidPair(L"KEPT", kAlbum);
  const std::string first = ListOf({Resource(1)});
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, &first, "", kCommandId, kAlbum, L"www"));
  const std::string second = ListOf({Resource(2), Resource(1, "renamed")});
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, &second, "", kCommandId + 1, kAlbum, L"www"));
  const AlbumState album = AlbumNow(nullptr, kAlbum, L"www");
  EXPECT_EQ((std::vector<int>{2, 1}), IdsOf(album.resources));
  EXPECT_EQ(L"file 1", album.resources[1].resName) << "a known resource stays as it was";
  EXPECT_EQ(L"www", album.resources[0].uin);
  EXPECT_EQ((CidPairs{{L"KEPT", kAlbum}}), CidPairsOf(session));
  EXPECT_TRUE(AlbumNow().resources.empty()) << "the other user's album of that id";
}

// ---------------------------------------------------------------- other statuses

TEST_F(CmdGetResourceListTest, NotFoundEmptiesTheAlbumAndDelivers) {
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({Resource(1), Resource(2)})));
  session->AddCidPair(L"OTHER", 13);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(404, nullptr, "", kCommandId + 1));
  const AlbumState album = AlbumNow();
  EXPECT_TRUE(album.resources.empty());
  EXPECT_TRUE(album.resourcesLoaded);
  EXPECT_EQ((CidPairs{{L"OTHER", 13}}), CidPairsOf(session)) << "the emptied album's entries go";
  EXPECT_EQ(1, FiledStatus(kCommandId + 1));

  // An album the session does not know: still a result with status 1.
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(404, nullptr, "", kCommandId + 2, 99));
  EXPECT_EQ(1, FiledStatus(kCommandId + 2));
  EXPECT_EQ(3u, results.calls().size());
}

TEST_F(CmdGetResourceListTest, ServerFaultDeliversStatusZeroOnce) {
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(500, nullptr, "", kCommandId));
  EXPECT_EQ(0, FiledStatus(kCommandId));

  // A fault reply with a list: applied (not cached), one result only, the first.
  const std::string body = ListOf({Resource(4)});
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Fetch(500, &body, "Wed, 02 Dec 2026 10:00:00 GMT", kCommandId + 1));
  EXPECT_EQ(0, FiledStatus(kCommandId + 1));
  EXPECT_EQ((std::vector<int>{4}), IdsOf(AlbumNow().resources));
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}, {kCommandId + 1, 0}}),
            results.calls());
  EXPECT_EQ("<none>", StoredValidator());
  EXPECT_EQ("", CachedBody());
}

TEST_F(CmdGetResourceListTest, NotModifiedReadsTheCacheForAnAlbumNeverLoaded) {
  const std::string body = ListOf({Resource(7), Resource(8)});
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, body, kValidator));
  const AlbumState fetched = AlbumNow();

  // A new sign-in: the album is known again but its resources are not loaded. Even a
  // serving (role 1) or forwarding (role 0) process reads the cache then.
  for (int role : {1, 0}) {
    session->ClearAll();
    StoreDirectory(kUin);
    MakeAlbum(session, kUin, kAlbum);
    platform->manager->role = role == 1 ? 1 : 2;
    CComPtr<Command> cmd = Started(kCommandId + 1 + role);
    platform->manager->role = role;
    CComPtr<FakeHeaders> headers(new FakeHeaders(304));
    EXPECT_EQ(BaseCmd::kStateSucceeded, PlayReply(cmd, platform->factory->connection, headers, {}));
    EXPECT_EQ(kValidator, platform->factory->lastRequest->headers[1].second);
    EXPECT_EQ(fetched, AlbumNow()) << role;
  }
  EXPECT_EQ(1u, platform->manager->server->published().size()) << "role 1 broadcast";
  EXPECT_EQ(-1, FiledStatus(kCommandId + 2));
  EXPECT_EQ(1, FiledStatus(kCommandId + 1)) << "role 0 delivered";
  EXPECT_EQ(body, CachedBody());
}

TEST_F(CmdGetResourceListTest, NotModifiedForALoadedAlbumDependsOnTheRole) {
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({Resource(7)}), kValidator));
  {
    Hold hold(session->AlbumListLock());
    session->FindAlbum(kUin, kAlbum)->NewResource()->SetId(99);  // not in the cache
  }

  // Role 1: the resources as held are broadcast (the cache is not read), so a process
  // that asked ends with them too, in the same order; no result is filed here.
  platform->manager->role = 1;
  CComPtr<Command> serving = Started(kCommandId + 1);
  CComPtr<FakeHeaders> notModified(new FakeHeaders(304));
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            PlayReply(serving, platform->factory->connection, notModified, {}));
  EXPECT_EQ((std::vector<int>{99, 7}), IdsOf(AlbumNow().resources));
  EXPECT_EQ(-1, FiledStatus(kCommandId + 1));
  ASSERT_EQ(1u, platform->manager->server->published().size());
  EXPECT_EQ((std::vector<FakeServer::Notice>{{0, 3, 0, 0}}), platform->manager->server->notices());
  TestSession forwarding;
  forwarding.SetCurrentUin(kUin);
  MakeAlbum(&forwarding, kUin, kAlbum);
  TestDecoder decoder(&forwarding);
  platform->manager->channel->broadcast = platform->manager->server->published()[0];
  ASSERT_TRUE(decoder.DecodeMessage(kNoticeResourceList, 0, 0));
  EXPECT_EQ(AlbumNow(), AlbumNow(&forwarding));

  // Stand-alone: the cache is applied again.
  platform->manager->role = 2;
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(304, nullptr, "", kCommandId + 2));
  EXPECT_EQ((std::vector<int>{7}), IdsOf(AlbumNow().resources));
  EXPECT_EQ(1, FiledStatus(kCommandId + 2));

  // Stand-alone with the cache gone: a result with status 1 all the same.
  CComPtr<Command> cmd = Started(kCommandId + 3);
  CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
  events->OnConnect(0, nullptr);
  cmd->Step();
  ASSERT_TRUE(std::filesystem::remove(CacheFile()));
  CComPtr<FakeHeaders> headers(new FakeHeaders(304));
  events->OnComplete(0, headers, nullptr, nullptr);
  cmd->Step();
  int state = -1;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateSucceeded, state);
  EXPECT_EQ(1, FiledStatus(kCommandId + 3));
  EXPECT_EQ((std::vector<int>{7}), IdsOf(AlbumNow().resources));

  // An album the session does not know: nothing.
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(304, nullptr, "", kCommandId + 4, 99));
  EXPECT_EQ(-1, FiledStatus(kCommandId + 4));
}

TEST_F(CmdGetResourceListTest, NotModifiedWithTheCacheGoneForAnAlbumNeverLoadedDeliversNothing) {
  CComPtr<Command> cmd = Started();
  CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
  events->OnConnect(0, nullptr);
  cmd->Step();
  std::filesystem::remove(CacheFile());
  CComPtr<FakeHeaders> headers(new FakeHeaders(304));
  events->OnComplete(0, headers, nullptr, nullptr);
  cmd->Step();
  int state = -1;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateSucceeded, state);
  EXPECT_EQ(-1, FiledStatus());
  EXPECT_FALSE(AlbumNow().resourcesLoaded);
}

// ---------------------------------------------------------------- bad input

TEST_F(CmdGetResourceListTest, AnAlbumUnknownWhenTheReplyArrivesTakesNothing) {
  const std::string body = ListOf({Resource(1)});
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(200, &body, "", kCommandId, 99));
  EXPECT_EQ(-1, FiledStatus());
  EXPECT_TRUE(results.calls().empty());
  EXPECT_EQ(0u, session->CidPairCount());
}

TEST_F(CmdGetResourceListTest, AReplyThatIsNotXmlFailsAndChangesNothing) {
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({Resource(1)}), kValidator));
  EXPECT_EQ(BaseCmd::kStateFailed, Fetch(200, "{\"resources\": []}", "x", kCommandId + 1));
  EXPECT_EQ(BaseCmd::kStateFailed, Fetch(200, "<resources>", "x", kCommandId + 2));
  EXPECT_EQ((std::vector<int>{1}), IdsOf(AlbumNow().resources));
  EXPECT_EQ(-1, FiledStatus(kCommandId + 1));
  EXPECT_EQ(kValidator, StoredValidator());
}

TEST_F(CmdGetResourceListTest, MissingAndOddValues) {
  ElementPtr bare = MakeElement("resource");
  ElementPtr odd = MakeElement("resource");
  odd->Attr("id", "12abc").Attr("res_type", "-1").Attr("state", "x");
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({bare, odd})));
  const AlbumState album = AlbumNow();
  ASSERT_EQ((std::vector<int>{12, 0}), IdsOf(album.resources));
  EXPECT_EQ(2, album.resources[0].resType);
  EXPECT_EQ(0, album.resources[0].state);
  EXPECT_EQ(0, album.resources[1].resType);
  EXPECT_EQ(L"", album.resources[1].cid);
  EXPECT_EQ(kAlbum, album.resources[1].categoryId);
}

// A list whose serialized text has exactly length bytes.
std::string ListOfSerializedLength(size_t length) {
  auto build = [](size_t descLength) {
    ElementPtr resource = Resource(1);
    resource->children[3]->text = std::string(descLength, 'x');
    return ListOf({resource});
  };
  const size_t base = build(1).size();
  return build(length - base + 1);
}

TEST_F(CmdGetResourceListTest, TheReplyTextStaysBelowOneMebibyte) {
  EXPECT_EQ(BaseCmd::kStateFailed, Fetch(200, ListOfSerializedLength(512u << 10)));
  auto package = platform->parsers.back()->package();
  ASSERT_NE(nullptr, package.p);
  EXPECT_EQ((std::vector<int>{1 << 16, 1 << 17, 1 << 18, 1 << 19}), package->capacities);
  EXPECT_TRUE(AlbumNow().resources.empty());
  EXPECT_EQ(-1, FiledStatus());
  EXPECT_EQ("", CachedBody());
  const std::vector<std::vector<int>> tooLarge = {
      {kAlbum, 3, BaseBlogCmd::kFailureReplyTooLarge, 0}};
  EXPECT_EQ(tooLarge, failures.calls());

  const std::string fits = ListOfSerializedLength((512u << 10) - 1);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(200, fits, "", kCommandId + 1));
  EXPECT_EQ(fits, CachedBody());
  EXPECT_EQ(1, FiledStatus(kCommandId + 1));
  EXPECT_EQ(tooLarge, failures.calls()) << "a reply that fits fails nothing";
}

// ---------------------------------------------------------------- more bad input

TEST_F(CmdGetResourceListTest, AListWithoutResourcesEmptiesTheAlbumAndItsIndexEntries) {
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({Resource(1), Resource(2)})));
  session->AddCidPair(L"OTHER", 13);
  ElementPtr root = MakeElement("resources");
  root->Child("total", "0");  // other elements are no resources
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, XmlText(*root), "", kCommandId + 1));
  const AlbumState album = AlbumNow();
  EXPECT_TRUE(album.resources.empty());
  EXPECT_TRUE(album.resourcesLoaded);
  EXPECT_EQ((CidPairs{{L"OTHER", 13}}), CidPairsOf(session));
  EXPECT_EQ(1, FiledStatus(kCommandId + 1));
}

TEST_F(CmdGetResourceListTest, LongValuesAreCutToTheReadBuffer) {
  ElementPtr resource = Resource(1, std::string(10000, 'n'));
  resource->attributes[1].second = std::string(9000, 'C');  // cid
  resource->attributes[4].second = std::string(8192, '9');  // size
  resource->children[3]->text = std::string(8192, 'd');     // desc
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({resource})));
  const AlbumState album = AlbumNow();
  ASSERT_EQ(1u, album.resources.size());
  EXPECT_EQ(std::wstring(8191, L'n'), album.resources[0].resName);
  EXPECT_EQ(std::wstring(8191, L'C'), album.resources[0].cid);
  EXPECT_EQ(std::wstring(8191, L'9'), album.resources[0].size);
  EXPECT_EQ(std::wstring(8191, L'd'), album.resources[0].desc);
  EXPECT_EQ((CidPairs{{std::wstring(8191, L'C'), kAlbum}}), CidPairsOf(session));
  EXPECT_EQ(1, FiledStatus());
}

TEST_F(CmdGetResourceListTest, BytesNoCodePageReadsAreReplacedNotFatal) {
  ElementPtr resource = Resource(1);
  resource->attributes[1].second = "ab\xFF";     // cid: no such byte in the ANSI code page
  resource->children[0]->text = "x\xC3\x28y";  // res_name: broken UTF-8
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({resource, Resource(2)})));
  const AlbumState album = AlbumNow();
  ASSERT_EQ((std::vector<int>{2, 1}), IdsOf(album.resources));
  const ResourceState& odd = album.resources[1];
  EXPECT_EQ(0u, odd.cid.find(L"ab")) << "the readable part is kept";
  EXPECT_EQ(3u, odd.cid.size());
  EXPECT_EQ(L'x', odd.resName.front());
  EXPECT_EQ(L'y', odd.resName.back());
  EXPECT_EQ(1, FiledStatus());
  EXPECT_EQ((std::vector<int>{kAlbum}), [&] {
    std::vector<int> ids;
    for (const auto& pair : CidPairsOf(session)) {
      if (pair.first == odd.cid) ids.push_back(pair.second);
    }
    return ids;
  }());
}

// ---------------------------------------------------------------- failures and records

TEST_F(CmdGetResourceListTest, TransportErrorReportsTheAlbumIdFirst) {
  CComPtr<Command> cmd = Started();
  platform->factory->connection->events()->OnConnect(12029, nullptr);
  cmd->Step();
  int state = -1;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateFailed, state);
  EXPECT_EQ((std::vector<std::vector<int>>{{kAlbum, 3, 0, 0}}), failures.calls());
  EXPECT_TRUE(results.calls().empty());
}

TEST_F(CmdGetResourceListTest, RecordsCarryTheUserIdTheAlbumIdAndTheStatus) {
  Command* created = nullptr;
  ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdGetResourceList>(&created));
  CComPtr<Command> cmd(created);
  cmd->SetUserId(kUin);
  cmd->SetAlbumId(-7);
  EXPECT_EQ("GetResourceList", cmd->GetCommandName());
  EXPECT_EQ(13, cmd->GetRequestRecordSize());
  CComPtr<FakeMessage> message(new FakeMessage(1));
  message->SetPayloadSize(cmd->GetRequestRecordSize());
  ASSERT_TRUE(cmd->WriteRequestRecord(message));
  EXPECT_EQ(Record().Text("10001").Int(-7).bytes(), message->payload);

  Command* reader = nullptr;
  ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdGetResourceList>(&reader));
  CComPtr<Command> other(reader);
  ASSERT_TRUE(other->ReadRequestRecord(message));
  EXPECT_EQ("10001", other->UserId());
  EXPECT_EQ(-7, other->AlbumId());

  // A record without its album id, or with a user id of 47 bytes: refused, nothing read.
  message->payload = Record().Text("20002").bytes();
  EXPECT_FALSE(other->ReadRequestRecord(message));
  message->payload = Record().Text(std::string(47, 'u')).Int(3).bytes();
  EXPECT_FALSE(other->ReadRequestRecord(message));
  message->payload = Record().Text(std::string(46, 'u')).Int(3).bytes();
  EXPECT_EQ("10001", other->UserId());
  EXPECT_EQ(-7, other->AlbumId());
  EXPECT_TRUE(other->ReadRequestRecord(message));
  EXPECT_EQ(std::string(46, 'u'), other->UserId());
  EXPECT_EQ(3, other->AlbumId());

  EXPECT_EQ(4, cmd->GetResultRecordSize());
  BYTE status[4] = {1, 0, 0, 0};
  ASSERT_TRUE(other->ReadResultRecord(status, 4));
  EXPECT_EQ(1, other->Status());
}

TEST_F(CmdGetResourceListTest, TheFactoryIsRegisteredUnderTheCommandName) {
  size_t count = 0;
  const BlogCommandRegistration* table = BlogCommandTable(&count);
  const BlogCommandRegistration* row = nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (std::string(table[i].name) == "GetResourceList") row = &table[i];
  }
  ASSERT_NE(nullptr, row);
  IWorkshopCmd* made = nullptr;
  ASSERT_EQ(S_OK, row->factory(&made));
  CComPtr<IWorkshopCmd> command(made);
  EXPECT_EQ("GetResourceList", static_cast<Command*>(made)->GetCommandName());
}

// ---------------------------------------------------------------- broadcasts

class ResourceListBroadcastTest : public CmdGetResourceListTest {
 protected:
  void SetUp() override {
    CmdGetResourceListTest::SetUp();
    forwarding.SetCurrentUin(kUin);
    MakeAlbum(&forwarding, kUin, kAlbum);
    MakeAlbum(&forwarding, kUin, 13);
  }

  std::vector<BYTE> ServeFetch(const std::string& body, int commandId,
                               const std::wstring& uin = kUin) {
    platform->manager->role = 1;
    const size_t before = platform->manager->server->published().size();
    CComPtr<Command> cmd = Started(commandId, kAlbum, uin);
    CComPtr<FakeHeaders> headers(new FakeHeaders(200));
    EXPECT_EQ(BaseCmd::kStateSucceeded,
              PlayReply(cmd, platform->factory->connection, headers, Pieces(body, 2)));
    auto published = platform->manager->server->published();
    if (published.size() != before + 1) return std::vector<BYTE>();
    EXPECT_EQ(static_cast<int>(published.back().size()), cmd->GetChangeRecordSize());
    return published.back();
  }

  bool Forward(const std::vector<BYTE>& payload) {
    platform->manager->channel->broadcast = payload;
    return decoder.DecodeMessage(kNoticeResourceList, 0, 0);
  }

  TestSession forwarding;
  TestDecoder decoder{&forwarding};
};

TEST_F(ResourceListBroadcastTest, TheForwardingProcessEndsWithTheSameAlbumAndIndex) {
  ElementPtr wordy = Resource(2, std::string(150, 'n'));
  wordy->children[3]->text = std::string(600, 'd');                          // desc
  wordy->children[1]->text = "http://dl.velmora.cn/" + std::string(300, 'u');  // url
  const std::vector<BYTE> first = ServeFetch(ListOf({Resource(1), wordy, Resource(3, "", 9)}),
                                             kCommandId);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ((std::vector<FakeServer::Notice>{{0, 3, 0, 0}}),
            platform->manager->server->notices());
  EXPECT_TRUE(results.calls().empty());
  size_t expected = 4 + 5 + 4 + 4;
  {
    Hold hold(session->AlbumListLock());
    for (int id : {1, 2, 3}) {
      expected += static_cast<size_t>(static_cast<ResourceInfo*>(
                                          session->FindResourceInAlbum(kUin, kAlbum, id))
                                          ->RecordSize());
    }
  }
  EXPECT_EQ(expected, first.size());

  ASSERT_TRUE(Forward(first));
  EXPECT_EQ(AlbumNow(), AlbumNow(&forwarding));
  EXPECT_TRUE(AlbumNow(&forwarding).resourcesLoaded);
  EXPECT_EQ(CidPairsOf(session), CidPairsOf(&forwarding));

  // The next list replaces the resources on both sides.
  const std::vector<BYTE> second = ServeFetch(ListOf({Resource(4)}), kCommandId + 1);
  ASSERT_TRUE(Forward(second));
  EXPECT_EQ((std::vector<int>{4}), IdsOf(AlbumNow(&forwarding).resources));
  EXPECT_EQ(AlbumNow(), AlbumNow(&forwarding));
  EXPECT_EQ(CidPairsOf(session), CidPairsOf(&forwarding));
  EXPECT_EQ((CidPairs{{L"C4007", kAlbum}}), CidPairsOf(&forwarding));
}

TEST_F(ResourceListBroadcastTest, TheUserWwwKeepsItsResourcesOnBothSides) {
  StoreDirectory(L"www");
  MakeAlbum(session, L"www", kAlbum);
  MakeAlbum(&forwarding, L"www", kAlbum);
  const std::vector<BYTE> first = ServeFetch(ListOf({Resource(1)}), kCommandId, L"www");
  ASSERT_TRUE(Forward(first));
  const std::vector<BYTE> second =
      ServeFetch(ListOf({Resource(2), Resource(1, "renamed")}), kCommandId + 1, L"www");
  ASSERT_TRUE(Forward(second));
  EXPECT_EQ((std::vector<int>{2, 1}), IdsOf(AlbumNow(&forwarding, kAlbum, L"www").resources));
  EXPECT_EQ(AlbumNow(nullptr, kAlbum, L"www"), AlbumNow(&forwarding, kAlbum, L"www"));
  EXPECT_EQ(0u, forwarding.CidPairCount());
}

TEST_F(ResourceListBroadcastTest, BrokenOrMisplacedBroadcastsChangeNothing) {
  {
    Hold hold(forwarding.AlbumListLock());
    forwarding.FindAlbum(kUin, kAlbum)->NewResource()->SetId(77);
  }
  forwarding.AddCidPair(L"C77", kAlbum);
  const AlbumState before = AlbumNow(&forwarding);
  const std::vector<BYTE> payload = ServeFetch(ListOf({Resource(1), Resource(2)}), kCommandId);
  ASSERT_FALSE(payload.empty());
  for (size_t length = 0; length < payload.size(); length += 5) {
    std::vector<BYTE> cut(payload.begin(), payload.begin() + static_cast<long>(length));
    EXPECT_FALSE(Forward(cut)) << length;
  }
  EXPECT_FALSE(Forward(Record().Text("10001").Int(kAlbum).Int(0x7FFFFFFF).bytes()));
  EXPECT_FALSE(Forward(Record().Text("10001").Int(kAlbum).Int(-2).bytes()));
  // An album this process does not know.
  EXPECT_FALSE(Forward(Record().Text("10001").Int(99).Int(0).bytes()));
  EXPECT_EQ(before, AlbumNow(&forwarding));
  EXPECT_EQ((CidPairs{{L"C77", kAlbum}}), CidPairsOf(&forwarding));
  // An empty list empties the album.
  EXPECT_TRUE(Forward(Record().Text("10001").Int(kAlbum).Int(0).bytes()));
  EXPECT_TRUE(AlbumNow(&forwarding).resources.empty());
  EXPECT_EQ(0u, forwarding.CidPairCount());
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
