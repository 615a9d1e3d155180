#include "session/BlogSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "data/BstrText.h"
#include "data/ResultOnAlbum.h"
#include "test/SessionTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using session_testing::RecordingFailureSink;
using session_testing::RecordingResultSink;
using session_testing::TestSession;


ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

CComPtr<ICommonResult> NewResult(int status) {
  CComObject<ResultOnAlbum>* object = nullptr;
  EXPECT_EQ(S_OK, CComObject<ResultOnAlbum>::CreateInstance(&object));
  CComPtr<ICommonResult> result(static_cast<IResultOnAlbum*>(object));
  result->SetStatus(status);
  return result;
}

// Adds a resource with id and cid at the front of album.
IZQResInfo* AddResource(AlbumInfo* album, int id, const wchar_t* cid) {
  ResourceInfo* resource = album->NewResource();
  resource->SetId(id);
  resource->SetCid(cid);
  return resource;
}

std::vector<int> Query(BlogSession_& session, const std::wstring& cid) {
  int count = 0;
  HRESULT hr = session.QueryAlbumsByCid(cid, nullptr, &count);
  if (hr == E_FAIL) return {-1};
  std::vector<int> ids(static_cast<size_t>(count) + 1, -7);
  int capacity = count;
  EXPECT_EQ(S_OK, session.QueryAlbumsByCid(cid, ids.data(), &capacity));
  EXPECT_EQ(count, capacity);
  EXPECT_EQ(-7, ids[static_cast<size_t>(count)]) << "wrote past the count";
  ids.resize(static_cast<size_t>(count));
  return ids;
}

std::unique_ptr<ServerDirectoryRecord> Record(const std::wstring& cidDat, const std::wstring& albums,
                                              const std::wstring& resources) {
  std::unique_ptr<ServerDirectoryRecord> record(new ServerDirectoryRecord());
  record->Opened = true;
  record->CidDatUrl = cidDat;
  record->AlbumListUrl = albums;
  record->ResourceListUrl = resources;
  return record;
}

TEST(BlogSessionTest, InstanceIsOneObject) {
  BlogSession_* session = BlogSession_::Instance();
  ASSERT_NE(nullptr, session);
  EXPECT_EQ(session, BlogSession_::Instance());
}

// ---------------------------------------------------------------- album lists

TEST(BlogSessionTest, AlbumListsAreFoundCreatedOnceAndHeldByOneReference) {
  TestSession session;
  Hold hold(session.AlbumListLock());
  EXPECT_EQ(nullptr, session.FindAlbumList(L"u1"));
  AlbumListInfo* list = session.GetOrCreateAlbumList(L"u1");
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(1u, RefCount(list));
  EXPECT_EQ(list, session.GetOrCreateAlbumList(L"u1"));
  EXPECT_EQ(list, session.FindAlbumList(L"u1"));
  EXPECT_EQ(nullptr, session.FindAlbumList(L"U1"));  // ordinary, case-sensitive keys
  EXPECT_NE(list, session.GetOrCreateAlbumList(L"u2"));
}

TEST(BlogSessionTest, FindAlbumAndResourceAnswerNullForEveryMissingLevel) {
  TestSession session;
  Hold hold(session.AlbumListLock());
  EXPECT_EQ(nullptr, session.FindAlbum(L"u", 1));
  EXPECT_EQ(nullptr, session.FindResourceInAlbum(L"u", 1, 1));
  AlbumListInfo* list = session.GetOrCreateAlbumList(L"u");
  AlbumInfo* album = list->NewAlbum();
  album->SetId(7);
  IZQResInfo* resource = AddResource(album, 70, L"C70");
  EXPECT_EQ(album, session.FindAlbum(L"u", 7));
  EXPECT_EQ(1u, RefCount(album)) << "the lookup must not keep a reference";
  EXPECT_EQ(nullptr, session.FindAlbum(L"u", 8));
  EXPECT_EQ(resource, session.FindResourceInAlbum(L"u", 7, 70));
  EXPECT_EQ(nullptr, session.FindResourceInAlbum(L"u", 7, 71));
  EXPECT_EQ(nullptr, session.FindResourceInAlbum(L"u", 8, 70));
  EXPECT_EQ(nullptr, session.FindResourceInAlbum(L"v", 7, 70));
}

