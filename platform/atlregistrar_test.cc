#include "platform/atlregistrar.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/win32/classes_root_override.h"

namespace {

const wchar_t kAppScript[] =
    L"HKCR\n"
    L"{\n"
    L"\tNoRemove AppID\n"
    L"\t{\n"
    L"\t\t'%APPID%' = s 'ZQBlog'\n"
    L"\t\t'ZQBlog.DLL'\n"
    L"\t\t{\n"
    L"\t\t\tval AppID = s '%APPID%'\n"
    L"\t\t}\n"
    L"\t}\n"
    L"}\n";

const wchar_t kAppId[] = L"{BB667777-FF8C-4506-9C69-8CB46480C1C1}";

bool KeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

// The string value, or "<absent>".
std::wstring Value(const std::wstring& path, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return L"<absent>";
  }
  wchar_t buffer[256] = {};
  DWORD size = sizeof(buffer);
  DWORD type = 0;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return L"<absent>";
  return buffer;
}

class RegistrarTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    classesRoot_ = std::make_unique<zq_test::ClassesRootOverride>();  // a private HKCR
    ASSERT_TRUE(classesRoot_->ok());
#else
    ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(nullptr));  // a fresh in-memory registry
#endif
    ASSERT_EQ(S_OK, registrar_.AddReplacement(L"APPID", kAppId));
  }
  void TearDown() override {
    registrar_.StringUnregister(kAppScript);
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L"AppID");
  }

  ATL::CRegObject registrar_;
#if defined(_WIN32)
  std::unique_ptr<zq_test::ClassesRootOverride> classesRoot_;
#endif
};

TEST_F(RegistrarTest, RegisterWritesKeysAndValuesWithReplacements) {
  ASSERT_EQ(S_OK, registrar_.StringRegister(kAppScript));
  EXPECT_TRUE(KeyExists(L"AppID"));
  EXPECT_EQ(L"ZQBlog", Value(std::wstring(L"AppID\\") + kAppId, nullptr));
  EXPECT_EQ(kAppId, Value(L"AppID\\ZQBlog.DLL", L"AppID"));
}

TEST_F(RegistrarTest, UnregisterKeepsNoRemoveKeyAndRemovesTheOthers) {
  ASSERT_EQ(S_OK, registrar_.StringRegister(kAppScript));
  ASSERT_EQ(S_OK, registrar_.StringUnregister(kAppScript));
  EXPECT_TRUE(KeyExists(L"AppID"));
  EXPECT_FALSE(KeyExists(std::wstring(L"AppID\\") + kAppId));
  EXPECT_FALSE(KeyExists(L"AppID\\ZQBlog.DLL"));
  // Unregistering what is not there is not an error.
  EXPECT_EQ(S_OK, registrar_.StringUnregister(kAppScript));
}

TEST_F(RegistrarTest, UnregisterLeavesKeysOfOthersUnderSharedKey) {
  ASSERT_EQ(S_OK, registrar_.StringRegister(kAppScript));
  ATL::CRegObject other;
  ASSERT_EQ(S_OK, other.StringRegister(L"HKCR { NoRemove AppID { Other = s 'x' } }"));
  ASSERT_EQ(S_OK, registrar_.StringUnregister(kAppScript));
  EXPECT_TRUE(KeyExists(L"AppID\\Other"));
  EXPECT_EQ(S_OK, other.StringUnregister(L"HKCR { NoRemove AppID { Other = s 'x' } }"));
  EXPECT_FALSE(KeyExists(L"AppID\\Other"));
}

TEST_F(RegistrarTest, QuotedStringsAndPercentEscapes) {
  ASSERT_EQ(S_OK, registrar_.StringRegister(
                      L"HKCR { Quoted { val 'A B' = s 'it''s 100%% %APPID%' } }"));
  EXPECT_EQ(std::wstring(L"it's 100% ") + kAppId, Value(L"Quoted", L"A B"));
  EXPECT_EQ(S_OK, registrar_.StringUnregister(
                      L"HKCR { Quoted { val 'A B' = s 'it''s 100%% %APPID%' } }"));
  EXPECT_FALSE(KeyExists(L"Quoted"));
}

TEST_F(RegistrarTest, BadScriptsFailAndWriteNothing) {
  const wchar_t* bad[] = {
      L"HKCR { Broken { ",                 // unclosed brace
      L"HKXX { Key }",                     // unknown root
      L"HKCR { Key = s }",                 // value missing
      L"HKCR { Key = d '1' }",             // type other than s
      L"HKCR { Key { val = s 'x' } }",     // value without name
      L"HKCR { 'unterminated }",           // open quote
      L"HKCR { Key = s '%UNKNOWN%' }",     // no such replacement
      L"HKCR { Key = s '%APPID' }",        // unterminated replacement
  };
  for (const wchar_t* script : bad) {
    EXPECT_EQ(E_FAIL, registrar_.StringRegister(script)) << std::wstring(script).size();
  }
  EXPECT_FALSE(KeyExists(L"Broken"));
  EXPECT_FALSE(KeyExists(L"Key"));
  EXPECT_EQ(E_INVALIDARG, registrar_.StringRegister(nullptr));
}

TEST_F(RegistrarTest, ForceRemoveAndDelete) {
  ASSERT_EQ(S_OK, registrar_.StringRegister(L"HKCR { Gone = s 'old' }"));
  ASSERT_EQ(S_OK, registrar_.StringRegister(L"HKCR { ForceRemove Fresh = s 'new' Delete Gone }"));
  EXPECT_FALSE(KeyExists(L"Gone"));
  EXPECT_EQ(L"new", Value(L"Fresh", nullptr));
  ASSERT_EQ(S_OK, registrar_.StringUnregister(L"HKCR { ForceRemove Fresh = s 'new' }"));
  EXPECT_FALSE(KeyExists(L"Fresh"));
}

}  // namespace
