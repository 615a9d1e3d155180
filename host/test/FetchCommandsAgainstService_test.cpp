// The plug-in's fetch commands end to end: a whole host with the real plug-in against
// the reference blog service on loopback. Every exchange goes through a recording relay
// in front of the service, so the tests see what the plug-in really sent (the
// conditional header, the paths, the host names) and what the service answered (200,
// 304, 404), and check what ended up in the plug-in's session, its on-disk list cache
// and the host's settings store.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "host/test/BlogServiceFixture.h"
#include "host/test/RecordingRelay.h"
#include "host/test/TestHttpServer.h"
#include "interfaces/IResultOnAlbum.h"
#include "interfaces/IResultOnResComment.h"
#include "interfaces/ISettingsSection.h"
#include "interfaces/ISettingsStore.h"

namespace Velmora {
namespace ZQHost {
namespace {

namespace http = boost::beast::http;
using ZQBlog::Service::AlbumFields;
using ZQBlog::Service::AlbumRecord;
using ZQBlog::Service::ResourceFields;
using ZQBlog::Service::ResourceRecord;

const char kDefaultValidator[] = "Fri, 1 Jun 1000 01:01:01 GMT";
const char kUser[] = "10001";
const wchar_t kWideUser[] = L"10001";

// ---------------------------------------------------------------- the relay

// ---------------------------------------------------------------- helpers

// The plug-in's code for a reply a command could not use.
constexpr int kBadReply = static_cast<int>(0x8007000Du);

// The command ended with a failure notice (first, operation): the reply could not be
// used, and the host is told so instead of waiting for nothing.
void ExpectUnusable(const OperationOutcome& outcome, int first, int operation) {
  ASSERT_EQ(OperationOutcome::Kind::kFailure, outcome.kind) << outcome.Describe();
  EXPECT_EQ(first, outcome.failure_code);
  EXPECT_EQ(operation, outcome.failure_operation);
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

AlbumFields Album(const std::string& name, const std::string& desc, int type, int show,
                  std::vector<std::string> tags, const std::string& pic_url = "") {
  AlbumFields fields;
  fields.name = name;
  fields.desc = desc;
  fields.category_type = type;
  fields.show_status = show;
  fields.tags = std::move(tags);
  fields.pic_url = pic_url;
  return fields;
}

// A content id of 40 upper-case hexadecimal digits made from n.
std::string ContentId(int n, char kind = 'c') {
  static const char kHex[] = "0123456789ABCDEF";
  std::string id;
  for (int i = 0; i < 40; ++i) id += kHex[(n * 7 + i * (kind == 'c' ? 3 : 5)) & 15];
  return id;
}

ResourceFields Resource(int n, const std::string& name, int res_type = 1) {
  ResourceFields fields;
  fields.cid = ContentId(n);
  fields.gcid = ContentId(n, 'g');
  fields.name = name;
  fields.format = "mp4";
  fields.size = std::to_string(1048576 + n);
  fields.url = "http://dl.velmora.cn/" + std::to_string(n);
  fields.original = "http://src.velmora.cn/" + std::to_string(n);
  fields.desc = "about " + name;
  fields.res_type = res_type;
  return fields;
}

std::vector<int> IdsOf(const std::vector<SessionAlbum>& albums) {
  std::vector<int> ids;
  for (const SessionAlbum& album : albums) ids.push_back(album.id);
  return ids;
}

std::vector<int> IdsOf(const std::vector<SessionResource>& resources) {
  std::vector<int> ids;
  for (const SessionResource& resource : resources) ids.push_back(resource.id);
  return ids;
}

// A resource as one line of text, every field the session shows.
std::wstring Dump(const SessionResource& r) {
  return std::to_wstring(r.id) + L"|" + std::to_wstring(r.category_id) + L"|" +
         std::to_wstring(r.state) + L"|" + std::to_wstring(r.res_type) + L"|" + r.cid + L"|" +
         r.gcid + L"|" + r.name + L"|" + r.format + L"|" + r.size + L"|" + r.url + L"|" +
         r.desc + L"|" + r.uin;
}

// An album as lines of text: its fields, then one line per resource.
std::vector<std::wstring> Dump(const SessionAlbum& a) {
  std::wstring head = std::to_wstring(a.id) + L"|" + std::to_wstring(a.show_status) + L"|" +
                      std::to_wstring(a.category_type) + L"|" + std::to_wstring(a.tag_num) +
                      L"|" + std::to_wstring(a.newly_added) + L"|" + a.name + L"|" + a.desc +
                      L"|" + a.pic_url;
  for (const std::wstring& tag : a.tags) head += L"|" + tag;
  std::vector<std::wstring> lines{head};
  for (const SessionResource& r : a.resources) lines.push_back(L"  " + Dump(r));
  return lines;
}

std::vector<std::wstring> Dump(const std::vector<SessionAlbum>& albums) {
  std::vector<std::wstring> lines;
  for (const SessionAlbum& album : albums) {
    for (std::wstring& line : Dump(album)) lines.push_back(std::move(line));
  }
  return lines;
}

// Checks that album shows the service's record as the plug-in reads it.
void ExpectAlbumAsServed(const AlbumRecord& served, const SessionAlbum& album) {
  SCOPED_TRACE("album " + std::to_string(served.id));
  EXPECT_EQ(served.id, album.id);
  EXPECT_EQ(WideFromUtf8(served.fields.name), album.name);
  EXPECT_EQ(WideFromUtf8(served.fields.desc), album.desc);
  EXPECT_EQ(WideFromUtf8(served.fields.pic_url), album.pic_url);
  EXPECT_EQ(served.fields.category_type, album.category_type);
  EXPECT_EQ(served.fields.show_status != 0 ? 1 : 0, album.show_status);
  ASSERT_EQ(static_cast<int>(served.fields.tags.size()), album.tag_num);
  for (size_t i = 0; i < served.fields.tags.size(); ++i) {
    EXPECT_EQ(WideFromUtf8(served.fields.tags[i]), album.tags[i]);
  }
}

// Checks that resource shows the service's record as the plug-in reads it.
void ExpectResourceAsServed(const ResourceRecord& served, const std::wstring& uin,
                            const SessionResource& resource) {
  SCOPED_TRACE("resource " + std::to_string(served.id));
  EXPECT_EQ(served.id, resource.id);
  EXPECT_EQ(WideFromUtf8(served.fields.cid), resource.cid);
  EXPECT_EQ(WideFromUtf8(served.fields.gcid), resource.gcid);
  EXPECT_EQ(WideFromUtf8(served.fields.name), resource.name);
  EXPECT_EQ(WideFromUtf8(served.fields.format), resource.format);
  EXPECT_EQ(WideFromUtf8(served.fields.size), resource.size);
  EXPECT_EQ(WideFromUtf8(served.fields.url), resource.url);
  EXPECT_EQ(WideFromUtf8(served.fields.desc), resource.desc);
  EXPECT_EQ(served.fields.res_type == 0 || served.fields.res_type == 1 ? served.fields.res_type : 2,
            resource.res_type);
  EXPECT_EQ(served.state(), resource.state);
  EXPECT_EQ(served.album_id, resource.category_id);
  EXPECT_EQ(uin, resource.uin);
}

int StatusOf(const OperationOutcome& outcome) {
  int status = -1;
  if (outcome.result) outcome.result->GetStatus(&status);
  return status;
}

int IntOf(const OperationOutcome& outcome, HRESULT (ICommonResult::*get)(int*)) {
  int value = -1;
  if (outcome.result) (outcome.result.p->*get)(&value);
  return value;
}

std::wstring TextOf(const OperationOutcome& outcome, HRESULT (ICommonResult::*get)(BSTR*)) {
  BSTR text = nullptr;
  if (outcome.result) (outcome.result.p->*get)(&text);
  return TakeBstr(text);
}

// ---------------------------------------------------------------- the fixture

class FetchCommandsAgainstServiceTest : public BlogServiceFixture {
 protected:
  void SetUp() override {
    BlogServiceFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    relay_ = std::make_unique<RecordingRelay>(service_.port());
  }
  void TearDown() override {
    BlogServiceFixture::TearDown();  // the host first: no exchange is left in flight
    relay_.reset();
  }

  // Starts the host with every connection going through the relay, signed in as uin.
  void StartRelayedHost(const std::wstring& uin) {
    HostApplicationOptions options = Options();
    options.connect_to = {"127.0.0.1", relay_->port()};
    StartHost(uin, options);
  }

  // The directory and the album list of uin, both expected to deliver status 1.
  void FetchDirectoryAndAlbums(const std::wstring& uin) {
    OperationOutcome directory = RefreshDirectory(uin);
    ASSERT_EQ(OperationOutcome::Kind::kResult, directory.kind) << directory.Describe();
    ASSERT_EQ(1, StatusOf(directory));
    OperationOutcome albums = FetchAlbumList(uin);
    ASSERT_EQ(OperationOutcome::Kind::kResult, albums.kind) << albums.Describe();
    ASSERT_EQ(1, StatusOf(albums));
  }

  // A new sign-in: the session forgets everything (directory, lists, index).
  void NewSession(const std::wstring& uin) {
    ASSERT_EQ(S_OK, blog()->ClearSession());
    ASSERT_EQ(S_OK, host().SignIn(uin));
  }

  OperationOutcome RefreshComment(const std::wstring& key, int number) {
    return Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->RefreshResComment(key.c_str(), number, nullptr, command);
    });
  }

