#include "module/CZQBlogModule.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "data/ResourceInfo.h"
#include "platform/win32/classes_root_override.h"

namespace Velmora {
namespace ZQBlog {
namespace {

bool KeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

std::wstring StringValue(const std::wstring& path, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return L"<no key>";
  }
  wchar_t buffer[128] = {};
  DWORD size = sizeof(buffer);
  LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? std::wstring(buffer) : L"<no value>";
}

const std::wstring kAppIdKey = L"AppID\\{BB667777-FF8C-4506-9C69-8CB46480C1C1}";
const std::wstring kDllKey = L"AppID\\ZQBlog.DLL";

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    classesRoot_ = std::make_unique<zq_test::ClassesRootOverride>();  // a private HKCR
    ASSERT_TRUE(classesRoot_->ok());
#else
    ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(nullptr));
#endif
  }
  CZQBlogModule module_;  // this test binary's module: objects count in its lock
#if defined(_WIN32)
  std::unique_ptr<zq_test::ClassesRootOverride> classesRoot_;
#endif
};

TEST_F(ModuleTest, TheScriptIsTheOneTheDllCarries) {
  std::wstring script;
  ASSERT_TRUE(CZQBlogModule::LoadRegistryScript(&script));
  EXPECT_NE(std::wstring::npos, script.find(L"NoRemove AppID"));
  EXPECT_NE(std::wstring::npos, script.find(L"'%APPID%' = s 'ZQBlog'"));
  EXPECT_NE(std::wstring::npos, script.find(L"val AppID = s '%APPID%'"));
}

TEST_F(ModuleTest, RegisterWritesTheAppIdAndUnregisterKeepsOnlyTheAppIdKey) {
  ASSERT_EQ(S_OK, module_.DllRegisterServer());
  EXPECT_EQ(L"ZQBlog", StringValue(kAppIdKey, nullptr));
  EXPECT_EQ(L"{BB667777-FF8C-4506-9C69-8CB46480C1C1}", StringValue(kDllKey, L"AppID"));

  ASSERT_EQ(S_OK, module_.DllUnregisterServer());
  EXPECT_TRUE(KeyExists(L"AppID"));
  EXPECT_FALSE(KeyExists(kAppIdKey));
  EXPECT_FALSE(KeyExists(kDllKey));
  // Registering again after removal works the same.
  ASSERT_EQ(S_OK, module_.DllRegisterServer());
  EXPECT_TRUE(KeyExists(kAppIdKey));
  ASSERT_EQ(S_OK, module_.DllUnregisterServer());
}

#if !defined(_WIN32)  // the registry file is the Linux registry substitute's
TEST_F(ModuleTest, RegistrationPersistsInTheRegistryFile) {
  std::string path = ::testing::TempDir() + "zqblog_module_registry.reg";
  std::remove(path.c_str());
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(path.c_str()));
  ASSERT_EQ(S_OK, module_.DllRegisterServer());
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(nullptr));
  EXPECT_FALSE(KeyExists(kAppIdKey));
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(path.c_str()));  // read back from the file
  EXPECT_EQ(L"ZQBlog", StringValue(kAppIdKey, nullptr));
  ASSERT_EQ(S_OK, module_.DllUnregisterServer());
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(nullptr));
  std::remove(path.c_str());
}
#endif

TEST_F(ModuleTest, CanUnloadFollowsLiveObjects) {
  EXPECT_EQ(S_OK, module_.DllCanUnloadNow());
  CComObject<ResourceInfo>* resource = nullptr;
  ASSERT_EQ(S_OK, CComObject<ResourceInfo>::CreateInstance(&resource));
  resource->AddRef();
  EXPECT_EQ(S_FALSE, module_.DllCanUnloadNow());
  resource->Release();
  EXPECT_EQ(S_OK, module_.DllCanUnloadNow());
}

TEST_F(ModuleTest, NoClassObjects) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
            module_.DllGetClassObject(IID_IUnknown, IID_IClassFactory, &object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(E_POINTER, module_.DllGetClassObject(IID_IUnknown, IID_IClassFactory, nullptr));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