// ---------------------------------------------------------------- server directory

TEST(BlogSessionTest, DirectoryRecordsAreReplacedAndRemoved) {
  TestSession session;
  Hold hold(session.ServerLock());
  EXPECT_EQ(nullptr, session.FindServerEntry(L"u"));
  session.StoreServerEntry(L"u", Record(L"a", L"b", L"c"));
  ServerDirectoryRecord* first = session.FindServerEntry(L"u");
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(L"b", first->AlbumListUrl);
  session.StoreServerEntry(L"u", std::unique_ptr<ServerDirectoryRecord>(first));  // itself
  ASSERT_EQ(first, session.FindServerEntry(L"u"));
  session.StoreServerEntry(L"u", Record(L"x", L"y", L"z"));
  ASSERT_NE(nullptr, session.FindServerEntry(L"u"));
  EXPECT_EQ(L"y", session.FindServerEntry(L"u")->AlbumListUrl);
  session.StoreServerEntry(L"u", nullptr);
  EXPECT_EQ(nullptr, session.FindServerEntry(L"u"));
}

TEST(BlogSessionTest, EndpointsByIndexAndByOperationName) {
  TestSession session;
  std::string host = "keep-host";
  std::string path = "keep-path";
  EXPECT_TRUE(session.GetOperationEndpoint(0, &host, &path));
  EXPECT_EQ("", host);  // empty until the directory names it
  {
    Hold hold(session.ServerLock());
    EXPECT_TRUE(session.SetOperationEndpoint(6, L"w.velmora.cn", L"/move"));
    EXPECT_FALSE(session.SetOperationEndpoint(7, L"h", L"p"));
    EXPECT_FALSE(session.SetOperationEndpoint(-1, L"h", L"p"));
  }
  EXPECT_TRUE(session.GetOperationEndpoint(6, &host, &path));
  EXPECT_EQ("w.velmora.cn", host);
  EXPECT_EQ("/move", path);
  for (int bad : {7, -1, 1000}) {
    host = "keep-host";
    path = "keep-path";
    EXPECT_FALSE(session.GetOperationEndpoint(bad, &host, &path)) << bad;
    EXPECT_EQ("keep-host", host);
    EXPECT_EQ("keep-path", path);
  }
  EXPECT_EQ(0, EndpointIndexOf(L"resource_batch_collect"));
  EXPECT_EQ(1, EndpointIndexOf(L"resource_batch_remove"));
  EXPECT_EQ(2, EndpointIndexOf(L"category_delete"));
  EXPECT_EQ(3, EndpointIndexOf(L"category_create"));
  EXPECT_EQ(4, EndpointIndexOf(L"category_update"));
  EXPECT_EQ(5, EndpointIndexOf(L"resource_update"));
  EXPECT_EQ(6, EndpointIndexOf(L"resource_batch_move"));
  EXPECT_EQ(-1, EndpointIndexOf(L"resource_update "));  // a stray trailing space
  EXPECT_EQ(-1, EndpointIndexOf(L"Resource_update"));
  EXPECT_EQ(-1, EndpointIndexOf(L""));
}

