#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

const wchar_t kAppId[] = L"{BB667777-FF8C-4506-9C69-8CB46480C1C1}";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/zqplatform_registry_test_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(templ));
    folder_ = templ;
    file_ = folder_ + "/registry.reg";
    ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(file_.c_str()));  // missing: empty
  }
  void TearDown() override {
    ZqRegistrySetFile(nullptr);
    std::string command = "rm -rf '" + folder_ + "'";
    ASSERT_EQ(0, std::system(command.c_str()));
  }

  std::string ReadFile() {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void WriteFile(const std::string& text) {
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out << text;
  }

  static LONG SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  static std::wstring GetString(HKEY root, const wchar_t* path, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return L"<no key>";
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer;
    DWORD type = REG_NONE;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return L"<no value>";
    if (type != REG_SZ) return L"<not a string>";
    return buffer;
  }
  static bool KeyExists(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  // Writes the AppID entries of a registered library.
  void RegisterAppId() {
    HKEY key = nullptr;
    DWORD disposition = 0;
    std::wstring path = std::wstring(L"AppID\\") + kAppId;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr,
                                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                             &key, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, nullptr, L"ZQBlog"));
    ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"AppID\\ZQBlog.DLL", 0, nullptr,
                                             0, KEY_ALL_ACCESS, nullptr, &key, &disposition));
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"AppID", kAppId));
    ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  }

  std::string folder_;
  std::string file_;
};

TEST_F(RegistryTest, CreateSetQueryAndDelete) {
  RegisterAppId();
  EXPECT_EQ(L"ZQBlog", GetString(HKEY_CLASSES_ROOT, (std::wstring(L"AppID\\") + kAppId).c_str(),
                                 nullptr));
  EXPECT_EQ(kAppId, GetString(HKEY_CLASSES_ROOT, L"AppID\\ZQBlog.DLL", L"AppID"));

  // Opening an existing key through create reports it as opened.
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"AppID", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  // A key with subkeys is not deleted.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CLASSES_ROOT, L"AppID"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, L"ZQBlog.DLL"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(key, L"ZQBlog.DLL"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(key, kAppId));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID\\ZQBlog.DLL"));
  ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CLASSES_ROOT, L"AppID"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
}

TEST_F(RegistryTest, MissingKeysAndValuesAreNotFound) {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\None", 0, KEY_READ, &key));
  EXPECT_EQ(nullptr, key);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Velmora", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  DWORD size = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, L"Absent", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, L"Absent"));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegSetValueExW(key, L"x", 0, REG_SZ, nullptr, 0));
  // The three roots are distinct trees.
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Velmora"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Software\\Velmora"));
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  RegisterAppId();
  EXPECT_EQ(kAppId, GetString(HKEY_CLASSES_ROOT, L"appid\\zqblog.dll", L"APPID"));
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"APPID\\zqblog.dll", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"appid", L"changed"));
  ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  std::string text = ReadFile();
  EXPECT_NE(std::string::npos, text.find("[HKEY_CLASSES_ROOT\\AppID\\ZQBlog.DLL]\r\n\"AppID\"=\"changed\"\r\n"))
      << text;
  EXPECT_EQ(std::string::npos, text.find("zqblog.dll"));
}

TEST_F(RegistryTest, QueryReportsSizesAndTooSmallBuffers) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"K", 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"v", L"12345"));
  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"v", nullptr, &type, nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(6u * sizeof(wchar_t), size);
  wchar_t small[3];
  size = sizeof small;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegQueryValueExW(key, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size));
  EXPECT_EQ(6u * sizeof(wchar_t), size);
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, L"V"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, L"v", nullptr, nullptr, nullptr, &size));
  RegCloseKey(key);
}

TEST_F(RegistryTest, HandleOfADeletedKeyReportsIt) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Gone", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Gone"));
  EXPECT_EQ(ERROR_KEY_DELETED, SetString(key, L"x", L"y"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Gone")) << "setting must not recreate it";
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CLASSES_ROOT, L""));
}

// Keys and values come sorted by their lower-case names.
TEST_F(RegistryTest, FileHasTheLayoutOfARegExport) {
  RegisterAppId();
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Velmora", 0, nullptr,
                                           0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"Path", L"C:\\Program Files\\\"ZQ\""));
  DWORD number = 0x1234abcd;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Count", 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&number), 4));
  const BYTE bytes[] = {0x00, 0x7f, 0xff};
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Blob", 0, REG_BINARY, bytes, 3));
  RegCloseKey(key);

  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_CLASSES_ROOT\\AppID]\r\n"
      "\r\n"
      "[HKEY_CLASSES_ROOT\\AppID\\ZQBlog.DLL]\r\n"
      "\"AppID\"=\"{BB667777-FF8C-4506-9C69-8CB46480C1C1}\"\r\n"
      "\r\n"
      "[HKEY_CLASSES_ROOT\\AppID\\{BB667777-FF8C-4506-9C69-8CB46480C1C1}]\r\n"
      "@=\"ZQBlog\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software]\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Velmora]\r\n"
      "\"Blob\"=hex:00,7f,ff\r\n"
      "\"Count\"=dword:1234abcd\r\n"
      "\"Path\"=\"C:\\\\Program Files\\\\\\\"ZQ\\\"\"\r\n"
      "\r\n",
      ReadFile());
}