  // The plug-in's cache folder for uin under the host's data root.
  std::filesystem::path CacheFolder(const std::string& uin) const {
    return std::filesystem::path(host_->DataRoot()) / "users" / uin / "BlogCache";
  }

  // A value of the host's settings store; "<none>" when the section or key is missing.
  std::string Setting(const std::string& section_name, const std::string& key) {
    std::wstring wide(section_name.begin(), section_name.end());
    BSTR name = SysAllocString(wide.c_str());
    CComPtr<ISettingsSection> section;
    const HRESULT opened = host().SettingsStore()->OpenSection(name, &section);
    SysFreeString(name);
    if (opened != S_OK || !section) return "<none>";
    char buffer[256] = {};
    int length = sizeof(buffer);
    if (section->ReadValue(key.c_str(), buffer, &length) != S_OK) return "<none>";
    return std::string(buffer, static_cast<size_t>(length));
  }

  bool ResourcesLoaded(const std::wstring& uin, int album_id) {
    bool loaded = false;
    EXPECT_EQ(S_OK, blog()->IsResourceListLoaded(uin.c_str(), album_id, &loaded));
    return loaded;
  }

  std::unique_ptr<RecordingRelay> relay_;
};

// ---------------------------------------------------------------- album list

TEST_F(FetchCommandsAgainstServiceTest, FirstAlbumListSendsTheDefaultValidatorAndFillsSession) {
  store().AddUser(kUser);
  store().AddAlbum(kUser, Album("旅行", "海边和山里", 3, 1, {"海", "山"},
                                "http://pic.velmora.cn/12.jpg"));
  store().AddAlbum(kUser, Album("Hidden", "not shown", 0, 0, {}));
  store().AddAlbum(kUser, Album("Shown 7", "", 1, 7, {"a", "b", "c"}));
  ASSERT_NO_FATAL_FAILURE(StartRelayedHost(kWideUser));

  ASSERT_EQ(OperationOutcome::Kind::kResult, RefreshDirectory(kWideUser).kind);
  OperationOutcome outcome = FetchAlbumList(kWideUser);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(0, outcome.result_kind);
  EXPECT_EQ(1, StatusOf(outcome));
  EXPECT_EQ(2, IntOf(outcome, &ICommonResult::GetOperationIndex));
  EXPECT_EQ(L"获取专辑列表信息", TextOf(outcome, &ICommonResult::GetOperationTitle));
  EXPECT_EQ(std::wstring(kWideUser), TextOf(outcome, &ICommonResult::GetUin));

  // What went over the wire: the default validator to the data host, a full answer.
  const std::vector<RelayedExchange> fetches = relay_->ExchangesFor("/albums.xml");
  ASSERT_EQ(1u, fetches.size());
  EXPECT_EQ("data.velmora.cn", fetches[0].host);
  EXPECT_EQ("/blog/10001/albums.xml", fetches[0].target);
  EXPECT_EQ(kDefaultValidator, fetches[0].if_modified_since);
  EXPECT_EQ(200, fetches[0].status);
  ASSERT_FALSE(fetches[0].last_modified.empty());

  // The session holds the service's albums in its order, every field as served.
  const auto served = store().GetAlbumList(kUser);
  ASSERT_TRUE(served.has_value());
  const std::vector<SessionAlbum> albums = SessionAlbums(kWideUser);
  ASSERT_EQ(served->albums.size(), albums.size());
  for (size_t i = 0; i < albums.size(); ++i) ExpectAlbumAsServed(served->albums[i], albums[i]);
  EXPECT_EQ(L"旅行", albums[0].name);
  EXPECT_EQ((std::vector<std::wstring>{L"海", L"山"}), albums[0].tags);
  EXPECT_EQ(0, albums[1].show_status);
  EXPECT_EQ(1, albums[2].show_status) << "a show status of 7 reads as 1";
  for (const SessionAlbum& album : albums) {
    EXPECT_FALSE(ResourcesLoaded(kWideUser, album.id));
  }

  // The cache: the reply text under the user's folder, its validator in the settings.
  const std::filesystem::path file = CacheFolder(kUser) / "AlbumList_10001.xml";
  ASSERT_TRUE(std::filesystem::exists(file));
  const std::string cached = ReadWholeFile(file);
  EXPECT_NE(std::string::npos, cached.find("旅行")) << cached;
  EXPECT_NE(std::string::npos, cached.find("Shown 7")) << cached;
  EXPECT_EQ(fetches[0].last_modified, Setting(kUser, "AlbumList_10001_Modified"));
}

TEST_F(FetchCommandsAgainstServiceTest, UnchangedListComesFromTheCacheAndWritesShowUpNext) {
  store().AddUser(kUser);
  const int first = store().AddAlbum(kUser, Album("一", "first", 0, 1, {"x"}));
  const int second = store().AddAlbum(kUser, Album("Two", "second", 2, 1, {}));
  ASSERT_NO_FATAL_FAILURE(StartRelayedHost(kWideUser));
  ASSERT_NO_FATAL_FAILURE(FetchDirectoryAndAlbums(kWideUser));
  const std::vector<SessionAlbum> fetched = SessionAlbums(kWideUser);
  ASSERT_EQ((std::vector<int>{first, second}), IdsOf(fetched));
  const std::string validator = relay_->ExchangesFor("/albums.xml").back().last_modified;

  // Nothing changed: the stored validator goes out, the service answers 304, and the
  // stand-alone process applies its cached copy (a result, the same albums).
  OperationOutcome again = FetchAlbumList(kWideUser);
  ASSERT_EQ(OperationOutcome::Kind::kResult, again.kind) << again.Describe();
  EXPECT_EQ(1, StatusOf(again));
  std::vector<RelayedExchange> fetches = relay_->ExchangesFor("/albums.xml");
  ASSERT_EQ(2u, fetches.size());
  EXPECT_EQ(validator, fetches[1].if_modified_since);
  EXPECT_EQ(304, fetches[1].status);
  EXPECT_EQ(0u, fetches[1].body_size);
  EXPECT_EQ(Dump(fetched), Dump(SessionAlbums(kWideUser)));

  // A new sign-in has no list in memory: the 304 rebuilds it from the cache alone.
  ASSERT_NO_FATAL_FAILURE(NewSession(kWideUser));
  EXPECT_TRUE(SessionAlbums(kWideUser).empty());
  ASSERT_NO_FATAL_FAILURE(FetchDirectoryAndAlbums(kWideUser));
  fetches = relay_->ExchangesFor("/albums.xml");
  ASSERT_EQ(3u, fetches.size());
  EXPECT_EQ(304, fetches[2].status);
  EXPECT_EQ(Dump(fetched), Dump(SessionAlbums(kWideUser)));

  // A write on the service moves Last-Modified on: the next fetch gets the whole list
  // and the new album comes in at the end of the session's list.
  AlbumFields created = Album("新专辑", "made on the service", 1, 1, {"新"});
  const auto outcome = store().CreateAlbum(kUser, created);
  ASSERT_TRUE(outcome.ok()) << OutcomeWord(outcome.result);
  OperationOutcome after = FetchAlbumList(kWideUser);
  ASSERT_EQ(OperationOutcome::Kind::kResult, after.kind) << after.Describe();
  fetches = relay_->ExchangesFor("/albums.xml");
  ASSERT_EQ(4u, fetches.size());
  EXPECT_EQ(validator, fetches[3].if_modified_since);
  EXPECT_EQ(200, fetches[3].status);
  ASSERT_FALSE(fetches[3].last_modified.empty());
  EXPECT_NE(validator, fetches[3].last_modified);
  const std::vector<SessionAlbum> albums = SessionAlbums(kWideUser);
  ASSERT_EQ((std::vector<int>{first, second, outcome.category_id}), IdsOf(albums));
  const auto served = store().GetAlbum(outcome.category_id);
  ASSERT_TRUE(served.has_value());
  ExpectAlbumAsServed(*served, albums[2]);
  EXPECT_EQ(fetches[3].last_modified, Setting(kUser, "AlbumList_10001_Modified"));

  // An album removed on the service leaves the session's list with the next fetch.
  ASSERT_TRUE(store().RemoveAlbum(kUser, second).ok());
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchAlbumList(kWideUser).kind);
  EXPECT_EQ((std::vector<int>{first, outcome.category_id}), IdsOf(SessionAlbums(kWideUser)));
  EXPECT_EQ(200, relay_->ExchangesFor("/albums.xml").back().status);
}

// ---------------------------------------------------------------- resource lists

TEST_F(FetchCommandsAgainstServiceTest, ResourceListsReplaceTheAlbumsResourcesAndTheIndex) {
  store().AddUser(kUser);
  const int album = store().AddAlbum(kUser, Album("Films", "", 0, 1, {}));
  const int other = store().AddAlbum(kUser, Album("Other", "", 0, 1, {}));
  const int r1 = store().AddResource(album, Resource(1, "电影一"));
  const int r2 = store().AddResource(album, Resource(2, "film two", 0), true);  // under review
  const int r3 = store().AddResource(album, Resource(3, "film three", 5));
  store().AddResource(other, Resource(9, "elsewhere"));
  ASSERT_NO_FATAL_FAILURE(StartRelayedHost(kWideUser));
  ASSERT_NO_FATAL_FAILURE(FetchDirectoryAndAlbums(kWideUser));
  EXPECT_FALSE(ResourcesLoaded(kWideUser, album));

  OperationOutcome outcome = FetchResourceList(kWideUser, album);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(1, StatusOf(outcome));
  EXPECT_EQ(3, IntOf(outcome, &ICommonResult::GetOperationIndex));
  EXPECT_EQ(album, IntOf(outcome, &ICommonResult::GetCategoryId));
  EXPECT_EQ(L"获取资源列表信息", TextOf(outcome, &ICommonResult::GetOperationTitle));
  const std::string path = "/album/" + std::to_string(album) + ".xml";
  std::vector<RelayedExchange> fetches = relay_->ExchangesFor(path);
  ASSERT_EQ(1u, fetches.size());
  EXPECT_EQ("/blog/10001" + path, fetches[0].target);
  EXPECT_EQ(kDefaultValidator, fetches[0].if_modified_since);
  EXPECT_EQ(200, fetches[0].status);

  // New resources go to the front one by one: the album lists them in the reverse of
  // the service's order, each with every field as served.
  const auto served = store().GetResourceList(kUser, album);
  ASSERT_TRUE(served.has_value());
  ASSERT_EQ(3u, served->resources.size());
  ASSERT_EQ((std::vector<int>{r1, r2, r3}),
            (std::vector<int>{served->resources[0].id, served->resources[1].id,
                              served->resources[2].id}));
  SessionAlbum loaded = SessionAlbumById(kWideUser, album);
  ASSERT_EQ((std::vector<int>{r3, r2, r1}), IdsOf(loaded.resources));
  for (size_t i = 0; i < 3; ++i) {
    ExpectResourceAsServed(served->resources[2 - i], kWideUser, loaded.resources[i]);
  }
  EXPECT_EQ(2, loaded.resources[0].res_type) << "res_type 5 reads as 2";
  EXPECT_EQ(2, loaded.resources[1].state) << "under review";
  EXPECT_TRUE(ResourcesLoaded(kWideUser, album));
  EXPECT_TRUE(SessionAlbumById(kWideUser, other).resources.empty());
  for (int n : {1, 2, 3}) {
    EXPECT_EQ((std::vector<int>{album}), AlbumsByCid(WideFromUtf8(ContentId(n)))) << n;
  }
  EXPECT_TRUE(AlbumsByCid(WideFromUtf8(ContentId(9))).empty()) << "album not fetched";

  // The service drops r2 and gains r4: the album holds exactly the new list, and the
  // index forgets r2's content id and learns r4's.
  ASSERT_TRUE(store().RemoveResources(kUser, album, {r2}).ok());
  const int r4 = store().AddResource(album, Resource(4, "film four"));
  outcome = FetchResourceList(kWideUser, album);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  fetches = relay_->ExchangesFor(path);
  ASSERT_EQ(2u, fetches.size());
  EXPECT_EQ(fetches[0].last_modified, fetches[1].if_modified_since);
  EXPECT_EQ(200, fetches[1].status);
  loaded = SessionAlbumById(kWideUser, album);
  EXPECT_EQ((std::vector<int>{r4, r3, r1}), IdsOf(loaded.resources));
  EXPECT_TRUE(AlbumsByCid(WideFromUtf8(ContentId(2))).empty());
  EXPECT_EQ((std::vector<int>{album}), AlbumsByCid(WideFromUtf8(ContentId(4))));
  EXPECT_EQ((std::vector<int>{album}), AlbumsByCid(WideFromUtf8(ContentId(1)))) << "not doubled";
  EXPECT_EQ(fetches[1].last_modified,
            Setting(kUser, "Album_" + std::to_string(album) + "_Modified"));
  const std::string cached =
      ReadWholeFile(CacheFolder(kUser) / ("Album_" + std::to_string(album) + ".xml"));
  EXPECT_NE(std::string::npos, cached.find("film four")) << cached;
  EXPECT_EQ(std::string::npos, cached.find("film two")) << cached;

  // Unchanged: 304, and the stand-alone process applies the cached copy again.
  outcome = FetchResourceList(kWideUser, album);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(1, StatusOf(outcome));
  EXPECT_EQ(304, relay_->ExchangesFor(path).back().status);
  EXPECT_EQ(Dump(loaded), Dump(SessionAlbumById(kWideUser, album)));
  EXPECT_EQ((std::vector<int>{album}), AlbumsByCid(WideFromUtf8(ContentId(1))));
}

TEST_F(FetchCommandsAgainstServiceTest, TheUserWwwKeepsItsResourcesAndLeavesTheIndexAlone) {
  // The service takes "www" as an ordinary user id.
  store().AddUser("www");
  const int album = store().AddAlbum("www", Album("Site", "", 0, 1, {}));
  const int r1 = store().AddResource(album, Resource(1, "kept"));
  ASSERT_NO_FATAL_FAILURE(StartRelayedHost(L"www"));
  ASSERT_NO_FATAL_FAILURE(FetchDirectoryAndAlbums(L"www"));
  OperationOutcome outcome = FetchResourceList(L"www", album);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(1, StatusOf(outcome));
  SessionAlbum loaded = SessionAlbumById(L"www", album);
  ASSERT_EQ((std::vector<int>{r1}), IdsOf(loaded.resources));
  EXPECT_EQ(L"www", loaded.resources[0].uin);
  EXPECT_TRUE(AlbumsByCid(WideFromUtf8(ContentId(1))).empty()) << "www never touches the index";

  // The service drops r1, gains r2 and renames nothing: for www the old resource stays
  // and only the unknown one is added, at the front.
  const int r2 = store().AddResource(album, Resource(2, "added"));
  ASSERT_TRUE(store().RemoveResources("www", album, {r1}).ok());
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchResourceList(L"www", album).kind);
  EXPECT_EQ(200, relay_->ExchangesFor("/album/" + std::to_string(album) + ".xml").back().status);
  loaded = SessionAlbumById(L"www", album);
  EXPECT_EQ((std::vector<int>{r2, r1}), IdsOf(loaded.resources));
  EXPECT_EQ(L"kept", loaded.resources[1].name);
  EXPECT_TRUE(AlbumsByCid(WideFromUtf8(ContentId(2))).empty());
}

