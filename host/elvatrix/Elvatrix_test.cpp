// Loads the built helper library the way the host does and calls every export.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "interfaces/ElvatrixExports.h"

#ifndef ZQHOST_TEST_ELVATRIX
#error "ZQHOST_TEST_ELVATRIX must name the built helper library"
#endif

namespace {

typedef int (*PathFn)(WCHAR*, int);
typedef void (*SetRootFn)(const wchar_t*);

class ElvatrixTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    handle_ = dlopen(ZQHOST_TEST_ELVATRIX, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, handle_) << dlerror();
  }
  static void TearDownTestSuite() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(nullptr, handle_);
    set_root_ = reinterpret_cast<SetRootFn>(dlsym(handle_, "ZQ_SetDataRoot"));
    ASSERT_NE(nullptr, set_root_);
  }
  void TearDown() override {
    if (set_root_ != nullptr) set_root_(nullptr);
  }

  static PathFn Export(const char* name) {
    return reinterpret_cast<PathFn>(dlsym(handle_, name));
  }
  static std::wstring Call(const char* name, int capacity = MAX_PATH) {
    PathFn fn = Export(name);
    if (fn == nullptr) return L"<missing>";
    std::vector<WCHAR> buffer(static_cast<size_t>(capacity) + 1, L'#');
    fn(buffer.data(), capacity);
    return buffer.data();
  }

  static void* handle_;
  SetRootFn set_root_ = nullptr;
};

void* ElvatrixTest::handle_ = nullptr;

TEST_F(ElvatrixTest, EveryExportGivesAFolderBelowTheRoot) {
  set_root_(L"/srv/zq data");  // the separator is added
  std::vector<std::wstring> paths;
  for (const char* name : kElvatrixExportNames) {
    std::wstring path = Call(name);
    ASSERT_NE(L"<missing>", path) << name;
    EXPECT_EQ(0u, path.rfind(L"/srv/zq data/", 0)) << name;
    EXPECT_EQ(L'/', path.back()) << name;
    paths.push_back(path);
  }
  EXPECT_EQ(L"/srv/zq data/users/", paths[0]);          // ZQ_GetUserPath
  EXPECT_EQ(L"/srv/zq data/", paths[9]);                // ZQ_GetUserRootPath
  // Different folders for different purposes (the root one aside).
  for (size_t i = 0; i < paths.size(); ++i) {
    for (size_t j = i + 1; j < paths.size(); ++j) EXPECT_NE(paths[i], paths[j]);
  }
}

TEST_F(ElvatrixTest, DefaultRootIsTheCurrentDirectory) {
  char* cwd = getcwd(nullptr, 0);
  ASSERT_NE(nullptr, cwd);
  std::string narrow(cwd);
  free(cwd);
  std::wstring expected(narrow.begin(), narrow.end());  // the test runs in an ASCII folder
  if (expected.back() != L'/') expected += L'/';
  EXPECT_EQ(expected + L"users/", Call("ZQ_GetUserPath"));

  set_root_(L"relative/root");
  EXPECT_EQ(expected + L"relative/root/users/", Call("ZQ_GetUserPath"));
  set_root_(L"");
  EXPECT_EQ(expected + L"users/", Call("ZQ_GetUserPath"));
}

TEST_F(ElvatrixTest, SmallCapacitiesAreCutAndTerminated) {
  set_root_(L"/data/\x7528\x6237/");  // 用户
  const std::wstring full = L"/data/\x7528\x6237/users/";
  PathFn fn = Export("ZQ_GetUserPath");
  ASSERT_NE(nullptr, fn);
  std::vector<WCHAR> buffer(32, L'#');
  EXPECT_EQ(static_cast<int>(full.size()), fn(buffer.data(), 5));
  EXPECT_EQ(std::wstring(L"/dat"), buffer.data());
  EXPECT_EQ(L'#', buffer[5]);  // nothing beyond the capacity
  buffer.assign(32, L'#');
  fn(buffer.data(), 1);
  EXPECT_EQ(L'\0', buffer[0]);
  EXPECT_EQ(L'#', buffer[1]);
  buffer.assign(32, L'#');
  fn(buffer.data(), 0);
  EXPECT_EQ(L'#', buffer[0]);
  EXPECT_EQ(static_cast<int>(full.size()), fn(nullptr, 10));
  // Exactly enough room: the whole path.
  buffer.assign(32, L'#');
  fn(buffer.data(), static_cast<int>(full.size()) + 1);
  EXPECT_EQ(full, buffer.data());
  for (const char* name : kElvatrixExportNames) {
    std::wstring cut = Call(name, 3);
    EXPECT_EQ(L"/d", cut) << name;
  }
}

}  // namespace