TEST_F(RegistryTest, ContentsSurviveARereadOfTheFile) {
  RegisterAppId();
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Odd", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"quote\"and\\slash", L"line\r\nbreak"));
  const wchar_t unterminated[] = {L'a', L'b'};
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"raw", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(unterminated),
                                          sizeof unterminated));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"中文", L"获取服务器信息"));
  RegCloseKey(key);
  std::string before = ReadFile();

  // A fresh in-memory registry forgets everything; reading the file brings it back.
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(nullptr));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(file_.c_str()));
  EXPECT_EQ(L"ZQBlog", GetString(HKEY_CLASSES_ROOT, (std::wstring(L"AppID\\") + kAppId).c_str(),
                                 nullptr));
  EXPECT_EQ(kAppId, GetString(HKEY_CLASSES_ROOT, L"AppID\\ZQBlog.DLL", L"AppID"));
  EXPECT_EQ(L"line\r\nbreak", GetString(HKEY_CURRENT_USER, L"Odd", L"quote\"and\\slash"));
  EXPECT_EQ(L"获取服务器信息", GetString(HKEY_CURRENT_USER, L"Odd", L"中文"));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Odd", 0, KEY_READ, &key));
  wchar_t raw[4] = {};
  DWORD size = sizeof raw;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"raw", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(raw), &size));
  EXPECT_EQ(sizeof unterminated, size);
  EXPECT_EQ(0, std::memcmp(unterminated, raw, sizeof unterminated));
  RegCloseKey(key);

  // Writing the re-read registry gives the same text.
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Odd", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"extra", L"1"));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, L"extra"));
  RegCloseKey(key);
  EXPECT_EQ(before, ReadFile());
}

TEST_F(RegistryTest, KeyHandlesStayUsableAcrossARereadOfTheFile) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Kept", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(file_.c_str()));
  EXPECT_EQ(ERROR_SUCCESS, SetString(key, L"v", L"w"));
  EXPECT_EQ(L"w", GetString(HKEY_CLASSES_ROOT, L"Kept", L"v"));
  RegCloseKey(key);
}

TEST_F(RegistryTest, ReadsHandWrittenAndUtf16Exports) {
  WriteFile(
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "; a comment\n"
      "[HKEY_CURRENT_USER\\Software\\Test]\n"
      "@=\"default\"\n"
      "\"Long\"=hex:01,02,\\\n"
      "  03,04\n"
      "\"Multi\"=hex(7):61,00,00,00\n");
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(file_.c_str()));
  EXPECT_EQ(L"default", GetString(HKEY_CURRENT_USER, L"Software\\Test", nullptr));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Test", 0, KEY_READ, &key));
  BYTE data[8];
  DWORD size = sizeof data;
  DWORD type = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Long", nullptr, &type, data, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  ASSERT_EQ(4u, size);
  EXPECT_EQ(0, std::memcmp("\x01\x02\x03\x04", data, 4));
  size = sizeof data;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Multi", nullptr, &type, data, &size));
  EXPECT_EQ(7u, type);
  EXPECT_EQ(4u, size);
  RegCloseKey(key);

  // regedit writes UTF-16LE with a byte-order mark.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"N\"=\"v\"\r\n")) {
    utf16.push_back(c);
    utf16.push_back('\0');
  }
  WriteFile(utf16);
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(file_.c_str()));
  EXPECT_EQ(L"v", GetString(HKEY_LOCAL_MACHINE, L"X", L"N"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Test"));
}

TEST_F(RegistryTest, AMalformedFileIsRefusedAndChangesNothing) {
  RegisterAppId();
  std::string good = ReadFile();
  std::string other = folder_ + "/bad.reg";
  {
    std::ofstream out(other, std::ios::binary);
    out << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_NOWHERE\\X]\r\n";
  }
  EXPECT_EQ(ERROR_BADDB, ZqRegistrySetFile(other.c_str()));
  {
    std::ofstream out(other, std::ios::binary | std::ios::trunc);
    out << "not a registry file\r\n";
  }
  EXPECT_EQ(ERROR_BADDB, ZqRegistrySetFile(other.c_str()));
  // Still the old registry, still written to the old file.
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"AppID\\ZQBlog.DLL"));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CLASSES_ROOT, L"AppID\\ZQBlog.DLL"));
  EXPECT_NE(good, ReadFile());
  EXPECT_EQ(std::string::npos, ReadFile().find("ZQBlog.DLL"));
}

TEST_F(RegistryTest, AChangeThatCannotBeWrittenIsUndone) {
  std::string unwritable = folder_ + "/no/such/folder/registry.reg";
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(unwritable.c_str()));
  HKEY key = nullptr;
  EXPECT_NE(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"AppID", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  EXPECT_EQ(nullptr, key);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
}

TEST_F(RegistryTest, ConcurrentWritersAllLand) {
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(nullptr));  // in memory: fast
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) {
        std::wstring path = L"Threads\\T" + std::to_wstring(t);
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS) {
          continue;
        }
        SetString(key, (L"v" + std::to_wstring(i)).c_str(), std::to_wstring(i));
        RegCloseKey(key);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) {
    std::wstring path = L"Threads\\T" + std::to_wstring(t);
    for (int i = 0; i < 50; ++i) {
      EXPECT_EQ(std::to_wstring(i), GetString(HKEY_CURRENT_USER, path.c_str(),
                                              (L"v" + std::to_wstring(i)).c_str()));
    }
  }
}

}  // namespace