TEST_F(FetchCommandsAgainstServiceTest, NotFoundEmptiesTheAlbum) {
  store().AddUser(kUser);
  const int album = store().AddAlbum(kUser, Album("Doomed", "", 0, 1, {}));
  const int kept = store().AddAlbum(kUser, Album("Kept", "", 0, 1, {}));
  const int r1 = store().AddResource(album, Resource(1, "one"));
  const int r2 = store().AddResource(album, Resource(2, "two"));
  store().AddResource(kept, Resource(1, "one elsewhere"));
  ASSERT_NO_FATAL_FAILURE(StartRelayedHost(kWideUser));
  ASSERT_NO_FATAL_FAILURE(FetchDirectoryAndAlbums(kWideUser));
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchResourceList(kWideUser, album).kind);
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchResourceList(kWideUser, kept).kind);
  ASSERT_EQ((std::vector<int>{r2, r1}), IdsOf(SessionAlbumById(kWideUser, album).resources));
  ASSERT_EQ((std::vector<int>{album, kept}), AlbumsByCid(WideFromUtf8(ContentId(1))));

  // The album is emptied and removed on the service; the session still knows it.
  ASSERT_TRUE(store().RemoveResources(kUser, album, {r1, r2}).ok());
  ASSERT_TRUE(store().RemoveAlbum(kUser, album).ok());
  OperationOutcome outcome = FetchResourceList(kWideUser, album);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(1, StatusOf(outcome));
  EXPECT_EQ(album, IntOf(outcome, &ICommonResult::GetCategoryId));
  EXPECT_EQ(404, relay_->ExchangesFor("/album/" + std::to_string(album) + ".xml").back().status);
  const SessionAlbum emptied = SessionAlbumById(kWideUser, album);
  EXPECT_EQ(album, emptied.id);
  EXPECT_TRUE(emptied.resources.empty());
  EXPECT_TRUE(ResourcesLoaded(kWideUser, album));
  EXPECT_EQ((std::vector<int>{kept}), AlbumsByCid(WideFromUtf8(ContentId(1))))
      << "the emptied album no longer holds the content";
  EXPECT_TRUE(AlbumsByCid(WideFromUtf8(ContentId(2))).empty());
  EXPECT_EQ(1u, SessionAlbumById(kWideUser, kept).resources.size());

  // The next album list fetch drops the album itself.
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchAlbumList(kWideUser).kind);
  EXPECT_EQ((std::vector<int>{kept}), IdsOf(SessionAlbums(kWideUser)));
}

