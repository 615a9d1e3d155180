#include "commands/CmdGetAlbumList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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
using xml_testing::TakeText;
using xml_testing::TemporaryFolder;
using xml_testing::XmlPlatform;
using xml_testing::XmlText;

typedef CComObject<ShareSessionCmd<CmdGetAlbumList>> Command;
typedef std::vector<std::pair<std::string, std::string>> Headers;

const wchar_t kUin[] = L"10001";
const int kCommandId = 52;
const char kValidator[] = "Tue, 01 Dec 2026 10:00:00 GMT";

// A "category" as the service writes it.
ElementPtr Category(int id, const std::string& name, const std::string& tag = "t") {
  ElementPtr category = MakeElement("category");
  category->Attr("id", std::to_string(id))
      .Attr("category_type", "0")
      .Attr("show_status", "1")
      .Attr("last_time", "2026-12-01 10:00:00");
  category->Child("category_name", name)
      .Child("desc", "about " + name)
      .Child("pic_url", "http://pic.velmora.cn/" + std::to_string(id) + ".jpg");
  ElementPtr tags = MakeElement("tags");
  tags->Attr("tag_num", "1").Child("tag", tag);
  category->Add(tags);
  return category;
}

std::string ListOf(const std::vector<ElementPtr>& categories) {
  ElementPtr root = MakeElement("categories");
  for (const ElementPtr& category : categories) root->Add(category);
  return XmlText(*root);
}

class CmdGetAlbumListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session->ClearAll();
    session->SetCurrentUin(kUin);
    std::unique_ptr<ServerDirectoryRecord> record(new ServerDirectoryRecord);
    record->Opened = true;
    record->AlbumListUrl = L"http://data.velmora.cn/blog/10001/albums.xml";
    {
      Hold hold(session->ServerLock());
      session->StoreServerEntry(kUin, std::move(record));
    }
    session->AddResultSink(&results);
    session->AddFailureSink(&failures);
  }
  void TearDown() override {
    session->RemoveResultSink(&results);
    session->RemoveFailureSink(&failures);
    session->ClearAll();
    session->SetCurrentUin(L"");
  }

  // A new command for the user on a fresh connection, started.
  CComPtr<Command> Started(int commandId = kCommandId) {
    platform->factory = new FakeFactory;
    Command* created = nullptr;
    EXPECT_EQ(S_OK, CreateTypedShareSessionCmd<CmdGetAlbumList>(&created));
    CComPtr<Command> cmd(created);
    cmd->SetUserId(kUin);
    cmd->SetCommandId(commandId);
    cmd->SetHttpFactory(platform->factory);
    cmd->UseCache(std::unique_ptr<BlogCache>(new BlogCache(&store, folder.UserPath())));
    EXPECT_EQ(S_OK, cmd->Start());
    return cmd;
  }

  // One whole exchange: the reply's status, "Last-Modified" (none when empty) and body
  // (in three pieces; no body when null). Returns the command's final state.
  int Fetch(int status, const std::string* body, const std::string& lastModified = "",
            int commandId = kCommandId) {
    CComPtr<Command> cmd = Started(commandId);
    CComPtr<FakeHeaders> headers(new FakeHeaders(status));
    if (!lastModified.empty()) headers->Field("Last-Modified", lastModified);
    return PlayReply(cmd, platform->factory->connection, headers,
                     body != nullptr ? Pieces(*body, 3) : std::vector<std::string>());
  }
  int Fetch(int status, const std::string& body, const std::string& lastModified = "",
            int commandId = kCommandId) {
    return Fetch(status, &body, lastModified, commandId);
  }

  std::filesystem::path CacheFile() const {
    return folder.path() / "10001" / "BlogCache" / "AlbumList_10001.xml";
  }
  std::string CachedBody() const {
    std::string body;
    EXPECT_TRUE(xml_testing::ReadFile(CacheFile(), &body));
    return body;
  }
  // The stored "Last-Modified" value, or "<none>".
  std::string StoredValidator() {
    auto section = store.sections.find(kUin);
    if (section == store.sections.end()) return "<none>";
    auto value = section->second.find("AlbumList_10001_Modified");
    return value == section->second.end() ? "<none>" : value->second.text;
  }
  // The "If-Modified-Since" value of the last request, or "<none>".
  std::string SentValidator() {
    auto request = platform->factory->lastRequest;
    if (!request) return "<none>";
    for (const auto& header : request->headers) {
      if (header.first == "If-Modified-Since") return header.second;
    }
    return "<none>";
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

  AlbumInfo* Album(int id) {
    Hold hold(session->AlbumListLock());
    return session->FindAlbum(kUin, id);
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

TEST_F(CmdGetAlbumListTest, FirstFetchSendsTheDefaultValidatorAndFillsTheList) {
  ElementPtr travel = MakeElement("category");
  travel->Attr("id", "12").Attr("category_type", "3").Attr("show_status", "7");
  travel->Attr("last_time", "2026-12-01 10:00:00");
  travel->Child("category_name", "旅行").Child("desc", "海边 & 日落").Child("pic_url",
                                                                            "http://pic.velmora.cn/12.jpg");
  ElementPtr tags = MakeElement("tags");
  tags->Attr("tag_num", "2").Child("tag", "海").Child("tag", "山");
  travel->Add(tags);
  ElementPtr hidden = Category(5, "hidden");
  hidden->attributes[2].second = "0";  // show_status
  const std::string body = ListOf({travel, hidden});

  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(200, body, kValidator));

  // The request: a GET of the URL's path with the default validator.
  auto request = platform->factory->lastRequest;
  ASSERT_NE(nullptr, request.p);
  EXPECT_EQ("GET", request->method);
  EXPECT_EQ("/blog/10001/albums.xml", request->path);
  EXPECT_EQ((Headers{{"Host", "data.velmora.cn"},
                     {"If-Modified-Since", "Fri, 1 Jun 1000 01:01:01 GMT"}}),
            request->headers);
  const std::vector<std::string> log = platform->factory->connection->log();
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "SetServer data.velmora.cn:80"));

  const std::vector<AlbumState> albums = AlbumsOf(session, kUin);
  ASSERT_EQ((std::vector<int>{12, 5}), IdsOf(albums));
  const AlbumState& a = albums[0];
  EXPECT_EQ(L"旅行", a.categoryName);
  EXPECT_EQ(1, a.showStatus) << "any non-zero show_status is 1";
  EXPECT_EQ(3, a.categoryType);
  EXPECT_EQ(L"海边 & 日落", a.desc);
  EXPECT_EQ(L"2026-12-01 10:00:00", a.lastTime);
  EXPECT_EQ(L"http://pic.velmora.cn/12.jpg", a.picUrl);
  EXPECT_EQ(2, a.tagNum);
  EXPECT_EQ(L"海", a.tags[0]);
  EXPECT_EQ(L"山", a.tags[1]);
  EXPECT_EQ(L"", a.tags[2]);
  EXPECT_FALSE(a.resourcesLoaded);
  EXPECT_EQ(0, albums[1].showStatus);

  // The result and the cache.
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
  EXPECT_TRUE(failures.calls().empty());
  CComPtr<IResultOnAlbum> result = FiledResult();
  ASSERT_NE(nullptr, result.p);
  int value = -1;
  result->GetStatus(&value);
  EXPECT_EQ(1, value);
  result->GetOperationIndex(&value);
  EXPECT_EQ(2, value);
  BSTR text = nullptr;
  result->GetOperationTitle(&text);
  EXPECT_EQ(L"获取专辑列表信息", TakeText(text));
  result->GetUin(&text);
  EXPECT_EQ(std::wstring(kUin), TakeText(text));
  EXPECT_EQ(body, CachedBody());
  EXPECT_EQ(kValidator, StoredValidator());
}

