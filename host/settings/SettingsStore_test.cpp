#include "host/settings/SettingsStore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {
namespace {

// A BSTR freed at scope exit.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : text_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return text_; }  // NOLINT

 private:
  BSTR text_;
};

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zqhost-settings-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    path_ = dir_ + "/data/settings.db";  // the parent folder does not exist yet
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  CComPtr<ISettingsStore> Open() {
    CComPtr<ISettingsStore> store;
    EXPECT_EQ(S_OK, OpenSettingsStore(path_, &store));
    return store;
  }

  static CComPtr<ISettingsSection> Section(ISettingsStore* store, const wchar_t* name) {
    CComPtr<ISettingsSection> section;
    Bstr bstr(name);
    EXPECT_EQ(S_OK, store->OpenSection(bstr, &section));
    return section;
  }

  static std::string Read(ISettingsSection* section, const char* key) {
    char buffer[128] = {};
    int length = sizeof buffer;
    HRESULT hr = section->ReadValue(key, buffer, &length);
    if (hr != S_OK) return "<" + std::to_string(hr) + ">";
    return std::string(buffer, static_cast<size_t>(length));
  }

  std::string dir_;
  std::string path_;
};

TEST_F(SettingsStoreTest, SectionsAreCreatedOnceAndMissingOnesAreReported) {
  CComPtr<ISettingsStore> store = Open();
  ASSERT_TRUE(store);
  Bstr name(L"10001");
  CComPtr<ISettingsSection> section;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), store->OpenSection(name, &section));
  EXPECT_EQ(nullptr, section.p);
  EXPECT_EQ(S_OK, store->CreateSection(name, 1));
  EXPECT_EQ(S_FALSE, store->CreateSection(name, 1));
  EXPECT_EQ(S_OK, store->OpenSection(name, &section));
  EXPECT_NE(nullptr, section.p);

  EXPECT_EQ(E_INVALIDARG, store->CreateSection(name, 0));
  EXPECT_EQ(E_INVALIDARG, store->CreateSection(nullptr, 1));
  Bstr empty(L"");
  EXPECT_EQ(E_INVALIDARG, store->CreateSection(empty, 1));
  CComPtr<ISettingsSection> none;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), store->OpenSection(nullptr, &none));
  EXPECT_EQ(E_POINTER, store->OpenSection(name, nullptr));
  EXPECT_EQ(E_NOTIMPL, store->Reserved1());
  EXPECT_EQ(E_NOTIMPL, store->Reserved3());
  // Section names are compared exactly.
  Bstr upper(L"10001CID");
  Bstr lower(L"10001cid");
  EXPECT_EQ(S_OK, store->CreateSection(upper, 1));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), store->OpenSection(lower, &none));
}

