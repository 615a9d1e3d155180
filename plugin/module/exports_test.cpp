// The five exports, called on the built shared library as a host calls them.
#include <gtest/gtest.h>

#if defined(ZQBLOG_TEST_LIBRARY)
#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <memory>
#include <string>

#include "interfaces/IZQBlog.h"
#include "interfaces/IZQBlogOperation.h"
#include "platform/win32/classes_root_override.h"

namespace {

// The exports are __stdcall on 32-bit Windows.
typedef HRESULT(STDMETHODCALLTYPE* NoArgExport)();
typedef HRESULT(STDMETHODCALLTYPE* GetClassObjectExport)(REFCLSID, REFIID, void**);
typedef HRESULT(STDMETHODCALLTYPE* GetPluginObjectExport)(void**);

#if defined(_WIN32)
typedef HMODULE Library;
Library Load(const char* path) { return LoadLibraryA(path); }
void* Symbol(Library library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(library, name));
}
std::string LoadError() { return "LoadLibrary failed: " + std::to_string(GetLastError()); }
#else
typedef void* Library;
Library Load(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
void* Symbol(Library library, const char* name) { return dlsym(library, name); }
std::string LoadError() { return dlerror(); }
#endif

class ExportsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    library_ = Load(ZQBLOG_TEST_LIBRARY);
    ASSERT_NE(nullptr, library_) << LoadError();
  }
  static void TearDownTestSuite() {
    // The plug-in stays loaded, as a host keeps it while it may call it.
  }
  template <class F>
  static F Export(const char* name) {
    return reinterpret_cast<F>(Symbol(library_, name));
  }
  static Library library_;
};
Library ExportsTest::library_ = nullptr;

TEST_F(ExportsTest, AllFiveAreThere) {
  for (const char* name : {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                           "DllUnregisterServer", "GetPluginObject"}) {
    EXPECT_NE(nullptr, Symbol(library_, name)) << name;
  }
}

#if defined(_WIN32)
TEST_F(ExportsTest, OrdinalsOneToFive) {
  const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                         "DllUnregisterServer", "GetPluginObject"};
  for (int ordinal = 1; ordinal <= 5; ++ordinal) {
    FARPROC byOrdinal = GetProcAddress(library_, MAKEINTRESOURCEA(ordinal));
    EXPECT_NE(nullptr, byOrdinal) << ordinal;
    EXPECT_EQ(byOrdinal, GetProcAddress(library_, names[ordinal - 1])) << ordinal;
  }
}
#endif

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
#if defined(_WIN32)
  zq_test::ClassesRootOverride classesRoot;  // a private HKCR
  ASSERT_TRUE(classesRoot.ok());
#else
  ASSERT_EQ(ERROR_SUCCESS, ZqRegistrySetFile(nullptr));
#endif
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