TEST_F(CmdGetAlbumListTest, NotModifiedIsServedFromTheCacheWhenTheListIsNotInMemory) {
  const std::string body = ListOf({Category(1, "one"), Category(2, "two")});
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, body, kValidator));
  const std::vector<AlbumState> fetched = AlbumsOf(session, kUin);

  // A new sign-in: the session lost the list; the server says nothing changed.
  session->ClearAll();
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(304, nullptr, "", kCommandId + 1));
  EXPECT_EQ(kValidator, SentValidator());
  EXPECT_EQ(fetched, AlbumsOf(session, kUin));
  EXPECT_EQ(1, FiledStatus(kCommandId + 1));
  EXPECT_EQ(2u, results.calls().size());
  EXPECT_EQ(body, CachedBody()) << "the cached copy is not rewritten";
  EXPECT_EQ(kValidator, StoredValidator());
}

TEST_F(CmdGetAlbumListTest, NotModifiedStandAloneReplaysTheCacheOverTheListInMemory) {
  ASSERT_EQ(BaseCmd::kStateSucceeded,
            Fetch(200, ListOf({Category(1, "one"), Category(2, "two")}), kValidator));
  AlbumInfo* one = Album(1);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(304, nullptr, "", kCommandId + 1));
  EXPECT_EQ((std::vector<int>{1, 2}), IdsOf(AlbumsOf(session, kUin)));
  EXPECT_EQ(one, Album(1)) << "the album objects are kept";
  EXPECT_EQ(1, FiledStatus(kCommandId + 1));
}

TEST_F(CmdGetAlbumListTest, NotModifiedWithTheListInMemoryDeliversNothingInRoleZero) {
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({Category(1, "one")}), kValidator));
  const std::vector<AlbumState> before = AlbumsOf(session, kUin);
  // Role 0 is reached by a command that ran stand-alone when it started (the role is
  // asked anew for every decision). Role 1: AlbumListBroadcastTest.
  CComPtr<Command> cmd = Started(kCommandId + 10);
  platform->manager->role = 0;
  CComPtr<FakeHeaders> headers(new FakeHeaders(304));
  EXPECT_EQ(BaseCmd::kStateSucceeded, PlayReply(cmd, platform->factory->connection, headers, {}));
  EXPECT_EQ(-1, FiledStatus(kCommandId + 10));
  EXPECT_EQ(1u, results.calls().size());
  EXPECT_TRUE(platform->manager->server->published().empty());
  EXPECT_TRUE(platform->manager->server->notices().empty());
  EXPECT_EQ(before, AlbumsOf(session, kUin));
  EXPECT_TRUE(platform->parsers.size() == 1) << "the cache was not even parsed";
}

