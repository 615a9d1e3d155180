// The plug-in's IZQBlog queries over the process-wide blog session.
#include <gtest/gtest.h>

#include <string>

#include "data/AlbumInfo.h"
#include "data/AlbumListInfo.h"
#include "data/ResourceInfo.h"
#include "data/ResultOnAlbum.h"
#include "module/HostPlatform.h"
#include "module/ZQBlogPlugin.h"
#include "session/BlogSession.h"
#include "test/SessionTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using session_testing::FakeChannel;
using session_testing::FakeManager;
using session_testing::FakePlatform;
using session_testing::FakeSettingsStore;
using TAVO::System::Thread::ScopedLock;

class QueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_ = ZQBlogPlugin_::Instance();
    session_ = BlogSession_::Instance();
    plugin_->SetCurrentUser(L"");
    plugin_->ClearSession();
  }
  void TearDown() override {
    plugin_->ClearSession();
    plugin_->SetCurrentUser(L"");
    ZQCP::SetHostPlatform(nullptr);
  }

  // Album 12 (resources 501, 502) and album 13 (resource 601) of user "other".
  void FillOthersList() {
    ScopedLock<BlogSession_::Lock> guard(session_->AlbumListLock());
    AlbumListInfo* list = session_->GetOrCreateAlbumList(L"other");
    AlbumInfo* first = list->NewAlbum();
    first->SetId(12);
    first->NewResource()->SetId(502);
    first->NewResource()->SetId(501);
    first->SetResourcesLoaded(true);
    AlbumInfo* second = list->NewAlbum();
    second->SetId(13);
    second->NewResource()->SetId(601);
  }

  ZQBlogPlugin_* plugin_ = nullptr;
  BlogSession_* session_ = nullptr;
};

TEST_F(QueriesTest, UserQueriesFailBeforeSignIn) {
  FillOthersList();
  CComPtr<IZQAlbumInfo> album;
  EXPECT_EQ(E_FAIL, plugin_->GetAlbumInfo(L"other", 12, &album));
  CComPtr<IZQAlbumListInfo> list;
  EXPECT_EQ(E_FAIL, plugin_->GetAlbumListInfo(L"other", &list));
  bool flag = false;
  EXPECT_EQ(E_FAIL, plugin_->IsResourceListLoaded(L"other", 12, &flag));
  EXPECT_EQ(E_FAIL, plugin_->IsBlogOpened(L"other", &flag));
  int value = 0;
  EXPECT_EQ(E_FAIL, plugin_->GetCidValue(L"x", &value));
  EXPECT_EQ(E_FAIL, plugin_->BatchCollect(1, nullptr, 0, nullptr, nullptr));
}

TEST_F(QueriesTest, AUserIdThatWouldChangeTheCookieOrThePathIsRefused) {
  ASSERT_EQ(S_OK, plugin_->SetCurrentUser(L"Me_1.x@y-z"));
  for (const wchar_t* unsafe : {L"a b", L"a;b", L"a/b", L"a\tb", L"a\x7f"}) {
    EXPECT_EQ(E_INVALIDARG, plugin_->SetCurrentUser(unsafe)) << unsafe;
    EXPECT_EQ(L"me_1.x@y-z", plugin_->CurrentUser()) << "the user stays";
  }
}

TEST_F(QueriesTest, AnotherUsersAlbumsAreReadable) {
  FillOthersList();
  plugin_->SetCurrentUser(L"Me");
  CComPtr<IZQAlbumListInfo> list;
  ASSERT_EQ(S_OK, plugin_->GetAlbumListInfo(L"other", &list));
  int count = 0;
  list->GetAlbumCount(&count);
  EXPECT_EQ(2, count);

  CComPtr<IZQAlbumInfo> album;
  ASSERT_EQ(S_OK, plugin_->GetAlbumInfo(L"other", 13, &album));
  int id = 0;
  album->GetId(&id);
  EXPECT_EQ(13, id);
  CComPtr<IZQAlbumInfo> missing;
  EXPECT_EQ(E_FAIL, plugin_->GetAlbumInfo(L"other", 99, &missing));
  EXPECT_EQ(nullptr, missing.p);
  EXPECT_EQ(E_FAIL, plugin_->GetAlbumInfo(L"nobody", 12, &missing));

  CComPtr<IZQResInfo> resource;
  ASSERT_EQ(S_OK, plugin_->GetResourceInfo(L"other", 601, &resource));
  resource->GetId(&id);
  EXPECT_EQ(601, id);
  CComPtr<IZQResInfo> none;
  EXPECT_EQ(E_FAIL, plugin_->GetResourceInfo(L"other", 777, &none));
  EXPECT_EQ(nullptr, none.p);
}

TEST_F(QueriesTest, ResourceListFlagIsWrittenOnlyForKnownAlbums) {
  FillOthersList();
  plugin_->SetCurrentUser(L"me");
  bool loaded = false;
  ASSERT_EQ(S_OK, plugin_->IsResourceListLoaded(L"other", 12, &loaded));
  EXPECT_TRUE(loaded);
  ASSERT_EQ(S_OK, plugin_->IsResourceListLoaded(L"other", 13, &loaded));
  EXPECT_FALSE(loaded);
  loaded = true;
  EXPECT_EQ(S_OK, plugin_->IsResourceListLoaded(L"other", 4242, &loaded));
  EXPECT_TRUE(loaded);  // untouched
  EXPECT_EQ(E_FAIL, plugin_->IsResourceListLoaded(L"nobody", 12, &loaded));
}

