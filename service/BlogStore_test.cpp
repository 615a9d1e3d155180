// The store's own bookkeeping: change times that move past what clients hold without
// running ahead of the clock, and data that survives a reopen.
#include "BlogStore.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include <gtest/gtest.h>

namespace Velmora {
namespace ZQBlog {
namespace Service {
namespace {

class BlogStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto clock = clock_;
    options_.clock = [clock] { return clock->load(); };
  }
  std::shared_ptr<std::atomic<int64_t>> clock_ = std::make_shared<std::atomic<int64_t>>(1000000);
  ServiceOptions options_;
};

TEST_F(BlogStoreTest, ChangeTimesPassServedStampsOnly) {
  BlogStore store(options_);
  store.Open();
  store.AddUser("u1");
  AlbumFields fields;
  fields.name = "a";
  const int64_t created = store.GetAlbumList("u1")->modified;  // served
  EXPECT_EQ(1000000, created);

  fields.name = "b";
  store.AddAlbum("u1", fields);
  const int64_t first = store.GetAlbumList("u1")->modified;  // served again
  EXPECT_EQ(created + 1, first) << "a change within the served second moves past it";

  fields.name = "c";
  store.AddAlbum("u1", fields);
  const int64_t second_unserved_change = store.GetAlbumList("u1")->modified;
  EXPECT_EQ(first + 1, second_unserved_change);

  // Several changes nobody has fetched in between share one stamp instead of running
  // ahead of the clock.
  for (const char* name : {"d", "e", "f"}) {
    fields.name = name;
    store.AddAlbum("u1", fields);
  }
  EXPECT_EQ(second_unserved_change + 1, store.GetAlbumList("u1")->modified);

  // Once the clock moves on, the stamp is the clock again.
  clock_->store(2000000);
  fields.name = "g";
  store.AddAlbum("u1", fields);
  EXPECT_EQ(2000000, store.GetAlbumList("u1")->modified);
}

TEST_F(BlogStoreTest, ResourceFlagsMoveBothStamps) {
  BlogStore store(options_);
  store.Open();
  store.AddUser("u1");
  AlbumFields fields;
  fields.name = "a";
  const int album = store.AddAlbum("u1", fields);
  ResourceFields resource;
  resource.cid = std::string(40, 'a');
  resource.name = "r";
  const int id = store.AddResource(album, resource);
  const int64_t list = store.GetResourceList("u1", album)->modified;
  const int64_t albums = store.GetAlbumList("u1")->modified;
  store.SetResourceFlags(id, true, false);
  EXPECT_GT(store.GetResourceList("u1", album)->modified, list);
  EXPECT_GT(store.GetAlbumList("u1")->modified, albums);
  EXPECT_EQ(kStateUndone, store.GetResource(id)->state());
  EXPECT_EQ(std::string(40, 'A'), store.GetResource(id)->fields.cid);
}

TEST_F(BlogStoreTest, RefusesMalformedAdministration) {
  BlogStore store(options_);
  store.Open();
  EXPECT_THROW(store.AddUser("bad uin"), StoreError);
  EXPECT_THROW(store.AddUser(""), StoreError);
  EXPECT_THROW(store.AddAlbum("nobody", AlbumFields()), StoreError);
  store.AddUser("u1");
  AlbumFields fields;
  fields.name = "a";
  const int album = store.AddAlbum("u1", fields);
  ResourceFields resource;
  resource.cid = "xyz";
  EXPECT_THROW(store.AddResource(album, resource), StoreError);
  EXPECT_THROW(store.SeedDemo("bad/uin"), StoreError);
  EXPECT_FALSE(BlogStore::IsValidUin(std::string(65, '1')));
  EXPECT_TRUE(BlogStore::IsValidUin("user.name-1@velmora_cn"));
}

TEST_F(BlogStoreTest, KeepsItsDataAcrossAReopen) {
  char path[] = "/tmp/zqblog-store-test-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  options_.database_path = path;
  int album = 0;
  {
    BlogStore store(options_);
    store.Open();
    ASSERT_TRUE(store.SeedDemo("u1"));
    album = store.GetAlbumList("u1")->albums.front().id;
  }
  {
    BlogStore store(options_);
    store.Open();
    const auto list = store.GetAlbumList("u1");
    ASSERT_TRUE(list);
    EXPECT_EQ(4u, list->albums.size());
    EXPECT_EQ("旅行", list->albums.front().fields.name);
    EXPECT_EQ(3u, store.GetResourceList("u1", album)->resources.size());
    EXPECT_FALSE(store.SeedDemo("u1"));
    // Ids are never handed out twice, even after the highest one was deleted.
    AlbumFields fields;
    fields.name = "new";
    const int before = store.AddAlbum("u1", fields);
    EXPECT_TRUE(store.RemoveAlbum("u1", before).ok());
    EXPECT_GT(store.AddAlbum("u1", fields), before);
  }
  std::remove(path);
  std::remove((std::string(path) + "-wal").c_str());
  std::remove((std::string(path) + "-shm").c_str());
}

TEST_F(BlogStoreTest, InjectedFaultsFailEveryOperation) {
  BlogStore store(options_);
  store.Open();
  store.AddUser("u1");
  store.SetFaultInjection(true);
  EXPECT_THROW(store.GetAlbumList("u1"), StoreError);
  EXPECT_THROW(store.GetDirectory("u1"), StoreError);
  EXPECT_THROW(store.CreateAlbum("u1", AlbumFields()), StoreError);
  store.SetFaultInjection(false);
  EXPECT_TRUE(store.GetAlbumList("u1"));
}

}  // namespace
}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