TEST_F(CmdGetAlbumListTest, NotModifiedWithTheCacheFileGoneDeliversNothing) {
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({Category(1, "one")}), kValidator));
  session->ClearAll();

  CComPtr<Command> cmd = Started(kCommandId + 1);
  CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
  ASSERT_NE(nullptr, events.p);
  events->OnConnect(0, nullptr);
  cmd->Step();  // the request goes out with the stored validator
  EXPECT_EQ(kValidator, SentValidator());
  ASSERT_TRUE(std::filesystem::remove(CacheFile()));
  CComPtr<FakeHeaders> headers(new FakeHeaders(304));
  events->OnComplete(0, headers, nullptr, nullptr);
  cmd->Step();
  int state = -1;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateSucceeded, state);
  EXPECT_EQ(-1, FiledStatus(kCommandId + 1));
  EXPECT_TRUE(AlbumsOf(session, kUin).empty());
  EXPECT_EQ(1u, results.calls().size());

  // An empty cached copy (the file the request step creates when it is missing) gives
  // nothing either.
  CComPtr<Command> again = Started(kCommandId + 2);
  CComPtr<FakeHeaders> notModified(new FakeHeaders(304));
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            PlayReply(again, platform->factory->connection, notModified, {}));
  EXPECT_EQ("Fri, 1 Jun 1000 01:01:01 GMT", SentValidator());
  EXPECT_EQ("", CachedBody());
  EXPECT_EQ(-1, FiledStatus(kCommandId + 2));
}

// ---------------------------------------------------------------- the reconcile

TEST_F(CmdGetAlbumListTest, ReconcileKeepsKnownAlbumsAppendsNewOnesAndDropsVanishedOnes) {
  ASSERT_EQ(BaseCmd::kStateSucceeded,
            Fetch(200, ListOf({Category(1, "one"), Category(2, "two"), Category(3, "three")})));
  AlbumInfo* one = Album(1);
  AlbumInfo* three = Album(3);
  CComPtr<IZQAlbumInfo> two(Album(2));  // the host may still hold a removed album

  ASSERT_EQ(BaseCmd::kStateSucceeded,
            Fetch(200, ListOf({Category(3, "renamed", "new tag"), Category(4, "four"),
                               Category(1, "one again")}),
                  "", kCommandId + 1));
  const std::vector<AlbumState> albums = AlbumsOf(session, kUin);
  EXPECT_EQ((std::vector<int>{1, 3, 4}), IdsOf(albums));
  EXPECT_EQ(one, Album(1));
  EXPECT_EQ(three, Album(3));
  EXPECT_EQ(L"three", albums[1].categoryName) << "a known album keeps its fields";
  EXPECT_EQ(L"t", albums[1].tags[0]);
  EXPECT_EQ(L"four", albums[2].categoryName);
  EXPECT_EQ(nullptr, Album(2));
  BSTR name = nullptr;
  two->GetCategoryName(&name);
  EXPECT_EQ(L"two", TakeText(name));
  EXPECT_EQ(1, FiledStatus(kCommandId + 1));
}

TEST_F(CmdGetAlbumListTest, AVanishedAlbumLeavesTheContentIdIndex) {
  ASSERT_EQ(BaseCmd::kStateSucceeded,
            Fetch(200, ListOf({Category(1, "one"), Category(2, "two")})));
  session->AddCidPair(L"AA", 2);
  session->AddCidPair(L"AA", 1);
  session->AddCidPair(L"BB", 2);
  ASSERT_EQ(BaseCmd::kStateSucceeded,
            Fetch(200, ListOf({Category(1, "one")}), "", kCommandId + 1));
  EXPECT_EQ((std::vector<std::pair<std::wstring, int>>{{L"AA", 1}}), CidPairsOf(session));
}

TEST_F(CmdGetAlbumListTest, AReplyWithoutCategoriesEmptiesTheListAndStillDelivers) {
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({Category(1, "one")})));
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({}), "", kCommandId + 1));
  EXPECT_TRUE(AlbumsOf(session, kUin).empty());
  {
    Hold hold(session->AlbumListLock());
    EXPECT_NE(nullptr, session->FindAlbumList(kUin)) << "the list exists, empty";
  }
  EXPECT_EQ(1, FiledStatus(kCommandId + 1));
}

TEST_F(CmdGetAlbumListTest, CategoriesAreFoundByNameAmongOtherElements) {
  ElementPtr root = MakeElement("categories");
  root->Child("total", "2");
  root->Add(Category(7, "seven"));
  root->Child("note", "x");
  root->Add(Category(8, "eight"));
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, XmlText(*root)));
  EXPECT_EQ((std::vector<int>{7, 8}), IdsOf(AlbumsOf(session, kUin)));
}

// ---------------------------------------------------------------- entity removal