TEST(BlogSessionTest, UrlSplitsGiveHostThroughTheDomainAndPathAfterIt) {
  TestSession session;
  {
    Hold hold(session.ServerLock());
    session.StoreServerEntry(
        L"u", Record(L"http://data.velmora.cn/cid/u/Cid.dat", L"http://blog.velmora.cn/u/albums.xml",
                     L"http://blog.velmora.cn/u/album_<id>.xml"));
  }
  std::string host;
  std::string path;
  ASSERT_TRUE(session.SplitCidDatUrl(L"u", &host, &path));
  EXPECT_EQ("data.velmora.cn", host);
  EXPECT_EQ("/cid/u/Cid.dat", path);
  ASSERT_TRUE(session.SplitAlbumListUrl(L"u", &host, &path));
  EXPECT_EQ("blog.velmora.cn", host);
  EXPECT_EQ("/u/albums.xml", path);
  ASSERT_TRUE(session.SplitResourceListUrl(L"u", 12, &host, &path));
  EXPECT_EQ("blog.velmora.cn", host);
  EXPECT_EQ("/u/album_12.xml", path);
  ASSERT_TRUE(session.SplitResourceListUrl(L"u", -3, &host, &path));
  EXPECT_EQ("/u/album_-3.xml", path);

  host = "keep";
  path = "keep";
  EXPECT_FALSE(session.SplitAlbumListUrl(L"nobody", &host, &path));
  EXPECT_FALSE(session.SplitResourceListUrl(L"nobody", 1, &host, &path));
  EXPECT_EQ("keep", host);
  EXPECT_EQ("keep", path);
}

TEST(BlogSessionTest, UrlSplitsOfOddUrls) {
  TestSession session;
  struct Case {
    const wchar_t* url;
    bool ok;
    const char* host;
    const char* path;
  } cases[] = {
      // The domain twice: split at the first occurrence.
      {L"http://blog.velmora.cn/velmora.cn/list.xml", true, "blog.velmora.cn", "/velmora.cn/list.xml"},
      {L"http://velmora.cn", true, "velmora.cn", ""},
      {L"http://blog.velmora.cn:8080/x", true, "blog.velmora.cn", ":8080/x"},
      {L"https://blog.velmora.cn/x", true, "blog.velmora.cn", "/x"},
      {L"blog.velmora.cn/x", true, "blog.velmora.cn", "/x"},
      {L"http://blog.example.com/x", false, "", ""},
      {L"", false, "", ""},
      {L"http://other.example/velmora.cn/x", false, "", ""},  // the domain is not the host's
      {L"http://other.example/?h=velmora.cn", false, "", ""},
      {L"http://blog.velmora.c", false, "", ""},
  };
  for (const Case& c : cases) {
    {
      Hold hold(session.ServerLock());
      session.StoreServerEntry(L"u", Record(c.url, c.url, L""));
    }
    std::string host = "keep";
    std::string path = "keep";
    EXPECT_EQ(c.ok, session.SplitAlbumListUrl(L"u", &host, &path)) << std::string(c.host);
    if (c.ok) {
      EXPECT_EQ(c.host, host);
      EXPECT_EQ(c.path, path);
    } else {
      EXPECT_EQ("keep", host);
      EXPECT_EQ("keep", path);
    }
  }
}

TEST(BlogSessionTest, ResourceListPlaceholderIsTheFirstAngleBracketPair) {
  TestSession session;
  struct Case {
    const wchar_t* url;
    bool ok;
    const char* path;
  } cases[] = {
      {L"http://b.velmora.cn/<a>/<b>.xml", true, "/5/<b>.xml"},
      {L"http://b.velmora.cn/x>y/<id>.xml", true, "/x>y/5.xml"},
      {L"http://b.velmora.cn/<>.xml", true, "/5.xml"},
      {L"http://b.velmora.cn/list.xml", false, ""},
      {L"http://b.velmora.cn/<open.xml", false, ""},
      {L"http://b.velmora.cn/close>.xml", false, ""},
  };
  for (const Case& c : cases) {
    {
      Hold hold(session.ServerLock());
      session.StoreServerEntry(L"u", Record(L"", L"", c.url));
    }
    std::string host = "keep";
    std::string path = "keep";
    EXPECT_EQ(c.ok, session.SplitResourceListUrl(L"u", 5, &host, &path)) << c.path;
    EXPECT_EQ(c.ok ? std::string(c.path) : std::string("keep"), path);
  }
}

// ---------------------------------------------------------------- content-id index

class CidIndexOfSessionTest : public ::testing::Test {
 protected:
  // Adds the pairs to the session's index in order.
  void AddCidPairs(const std::vector<CidIndex::Pair>& pairs) {
    for (const CidIndex::Pair& pair : pairs) session_.AddCidPair(pair.first, pair.second);
  }

