#include "host/workshop/PluginLoader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "host/http/HttpConnectionService.h"
#include "host/test/FakeShareSessionManager.h"
#include "host/workshop/CommandWorkshop.h"
#include "host/workshop/HostPlatform.h"
#include "host/workshop/PluginRegistry.h"
#include "interfaces/ElvatrixExports.h"

namespace Velmora {
namespace ZQHost {
namespace {

#if defined(ZQHOST_TEST_ELVATRIX) && defined(ZQHOST_TEST_PLUGIN)

std::string BstrToUtf8(BSTR text) {
  std::string out;
  for (UINT i = 0; i < SysStringLen(text); ++i) out.push_back(static_cast<char>(text[i]));
  return out;
}

// The plug-in library may be built before its exports are: say so instead of failing.
bool PluginHasExport() {
  void* library = dlopen(ZQHOST_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  bool found = dlsym(library, "GetPluginObject") != nullptr;
  dlclose(library);
  return found;
}

TEST(PluginLoaderTest, HelperLibraryIsLoadedFirstAndToldTheDataRoot) {
  PluginLoader loader;
  EXPECT_EQ(nullptr, GetModuleHandleW(kElvatrixModuleName));
  ASSERT_EQ(S_OK, loader.LoadHelper(ZQHOST_TEST_ELVATRIX, L"/tmp/zqhost-loader-root/"))
      << loader.LastError();
  // The plug-in finds it the way it would on Windows: already loaded, by name.
  HMODULE module = GetModuleHandleW(kElvatrixModuleName);
  ASSERT_NE(nullptr, module);
  auto get_user_path =
      reinterpret_cast<PFN_ZQ_GetUserPath>(GetProcAddress(module, "ZQ_GetUserPath"));
  ASSERT_NE(nullptr, get_user_path);
  WCHAR path[MAX_PATH] = {};
  get_user_path(path, MAX_PATH);
  EXPECT_EQ(0, std::wstring(path).rfind(L"/tmp/zqhost-loader-root/", 0)) << "ZQ_GetUserPath";
  EXPECT_EQ(E_UNEXPECTED, loader.LoadHelper(ZQHOST_TEST_ELVATRIX, L"/x/"));
}

TEST(PluginLoaderTest, RefusesWhatIsNotAPlugin) {
  PluginLoader loader;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), loader.Load("/nonexistent/libnothing.so"));
  EXPECT_FALSE(loader.LastError().empty());
  // A library without GetPluginObject (the helper) is not kept.
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), loader.Load(ZQHOST_TEST_ELVATRIX));
  EXPECT_FALSE(loader.IsLoaded());
  EXPECT_EQ(nullptr, GetModuleHandleW(kElvatrixModuleName));
  EXPECT_EQ(E_UNEXPECTED, loader.Initialize(reinterpret_cast<IUnknown*>(0x1)));
  EXPECT_EQ(S_OK, loader.Unload());  // nothing loaded
}

TEST(PluginLoaderTest, LoadsStartsAndUnloadsThePlugin) {
  if (!PluginHasExport()) {
    GTEST_SKIP() << ZQHOST_TEST_PLUGIN << " exports no GetPluginObject yet";
  }
  HttpConnectionService http;
  CommandWorkshop workshop;
  HostPlatformConfig config;
  config.data_root = L"/tmp/zqhost-loader-root/";
  http.GetFactory(&config.http_factory);
  workshop.GetInterface(&config.workshop);
  CComPtr<IShareSessionManager> manager = FakeShareSessionManager::Create(2);
  config.share_session_manager = manager;
  CComPtr<HostPlatform> platform;
  ASSERT_EQ(S_OK, HostPlatform::Create(config, &platform));
  PluginRegistry* registry = PluginRegistry::FromInterface(platform->PluginRegistryObject());
  ASSERT_NE(nullptr, registry);

  PluginLoader loader;
  ASSERT_EQ(S_OK, loader.LoadHelper(ZQHOST_TEST_ELVATRIX, config.data_root));
  ASSERT_EQ(S_OK, loader.Load(ZQHOST_TEST_PLUGIN)) << loader.LastError();
  ASSERT_TRUE(loader.IsLoaded());
  ASSERT_NE(nullptr, loader.Blog());
  ASSERT_NE(nullptr, loader.Operation());
  EXPECT_NE(static_cast<void*>(loader.Blog()), static_cast<void*>(loader.Operation()));
  EXPECT_EQ(E_UNEXPECTED, loader.Load(ZQHOST_TEST_PLUGIN));

  BSTR name = nullptr;
  ASSERT_EQ(S_OK, loader.Blog()->GetPluginName(&name));
  EXPECT_EQ("Velmora.Community.ZQBlog", BstrToUtf8(name));
  SysFreeString(name);
  name = nullptr;
  ASSERT_EQ(S_OK, loader.Operation()->GetPluginName(&name));
  EXPECT_EQ("Velmora.Community.ZQBlog", BstrToUtf8(name));
  SysFreeString(name);

  // Start-up registers the plug-in with the host's registry and reads the role.
  EXPECT_EQ(S_OK, loader.Initialize(static_cast<IZQCPPlatform*>(platform)));
  EXPECT_EQ(static_cast<IUnknown*>(loader.Blog()), registry->Find(IID_IZQBlog));
  EXPECT_GE(static_cast<FakeShareSessionManager*>(manager.p)->RoleAsked(), 1);

  registry->Clear();  // the host lets go of the plug-in before it unloads the library
  EXPECT_EQ(S_OK, loader.Unload()) << loader.LastError();
  EXPECT_FALSE(loader.IsLoaded());
  EXPECT_EQ(nullptr, loader.Blog());
}

#else

TEST(PluginLoaderTest, NeedsTheBuiltLibraries) {
  GTEST_SKIP() << "built without the helper library or the plug-in library";
}

#endif

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
