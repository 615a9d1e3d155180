#include "session/BlogCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#endif

#include "module/HostPlatform.h"
#include "test/SessionTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

namespace fs = std::filesystem;
using session_testing::FakeChannel;
using session_testing::FakeManager;
using session_testing::FakePlatform;
using session_testing::FakeSettingsStore;

// Test paths are ASCII, so the narrow path is the wide one.
std::wstring Wide(const fs::path& path) {
  std::string text = path.string();
  return std::wstring(text.begin(), text.end());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> FilesIn(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every path below root, relative, sorted.
std::vector<std::string> TreeOf(const fs::path& root) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(root, error)) {
    names.push_back(fs::relative(entry.path(), root).generic_string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The name of the one entry FindFirstFileW finds for pattern; empty when none or more.
std::wstring FoundName(const std::wstring& pattern) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring name = found.cFileName;
  if (FindNextFileW(find, &found)) name.clear();
  FindClose(find);
  return name;
}

class BlogCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() /
            ("zqblog_cache_test_" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(root_);
    users_ = root_ / "users";
    fs::create_directories(users_);
    userPath_ = Wide(users_) + kPathSeparator;
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(root_, error);
  }

  fs::path CacheFolder(const std::string& uin) const { return users_ / uin / "BlogCache"; }

  fs::path root_;
  fs::path users_;
  std::wstring userPath_;
  FakeSettingsStore store_;
};

TEST_F(BlogCacheTest, FirstFetchCreatesFolderSectionAndEmptyFile) {
  BlogCache cache(&store_, userPath_);
  cache.Init(L"12345");
  EXPECT_EQ(userPath_ + L"12345" + kPathSeparator + L"BlogCache" + kPathSeparator, cache.Folder());
  EXPECT_TRUE(fs::is_directory(CacheFolder("12345")));
  ASSERT_EQ(1u, store_.createCalls.size());
  EXPECT_EQ(L"12345", store_.createCalls[0].first);
  EXPECT_EQ(1, store_.createCalls[0].second);

  EXPECT_EQ(kDefaultValidator, cache.GetIfModifiedSince(-1));
  EXPECT_EQ(std::wstring(L"Fri, 1 Jun 1000 01:01:01 GMT"), kDefaultValidator);
  EXPECT_EQ(cache.Folder() + L"AlbumList_12345.xml", cache.FilePath());
  EXPECT_EQ(L"AlbumList_12345_Modified", cache.Key());
  fs::path file = CacheFolder("12345") / "AlbumList_12345.xml";
  ASSERT_TRUE(fs::is_regular_file(file));
  EXPECT_EQ(0u, fs::file_size(file));

  // A second set-up finds the section and creates nothing more.
  BlogCache again(&store_, userPath_);
  again.Init(L"12345");
  EXPECT_EQ(1u, store_.createCalls.size());
  EXPECT_EQ(0, store_.LiveSectionHandles());
}

TEST_F(BlogCacheTest, SecondFetchSendsTheStoredLastModifiedAndLoadsTheBody) {
  std::time_t before = std::time(nullptr);
  {
    BlogCache cache(&store_, userPath_);
    cache.Init(L"u1");
    cache.GetIfModifiedSince(-1);
    EXPECT_TRUE(cache.SaveLastModified("Tue, 02 Jan 2024 10:00:00 GMT"));
    EXPECT_TRUE(cache.SaveBody("<categories/>"));
  }
  const FakeSettingsStore::Value& stored = store_.sections[L"u1"]["AlbumList_u1_Modified"];
  EXPECT_EQ("Tue, 02 Jan 2024 10:00:00 GMT", stored.text);
  EXPECT_GE(stored.time, static_cast<int>(before));
  EXPECT_LE(stored.time, static_cast<int>(std::time(nullptr)));

  BlogCache cache(&store_, userPath_);
  cache.Init(L"u1");
  EXPECT_EQ(L"Tue, 02 Jan 2024 10:00:00 GMT", cache.GetIfModifiedSince(-1));
  std::string body = "stale";
  ASSERT_TRUE(cache.LoadBody(&body));
  EXPECT_EQ("<categories/>", body);
  EXPECT_EQ(0, store_.LiveSectionHandles());
}

TEST_F(BlogCacheTest, AlbumIdsNameTheirOwnFilesAndKeys) {
  BlogCache zero(&store_, userPath_);
  zero.Init(L"u");
  zero.GetIfModifiedSince(0);
  EXPECT_EQ(zero.Folder() + L"Album_0.xml", zero.FilePath());
  EXPECT_EQ(L"Album_0_Modified", zero.Key());
  BlogCache negative(&store_, userPath_);
  negative.Init(L"u");
  negative.GetIfModifiedSince(-2);
  EXPECT_EQ(negative.Folder() + L"Album_-2.xml", negative.FilePath());
  BlogCache list(&store_, userPath_);
  list.Init(L"u");
  list.GetIfModifiedSince(-1);
  EXPECT_EQ((std::vector<std::string>{"AlbumList_u.xml", "Album_-2.xml", "Album_0.xml"}),
            FilesIn(CacheFolder("u")));
  // Selecting again replaces the file and key (nothing is appended).
  list.GetIfModifiedSince(7);
  EXPECT_EQ(list.Folder() + L"Album_7.xml", list.FilePath());
  EXPECT_EQ(L"Album_7_Modified", list.Key());
}

TEST_F(BlogCacheTest, ValidatorWithoutAStoredValueOrSection) {
  BlogCache first(&store_, userPath_);
  first.Init(L"u");
  first.GetIfModifiedSince(3);  // creates the empty file
  BlogCache second(&store_, userPath_);
  second.Init(L"u");
  EXPECT_EQ(L"", second.GetIfModifiedSince(3)) << "file, but no value stored";

  store_.openFails = true;
  BlogCache third(&store_, userPath_);
  third.Init(L"u");
  EXPECT_EQ(kDefaultValidator, third.GetIfModifiedSince(3));
  EXPECT_TRUE(third.SaveBody("x"));
  EXPECT_FALSE(third.SaveLastModified("never stored")) << "no section to store it in";
  EXPECT_EQ(0u, store_.sections[L"u"].count("Album_3_Modified"));

  // No settings store at all: the files still work.
  BlogCache storeless(nullptr, userPath_);
  storeless.Init(L"u");
  EXPECT_EQ(kDefaultValidator, storeless.GetIfModifiedSince(3));
  std::string body;
  ASSERT_TRUE(storeless.LoadBody(&body));
  EXPECT_EQ("x", body);
}

TEST_F(BlogCacheTest, LastModifiedIsStoredOnlyWithItsBody) {
  BlogCache cache(&store_, userPath_);
  cache.Init(L"u");
  cache.GetIfModifiedSince(-1);
  EXPECT_TRUE(cache.SaveLastModified("X"));
  EXPECT_EQ(0u, store_.sections[L"u"].count("AlbumList_u_Modified"))
      << "no body saved yet: the value must not vouch for the old file";
  ASSERT_TRUE(cache.SaveBody("new body"));
  EXPECT_EQ("X", store_.sections[L"u"]["AlbumList_u_Modified"].text);
  // Once the body is in place a later value is stored at once.
  EXPECT_TRUE(cache.SaveLastModified("Y"));
  EXPECT_EQ("Y", store_.sections[L"u"]["AlbumList_u_Modified"].text);

  // A reply whose body never arrives leaves the stored value alone.
  BlogCache dropped(&store_, userPath_);
  dropped.Init(L"u");
  EXPECT_EQ(L"Y", dropped.GetIfModifiedSince(-1));
  dropped.SaveLastModified("Z");
}

TEST_F(BlogCacheTest, SaveBodyStopsAtTheFirstZeroByte) {
  BlogCache cache(&store_, userPath_);
  cache.Init(L"u");
  cache.GetIfModifiedSince(5);
  const char body[] = {'a', 'b', '\0', 'c', 'd', '\0'};
  ASSERT_TRUE(cache.SaveBody(body));
  EXPECT_EQ("ab", ReadFile(CacheFolder("u") / "Album_5.xml"));
  EXPECT_FALSE(cache.SaveBody(nullptr));
  EXPECT_EQ("ab", ReadFile(CacheFolder("u") / "Album_5.xml"));
}

TEST_F(BlogCacheTest, SaveBodyReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  BlogCache cache(&store_, userPath_);
  cache.Init(L"u");
  cache.GetIfModifiedSince(-1);
  std::string longer(100000, 'L');
  ASSERT_TRUE(cache.SaveBody(longer.c_str()));
  ASSERT_TRUE(cache.SaveBody("short"));
  EXPECT_EQ("short", ReadFile(CacheFolder("u") / "AlbumList_u.xml"));
  EXPECT_EQ(std::vector<std::string>{"AlbumList_u.xml"}, FilesIn(CacheFolder("u")));
}

TEST_F(BlogCacheTest, ASaveRemovesWhatAKilledWriterLeftLongAgo) {
  BlogCache cache(&store_, userPath_);
  cache.Init(L"u");
  cache.GetIfModifiedSince(-1);
  const std::filesystem::path folder = CacheFolder("u");
  // What writers killed mid-write left: one an hour ago, one a moment ago (maybe still
  // being written), and another list's.
  for (const char* name : {"AlbumList_u.xml.dead.1.tmp", "AlbumList_u.xml.busy.1.tmp",
                           "Album_5.xml.dead.1.tmp"}) {
    std::ofstream(folder / name) << "half";
  }
  const auto hour_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  std::filesystem::last_write_time(folder / "AlbumList_u.xml.dead.1.tmp", hour_ago);
  std::filesystem::last_write_time(folder / "Album_5.xml.dead.1.tmp", hour_ago);
  ASSERT_TRUE(cache.SaveBody("whole"));
  EXPECT_EQ((std::vector<std::string>{"AlbumList_u.xml", "AlbumList_u.xml.busy.1.tmp",
                                      "Album_5.xml.dead.1.tmp"}),
            FilesIn(folder));
}

TEST_F(BlogCacheTest, FailedRenameKeepsNothingHalfWritten) {
  BlogCache cache(&store_, userPath_);
  cache.Init(L"u");
  cache.GetIfModifiedSince(4);
  // Something that is not a file sits where the cache file goes: the rename must fail.
  fs::path target = CacheFolder("u") / "Album_4.xml";
  fs::remove(target);
  fs::create_directories(target / "inside");
  cache.SaveLastModified("X");
  EXPECT_FALSE(cache.SaveBody("body"));
  EXPECT_TRUE(fs::is_directory(target / "inside"));
  EXPECT_EQ(std::vector<std::string>{"Album_4.xml"}, FilesIn(CacheFolder("u")));
  EXPECT_EQ(0u, store_.sections[L"u"].count("Album_4_Modified"));
}

#if !defined(_WIN32)
// A write that fails half-way (the file-size limit stops it): the old body stays whole
// and no temporary file is left. The limit holds for every user, root included.
TEST_F(BlogCacheTest, FailedWriteKeepsTheOldBody) {
  BlogCache cache(&store_, userPath_);
  cache.Init(L"u");
  cache.GetIfModifiedSince(-1);
  ASSERT_TRUE(cache.SaveBody("old body"));
  std::string huge(1 << 20, 'H');

  struct rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous;
  ASSERT_EQ(0, sigaction(SIGXFSZ, &ignore, &previous));
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  BlogCache next(&store_, userPath_);  // the next fetch of the list
  next.Init(L"u");
  next.GetIfModifiedSince(-1);
  next.SaveLastModified("for the lost body");
  bool saved_ok = next.SaveBody(huge.c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_FALSE(saved_ok);
  EXPECT_EQ("old body", ReadFile(CacheFolder("u") / "AlbumList_u.xml"));
  EXPECT_EQ(std::vector<std::string>{"AlbumList_u.xml"}, FilesIn(CacheFolder("u")));
  EXPECT_EQ(0u, store_.sections[L"u"].count("AlbumList_u_Modified"));
}
#endif

TEST_F(BlogCacheTest, ConcurrentWritersNeverMixTheirBodies) {
  std::string a(50000, 'a');
  std::string b(70000, 'b');
  auto writer = [&](const std::string* body) {
    BlogCache cache(&store_, userPath_);
    {
      Hold hold(CacheLock());
      cache.Init(L"u");
      cache.GetIfModifiedSince(1);
    }
    for (int i = 0; i < 40; ++i) EXPECT_TRUE(cache.SaveBody(body->c_str()));
  };
  // The store is not thread-safe: set the section up first, then write files only.
  BlogCache setup(&store_, userPath_);
  setup.Init(L"u");
  std::thread first(writer, &a);
  std::thread second(writer, &b);
  first.join();
  second.join();
  std::string last = ReadFile(CacheFolder("u") / "Album_1.xml");
  EXPECT_TRUE(last == a || last == b) << "length " << last.size();
  EXPECT_EQ(std::vector<std::string>{"Album_1.xml"}, FilesIn(CacheFolder("u")));
}

TEST_F(BlogCacheTest, LoadBodyOfAVanishedFileIsEmpty) {
  BlogCache cache(&store_, userPath_);
  std::string body = "x";
  EXPECT_FALSE(cache.LoadBody(&body)) << "nothing selected";
  cache.Init(L"u");
  cache.GetIfModifiedSince(-1);
  fs::remove(CacheFolder("u") / "AlbumList_u.xml");
  body = "x";
  EXPECT_FALSE(cache.LoadBody(&body));
  EXPECT_EQ("", body);
}

TEST_F(BlogCacheTest, UserPathWithoutSeparatorGetsOne) {
  BlogCache cache(&store_, Wide(users_));
  cache.Init(L"u");
  EXPECT_EQ(userPath_ + L"u" + kPathSeparator + L"BlogCache" + kPathSeparator, cache.Folder());
  EXPECT_TRUE(fs::is_directory(CacheFolder("u")));
}

// A user folder and a user id in Chinese: one folder, through the ANSI calls that create
// it and the wide calls that write and read the files; its names list back in Chinese.
TEST_F(BlogCacheTest, ChineseUserFolderRoundTrip) {
  const std::wstring folder = L"\u7528\u6237\u6570\u636e";  // 用户数据
  const std::wstring user = L"\u5f20\u4e09";                   // 张三
  const std::wstring userPath = userPath_ + folder + kPathSeparator;
  {
    BlogCache cache(&store_, userPath);
    cache.Init(user);
    cache.GetIfModifiedSince(-1);
    EXPECT_TRUE(cache.SaveLastModified("Tue, 02 Jan 2024 10:00:00 GMT"));
    EXPECT_TRUE(cache.SaveBody("<categories/>"));
  }
  BlogCache cache(&store_, userPath);
  cache.Init(user);
  EXPECT_EQ(L"Tue, 02 Jan 2024 10:00:00 GMT", cache.GetIfModifiedSince(-1));
  std::string body;
  ASSERT_TRUE(cache.LoadBody(&body));
  EXPECT_EQ("<categories/>", body);

  std::wstring at = userPath_;
  for (const std::wstring& name : {folder, user, std::wstring(L"BlogCache")}) {
    at += name;
    EXPECT_EQ(name, FoundName(at));
    at += kPathSeparator;
  }
  EXPECT_EQ(L"AlbumList_" + user + L".xml", FoundName(at + L"*.xml"));
  EXPECT_EQ(1u, FilesIn(users_).size()) << "one user folder, not one per encoding";
}

TEST(BlogCacheUserIdTest, SafeAndUnsafeIds) {
  for (const wchar_t* id : {L"12345", L"user_name", L"a.b", L"A-b c", L"\u5f20\u4e09"}) {
    EXPECT_TRUE(BlogCache::IsSafeUserId(id)) << std::wstring(id).size();
  }
  for (const wchar_t* id :
       {L"", L".", L"..", L"../x", L"a/b", L"a\\b", L"x..y", L"..\\x", L"/abs", L"C:x", L"a*",
        L"a?", L"a\"b", L"a<b", L"a>b", L"a|b", L"a\nb", L"a\tb", L"x.", L"x ", L"CON", L"nul",
        L"com1", L"LPT9.txt", L"\u0e01"}) {
    EXPECT_FALSE(BlogCache::IsSafeUserId(id)) << std::wstring(id).size();
  }
  EXPECT_FALSE(BlogCache::IsSafeUserId(std::wstring(L"a\0b", 3)));
  EXPECT_TRUE(BlogCache::IsSafeUserId(L"COM0"));
  EXPECT_TRUE(BlogCache::IsSafeUserId(L"CONSOLE"));
}

TEST_F(BlogCacheTest, UnsafeUserIdsUseNoCacheAtAll) {
  const std::vector<std::wstring> ids{L"../x", L"a/b", L"a\\b", L"..", L"", L"../../escape"};
  for (const std::wstring& id : ids) {
    BlogCache cache(&store_, userPath_);
    cache.Init(id);
    EXPECT_EQ(L"", cache.Folder());
    EXPECT_EQ(kDefaultValidator, cache.GetIfModifiedSince(-1));
    EXPECT_EQ(kDefaultValidator, cache.GetIfModifiedSince(3));
    EXPECT_EQ(L"", cache.FilePath());
    EXPECT_FALSE(cache.SaveLastModified("X"));
    EXPECT_FALSE(cache.SaveBody("body"));
    std::string body = "x";
    EXPECT_FALSE(cache.LoadBody(&body));
    EXPECT_EQ("", body);
  }
  EXPECT_EQ(std::vector<std::string>{"users"}, TreeOf(root_)) << "nothing created anywhere";
  EXPECT_TRUE(store_.createCalls.empty());
  EXPECT_TRUE(store_.sections.empty());
  EXPECT_EQ(0, store_.openCalls);
}

// The plug-in's own set-up: the store from the host platform, the user path from the
// toolbox. The test program has no helper library, so the folder is relative to the
// current directory.
TEST_F(BlogCacheTest, HostSetUpWithoutUserPathUsesARelativeFolder) {
  FakeChannel channel;
  FakeManager manager(&channel);
  FakePlatform platform(&manager, &store_);
  ZQCP::SetHostPlatform(&platform);
  fs::path previous = fs::current_path();
  fs::current_path(root_);
  {
    BlogCache cache;
    cache.Init(L"host_user");
    EXPECT_EQ(std::wstring(L"host_user") + kPathSeparator + L"BlogCache" + kPathSeparator,
              cache.Folder());
    cache.GetIfModifiedSince(-1);
    cache.SaveLastModified("V");
    EXPECT_TRUE(cache.SaveBody("hosted"));
  }
  fs::current_path(previous);
  ZQCP::SetHostPlatform(nullptr);
  EXPECT_EQ("hosted", ReadFile(root_ / "host_user" / "BlogCache" / "AlbumList_host_user.xml"));
  EXPECT_EQ("V", store_.sections[L"host_user"]["AlbumList_host_user_Modified"].text);
  EXPECT_EQ(0u, platform.refs());
  EXPECT_EQ(0u, store_.refs());
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