  void SetUp() override {
    Hold hold(session_.AlbumListLock());
    AlbumListInfo* list = session_.GetOrCreateAlbumList(L"me");
    album_ = list->NewAlbum();
    album_->SetId(10);
    AddResource(album_, 1, L"AAAA");
    AddResource(album_, 2, L"BBBB");
    AddResource(album_, 3, L"AAAA");  // the same content twice in one album
  }

  TestSession session_;
  AlbumInfo* album_ = nullptr;
};

TEST_F(CidIndexOfSessionTest, QueryOnAnEmptyIndexFails) {
  int ids[4];
  int count = 4;
  EXPECT_EQ(E_FAIL, session_.QueryAlbumsByCid(L"AAAA", ids, &count));
  EXPECT_EQ(4, count);
  EXPECT_EQ(E_POINTER, session_.QueryAlbumsByCid(L"AAAA", ids, nullptr));
}

TEST_F(CidIndexOfSessionTest, QueryReportsTheNeededCountWhenTheArrayIsShort) {
  session_.AddCidPair(L"AAAA", 5);
  session_.AddCidPair(L"AAAA", 3);
  session_.AddCidPair(L"AAAA", 9);
  int ids[3] = {-1, -1, -1};
  int count = 2;
  EXPECT_EQ(E_OUTOFMEMORY, session_.QueryAlbumsByCid(L"AAAA", ids, &count));
  EXPECT_EQ(3, count);
  EXPECT_EQ(-1, ids[0]) << "nothing is written when the array is short";
  count = 3;
  EXPECT_EQ(S_OK, session_.QueryAlbumsByCid(L"AAAA", ids, &count));
  EXPECT_EQ(3, count);
  EXPECT_EQ(5, ids[0]);  // the order the pairs were added in
  EXPECT_EQ(3, ids[1]);
  EXPECT_EQ(9, ids[2]);
  count = -1;
  EXPECT_EQ(E_OUTOFMEMORY, session_.QueryAlbumsByCid(L"AAAA", ids, &count));
  EXPECT_EQ(3, count);
  // An unknown cid in a non-empty index: no album, S_OK.
  count = 3;
  EXPECT_EQ(S_OK, session_.QueryAlbumsByCid(L"ZZZZ", nullptr, &count));
  EXPECT_EQ(0, count);
  count = 3;
  EXPECT_EQ(E_POINTER, session_.QueryAlbumsByCid(L"AAAA", nullptr, &count));
}

TEST_F(CidIndexOfSessionTest, EntriesComeFromTheAlbumsResources) {
  Hold hold(session_.AlbumListLock());
  session_.AddCidEntry(1, 10, album_);
  session_.AddCidEntry(1, 10, album_);  // twice: two equal pairs
  EXPECT_EQ((std::vector<int>{10, 10}), Query(session_, L"AAAA"));
  session_.RemoveCidEntry(1, 10, album_);
  EXPECT_EQ((std::vector<int>{10}), Query(session_, L"AAAA"));

  // Ids the album does not hold are skipped; the others go in, in order.
  session_.AddCidEntries({2, 99, 3}, 11, album_);
  EXPECT_EQ((std::vector<int>{10, 11}), Query(session_, L"AAAA"));
  EXPECT_EQ((std::vector<int>{11}), Query(session_, L"BBBB"));
  session_.AddCidEntries({2}, 12, nullptr);  // no album: nothing
  EXPECT_EQ(3u, session_.CidPairCount());

  // Removal takes the pair of the given album only.
  session_.RemoveCidEntries({3, 99}, 12, album_);
  EXPECT_EQ((std::vector<int>{10, 11}), Query(session_, L"AAAA"));
  session_.RemoveCidEntries({3, 2}, 11, album_);
  EXPECT_EQ((std::vector<int>{10}), Query(session_, L"AAAA"));
  EXPECT_EQ(std::vector<int>{}, Query(session_, L"BBBB"));
}