TEST_F(SettingsStoreTest, WriteAndReadWithTime) {
  CComPtr<ISettingsStore> store = Open();
  ASSERT_TRUE(store);
  Bstr name(L"10001");
  ASSERT_EQ(S_OK, store->CreateSection(name, 1));
  CComPtr<ISettingsSection> section = Section(store, L"10001");
  ASSERT_TRUE(section);

  const char stamp[] = "Tue, 01 Dec 2026 10:00:00 GMT";
  EXPECT_EQ(S_OK, section->WriteValue("AlbumList_10001_Modified", 1764583200, stamp,
                                      static_cast<int>(std::strlen(stamp))));
  EXPECT_EQ(stamp, Read(section, "AlbumList_10001_Modified"));

  std::vector<SettingsEntry> entries;
  ASSERT_EQ(S_OK, ListSettingsValues(store, nullptr, &entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(L"10001", entries[0].section);
  EXPECT_EQ("AlbumList_10001_Modified", entries[0].key);
  EXPECT_EQ(stamp, entries[0].value);
  EXPECT_EQ(1764583200, entries[0].time);

  // A second write replaces value and time.
  EXPECT_EQ(S_OK, section->WriteValue("AlbumList_10001_Modified", 1764600000, "x", 1));
  EXPECT_EQ("x", Read(section, "AlbumList_10001_Modified"));
  ASSERT_EQ(S_OK, ListSettingsValues(store, nullptr, &entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(1764600000, entries[0].time);

  // Only the given length is stored; zero bytes and code page 936 bytes stay intact.
  const char bytes[] = "12\0\xC2\xC3tail";
  EXPECT_EQ(S_OK, section->WriteValue("\xD7\xA8\xBC\xAD", 7, bytes, 5));
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  int length = sizeof buffer;
  EXPECT_EQ(S_OK, section->ReadValue("\xD7\xA8\xBC\xAD", buffer, &length));
  EXPECT_EQ(5, length);
  EXPECT_EQ(0, std::memcmp(buffer, bytes, 5));
  EXPECT_EQ('\0', buffer[5]);

  EXPECT_EQ(S_OK, section->WriteValue("empty", 0, nullptr, 0));
  EXPECT_EQ("", Read(section, "empty"));
  EXPECT_EQ(E_INVALIDARG, section->WriteValue("k", 0, "v", -1));
  EXPECT_EQ(E_POINTER, section->WriteValue(nullptr, 0, "v", 1));
  EXPECT_EQ(E_POINTER, section->WriteValue("k", 0, nullptr, 1));
}

TEST_F(SettingsStoreTest, AbsentKeysAndSmallBuffers) {
  CComPtr<ISettingsStore> store = Open();
  ASSERT_TRUE(store);
  Bstr name(L"u");
  ASSERT_EQ(S_OK, store->CreateSection(name, 1));
  CComPtr<ISettingsSection> section = Section(store, L"u");
  ASSERT_TRUE(section);
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  int length = sizeof buffer;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
            section->ReadValue("nope", buffer, &length));
  EXPECT_EQ('x', buffer[0]);  // untouched
  EXPECT_EQ(8, length);

  ASSERT_EQ(S_OK, section->WriteValue("k", 0, "12345678", 8));
  length = 8;  // no room for the terminator
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
            section->ReadValue("k", buffer, &length));
  EXPECT_EQ(9, length);
  EXPECT_EQ('x', buffer[0]);
  char exact[9];
  length = 9;
  EXPECT_EQ(S_OK, section->ReadValue("k", exact, &length));
  EXPECT_EQ(8, length);
  EXPECT_STREQ("12345678", exact);
  EXPECT_EQ(E_POINTER, section->ReadValue("k", nullptr, &length));
  EXPECT_EQ(E_POINTER, section->ReadValue("k", exact, nullptr));
}

TEST_F(SettingsStoreTest, SectionsKeepTheirOwnKeys) {
  CComPtr<ISettingsStore> store = Open();
  ASSERT_TRUE(store);
  Bstr a(L"10001"), b(L"10001CID"), chinese(L"\x7528\x6237");  // 用户
  ASSERT_EQ(S_OK, store->CreateSection(a, 1));
  ASSERT_EQ(S_OK, store->CreateSection(b, 1));
  ASSERT_EQ(S_OK, store->CreateSection(chinese, 1));
  CComPtr<ISettingsSection> first = Section(store, L"10001");
  CComPtr<ISettingsSection> second = Section(store, L"10001CID");
  CComPtr<ISettingsSection> third = Section(store, L"\x7528\x6237");
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(S_OK, first->WriteValue("key", 1, "one", 3));
  EXPECT_EQ(S_OK, second->WriteValue("key", 2, "two", 3));
  EXPECT_EQ(S_OK, third->WriteValue("key", 3, "three", 5));
  EXPECT_EQ("one", Read(first, "key"));
  EXPECT_EQ("two", Read(second, "key"));
  EXPECT_EQ("three", Read(third, "key"));

  std::wstring only = L"\x7528\x6237";
  std::vector<SettingsEntry> entries;
  ASSERT_EQ(S_OK, ListSettingsValues(store, &only, &entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(only, entries[0].section);
  EXPECT_EQ("three", entries[0].value);
  EXPECT_EQ(E_INVALIDARG, ListSettingsValues(nullptr, nullptr, &entries));
}

TEST_F(SettingsStoreTest, ValuesPersistAcrossReopening) {
  {
    CComPtr<ISettingsStore> store = Open();
    ASSERT_TRUE(store);
    Bstr name(L"10001CID");
    ASSERT_EQ(S_OK, store->CreateSection(name, 1));
    CComPtr<ISettingsSection> section = Section(store, L"10001CID");
    ASSERT_TRUE(section);
    ASSERT_EQ(S_OK, section->WriteValue("res-key", 5, "12", 2));
  }
  CComPtr<ISettingsStore> reopened = Open();
  ASSERT_TRUE(reopened);
  CComPtr<ISettingsSection> section = Section(reopened, L"10001CID");
  ASSERT_TRUE(section);
  EXPECT_EQ("12", Read(section, "res-key"));

  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path_.c_str(), &db));
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &stmt, nullptr));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(stmt));
  EXPECT_STREQ("wal", reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST_F(SettingsStoreTest, UnopenablePathFails) {
  CComPtr<ISettingsStore> store;
  EXPECT_EQ(E_FAIL, OpenSettingsStore(dir_, &store));  // a folder, not a file
  EXPECT_EQ(nullptr, store.p);
  EXPECT_EQ(E_INVALIDARG, OpenSettingsStore("", &store));
  EXPECT_EQ(E_POINTER, OpenSettingsStore(path_, nullptr));
}

TEST_F(SettingsStoreTest, TwoStoresOnOneFileFromManyThreads) {
  CComPtr<ISettingsStore> a = Open();
  CComPtr<ISettingsStore> b = Open();
  ASSERT_TRUE(a && b);
  Bstr name(L"shared");
  ASSERT_EQ(S_OK, a->CreateSection(name, 1));
  EXPECT_EQ(S_FALSE, b->CreateSection(name, 1));  // b sees a's section
  CComPtr<ISettingsSection> fromA = Section(a, L"shared");
  CComPtr<ISettingsSection> fromB = Section(b, L"shared");
  ASSERT_TRUE(fromA && fromB);
  ASSERT_EQ(S_OK, fromA->WriteValue("seen", 1, "by b", 4));
  EXPECT_EQ("by b", Read(fromB, "seen"));

  const int kPerThread = 50;
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      ISettingsSection* section = t % 2 ? fromA : fromB;
      for (int i = 0; i < kPerThread; ++i) {
        std::string key = "t" + std::to_string(t) + "-" + std::to_string(i);
        int size = static_cast<int>(key.size());
        if (section->WriteValue(key.c_str(), i, key.c_str(), size) != S_OK ||
            Read(section, key.c_str()) != key) {
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(0, failures[t]);
  std::vector<SettingsEntry> entries;
  ASSERT_EQ(S_OK, ListSettingsValues(b, nullptr, &entries));
  EXPECT_EQ(4u * kPerThread + 1, entries.size());
}

TEST_F(SettingsStoreTest, TwoProcessesWriteOneFile) {
  {
    CComPtr<ISettingsStore> store = Open();
    ASSERT_TRUE(store);
    Bstr name(L"procs");
    ASSERT_EQ(S_OK, store->CreateSection(name, 1));
  }
  const int kEach = 100;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  // Both processes open their own store and write at the same time.
  CComPtr<ISettingsStore> store;
  bool opened = OpenSettingsStore(path_, &store) == S_OK;
  CComPtr<ISettingsSection> section;
  Bstr name(L"procs");
  if (opened) opened = store->OpenSection(name, &section) == S_OK;
  int failures = opened ? 0 : kEach;
  for (int i = 0; opened && i < kEach; ++i) {
    std::string key = (child == 0 ? "child-" : "parent-") + std::to_string(i);
    if (section->WriteValue(key.c_str(), i, "v", 1) != S_OK) ++failures;
  }
  if (child == 0) {
    section.Release();
    store.Release();
    _exit(failures == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(0, failures);
  std::vector<SettingsEntry> entries;
  ASSERT_EQ(S_OK, ListSettingsValues(store, nullptr, &entries));
  EXPECT_EQ(2u * kEach, entries.size());
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
