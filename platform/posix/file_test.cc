#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/zqplatform_file_test_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(templ));
    root_ = templ;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + root_ + "'";
    ASSERT_EQ(0, std::system(command.c_str()));
  }

  void WriteFile(const std::string& relative, const std::string& content) {
    FILE* file = std::fopen((root_ + "/" + relative).c_str(), "wb");
    ASSERT_NE(nullptr, file);
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
  }
  bool IsDirectory(const std::string& relative) {
    struct stat st;
    return stat((root_ + "/" + relative).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  bool Exists(const std::string& relative) {
    struct stat st;
    return stat((root_ + "/" + relative).c_str(), &st) == 0;
  }

  std::string root_;
};

TEST_F(FileTest, AttributesTellFoldersFilesAndMissingPaths) {
  WriteFile("a.txt", "abc");
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW(Widen(root_).c_str()));
  DWORD file = GetFileAttributesW(Widen(root_ + "/a.txt").c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, file);
  EXPECT_EQ(0u, file & FILE_ATTRIBUTE_DIRECTORY);
  // Backslashes separate too, and a trailing one names the folder.
  EXPECT_EQ(file, GetFileAttributesW(Widen(root_ + "\\a.txt").c_str()));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
            GetFileAttributesW(Widen(root_ + "\\").c_str()));

  SetLastError(0);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Widen(root_ + "/missing").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  SetLastError(0);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Widen(root_ + "/a.txt/x").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST_F(FileTest, WidePathsAreUtf8OnDisk) {
  std::string folder = root_ + "/\xE8\x8E\xB7\xE5\x8F\x96";  // "获取" in UTF-8
  ASSERT_EQ(0, mkdir(folder.c_str(), 0777));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
            GetFileAttributesW((Widen(root_) + L"/获取").c_str()));
}

TEST_F(FileTest, MakeSureDirectoryPathExistsCreatesUpToTheLastSeparator) {
  std::string path = root_ + "/one/two/three/";
  ASSERT_TRUE(MakeSureDirectoryPathExists(path.c_str()));
  EXPECT_TRUE(IsDirectory("one/two/three"));
  // Again: nothing to do, still success.
  EXPECT_TRUE(MakeSureDirectoryPathExists(path.c_str()));

  ASSERT_TRUE(MakeSureDirectoryPathExists((root_ + "/x/y/file.xml").c_str()));
  EXPECT_TRUE(IsDirectory("x/y"));
  EXPECT_FALSE(Exists("x/y/file.xml"));

  ASSERT_TRUE(MakeSureDirectoryPathExists((root_ + "\\p\\q\\").c_str()));
  EXPECT_TRUE(IsDirectory("p/q"));
}

TEST_F(FileTest, MakeSureDirectoryPathExistsFailsOnAFileInTheWay) {
  WriteFile("blocker", "");
  SetLastError(0);
  EXPECT_FALSE(MakeSureDirectoryPathExists((root_ + "/blocker/sub/").c_str()));
  EXPECT_NE(0u, GetLastError());
  EXPECT_FALSE(MakeSureDirectoryPathExists(nullptr));
}

// The narrow path is code page 936 text and names the folder the wide calls name.
TEST_F(FileTest, MakeSureDirectoryPathExistsNamesTheFolderOfTheWideCalls) {
  // "乗" is 0x81 0x5C in code page 936: its second byte is a backslash. "用户" is
  // 0xD3 0xC3 0xBB 0xA7.
  std::string path = root_ + "/\x81\x5C" "dir/\xD3\xC3\xBB\xA7/";
  ASSERT_TRUE(MakeSureDirectoryPathExists(path.c_str()));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
            GetFileAttributesW((Widen(root_) + L"/\u4e57dir\\\u7528\u6237").c_str()));
  EXPECT_TRUE(IsDirectory("\xE4\xB9\x97" "dir/\xE7\x94\xA8\xE6\x88\xB7"));  // UTF-8
  EXPECT_FALSE(Exists("\x81"));
  EXPECT_FALSE(Exists("\x81\x5C" "dir"));

  SetLastError(0);
  EXPECT_FALSE(MakeSureDirectoryPathExists((root_ + "/\xFF/").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
}

std::vector<std::wstring> FindAll(const std::wstring& pattern, DWORD* error) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  SetLastError(0);
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return names;
  }
  do {
    names.push_back(data.cFileName);
  } while (FindNextFileW(find, &data));
  *error = GetLastError();
  EXPECT_TRUE(FindClose(find));
  return names;
}

TEST_F(FileTest, FindFirstFileWithALiteralPath) {
  WriteFile("Album_12.xml", "12345");
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(Widen(root_ + "/Album_12.xml").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, find);
  EXPECT_EQ(std::wstring(L"Album_12.xml"), data.cFileName);
  EXPECT_EQ(5u, data.nFileSizeLow);
  EXPECT_EQ(0u, data.nFileSizeHigh);
  EXPECT_EQ(0u, data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_NE(0u, data.ftLastWriteTime.dwHighDateTime);
  SetLastError(0);
  EXPECT_FALSE(FindNextFileW(find, &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
  EXPECT_TRUE(FindClose(find));

  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW(Widen(root_ + "/Album_13.xml").c_str(), &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(FileTest, FindFirstFileWithWildcards) {
  WriteFile("b.xml", "");
  WriteFile("A.XML", "");
  WriteFile("c.txt", "");
  ASSERT_EQ(0, mkdir((root_ + "/sub").c_str(), 0777));
  DWORD error = 0;
  EXPECT_EQ((std::vector<std::wstring>{L"A.XML", L"b.xml"}),
            FindAll(Widen(root_ + "/*.xml"), &error));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), error);
  EXPECT_EQ((std::vector<std::wstring>{L".", L"..", L"A.XML", L"b.xml", L"c.txt", L"sub"}),
            FindAll(Widen(root_ + "\\*"), &error));
  EXPECT_EQ((std::vector<std::wstring>{L"c.txt"}), FindAll(Widen(root_ + "/?.t*"), &error));
  EXPECT_TRUE(FindAll(Widen(root_ + "/*.doc"), &error).empty());
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error);
  EXPECT_TRUE(FindAll(Widen(root_ + "/nofolder/*"), &error).empty());
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), error);
}

TEST_F(FileTest, FindCloseRefusesUnknownHandles) {
  int unrelated = 0;
  SetLastError(0);
  EXPECT_FALSE(FindClose(&unrelated));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
}

TEST(LocalTimeTest, MatchesTheCLibrary) {
  SYSTEMTIME now;
  time_t before = time(nullptr);
  GetLocalTime(&now);
  time_t after = time(nullptr);
  struct tm a, b;
  localtime_r(&before, &a);
  localtime_r(&after, &b);
  EXPECT_TRUE(now.wYear == a.tm_year + 1900 || now.wYear == b.tm_year + 1900);
  EXPECT_TRUE(now.wMonth == a.tm_mon + 1 || now.wMonth == b.tm_mon + 1);
  EXPECT_TRUE(now.wDay == a.tm_mday || now.wDay == b.tm_mday);
  EXPECT_TRUE(now.wDayOfWeek == a.tm_wday || now.wDayOfWeek == b.tm_wday);
  EXPECT_TRUE(now.wHour == a.tm_hour || now.wHour == b.tm_hour);
  EXPECT_TRUE(now.wMinute == a.tm_min || now.wMinute == b.tm_min);
  EXPECT_LT(now.wMilliseconds, 1000);
}

}  // namespace