TEST_F(CidIndexOfSessionTest, AlbumRemovalTakesItsPairs) {
  AddCidPairs({{L"AAAA", 10}, {L"BBBB", 10}, {L"AAAA", 20}, {L"CCCC", 10}});
  {
    Hold hold(session_.AlbumListLock());
    session_.RemoveCidEntriesOfAlbum(10, nullptr);
  }
  EXPECT_EQ((std::vector<int>{20}), Query(session_, L"AAAA"));
  EXPECT_EQ(1u, session_.CidPairCount());

  session_.AddCidPair(L"BBBB", 10);
  // Nobody signed in: nothing happens.
  session_.RemoveAlbumOfCurrentUser(10);
  EXPECT_EQ(2u, session_.CidPairCount());
  // A user without a list: nothing happens either.
  session_.SetCurrentUin(L"someone");
  session_.RemoveAlbumOfCurrentUser(10);
  EXPECT_EQ(2u, session_.CidPairCount());
  session_.SetCurrentUin(L"me");
  session_.RemoveAlbumOfCurrentUser(10);
  Hold hold(session_.AlbumListLock());
  EXPECT_EQ(nullptr, session_.FindAlbum(L"me", 10));
  EXPECT_EQ(std::vector<int>{}, Query(session_, L"BBBB"));
  EXPECT_EQ((std::vector<int>{20}), Query(session_, L"AAAA"));
}

TEST_F(CidIndexOfSessionTest, AlbumsLeavingThroughTheirResourcesTakeEveryPair) {
  // Album 10's pairs: two its resources account for, one they do not (CCCC).
  AddCidPairs({{L"AAAA", 10}, {L"CCCC", 10}, {L"AAAA", 20}, {L"BBBB", 10}});
  Hold hold(session_.AlbumListLock());
  session_.RemoveCidEntriesOfAlbum(10, album_);
  EXPECT_EQ((std::vector<int>{20}), Query(session_, L"AAAA"));
  EXPECT_EQ(1u, session_.CidPairCount());

  // A new album list without album 10: the album and its pairs go, album 20 stays.
  AlbumListInfo* list = session_.FindAlbumList(L"me");
  AlbumInfo* kept = list->NewAlbum();
  kept->SetId(20);
  AddCidPairs({{L"BBBB", 10}, {L"DDDD", 10}, {L"AAAA", 10}});
  session_.RemoveAlbumsNotIn(list, {20, 30});
  EXPECT_EQ(nullptr, list->FindAlbum(10));
  EXPECT_EQ(kept, list->FindAlbum(20));
  EXPECT_EQ((std::vector<int>{20}), Query(session_, L"AAAA"));
  EXPECT_EQ(1u, session_.CidPairCount());
}

TEST_F(CidIndexOfSessionTest, ForEachWalksInKeyOrderThenInsertionOrder) {
  AddCidPairs({{L"B", 1}, {L"A", 2}, {L"B", 0}, {L"A", 2}});
  std::vector<std::pair<std::wstring, int>> seen;
  session_.ForEachCidPair([&](const std::wstring& cid, int album) { seen.emplace_back(cid, album); });
  EXPECT_EQ((std::vector<std::pair<std::wstring, int>>{{L"A", 2}, {L"A", 2}, {L"B", 1}, {L"B", 0}}),
            seen);
}

// ---------------------------------------------------------------- results

TEST(BlogSessionTest, ResultsAreFiledOnceAndFetchedWithAReferenceEachTime) {
  TestSession session;
  CComPtr<ICommonResult> first = NewResult(1);
  CComPtr<ICommonResult> second = NewResult(0);
  EXPECT_TRUE(session.StoreResult(4, first));
  EXPECT_EQ(2u, RefCount(first));
  EXPECT_FALSE(session.StoreResult(4, second));  // the first object stays filed
  EXPECT_EQ(1u, RefCount(second));
  EXPECT_FALSE(session.StoreResult(5, nullptr));

  ICommonResult* fetched = nullptr;
  ASSERT_EQ(S_OK, session.FetchResult(4, &fetched));
  EXPECT_EQ(first.p, fetched);
  EXPECT_EQ(3u, RefCount(first));
  ICommonResult* again = nullptr;
  ASSERT_EQ(S_OK, session.FetchResult(4, &again));  // fetching does not remove it
  EXPECT_EQ(first.p, again);
  EXPECT_EQ(4u, RefCount(first));
  fetched->Release();
  again->Release();

  ICommonResult* none = reinterpret_cast<ICommonResult*>(0x1);
  EXPECT_EQ(E_FAIL, session.FetchResult(5, &none));
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ(E_POINTER, session.FetchResult(4, nullptr));

  session.ClearAll();
  EXPECT_EQ(1u, RefCount(first)) << "ClearAll releases the filed results";
  EXPECT_EQ(E_FAIL, session.FetchResult(4, &none));
}