TEST_F(CmdGetAlbumListTest, TheCachedCopyLosesTheEntitiesTheFreshReplyKeeps) {
  ElementPtr category = Category(9, "nine");
  category->attributes[3].second = "2026\n12\t01";  // last_time: serialized "&#10;", "&#09;"
  category->children[1]->text = "a&nbsp;b";        // desc: serialized "&amp;nbsp;"
  const std::string body = ListOf({category});
  ASSERT_NE(std::string::npos, body.find("&#10;"));
  ASSERT_NE(std::string::npos, body.find("&amp;nbsp;"));

  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, body, kValidator));
  EXPECT_EQ(L"2026\n12\t01", AlbumsOf(session, kUin)[0].lastTime) << "fresh: as parsed";
  EXPECT_EQ(L"a&nbsp;b", AlbumsOf(session, kUin)[0].desc);
  const std::string cached = CachedBody();
  EXPECT_EQ(std::string::npos, cached.find("&#10;"));
  EXPECT_EQ(std::string::npos, cached.find("&#09;"));
  EXPECT_EQ(std::string::npos, cached.find("&amp;nbsp;"));
  EXPECT_NE(std::string::npos, cached.find("last_time=\"20261201\""));

  session->ClearAll();
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(304, nullptr, "", kCommandId + 1));
  EXPECT_EQ(L"20261201", AlbumsOf(session, kUin)[0].lastTime) << "cached: cleaned";
  EXPECT_EQ(L"ab", AlbumsOf(session, kUin)[0].desc);
}

// ---------------------------------------------------------------- bad input

TEST_F(CmdGetAlbumListTest, MissingAndNonNumericValuesReadAsPlainDecimals) {
  ElementPtr noId = MakeElement("category");
  noId->Child("category_name", "no id");
  ElementPtr words = MakeElement("category");
  words->Attr("id", "7x").Attr("category_type", "x9").Attr("show_status", "no");
  ElementPtr wordTags = MakeElement("tags");
  wordTags->Attr("tag_num", "two").Child("tag", "ignored");
  words->Add(wordTags);
  ElementPtr spaced = MakeElement("category");
  spaced->Attr("id", " -5").Attr("category_type", "+12");
  ElementPtr huge = MakeElement("category");
  huge->Attr("id", "99999999999999999999").Attr("category_type", "-99999999999999999999");
  ElementPtr sameAsNoId = MakeElement("category");
  sameAsNoId->Attr("id", "abc").Child("category_name", "also 0");

  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({noId, words, spaced, huge, sameAsNoId})));
  const std::vector<AlbumState> albums = AlbumsOf(session, kUin);
  ASSERT_EQ((std::vector<int>{0, 7, -5, 2147483647}), IdsOf(albums));
  EXPECT_EQ(L"no id", albums[0].categoryName) << "the second id 0 found the first album";
  EXPECT_EQ(0, albums[0].tagNum);
  EXPECT_EQ(0, albums[1].categoryType);
  EXPECT_EQ(0, albums[1].showStatus);
  EXPECT_EQ(0, albums[1].tagNum);
  EXPECT_EQ(L"", albums[1].tags[0]);
  EXPECT_EQ(12, albums[2].categoryType);
  EXPECT_EQ(-2147483647 - 1, albums[3].categoryType);
  EXPECT_EQ(1, FiledStatus());
}

TEST_F(CmdGetAlbumListTest, ATagCountBeyondTheTagsGivenKeepsTheCountAndTheTagsThereAre) {
  ElementPtr category = Category(3, "many");
  category->children[3]->attributes[0].second = "100";
  category->children[3]->Child("tag", "second");
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({category})));
  const AlbumState album = AlbumsOf(session, kUin)[0];
  EXPECT_EQ(100, album.tagNum);
  EXPECT_EQ(L"t", album.tags[0]);
  EXPECT_EQ(L"second", album.tags[1]);
  EXPECT_EQ(L"", album.tags[2]);

  ElementPtr none = Category(4, "none");
  none->children[3]->attributes[0].second = "0";
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({none}), "", kCommandId + 1));
  EXPECT_EQ(0, AlbumsOf(session, kUin)[0].tagNum);
  EXPECT_EQ(L"", AlbumsOf(session, kUin)[0].tags[0]) << "tag_num 0 leaves the album untagged";
}

TEST_F(CmdGetAlbumListTest, LongValuesAreCutToTheReadBuffer) {
  ElementPtr category = Category(1, std::string(10000, 'n'));
  category->children[1]->text = std::string(9000, 'd');
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({category})));
  const AlbumState album = AlbumsOf(session, kUin)[0];
  EXPECT_EQ(std::wstring(8191, L'n'), album.categoryName);
  EXPECT_EQ(std::wstring(8191, L'd'), album.desc);
}

// A list whose serialized text has exactly length bytes.
std::string ListOfSerializedLength(size_t length) {
  auto build = [](size_t descLength) {
    ElementPtr category = Category(1, "big");
    category->children[1]->text = std::string(descLength, 'x');
    return ListOf({category});
  };
  const size_t base = build(1).size();
  return build(length - base + 1);
}

