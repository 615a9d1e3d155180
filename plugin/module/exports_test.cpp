// The five exports, called on the built shared library as a host calls them.
#include <gtest/gtest.h>

#if defined(ZQBLOG_TEST_LIBRARY)
#include <dlfcn.h>

#include <string>

#include "interfaces/IZQBlog.h"
#include "interfaces/IZQBlogOperation.h"

namespace {

typedef HRESULT (*NoArgExport)();
typedef HRESULT (*GetClassObjectExport)(REFCLSID, REFIID, void**);
typedef HRESULT (*GetPluginObjectExport)(void**);

class ExportsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    library_ = dlopen(ZQBLOG_TEST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, library_) << dlerror();
  }
  static void TearDownTestSuite() {
    // The plug-in stays loaded, as a host keeps it while it may call it.
  }
  template <class F>
  static F Export(const char* name) {
    return reinterpret_cast<F>(dlsym(library_, name));
  }
  static void* library_;
};
void* ExportsTest::library_ = nullptr;

TEST_F(ExportsTest, AllFiveAreThere) {
  for (const char* name : {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                           "DllUnregisterServer", "GetPluginObject"}) {
    EXPECT_NE(nullptr, dlsym(library_, name)) << name;
  }
}

TEST_F(ExportsTest, GetPluginObjectHandsOutOneObjectWithoutAddingReferences) {
  auto get = Export<GetPluginObjectExport>("GetPluginObject");
  ASSERT_NE(nullptr, get);
  void* first = nullptr;
  void* second = nullptr;
  ASSERT_EQ(S_OK, get(&first));
  ASSERT_EQ(S_OK, get(&second));
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, second);
  IZQBlog* blog = static_cast<IZQBlog*>(first);
  EXPECT_EQ(1u, blog->AddRef());  // the exports added none
  EXPECT_EQ(0u, blog->Release());
  BSTR name = nullptr;
  ASSERT_EQ(S_OK, blog->GetPluginName(&name));
  EXPECT_EQ(std::wstring(L"Velmora.Community.ZQBlog"), std::wstring(name, SysStringLen(name)));
  SysFreeString(name);
  void* operation = nullptr;
  EXPECT_EQ(S_OK, blog->QueryInterface(IID_IZQBlogOperation, &operation));
  EXPECT_NE(nullptr, operation);
  EXPECT_EQ(E_POINTER, get(nullptr));
  // Driven to zero by the host, the object is still handed out and works.
  void* again = nullptr;
  ASSERT_EQ(S_OK, get(&again));
  EXPECT_EQ(first, again);
  ASSERT_EQ(S_OK, static_cast<IZQBlog*>(again)->GetPluginName(&name));
  SysFreeString(name);
}

TEST_F(ExportsTest, CanUnloadAndNoClassObjects) {
  EXPECT_EQ(S_OK, Export<NoArgExport>("DllCanUnloadNow")());
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
            Export<GetClassObjectExport>("DllGetClassObject")(IID_IUnknown, IID_IClassFactory,
                                                              &object));
  EXPECT_EQ(nullptr, object);
}

TEST_F(ExportsTest, RegisterAndUnregisterTheAppId) {
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(nullptr));
  ASSERT_EQ(S_OK, Export<NoArgExport>("DllRegisterServer")());
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L"AppID\\ZQBlog.DLL", 0, KEY_READ,
                                         &key));
  RegCloseKey(key);
  ASSERT_EQ(S_OK, Export<NoArgExport>("DllUnregisterServer")());
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L"AppID", 0, KEY_READ, &key));
  RegCloseKey(key);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExW(HKEY_CLASSES_ROOT, L"AppID\\ZQBlog.DLL", 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExW(HKEY_CLASSES_ROOT, L"AppID\\{BB667777-FF8C-4506-9C69-8CB46480C1C1}",
                          0, KEY_READ, &key));
}

}  // namespace
#endif  // ZQBLOG_TEST_LIBRARY