// ---------------------------------------------------------------- sinks

TEST(BlogSessionTest, SinksAreKeptOnceWithOneReference) {
  TestSession session;
  RecordingResultSink sink;
  EXPECT_TRUE(session.AddResultSink(&sink));
  EXPECT_FALSE(session.AddResultSink(&sink));
  EXPECT_EQ(1u, sink.refs());
  EXPECT_FALSE(session.AddResultSink(nullptr));
  session.NotifyResultReady(3, 0);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{3, 0}}), sink.calls());
  EXPECT_TRUE(session.RemoveResultSink(&sink));
  EXPECT_EQ(0u, sink.refs());
  EXPECT_FALSE(session.RemoveResultSink(&sink));  // unknown now: ignored
  session.NotifyResultReady(4, 1);
  EXPECT_EQ(1u, sink.calls().size());

  RecordingFailureSink failure;
  EXPECT_TRUE(session.AddFailureSink(&failure));
  EXPECT_FALSE(session.AddFailureSink(&failure));
  EXPECT_EQ(1u, failure.refs());
  EXPECT_TRUE(session.RemoveFailureSink(&failure));
  EXPECT_EQ(0u, failure.refs());
  EXPECT_FALSE(session.RemoveFailureSink(&failure));
}

TEST(BlogSessionTest, NotificationsReachEverySinkInListOrder) {
  TestSession session;
  std::vector<std::string> order;
  RecordingResultSink a;
  RecordingResultSink b;
  a.action = [&](int) { order.push_back("a"); };
  b.action = [&](int) { order.push_back("b"); };
  session.AddResultSink(&b);
  session.AddResultSink(&a);
  session.NotifyResultReady(8, 2);
  EXPECT_EQ((std::vector<std::string>{"b", "a"}), order);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{8, 2}}), a.calls());

  RecordingFailureSink f1;
  RecordingFailureSink f2;
  session.AddFailureSink(&f1);
  session.AddFailureSink(&f2);
  session.NotifyFailure(-5, 3, 0, 0);
  EXPECT_EQ((std::vector<std::vector<int>>{{-5, 3, 0, 0}}), f1.calls());
  EXPECT_EQ((std::vector<std::vector<int>>{{-5, 3, 0, 0}}), f2.calls());
  session.RemoveResultSink(&a);
  session.RemoveResultSink(&b);
  session.RemoveFailureSink(&f1);
  session.RemoveFailureSink(&f2);
}

TEST(BlogSessionTest, SinksMayChangeTheListFromInsideANotice) {
  TestSession session;
  RecordingResultSink selfRemoving;
  RecordingResultSink removedByFirst;
  RecordingResultSink addedByFirst;
  RecordingResultSink last;
  selfRemoving.action = [&](int) {
    session.RemoveResultSink(&selfRemoving);
    session.RemoveResultSink(&removedByFirst);
    session.AddResultSink(&addedByFirst);
    // The sink is still alive: the session holds a reference for the walk.
    EXPECT_GE(selfRemoving.refs(), 1u);
  };
  session.AddResultSink(&selfRemoving);
  session.AddResultSink(&removedByFirst);
  session.AddResultSink(&last);
  session.NotifyResultReady(1, 0);
  EXPECT_EQ(1u, selfRemoving.calls().size());
  EXPECT_EQ(0u, removedByFirst.calls().size()) << "a sink removed meanwhile is not called";
  EXPECT_EQ(0u, addedByFirst.calls().size()) << "a sink added meanwhile waits for the next";
  EXPECT_EQ(1u, last.calls().size());
  EXPECT_EQ(0u, selfRemoving.refs());
  EXPECT_EQ(0u, removedByFirst.refs());

  session.NotifyResultReady(2, 0);
  EXPECT_EQ(1u, selfRemoving.calls().size());
  EXPECT_EQ(1u, addedByFirst.calls().size());
  EXPECT_EQ(2u, last.calls().size());
  session.RemoveResultSink(&addedByFirst);
  session.RemoveResultSink(&last);
}