TEST_F(CmdGetAlbumListTest, AReplyLongerThanTheLargestBufferFailsAndChangesNothing) {
  ASSERT_EQ(BaseCmd::kStateSucceeded,
            Fetch(200, ListOf({Category(1, "kept")}), kValidator));
  const std::string cached = CachedBody();

  // 9 MiB: the buffer doubles from 64 KiB to 8 MiB, then the reply is given up.
  const std::string nine = ListOfSerializedLength(9u << 20);
  EXPECT_EQ(BaseCmd::kStateFailed,
            Fetch(200, nine, "Wed, 02 Dec 2026 10:00:00 GMT", kCommandId + 1));
  ASSERT_EQ(2u, platform->parsers.size());
  auto package = platform->parsers.back()->package();
  ASSERT_NE(nullptr, package.p);
  EXPECT_EQ((std::vector<int>{1 << 16, 1 << 17, 1 << 18, 1 << 19, 1 << 20, 1 << 21, 1 << 22,
                              1 << 23}),
            package->capacities);
  EXPECT_EQ(-1, FiledStatus(kCommandId + 1));
  EXPECT_EQ(L"kept", AlbumsOf(session, kUin)[0].categoryName);
  EXPECT_EQ(cached, CachedBody());
  EXPECT_EQ(kValidator, StoredValidator()) << "no value without its body";

  // The boundary: a text of 8 MiB - 1 bytes fits the 8 MiB buffer with its terminator;
  // one of 8 MiB does not.
  EXPECT_EQ(BaseCmd::kStateFailed,
            Fetch(200, ListOfSerializedLength(8u << 20), "", kCommandId + 2));
  const std::string fits = ListOfSerializedLength((8u << 20) - 1);
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(200, fits, "", kCommandId + 3));
  EXPECT_EQ(fits, CachedBody());
  EXPECT_EQ(1, FiledStatus(kCommandId + 3));
}

TEST_F(CmdGetAlbumListTest, AReplyThatIsNotXmlFailsWithoutResultOrCache) {
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({Category(1, "kept")}), kValidator));
  EXPECT_EQ(BaseCmd::kStateFailed,
            Fetch(200, "<categories><category id=\"1\">", "Wed, 02 Dec 2026 10:00:00 GMT",
                  kCommandId + 1));
  EXPECT_EQ(BaseCmd::kStateFailed, Fetch(200, "not xml at all", "", kCommandId + 2));
  EXPECT_EQ(-1, FiledStatus(kCommandId + 1));
  EXPECT_EQ(-1, FiledStatus(kCommandId + 2));
  EXPECT_EQ(L"kept", AlbumsOf(session, kUin)[0].categoryName);
  EXPECT_NE(std::string::npos, CachedBody().find("kept"));
  EXPECT_EQ(kValidator, StoredValidator());
}

TEST_F(CmdGetAlbumListTest, ErrorRepliesAreTakenOverButNeverCached) {
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({Category(1, "one")}), kValidator));
  const std::string cached = CachedBody();

  // 404: nothing is recorded from the headers; a body that comes is still reconciled.
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Fetch(404, ListOf({Category(2, "two")}), "Wed, 02 Dec 2026 10:00:00 GMT",
                  kCommandId + 1));
  EXPECT_EQ((std::vector<int>{2}), IdsOf(AlbumsOf(session, kUin)));
  EXPECT_EQ(cached, CachedBody());
  EXPECT_EQ(kValidator, StoredValidator());

  // 500 with an XML body: reconciled, but the cached list and its validator stay.
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            Fetch(500, ListOf({Category(3, "three")}), "Thu, 03 Dec 2026 10:00:00 GMT",
                  kCommandId + 2));
  EXPECT_EQ((std::vector<int>{3}), IdsOf(AlbumsOf(session, kUin)));
  EXPECT_EQ(cached, CachedBody());
  EXPECT_EQ(kValidator, StoredValidator());

  // 404 without a body: nothing at all.
  EXPECT_EQ(BaseCmd::kStateSucceeded, Fetch(404, nullptr, "", kCommandId + 3));
  EXPECT_EQ(-1, FiledStatus(kCommandId + 3));
}

// ---------------------------------------------------------------- failures and records

TEST_F(CmdGetAlbumListTest, TransportErrorGoesToTheFailureSinks) {
  CComPtr<Command> cmd = Started();
  CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
  ASSERT_NE(nullptr, events.p);
  events->OnConnect(12029, nullptr);
  cmd->Step();
  int state = -1;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateFailed, state);
  EXPECT_EQ((std::vector<std::vector<int>>{{12029, 2, 0, 0}}), failures.calls());
  EXPECT_TRUE(results.calls().empty());
}

TEST_F(CmdGetAlbumListTest, AUserWithoutDirectoryHasNoServer) {
  {
    Hold hold(session->ServerLock());
    session->StoreServerEntry(kUin, nullptr);
  }
  CComPtr<Command> cmd = Started();
  const std::vector<std::string> log = platform->factory->connection->log();
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "SetServer :80"));
  // No such host: the connection fails.
  platform->factory->connection->events()->OnConnect(11001, nullptr);
  cmd->Step();
  EXPECT_EQ((std::vector<std::vector<int>>{{11001, 2, 0, 0}}), failures.calls());
}