TEST_F(QueriesTest, DirectoryFlagAndCidDatUrl) {
  plugin_->SetCurrentUser(L"me");
  bool opened = false;
  EXPECT_EQ(E_FAIL, plugin_->IsBlogOpened(L"me", &opened));
  {
    ScopedLock<BlogSession_::Lock> guard(session_->ServerLock());
    auto record = std::make_unique<ServerDirectoryRecord>();
    record->Opened = true;
    record->CidDatUrl = L"http://data.velmora.cn/cid/me/Cid.dat";
    session_->StoreServerEntry(L"me", std::move(record));
  }
  ASSERT_EQ(S_OK, plugin_->IsBlogOpened(L"me", &opened));
  EXPECT_TRUE(opened);
  BSTR url = SysAllocString(L"the caller's old text");  // freed by the query
  ASSERT_EQ(S_OK, plugin_->GetCidDatUrl(L"me", &url));
  EXPECT_EQ(std::wstring(L"http://data.velmora.cn/cid/me/Cid.dat"),
            std::wstring(url, SysStringLen(url)));
  SysFreeString(url);
}

TEST_F(QueriesTest, AlbumsByCidWithAShortArray) {
  int ids[4] = {};
  int count = 4;
  EXPECT_EQ(E_FAIL, plugin_->GetAlbumsByCid(L"AB", ids, &count));  // empty index
  session_->AddCidPair(L"AB", 12);
  session_->AddCidPair(L"AB", 13);
  count = 0;
  EXPECT_EQ(E_OUTOFMEMORY, plugin_->GetAlbumsByCid(L"AB", ids, &count));
  EXPECT_EQ(2, count);
  count = 4;
  ASSERT_EQ(S_OK, plugin_->GetAlbumsByCid(L"AB", ids, &count));
  EXPECT_EQ(2, count);
  EXPECT_EQ(12, ids[0]);
  EXPECT_EQ(13, ids[1]);
}

TEST_F(QueriesTest, CommandResultsComeFromTheSession) {
  CComObject<ResultOnAlbum>* result = nullptr;
  ASSERT_EQ(S_OK, CComObject<ResultOnAlbum>::CreateInstance(&result));
  result->AddRef();
  ASSERT_TRUE(session_->StoreResult(7, result));
  result->Release();
  CComPtr<ICommonResult> fetched;
  ASSERT_EQ(S_OK, plugin_->GetCommandResult(7, &fetched));
  EXPECT_EQ(static_cast<ICommonResult*>(result), fetched.p);
  CComPtr<ICommonResult> none;
  EXPECT_EQ(E_FAIL, plugin_->GetCommandResult(8, &none));
  plugin_->ClearSession();
  fetched.Release();
  EXPECT_EQ(E_FAIL, plugin_->GetCommandResult(7, &fetched));
}

TEST_F(QueriesTest, CidValueComesFromTheUsersCidSection) {
  FakeSettingsStore store;
  FakeChannel channel;
  FakeManager manager(&channel);
  FakePlatform platform(&manager, &store);
  ZQCP::SetHostPlatform(&platform);
  plugin_->SetCurrentUser(L"Me");
  int value = -1;
  // The section does not exist yet: it is created, and the value is missing.
  EXPECT_EQ(E_FAIL, plugin_->GetCidValue(L"count", &value));
  ASSERT_EQ(1u, store.sections.count(L"meCID"));
  store.sections[L"meCID"]["count"] = FakeSettingsStore::Value{0, "42"};
  ASSERT_EQ(S_OK, plugin_->GetCidValue(L"count", &value));
  EXPECT_EQ(42, value);
  store.sections[L"meCID"]["text"] = FakeSettingsStore::Value{0, "letters"};
  ASSERT_EQ(S_OK, plugin_->GetCidValue(L"text", &value));
  EXPECT_EQ(0, value);  // non-numeric text reads as 0
  EXPECT_EQ(0, store.LiveSectionHandles());
  ZQCP::SetHostPlatform(nullptr);
  EXPECT_EQ(0u, platform.refs());
}

TEST_F(QueriesTest, NullOutputsAreRefused) {
  plugin_->SetCurrentUser(L"me");
  EXPECT_EQ(E_POINTER, plugin_->GetAlbumInfo(L"me", 1, nullptr));
  EXPECT_EQ(E_POINTER, plugin_->GetResourceInfo(L"me", 1, nullptr));
  EXPECT_EQ(E_POINTER, plugin_->GetAlbumListInfo(L"me", nullptr));
  EXPECT_EQ(E_POINTER, plugin_->IsResourceListLoaded(L"me", 1, nullptr));
  EXPECT_EQ(E_POINTER, plugin_->IsBlogOpened(L"me", nullptr));
  EXPECT_EQ(E_POINTER, plugin_->GetCidDatUrl(L"me", nullptr));
  EXPECT_EQ(E_POINTER, plugin_->GetCidValue(L"x", nullptr));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