TEST(BlogSessionTest, ASinkMayFetchTheResultFromInsideTheNotice) {
  TestSession session;
  CComPtr<ICommonResult> result = NewResult(1);
  RecordingResultSink sink;
  int status = -1;
  sink.action = [&](int commandId) {
    ICommonResult* fetched = nullptr;
    ASSERT_EQ(S_OK, session.FetchResult(commandId, &fetched));
    fetched->GetStatus(&status);
    fetched->Release();
  };
  session.AddResultSink(&sink);
  {
    // As result delivery does it: file and notify under ResultLock.
    Hold hold(session.ResultLock());
    session.StoreResult(9, result);
    session.NotifyResultReady(9, 0);
  }
  EXPECT_EQ(1, status);
  session.RemoveResultSink(&sink);
}

// ---------------------------------------------------------------- sign-out

TEST(BlogSessionTest, ClearAllEmptiesTheDataAndKeepsUserEndpointsAndSinks) {
  TestSession session;
  RecordingResultSink resultSink;
  RecordingFailureSink failureSink;
  session.AddResultSink(&resultSink);
  session.AddFailureSink(&failureSink);
  session.SetCurrentUin(L"me");
  CComPtr<AlbumInfo> heldByHost;
  {
    Hold hold(session.AlbumListLock());
    AlbumInfo* album = session.GetOrCreateAlbumList(L"me")->NewAlbum();
    album->SetId(1);
    AddResource(album, 11, L"C11");
    heldByHost = album;
    session.GetOrCreateAlbumList(L"other");
  }
  {
    Hold hold(session.ServerLock());
    session.StoreServerEntry(L"me", Record(L"a", L"b", L"c"));
    session.SetOperationEndpoint(2, L"h.velmora.cn", L"/del");
  }
  session.AddCidPair(L"C11", 1);
  CComPtr<ICommonResult> result = NewResult(1);
  session.StoreResult(1, result);

  session.ClearAll();

  {
    Hold hold(session.AlbumListLock());
    EXPECT_EQ(nullptr, session.FindAlbumList(L"me"));
    EXPECT_EQ(nullptr, session.FindAlbumList(L"other"));
  }
  int count = 0;
  heldByHost->GetResourceCount(&count);
  EXPECT_EQ(0, count) << "the cleared list empties its albums";
  EXPECT_EQ(1u, RefCount(heldByHost));
  {
    Hold hold(session.ServerLock());
    EXPECT_EQ(nullptr, session.FindServerEntry(L"me"));
  }
  int ids[1];
  count = 1;
  EXPECT_EQ(E_FAIL, session.QueryAlbumsByCid(L"C11", ids, &count));
  ICommonResult* fetched = nullptr;
  EXPECT_EQ(E_FAIL, session.FetchResult(1, &fetched));

  EXPECT_EQ(L"me", session.CurrentUin());
  std::string host;
  std::string path;
  ASSERT_TRUE(session.GetOperationEndpoint(2, &host, &path));
  EXPECT_EQ("h.velmora.cn", host);
  session.NotifyFailure(7, 2, 0, 0);
  EXPECT_EQ((std::vector<std::vector<int>>{{7, 2, 0, 0}}), failureSink.calls());
  session.NotifyResultReady(3, 0);
  EXPECT_EQ(1u, resultSink.calls().size());
  session.RemoveResultSink(&resultSink);
  session.RemoveFailureSink(&failureSink);
}

// ---------------------------------------------------------------- threads