TEST_F(CmdGetAlbumListTest, RecordsCarryTheUserIdAndTheStatus) {
  Command* created = nullptr;
  ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdGetAlbumList>(&created));
  CComPtr<Command> cmd(created);
  cmd->SetUserId(kUin);
  EXPECT_EQ("GetAlbumList", cmd->GetCommandName());
  EXPECT_EQ(9, cmd->GetRequestRecordSize());
  CComPtr<FakeMessage> message(new FakeMessage(1));
  message->SetPayloadSize(cmd->GetRequestRecordSize());
  ASSERT_TRUE(cmd->WriteRequestRecord(message));
  EXPECT_EQ(Record().Text("10001").bytes(), message->payload);

  Command* reader = nullptr;
  ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdGetAlbumList>(&reader));
  CComPtr<Command> other(reader);
  ASSERT_TRUE(other->ReadRequestRecord(message));
  EXPECT_EQ("10001", other->UserId());
  message->payload = Record().Text(std::string(47, 'u')).bytes();
  EXPECT_FALSE(other->ReadRequestRecord(message)) << "a user id of 47 bytes is refused";
  EXPECT_EQ("10001", other->UserId());

  EXPECT_EQ(4, cmd->GetResultRecordSize());
  BYTE status[4] = {1, 0, 0, 0};
  ASSERT_TRUE(other->ReadResultRecord(status, 4));
  EXPECT_EQ(1, other->Status());
  BYTE written[4] = {9, 9, 9, 9};
  ASSERT_TRUE(other->WriteResultRecord(written, 4));
  EXPECT_EQ(0, std::memcmp(status, written, 4));
  EXPECT_FALSE(other->ReadResultRecord(status, 3));
}

TEST_F(CmdGetAlbumListTest, AForwardedCommandDeliversTheStatusOfItsResult) {
  platform->manager->role = 0;
  Command* created = nullptr;
  ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdGetAlbumList>(&created));
  CComPtr<Command> cmd(created);
  cmd->SetUserId(kUin);
  cmd->SetCommandId(kCommandId);
  ASSERT_EQ(S_OK, cmd->Start());
  auto sent = platform->manager->channel->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("GetAlbumList", sent[0]->name);
  EXPECT_EQ(Record().Text("10001").bytes(), sent[0]->payload);

  int id = 0;
  sent[0]->GetId(&id);
  CComPtr<FakeMessage> answer(new FakeMessage(id));
  answer->payload = Record().Int(1).Int(0).Int(0).bytes();
  cmd->OnRecvOperationResult(answer);
  int state = -1;
  cmd->GetState(&state);
  EXPECT_EQ(BaseCmd::kStateSucceeded, state);
  EXPECT_EQ(1, FiledStatus());
  EXPECT_EQ((std::vector<std::pair<int, int>>{{kCommandId, 0}}), results.calls());
}

TEST_F(CmdGetAlbumListTest, TheFactoryIsRegisteredUnderTheCommandName) {
  size_t count = 0;
  const BlogCommandRegistration* table = BlogCommandTable(&count);
  const BlogCommandRegistration* row = nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (std::string(table[i].name) == "GetAlbumList") row = &table[i];
  }
  ASSERT_NE(nullptr, row);
  IWorkshopCmd* made = nullptr;
  ASSERT_EQ(S_OK, row->factory(&made));
  CComPtr<IWorkshopCmd> command(made);
  EXPECT_EQ("GetAlbumList", static_cast<Command*>(made)->GetCommandName());
}

// ---------------------------------------------------------------- broadcasts

class AlbumListBroadcastTest : public CmdGetAlbumListTest {
 protected:
  void SetUp() override {
    CmdGetAlbumListTest::SetUp();
    forwarding.SetCurrentUin(kUin);
  }

  // A fetch in the serving role; returns its change record (empty when none or several).
  std::vector<BYTE> ServeFetch(const std::string& body, int commandId) {
    platform->manager->role = 1;
    const size_t before = platform->manager->server->published().size();
    CComPtr<Command> cmd = Started(commandId);
    CComPtr<FakeHeaders> headers(new FakeHeaders(200));
    EXPECT_EQ(BaseCmd::kStateSucceeded,
              PlayReply(cmd, platform->factory->connection, headers, Pieces(body, 2)));
    auto published = platform->manager->server->published();
    if (published.size() != before + 1) return std::vector<BYTE>();
    EXPECT_EQ(static_cast<int>(published.back().size()), cmd->GetChangeRecordSize());
    return published.back();
  }

  // Decodes payload as a notice of the code in the forwarding session.
  bool Forward(const std::vector<BYTE>& payload, int code = kNoticeAlbumList) {
    platform->manager->channel->broadcast = payload;
    return decoder.DecodeMessage(code, 0, 0);
  }

  TestSession forwarding;
  TestDecoder decoder{&forwarding};
};