// ---------------------------------------------------------------- Cid.dat

TEST_F(FetchCommandsAgainstServiceTest, CidDatFillsTheIndexInTableOrder) {
  store().AddUser(kUser);
  const int a = store().AddAlbum(kUser, Album("A", "", 0, 1, {}));
  const int b = store().AddAlbum(kUser, Album("B", "", 0, 1, {}));
  const int c = store().AddAlbum(kUser, Album("C", "", 0, 1, {}));
  store().AddResource(c, Resource(1, "shared in c"));
  store().AddResource(a, Resource(1, "shared in a"));
  store().AddResource(b, Resource(2, "only b"));
  store().AddResource(c, Resource(3, "only c"));
  store().AddUser("20002");  // a blog without resources
  ASSERT_NO_FATAL_FAILURE(StartRelayedHost(kWideUser));
  ASSERT_EQ(OperationOutcome::Kind::kResult, RefreshDirectory(kWideUser).kind);
  EXPECT_TRUE(AlbumsByCid(WideFromUtf8(ContentId(1))).empty());

  OperationOutcome outcome = FetchCidDat(kWideUser);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(1, StatusOf(outcome));
  EXPECT_EQ(1, IntOf(outcome, &ICommonResult::GetOperationIndex));
  EXPECT_EQ(L"获取Cid.dat文件信息", TextOf(outcome, &ICommonResult::GetOperationTitle));
  std::vector<RelayedExchange> fetches = relay_->ExchangesFor("/Cid.dat");
  ASSERT_EQ(1u, fetches.size());
  EXPECT_EQ("data.velmora.cn", fetches[0].host);
  EXPECT_EQ("/cid/10001/Cid.dat", fetches[0].target);
  EXPECT_EQ("<none>", fetches[0].if_modified_since) << "Cid.dat is not conditional";
  EXPECT_EQ(200, fetches[0].status);
  EXPECT_EQ(4u * 24u, fetches[0].body_size);

  // The service lists the table album by album; the index keeps that order per key.
  EXPECT_EQ((std::vector<int>{a, c}), AlbumsByCid(WideFromUtf8(ContentId(1))));
  EXPECT_EQ((std::vector<int>{b}), AlbumsByCid(WideFromUtf8(ContentId(2))));
  EXPECT_EQ((std::vector<int>{c}), AlbumsByCid(WideFromUtf8(ContentId(3))));
  std::wstring lower = WideFromUtf8(ContentId(1));
  std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
  EXPECT_TRUE(AlbumsByCid(lower).empty()) << "keys are upper-case hexadecimal";
  // A caller's array that is too small gets the count it needs.
  int ids[1] = {0};
  int count = 1;
  EXPECT_EQ(E_OUTOFMEMORY, blog()->GetAlbumsByCid(WideFromUtf8(ContentId(1)).c_str(), ids, &count));
  EXPECT_EQ(2, count);

  // A second fetch of the same table adds every pair again.
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchCidDat(kWideUser).kind);
  EXPECT_EQ((std::vector<int>{a, c, a, c}), AlbumsByCid(WideFromUtf8(ContentId(1))));
  EXPECT_EQ((std::vector<int>{b, b}), AlbumsByCid(WideFromUtf8(ContentId(2))));

  // A user without content ids: 404, a result with status 1, nothing added.
  ASSERT_EQ(OperationOutcome::Kind::kResult, RefreshDirectory(L"20002").kind);
  OperationOutcome none = FetchCidDat(L"20002");
  ASSERT_EQ(OperationOutcome::Kind::kResult, none.kind) << none.Describe();
  EXPECT_EQ(1, StatusOf(none));
  EXPECT_EQ(404, relay_->ExchangesFor("/Cid.dat").back().status);
  EXPECT_EQ((std::vector<int>{a, c, a, c}), AlbumsByCid(WideFromUtf8(ContentId(1))));
}

