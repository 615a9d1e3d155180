#include "session/FileSystemToolbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace Velmora {
namespace Community {
namespace {

// The helper library's answer, set by each test.
std::wstring g_answer;
int g_calls = 0;
std::vector<int> g_capacities;

int ZQ_ELVATRIX_CALL FakeGetUserPath(WCHAR* buffer, int capacity) {
  ++g_calls;
  g_capacities.push_back(capacity);
  // As the library does: cut to capacity - 1 characters and terminate.
  size_t n = std::min(g_answer.size(), static_cast<size_t>(capacity) - 1);
  std::wmemcpy(buffer, g_answer.data(), n);
  buffer[n] = L'\0';
  return static_cast<int>(g_answer.size());
}

int ZQ_ELVATRIX_CALL FakeOtherPath(WCHAR* buffer, int) {
  buffer[0] = L'\0';
  return 0;
}

FARPROC AsFarproc(PFN_ZQ_GetUserPath function) {
  typedef void (*AnyFunction)(void);
  return reinterpret_cast<FARPROC>(reinterpret_cast<AnyFunction>(function));
}

// A toolbox over a wrapper of the test's own.
class TestToolbox : public FileSystemToolbox_ {
 public:
  explicit TestToolbox(ElvatrixWrapper* wrapper) : FileSystemToolbox_(wrapper) {}
  ~TestToolbox() override = default;
};

class FileSystemToolboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_answer.clear();
    g_calls = 0;
    g_capacities.clear();
    wrapper_.BindWith([](const char* name) -> FARPROC {
      return std::strcmp(name, "ZQ_GetUserPath") == 0 ? AsFarproc(FakeGetUserPath)
                                                      : AsFarproc(FakeOtherPath);
    });
  }

  ElvatrixWrapper wrapper_;
};

TEST(ElvatrixWrapperTest, UnloadedLibraryBindsNothing) {
  // The test program never loads the helper library, and the wrapper never loads it.
  ASSERT_EQ(nullptr, GetModuleHandleW(kElvatrixModuleName));
  ElvatrixWrapper wrapper;
  wrapper.BindWith([](const char*) { return AsFarproc(FakeOtherPath); });
  EXPECT_FALSE(wrapper.Bind());
  for (int i = 0; i < kElvatrixExportCount; ++i) EXPECT_EQ(nullptr, wrapper.Export(i)) << i;
  EXPECT_EQ(nullptr, wrapper.GetUserPathExport());
  EXPECT_EQ(nullptr, GetModuleHandleW(kElvatrixModuleName));
}

TEST(ElvatrixWrapperTest, BindsEveryExportByNameInOrder) {
  std::vector<std::string> asked;
  ElvatrixWrapper wrapper;
  EXPECT_TRUE(wrapper.BindWith([&](const char* name) {
    asked.push_back(name);
    return AsFarproc(FakeOtherPath);
  }));
  ASSERT_EQ(11u, asked.size());
  EXPECT_EQ("ZQ_GetUserPath", asked[0]);
  EXPECT_EQ("ZQ_GetKorrinNetworkPath", asked[1]);
  EXPECT_EQ("ZQ_GetUserRootPath", asked[9]);
  EXPECT_EQ("ZQ_GetPluginPath", asked[10]);
  EXPECT_EQ(nullptr, wrapper.Export(11));
  EXPECT_EQ(nullptr, wrapper.Export(-1));

  // One missing export: the others are bound, the result is false.
  EXPECT_FALSE(wrapper.BindWith([](const char* name) -> FARPROC {
    return std::strcmp(name, "ZQ_GetSkinPath") == 0 ? nullptr : AsFarproc(FakeOtherPath);
  }));
  EXPECT_EQ(nullptr, wrapper.Export(5));
  EXPECT_NE(nullptr, wrapper.Export(0));
  EXPECT_NE(nullptr, wrapper.Export(6));
}

TEST_F(FileSystemToolboxTest, KeepsTheFirstNonEmptyAnswer) {
  TestToolbox toolbox(&wrapper_);
  g_answer = L"/data/users/";
  EXPECT_EQ(L"/data/users/", toolbox.GetUserPath());
  EXPECT_EQ(260, g_capacities.at(0));
  g_answer = L"/elsewhere/";
  EXPECT_EQ(L"/data/users/", toolbox.GetUserPath());
  EXPECT_EQ(1, g_calls);
}

TEST_F(FileSystemToolboxTest, AnEmptyAnswerIsAskedAgain) {
  TestToolbox toolbox(&wrapper_);
  EXPECT_EQ(L"", toolbox.GetUserPath());
  EXPECT_EQ(L"", toolbox.GetUserPath());
  EXPECT_EQ(2, g_calls);
  g_answer = L"/late/";
  EXPECT_EQ(L"/late/", toolbox.GetUserPath());
}

TEST_F(FileSystemToolboxTest, AnswerOf259CharactersIsReturnedWhole) {
  TestToolbox toolbox(&wrapper_);
  g_answer = L"/" + std::wstring(257, L'a') + L"/";
  ASSERT_EQ(259u, g_answer.size());
  EXPECT_EQ(g_answer, toolbox.GetUserPath());
}

TEST_F(FileSystemToolboxTest, LongerAnswersAreNotCut) {
  TestToolbox toolbox(&wrapper_);
  g_answer = L"/" + std::wstring(700, L'b') + L"/";
  EXPECT_EQ(g_answer, toolbox.GetUserPath());
  EXPECT_EQ((std::vector<int>{260, 520, 1040}), g_capacities);
}

TEST_F(FileSystemToolboxTest, AnAnswerTooLongForAnyBufferIsRefused) {
  TestToolbox toolbox(&wrapper_);
  g_answer = L"/" + std::wstring(40000, L'c') + L"/";
  EXPECT_EQ(L"", toolbox.GetUserPath());
}

TEST(FileSystemToolboxWithoutLibraryTest, UnboundExportGivesAnEmptyPath) {
  ElvatrixWrapper unbound;
  TestToolbox toolbox(&unbound);
  EXPECT_EQ(L"", toolbox.GetUserPath());
  // The process-wide toolbox: the helper library is not loaded in the test program.
  FileSystemToolbox_* shared = FileSystemToolbox_::Instance();
  ASSERT_NE(nullptr, shared);
  EXPECT_EQ(shared, FileSystemToolbox_::Instance());
  EXPECT_EQ(L"", shared->GetUserPath());
}

}  // namespace
}  // namespace Community
}  // namespace Velmora