TEST_F(AlbumListBroadcastTest, TheServingProcessPublishesWhatTheForwardingOneApplies) {
  ElementPtr many = Category(3, "three");
  many->children[3]->attributes[0].second = "100";  // tag_num 100 with two tags
  many->children[3]->Child("tag", "second");
  many->children[1]->text = std::string(150, 'd');  // a desc of 150 bytes
  ElementPtr longer = Category(2, "two");
  longer->children[1]->text = std::string(5000, 'e');
  longer->attributes[3].second = std::string(300, '9');  // last_time
  const std::vector<BYTE> first =
      ServeFetch(ListOf({Category(1, "一"), longer, many}), kCommandId);
  ASSERT_FALSE(first.empty());

  // The record: user id, count, then the album records in reply order.
  size_t expected = 4 + 5 + 4;
  {
    Hold hold(session->AlbumListLock());
    for (int id : {1, 2, 3}) expected += static_cast<size_t>(session->FindAlbum(kUin, id)->RecordSize());
  }
  EXPECT_EQ(expected, first.size());
  EXPECT_EQ((std::vector<FakeServer::Notice>{{0, 2, 0, 0}}),
            platform->manager->server->notices());
  EXPECT_TRUE(results.calls().empty()) << "the serving process broadcasts instead";

  ASSERT_TRUE(Forward(first));
  EXPECT_EQ(AlbumsOf(session, kUin), AlbumsOf(&forwarding, kUin));
  EXPECT_EQ(100, AlbumsOf(&forwarding, kUin)[2].tagNum);

  // The next fetch keeps album 3 unchanged, adds 4 and drops 2 on both sides.
  const std::vector<BYTE> second = ServeFetch(
      ListOf({Category(3, "renamed"), Category(4, "four"), Category(1, "one")}), kCommandId + 1);
  ASSERT_FALSE(second.empty());
  forwarding.AddCidPair(L"CC", 2);
  forwarding.AddCidPair(L"CC", 3);
  ASSERT_TRUE(Forward(second));
  EXPECT_EQ((std::vector<int>{1, 3, 4}), IdsOf(AlbumsOf(&forwarding, kUin)));
  EXPECT_EQ(AlbumsOf(session, kUin), AlbumsOf(&forwarding, kUin));
  EXPECT_EQ((std::vector<std::pair<std::wstring, int>>{{L"CC", 3}}), CidPairsOf(&forwarding))
      << "the vanished album's pairs go with it";
}

TEST_F(AlbumListBroadcastTest, NotModifiedInRoleOneBroadcastsTheHeldListAndAnswersWithIt) {
  ASSERT_FALSE(ServeFetch(ListOf({Category(1, "one"), Category(2, "two")}), kCommandId).empty());
  // A process that joins late holds an album the list no longer has.
  {
    Hold hold(forwarding.AlbumListLock());
    forwarding.GetOrCreateAlbumList(kUin)->NewAlbum()->SetId(9);
  }
  // Its request, served here, finds the list unchanged on the server.
  platform->factory = new FakeFactory;
  Command* created = nullptr;
  ASSERT_EQ(S_OK, CreateTypedShareSessionCmd<CmdGetAlbumList>(&created));
  CComPtr<Command> served(created);
  CComPtr<FakeMessage> request(new FakeMessage(31));
  request->payload = Record().Text("10001").bytes();
  ASSERT_EQ(S_OK, served->SetOperationMessage(request));
  served->SetHttpFactory(platform->factory);
  served->UseCache(std::unique_ptr<BlogCache>(new BlogCache(&store, folder.UserPath())));
  ASSERT_EQ(S_OK, served->Start());
  CComPtr<FakeHeaders> headers(new FakeHeaders(304));
  EXPECT_EQ(BaseCmd::kStateSucceeded,
            PlayReply(served, platform->factory->connection, headers, {}));

  const auto published = platform->manager->server->published();
  ASSERT_EQ(2u, published.size());
  EXPECT_EQ(2u, platform->manager->server->notices().size());
  EXPECT_EQ(2, platform->manager->server->notices()[1].type);
  ASSERT_TRUE(Forward(published[1]));
  EXPECT_EQ(AlbumsOf(session, kUin), AlbumsOf(&forwarding, kUin));
  CComPtr<FakeMessage> answer = platform->manager->server->lastResult;
  ASSERT_NE(nullptr, answer.p);
  EXPECT_EQ((std::vector<BYTE>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), answer->payload);
  EXPECT_TRUE(results.calls().empty());
  platform->workshop->added.clear();  // the command goes before the fixture's cache store
}