// ---------------------------------------------------------------- comment counts

TEST_F(FetchCommandsAgainstServiceTest, CommentCountReachesTheSettingsAndTheResult) {
  store().AddUser(kUser);
  store().SetCommentCount("KEY1", 42);
  ASSERT_NO_FATAL_FAILURE(StartRelayedHost(kWideUser));

  OperationOutcome outcome = RefreshComment(L"KEY1", 77);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(3, outcome.result_kind);
  EXPECT_EQ(1, StatusOf(outcome));
  EXPECT_EQ(42, IntOf(outcome, &ICommonResult::GetCategoryId)) << "the count";
  EXPECT_EQ(std::wstring(kWideUser), TextOf(outcome, &ICommonResult::GetUin));
  CComPtr<IResultOnResComment> comment;
  ASSERT_EQ(S_OK, outcome.result.QueryInterface(&comment));
  int number = -1;
  comment->GetRequestNumber(&number);
  EXPECT_EQ(77, number);
  BSTR key = nullptr;
  comment->GetResourceKey(&key);
  EXPECT_EQ(L"KEY1", TakeBstr(key));

  const std::vector<RelayedExchange> asked = relay_->ExchangesFor("/comment/KEY1");
  ASSERT_EQ(1u, asked.size());
  EXPECT_EQ("comment.velmora.cn", asked[0].host);
  EXPECT_EQ("/comment/KEY1", asked[0].target);
  EXPECT_EQ("Close", asked[0].connection);
  EXPECT_EQ(200, asked[0].status);

  // The count is in the settings section named by the user id and "CID", under the
  // key, where the plug-in's own query finds it.
  EXPECT_EQ("42", Setting("10001CID", "KEY1"));
  int value = -1;
  EXPECT_EQ(S_OK, blog()->GetCidValue(L"KEY1", &value));
  EXPECT_EQ(42, value);

  // A later count replaces it; a key without comments counts 0.
  store().SetCommentCount("KEY1", 5);
  outcome = RefreshComment(L"KEY1", 78);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(5, IntOf(outcome, &ICommonResult::GetCategoryId));
  EXPECT_EQ("5", Setting("10001CID", "KEY1"));
  outcome = RefreshComment(L"NOCOMMENTS", 1);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(1, StatusOf(outcome));
  EXPECT_EQ(0, IntOf(outcome, &ICommonResult::GetCategoryId));
  EXPECT_EQ("0", Setting("10001CID", "NOCOMMENTS"));
  EXPECT_EQ("5", Setting("10001CID", "KEY1"));
}

