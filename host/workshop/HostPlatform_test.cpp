#include "host/workshop/HostPlatform.h"

#include <gtest/gtest.h>

#include <string>

#include "host/http/HttpConnectionService.h"
#include "host/test/FakeShareSessionManager.h"
#include "host/workshop/CommandWorkshop.h"
#include "host/workshop/PluginRegistry.h"
#include "host/xml/XmlPackageParser.h"
#include "interfaces/IZQBlog.h"
#include "interfaces/IZQBlogOperation.h"

namespace Velmora {
namespace ZQHost {
namespace {

class HostPlatformTest : public ::testing::Test {
 protected:
  HostPlatformTest() {
    http_.GetFactory(&config_.http_factory);
    workshop_.GetInterface(&config_.workshop);
    config_.share_session_manager = FakeShareSessionManager::Create(2);
    config_.data_root = L"/tmp/zqhost-data/";
  }

  CComPtr<HostPlatform> Make() {
    CComPtr<HostPlatform> platform;
    EXPECT_EQ(S_OK, HostPlatform::Create(config_, &platform));
    return platform;
  }

  HttpConnectionService http_;
  CommandWorkshop workshop_;
  HostPlatformConfig config_;
};

TEST_F(HostPlatformTest, ReservedSlotsAnswerNotImplemented) {
  CComPtr<HostPlatform> platform = Make();
  IZQCPPlatform* face = platform;
  EXPECT_EQ(E_NOTIMPL, face->Reserved1());
  EXPECT_EQ(E_NOTIMPL, face->Reserved2());
  EXPECT_EQ(E_NOTIMPL, face->Reserved3());
  EXPECT_EQ(E_NOTIMPL, face->Reserved6());
  EXPECT_EQ(E_NOTIMPL, face->Reserved7());
  EXPECT_EQ(E_NOTIMPL, face->Reserved8());
  EXPECT_EQ(E_NOTIMPL, face->Reserved11());
}

TEST_F(HostPlatformTest, HandsOutTheConfiguredServicesWithAReference) {
  CComPtr<HostPlatform> platform = Make();
  CComPtr<IZQCPCommandWorkshop> workshop;
  EXPECT_EQ(S_OK, platform->GetCommandWorkshop(&workshop));
  EXPECT_EQ(config_.workshop.p, workshop.p);
  CComPtr<IHttpConnectionFactory> factory;
  EXPECT_EQ(S_OK, platform->GetHttpConnectionFactory(&factory));
  EXPECT_EQ(config_.http_factory.p, factory.p);
  CComPtr<IShareSessionManager> manager;
  EXPECT_EQ(S_OK, platform->GetShareSessionManager(&manager));
  EXPECT_EQ(config_.share_session_manager.p, manager.p);
  EXPECT_EQ(L"/tmp/zqhost-data/", platform->DataRoot());

  // No settings store configured: none is handed out.
  ISettingsStore* store = reinterpret_cast<ISettingsStore*>(0x1);
  EXPECT_EQ(E_NOTIMPL, platform->GetSettingsStore(&store));
  EXPECT_EQ(nullptr, store);
  EXPECT_EQ(E_POINTER, platform->GetCommandWorkshop(nullptr));

  // The platform answers for its interface (the plug-in gets it as IUnknown).
  CComPtr<IZQCPPlatform> queried;
  IUnknown* unknown = static_cast<IZQCPPlatform*>(platform);
  EXPECT_EQ(S_OK, unknown->QueryInterface(IID_IZQCPPlatform, reinterpret_cast<void**>(&queried)));
  EXPECT_EQ(static_cast<IZQCPPlatform*>(platform), queried.p);
}

TEST_F(HostPlatformTest, MakesItsOwnPluginRegistryWhenNoneIsGiven) {
  CComPtr<HostPlatform> platform = Make();
  CComPtr<IZQCPPluginRegistry> registry;
  ASSERT_EQ(S_OK, platform->GetPluginRegistry(&registry));
  ASSERT_NE(nullptr, registry.p);
  PluginRegistry* own = PluginRegistry::FromInterface(registry);
  ASSERT_NE(nullptr, own);
  EXPECT_EQ(registry.p, platform->PluginRegistryObject());

  PluginRegistry* given = nullptr;
  ASSERT_EQ(S_OK, PluginRegistry::Create(&given));
  config_.plugin_registry.Attach(given);
  CComPtr<HostPlatform> second = Make();
  CComPtr<IZQCPPluginRegistry> registry2;
  ASSERT_EQ(S_OK, second->GetPluginRegistry(&registry2));
  EXPECT_EQ(static_cast<IZQCPPluginRegistry*>(given), registry2.p);
}

TEST_F(HostPlatformTest, CreateObjectByNameGivesTheXmlParserAndNothingElse) {
  config_.xml_parser_factory = [](IPackageParser** out) { return CreateXmlPackageParser(out); };
  CComPtr<HostPlatform> platform = Make();
  CComPtr<IUnknown> object;
  ASSERT_EQ(S_OK, platform->CreateObjectByName(L"IXMLPackageParser", 0, &object));
  ASSERT_NE(nullptr, object.p);
  CComPtr<IPackageParser> parser;
  ASSERT_EQ(S_OK, object.QueryInterface(&parser));
  EXPECT_EQ(object.p, static_cast<IUnknown*>(parser.p));  // the IUnknown is the parser's
  const char xml[] = "<result message=\"success\"/>";
  EXPECT_EQ(S_OK, parser->Parse(reinterpret_cast<const BYTE*>(xml), sizeof(xml) - 1));
  int count = 0;
  EXPECT_EQ(S_OK, parser->GetPackageCount(&count));
  EXPECT_EQ(1, count);

  CComPtr<IUnknown> second;  // a new parser each time
  ASSERT_EQ(S_OK, platform->CreateObjectByName(L"IXMLPackageParser", 0, &second));
  EXPECT_NE(object.p, second.p);

  for (const wchar_t* name : {L"ixmlpackageparser", L"IXMLPackage", L"", L"IXMLPackageParser "}) {
    IUnknown* none = reinterpret_cast<IUnknown*>(0x1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, platform->CreateObjectByName(name, 0, &none));
    EXPECT_EQ(nullptr, none);
  }
  IUnknown* none = nullptr;
  EXPECT_EQ(E_POINTER, platform->CreateObjectByName(nullptr, 0, &none));
  EXPECT_EQ(E_POINTER, platform->CreateObjectByName(L"IXMLPackageParser", 0, nullptr));
}

TEST_F(HostPlatformTest, CreateObjectByNameWithoutOrWithAFailingFactory) {
  CComPtr<HostPlatform> without = Make();
  IUnknown* none = nullptr;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, without->CreateObjectByName(L"IXMLPackageParser", 0, &none));
  config_.xml_parser_factory = [](IPackageParser** out) {
    *out = nullptr;
    return E_OUTOFMEMORY;
  };
  CComPtr<HostPlatform> failing = Make();
  EXPECT_EQ(E_OUTOFMEMORY, failing->CreateObjectByName(L"IXMLPackageParser", 0, &none));
  EXPECT_EQ(nullptr, none);
}

// ---------------------------------------------------------------- plug-in registry

class FakePlugin : public CComObjectRootEx<CComMultiThreadModel>, public IUnknown {
 public:
  BEGIN_COM_MAP(FakePlugin)
  COM_INTERFACE_ENTRY(IUnknown)
  END_COM_MAP()
};

TEST(PluginRegistryTest, KeepsTheFirstRegistrationPerInterfaceWithAReference) {
  PluginRegistry* raw = nullptr;
  ASSERT_EQ(S_OK, PluginRegistry::Create(&raw));
  CComPtr<IZQCPPluginRegistry> registry;
  registry.Attach(raw);
  EXPECT_EQ(E_NOTIMPL, registry->Reserved1());
  EXPECT_EQ(E_NOTIMPL, registry->Reserved2());
  EXPECT_EQ(E_NOTIMPL, registry->Reserved3());
  EXPECT_EQ(E_NOTIMPL, registry->Reserved4());
  EXPECT_EQ(E_NOTIMPL, registry->Reserved5());

  CComObject<FakePlugin>* first = nullptr;
  CComObject<FakePlugin>::CreateInstance(&first);
  first->AddRef();
  CComObject<FakePlugin>* second = nullptr;
  CComObject<FakePlugin>::CreateInstance(&second);
  second->AddRef();

  EXPECT_EQ(nullptr, raw->Find(IID_IZQBlog));
  EXPECT_EQ(S_OK, registry->RegisterPlugin(IID_IZQBlog, first));
  EXPECT_EQ(2, first->m_dwRef);  // ours and the registry's
  EXPECT_EQ(S_FALSE, registry->RegisterPlugin(IID_IZQBlog, second));
  EXPECT_EQ(1, second->m_dwRef);
  EXPECT_EQ(static_cast<IUnknown*>(first), raw->Find(IID_IZQBlog));
  EXPECT_EQ(S_OK, registry->RegisterPlugin(IID_IZQBlogOperation, second));
  EXPECT_EQ(2u, raw->Count());
  EXPECT_EQ(E_POINTER, registry->RegisterPlugin(IID_IZQBlog, nullptr));

  raw->Clear();
  EXPECT_EQ(0u, raw->Count());
  EXPECT_EQ(1, first->m_dwRef);
  EXPECT_EQ(1, second->m_dwRef);
  first->Release();
  second->Release();

  EXPECT_EQ(nullptr, PluginRegistry::FromInterface(nullptr));
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