// Every kind of session data used at once from several threads, each taking the locks
// the contract names in the documented order. The sanitizer builds check for races;
// the counts check that no update was lost.
TEST(BlogSessionTest, ConcurrentUseUnderTheDocumentedLocks) {
  TestSession session;
  session.SetCurrentUin(L"me");
  constexpr int kRounds = 300;
  std::atomic<int> fetchedInSink{0};
  RecordingResultSink sink;
  sink.action = [&](int commandId) {
    ICommonResult* fetched = nullptr;
    if (session.FetchResult(commandId, &fetched) == S_OK) {
      ++fetchedInSink;
      fetched->Release();
    }
  };
  session.AddResultSink(&sink);
  RecordingFailureSink failures;
  session.AddFailureSink(&failures);

  std::vector<std::thread> threads;
  // Album lists and the content-id index, as the resource list apply does.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      Hold hold(session.AlbumListLock());
      AlbumListInfo* list = session.GetOrCreateAlbumList(L"me");
      AlbumInfo* album = session.FindAlbum(L"me", i % 7);
      if (album == nullptr) {
        album = list->NewAlbum();
        album->SetId(i % 7);
      }
      AddResource(album, i, (L"CID" + std::to_wstring(i % 11)).c_str());
      session.AddCidEntry(i, i % 7, album);
    }
  });
  // Album removal of the signed-in user.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds / 3; ++i) session.RemoveAlbumOfCurrentUser(i % 7);
  });
  // Queries by content id, as the plug-in API makes them.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      int ids[64];
      int count = 64;
      session.QueryAlbumsByCid(L"CID" + std::to_wstring(i % 11), ids, &count);
      session.AddCidPair(L"T" + std::to_wstring(i), i);
    }
  });
  // The directory: records and endpoints written, URLs split.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      {
        Hold hold(session.ServerLock());
        session.StoreServerEntry(L"me", Record(L"http://d.velmora.cn/c", L"http://b.velmora.cn/a",
                                               L"http://b.velmora.cn/<id>"));
        session.SetOperationEndpoint(i % kEndpointCount, L"h.velmora.cn", std::to_wstring(i));
      }
      std::string host;
      std::string path;
      session.SplitResourceListUrl(L"me", i, &host, &path);
      session.GetOperationEndpoint((i + 3) % kEndpointCount, &host, &path);
    }
  });
  // Results delivered as commands deliver them; the sink fetches each one.
  threads.emplace_back([&] {
    for (int i = 1; i <= kRounds; ++i) {
      CComPtr<ICommonResult> result = NewResult(1);
      Hold hold(session.ResultLock());
      session.StoreResult(i, result);
      session.NotifyResultReady(i, 0);
    }
  });
  // Failures, sign-in changes and sink churn.
  threads.emplace_back([&] {
    RecordingResultSink extra;
    for (int i = 0; i < kRounds; ++i) {
      session.NotifyFailure(i, 2, 0, 0);
      session.SetCurrentUin(i % 2 == 0 ? L"me" : L"also-me");
      std::wstring uin = session.CurrentUin();
      EXPECT_TRUE(uin == L"me" || uin == L"also-me");
      session.AddResultSink(&extra);
      session.RemoveResultSink(&extra);
    }
  });
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(kRounds, fetchedInSink.load());
  EXPECT_EQ(static_cast<size_t>(kRounds), sink.calls().size());
  EXPECT_EQ(static_cast<size_t>(kRounds), failures.calls().size());
  // Every "T" pair survived (album removals touch albums 0 to 6 only; "T" pairs of those
  // albums may be gone).
  size_t tPairs = 0;
  session.ForEachCidPair([&](const std::wstring& cid, int album) {
    if (cid[0] == L'T') {
      ++tPairs;
      EXPECT_EQ(cid, L"T" + std::to_wstring(album));
    }
  });
  EXPECT_GE(tPairs, static_cast<size_t>(kRounds - 7));
  session.ClearAll();
  EXPECT_EQ(0u, session.CidPairCount());
  session.RemoveResultSink(&sink);
  session.RemoveFailureSink(&failures);
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