// ---------------------------------------------------------------- a vanished cache

TEST_F(FetchCommandsAgainstServiceTest, NotModifiedWithTheCacheFileGoneEndsQuietly) {
  store().AddUser(kUser);
  const int album = store().AddAlbum(kUser, Album("Only", "", 0, 1, {}));
  const int r1 = store().AddResource(album, Resource(1, "one"));
  ASSERT_NO_FATAL_FAILURE(StartRelayedHost(kWideUser));
  ASSERT_NO_FATAL_FAILURE(FetchDirectoryAndAlbums(kWideUser));
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchResourceList(kWideUser, album).kind);
  const std::vector<SessionAlbum> before = SessionAlbums(kWideUser);
  ASSERT_EQ(1u, before.size());
  ASSERT_EQ((std::vector<int>{r1}), IdsOf(before[0].resources));

  const std::string album_path = "/album/" + std::to_string(album) + ".xml";
  const std::filesystem::path list_file = CacheFolder(kUser) / "AlbumList_10001.xml";
  const std::filesystem::path album_file =
      CacheFolder(kUser) / ("Album_" + std::to_string(album) + ".xml");
  // The cache file disappears after the request went out with its validator.
  auto remove_on = [this](std::string suffix, std::filesystem::path file) {
    relay_->SetHook([suffix, file](const std::string& target) {
      if (EndsWith(target, suffix)) std::filesystem::remove(file);
    });
  };

  // Album list, list in memory, stand-alone: the 304 finds no cached copy, so there is
  // no result; the host hears that the reply could not be used, and the session keeps
  // its list.
  remove_on("/albums.xml", list_file);
  OperationOutcome outcome = FetchAlbumList(kWideUser);
  ExpectUnusable(outcome, kBadReply, 2);
  EXPECT_EQ(5, outcome.final_state);
  EXPECT_EQ(304, relay_->ExchangesFor("/albums.xml").back().status);
  EXPECT_EQ(Dump(before), Dump(SessionAlbums(kWideUser)));

  // Resource list of a loaded album, stand-alone: a result with status 1 all the same,
  // the album unchanged.
  remove_on(album_path, album_file);
  outcome = FetchResourceList(kWideUser, album);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(1, StatusOf(outcome));
  EXPECT_EQ(304, relay_->ExchangesFor(album_path).back().status);
  EXPECT_EQ(Dump(before), Dump(SessionAlbums(kWideUser)));
  relay_->SetHook(nullptr);

  // With the files gone, the next fetches send the default validator and get the
  // lists whole again, in a new session as well.
  ASSERT_NO_FATAL_FAILURE(NewSession(kWideUser));
  ASSERT_NO_FATAL_FAILURE(FetchDirectoryAndAlbums(kWideUser));
  EXPECT_EQ(kDefaultValidator, relay_->ExchangesFor("/albums.xml").back().if_modified_since);
  EXPECT_EQ(200, relay_->ExchangesFor("/albums.xml").back().status);
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchResourceList(kWideUser, album).kind);
  EXPECT_EQ(kDefaultValidator, relay_->ExchangesFor(album_path).back().if_modified_since);
  EXPECT_EQ(Dump(before), Dump(SessionAlbums(kWideUser)));

  // A new session whose album was never loaded: the 304 without a cached copy gives
  // no result (a failure notice) and leaves the album unloaded.
  ASSERT_NO_FATAL_FAILURE(NewSession(kWideUser));
  ASSERT_NO_FATAL_FAILURE(FetchDirectoryAndAlbums(kWideUser));
  remove_on(album_path, album_file);
  outcome = FetchResourceList(kWideUser, album);
  relay_->SetHook(nullptr);
  ExpectUnusable(outcome, album, 3);
  EXPECT_EQ(5, outcome.final_state);
  EXPECT_EQ(304, relay_->ExchangesFor(album_path).back().status);
  EXPECT_FALSE(ResourcesLoaded(kWideUser, album));
  EXPECT_TRUE(SessionAlbumById(kWideUser, album).resources.empty());

  // And with no list in memory the album list's 304 without a copy leaves no list.
  ASSERT_NO_FATAL_FAILURE(NewSession(kWideUser));
  ASSERT_EQ(OperationOutcome::Kind::kResult, RefreshDirectory(kWideUser).kind);
  remove_on("/albums.xml", list_file);
  outcome = FetchAlbumList(kWideUser);
  relay_->SetHook(nullptr);
  ExpectUnusable(outcome, kBadReply, 2);
  EXPECT_EQ(304, relay_->ExchangesFor("/albums.xml").back().status);
  CComPtr<IZQAlbumListInfo> list;
  EXPECT_EQ(E_FAIL, blog()->GetAlbumListInfo(kWideUser, &list));
}