TEST_F(AlbumListBroadcastTest, AForwardingListIsOverwrittenNotDuplicated) {
  {
    Hold hold(forwarding.AlbumListLock());
    AlbumListInfo* list = forwarding.GetOrCreateAlbumList(kUin);
    AlbumInfo* stale = list->NewAlbum();
    stale->SetId(1);
    stale->SetCategoryName(L"stale");
    stale->SetTagNum(3);
    stale->SetTag(2, L"old third tag");
  }
  const std::vector<BYTE> payload = ServeFetch(ListOf({Category(1, "fresh")}), kCommandId);
  Hold hold(forwarding.AlbumListLock());
  AlbumInfo* before = forwarding.FindAlbum(kUin, 1);
  ASSERT_TRUE(Forward(payload));
  ASSERT_TRUE(Forward(payload));
  EXPECT_EQ(before, forwarding.FindAlbum(kUin, 1));
  EXPECT_EQ(AlbumsOf(session, kUin), AlbumsOf(&forwarding, kUin));
  EXPECT_EQ(L"", AlbumsOf(&forwarding, kUin)[0].tags[2]) << "tags beyond TagNum are emptied";
}

TEST_F(AlbumListBroadcastTest, BrokenBroadcastsChangeNothing) {
  const std::vector<BYTE> payload =
      ServeFetch(ListOf({Category(1, "one"), Category(2, "two")}), kCommandId);
  ASSERT_FALSE(payload.empty());
  // Every cut of the payload is refused, with nothing applied.
  for (size_t length = 0; length < payload.size(); length += 7) {
    std::vector<BYTE> cut(payload.begin(), payload.begin() + static_cast<long>(length));
    EXPECT_FALSE(Forward(cut)) << length;
  }
  EXPECT_TRUE(AlbumsOf(&forwarding, kUin).empty());
  // A count the payload cannot hold, a negative count, an empty user id.
  EXPECT_FALSE(Forward(Record().Text("10001").Int(0x7FFFFFFF).Int(1).bytes()));
  EXPECT_FALSE(Forward(Record().Text("10001").Int(-1).bytes()));
  EXPECT_FALSE(Forward(Record().Text("").Int(0).bytes()));
  // A string that claims more bytes than there are.
  EXPECT_FALSE(Forward(Record().Text("10001").Int(1).Int(5).Int(1000).bytes()));
  Hold hold(forwarding.AlbumListLock());
  EXPECT_EQ(nullptr, forwarding.FindAlbumList(kUin));
  // An empty list is fine.
  EXPECT_TRUE(Forward(Record().Text("10001").Int(0).bytes()));
  EXPECT_NE(nullptr, forwarding.FindAlbumList(kUin));
}

// ---------------------------------------------------------------- odd tag counts

TEST_F(CmdGetAlbumListTest, NegativeTagCountsAndMissingTagsGiveNoTags) {
  ElementPtr negative = Category(1, "negative");
  negative->children[3]->attributes[0].second = "-3";
  ElementPtr bare = MakeElement("category");  // no tags element, no other child either
  bare->Attr("id", "2").Child("category_name", "bare");
  ElementPtr hollow = Category(3, "hollow");
  hollow->children[3]->attributes[0].second = "3";
  hollow->children[3]->children.clear();  // a count of 3 without tag elements
  ElementPtr lowest = Category(4, "lowest");
  lowest->children[3]->attributes[0].second = "-2147483648";
  ASSERT_EQ(BaseCmd::kStateSucceeded, Fetch(200, ListOf({negative, bare, hollow, lowest})));

  const std::vector<AlbumState> albums = AlbumsOf(session, kUin);
  ASSERT_EQ((std::vector<int>{1, 2, 3, 4}), IdsOf(albums));
  EXPECT_EQ(-3, albums[0].tagNum);
  EXPECT_EQ(0, albums[1].tagNum);
  EXPECT_EQ(L"bare", albums[1].categoryName);
  EXPECT_EQ(L"", albums[1].desc);
  EXPECT_EQ(L"", albums[1].picUrl);
  EXPECT_EQ(3, albums[2].tagNum);
  EXPECT_EQ(-2147483647 - 1, albums[3].tagNum);
  for (const AlbumState& album : albums) {
    for (const std::wstring& tag : album.tags) EXPECT_EQ(L"", tag) << album.id;
  }
  EXPECT_EQ(1, FiledStatus());
}

TEST_F(AlbumListBroadcastTest, OddTagCountsTravelToTheForwardingProcessUnchanged) {
  ElementPtr negative = Category(1, "negative");
  negative->children[3]->attributes[0].second = "-3";
  ElementPtr many = Category(2, "many");
  many->children[3]->attributes[0].second = "100";
  many->children[3]->Child("tag", "second");
  ElementPtr hollow = Category(3, "hollow");
  hollow->children[3]->attributes[0].second = "3";
  hollow->children[3]->children.clear();
  const std::vector<BYTE> payload = ServeFetch(ListOf({negative, many, hollow}), kCommandId);
  ASSERT_FALSE(payload.empty());
  ASSERT_TRUE(Forward(payload));
  EXPECT_EQ(AlbumsOf(session, kUin), AlbumsOf(&forwarding, kUin));
  const std::vector<AlbumState> forwarded = AlbumsOf(&forwarding, kUin);
  ASSERT_EQ(3u, forwarded.size());
  EXPECT_EQ(-3, forwarded[0].tagNum);
  EXPECT_EQ(100, forwarded[1].tagNum);
  EXPECT_EQ(L"second", forwarded[1].tags[1]);
  EXPECT_EQ(3, forwarded[2].tagNum);
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