// ---------------------------------------------------------------- broken servers

// A server that answers with broken or hostile replies, through the host's real HTTP
// service and XML parser: each reply gives a defined outcome, never a crash, and never
// leaves the session or the cache half changed.
TEST_F(FetchCommandsAgainstServiceTest, BrokenRepliesGiveDefinedOutcomes) {
  store().AddUser(kUser);
  const int album = store().AddAlbum(kUser, Album("Real", "served", 0, 1, {"t"}));
  store().AddResource(album, Resource(1, "one"));
  ASSERT_NO_FATAL_FAILURE(StartRelayedHost(kWideUser));
  ASSERT_NO_FATAL_FAILURE(FetchDirectoryAndAlbums(kWideUser));
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchResourceList(kWideUser, album).kind);
  const std::vector<SessionAlbum> before = SessionAlbums(kWideUser);
  const std::string list_validator = Setting(kUser, "AlbumList_10001_Modified");
  ASSERT_NE("<none>", list_validator);
  const std::string album_path = "/album/" + std::to_string(album) + ".xml";
  const std::string album_key = "Album_" + std::to_string(album) + "_Modified";
  const std::string album_validator = Setting(kUser, album_key);
  const std::string cached_list = ReadWholeFile(CacheFolder(kUser) / "AlbumList_10001.xml");
  const char kLater[] = "Wed, 30 Dec 2026 10:00:00 GMT";

  // An album list that is no XML: the command fails with a failure notice, and neither
  // the session nor the cache (body or validator) takes anything from it.
  ScriptedReply garbage;
  garbage.body = "not xml at all <categories>";
  garbage.last_modified = kLater;
  relay_->Script("/albums.xml", garbage);
  OperationOutcome outcome = FetchAlbumList(kWideUser);
  ExpectUnusable(outcome, kBadReply, 2);
  EXPECT_EQ(6, outcome.final_state);
  EXPECT_EQ(Dump(before), Dump(SessionAlbums(kWideUser)));
  EXPECT_EQ(list_validator, Setting(kUser, "AlbumList_10001_Modified"));
  EXPECT_EQ(cached_list, ReadWholeFile(CacheFolder(kUser) / "AlbumList_10001.xml"));

  // A 9 MiB album list parses, but its text does not fit the largest buffer (8 MiB):
  // the same outcome.
  ScriptedReply huge;
  huge.body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><categories><category id=\"55\">"
              "<category_name>big</category_name><desc>" +
              std::string(9u << 20, 'x') + "</desc></category></categories>";
  huge.last_modified = kLater;
  relay_->Script("/albums.xml", huge);
  outcome = FetchAlbumList(kWideUser);
  ExpectUnusable(outcome, kBadReply, 2);
  EXPECT_EQ(6, outcome.final_state);
  EXPECT_EQ(huge.body.size(), relay_->ExchangesFor("/albums.xml").back().body_size);
  EXPECT_EQ(Dump(before), Dump(SessionAlbums(kWideUser)));
  EXPECT_EQ(list_validator, Setting(kUser, "AlbumList_10001_Modified"));
  EXPECT_EQ(cached_list, ReadWholeFile(CacheFolder(kUser) / "AlbumList_10001.xml"));

  // Missing ids, words where numbers belong, a tag count beyond the tags given: read as
  // plain decimals, and the count kept with the tags there are.
  ScriptedReply odd;
  odd.body =
      "<categories>"
      "<category><category_name>no id</category_name></category>"
      "<category id=\"7x\" category_type=\"x9\" show_status=\"no\">"
      "<category_name>words</category_name></category>"
      "<category id=\"3\" category_type=\"2\" show_status=\"1\"><category_name>many</category_name>"
      "<tags tag_num=\"100\"><tag>a</tag><tag>b</tag></tags></category>"
      "</categories>";
  odd.last_modified = kLater;
  relay_->Script("/albums.xml", odd);
  outcome = FetchAlbumList(kWideUser);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(1, StatusOf(outcome));
  std::vector<SessionAlbum> albums = SessionAlbums(kWideUser);
  ASSERT_EQ((std::vector<int>{0, 7, 3}), IdsOf(albums));
  EXPECT_EQ(L"no id", albums[0].name);
  EXPECT_EQ(0, albums[1].category_type);
  EXPECT_EQ(0, albums[1].show_status);
  EXPECT_EQ(100, albums[2].tag_num);
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L""}), albums[2].tags);
  EXPECT_EQ(kLater, Setting(kUser, "AlbumList_10001_Modified")) << "a whole reply is cached";
  relay_->ClearScripts();

  // The real list again (the service's answer to the later validator is 304, so the
  // cached odd list would stay): a new session with the cache entry gone.
  std::filesystem::remove(CacheFolder(kUser) / "AlbumList_10001.xml");
  ASSERT_NO_FATAL_FAILURE(NewSession(kWideUser));
  ASSERT_NO_FATAL_FAILURE(FetchDirectoryAndAlbums(kWideUser));
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchResourceList(kWideUser, album).kind);
  ASSERT_EQ(Dump(before), Dump(SessionAlbums(kWideUser)));

  // A resource list that is no XML: failed, the album and the index as they were.
  garbage.body = "{\"resources\": []}";
  relay_->Script(album_path, garbage);
  outcome = FetchResourceList(kWideUser, album);
  ExpectUnusable(outcome, album, 3);
  EXPECT_EQ(6, outcome.final_state);
  EXPECT_EQ(Dump(before), Dump(SessionAlbums(kWideUser)));
  EXPECT_EQ((std::vector<int>{album}), AlbumsByCid(WideFromUtf8(ContentId(1))));
  EXPECT_EQ(album_validator, Setting(kUser, album_key));

  // A Cid.dat of 47 bytes: one whole record, the partial one ignored.
  ScriptedReply table;
  table.content_type = "application/octet-stream";
  for (int i = 0; i < 20; ++i) table.body += static_cast<char>(0xA0 + i);
  table.body += std::string("\x05\x00\x00\x00", 4);
  table.body += std::string(23, '\x7F');
  ASSERT_EQ(47u, table.body.size());
  relay_->Script("/Cid.dat", table);
  outcome = FetchCidDat(kWideUser);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(1, StatusOf(outcome));
  EXPECT_EQ((std::vector<int>{5}), AlbumsByCid(L"A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3"));

  // A comment body of letters: a count of 0 with status 1, stored as such.
  ScriptedReply letters;
  letters.content_type = "text/plain";
  letters.body = "many comments";
  relay_->Script("/comment/KEY9", letters);
  outcome = RefreshComment(L"KEY9", 9);
  ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
  EXPECT_EQ(1, StatusOf(outcome));
  EXPECT_EQ(0, IntOf(outcome, &ICommonResult::GetCategoryId));
  EXPECT_EQ("0", Setting("10001CID", "KEY9"));
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
