#include "module/ZQBlogPlugin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/ShareSessionCmdParserManager.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IShareSessionServer.h"
#include "interfaces/IZQCPPlatform.h"
#include "interfaces/IZQCPPluginRegistry.h"
#include "module/HostPlatform.h"
#include "module/ZQCPWarpper.h"

namespace Velmora {
namespace ZQBlog {
namespace {

// A scripted host: records what start-up asks of it.
struct HostLog {
  std::vector<std::string> calls;
  IUnknown* registeredPlugin = nullptr;
  IID registeredIid = {};
  IOnRecvShareSessionMsg* messageSink = nullptr;
  IOnRecvShareSessionOperationEvent* operationHandler = nullptr;
};

class FakeChannel : public IShareSessionChannel {
 public:
  explicit FakeChannel(HostLog* log) : log_(log) {}
  STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(BeginReadMessage)() override { return E_NOTIMPL; }
  STDMETHOD(GetMessagePayload)(const BYTE**, int*) override { return E_NOTIMPL; }
  STDMETHOD(EndReadMessage)() override { return E_NOTIMPL; }
  STDMETHOD(AttachMessageSink)(IOnRecvShareSessionMsg* sink) override {
    log_->calls.push_back("channel.AttachMessageSink");
    log_->messageSink = sink;
    return S_OK;
  }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(AttachResultSink)(IOnRecvShareSessionOperationEvent*) override { return E_NOTIMPL; }
  STDMETHOD(DetachResultSink)(IOnRecvShareSessionOperationEvent*) override { return E_NOTIMPL; }
  STDMETHOD(CreateOperationMessage)(IShareSessionMessage**) override { return E_NOTIMPL; }
  STDMETHOD(SendOperationMessage)(IShareSessionMessage*) override { return E_NOTIMPL; }

 private:
  HostLog* log_;
};

class FakeServer : public IShareSessionServer {
 public:
  explicit FakeServer(HostLog* log) : log_(log) {}
  STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(AttachOperationHandler)(IOnRecvShareSessionOperationEvent* handler) override {
    log_->calls.push_back("server.AttachOperationHandler");
    log_->operationHandler = handler;
    return S_OK;
  }
  STDMETHOD(CreateResultMessage)(IShareSessionMessage*, IShareSessionMessage**) override {
    return E_NOTIMPL;
  }
  STDMETHOD(PublishData)(const BYTE*, int) override { return E_NOTIMPL; }
  STDMETHOD(PublishNotice)(int, int, int, int) override { return E_NOTIMPL; }

 private:
  HostLog* log_;
};

class FakeManager : public IShareSessionManager {
 public:
  FakeManager(HostLog* log, int role) : log_(log), role_(role), channel_(log), server_(log) {}
  STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(GetRole)(int* role) override {
    log_->calls.push_back("manager.GetRole");
    *role = role_;
    return S_OK;
  }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(RegisterModule)(LPCSTR name, int priority) override {
    log_->calls.push_back("manager.RegisterModule " + std::string(name) + " " +
                          std::to_string(priority));
    return S_OK;
  }
  STDMETHOD(GetModuleServer)(LPCSTR name, int priority, IShareSessionServer** server) override {
    log_->calls.push_back("manager.GetModuleServer " + std::string(name) + " " +
                          std::to_string(priority));
    *server = &server_;
    return S_OK;
  }
  STDMETHOD(GetModuleChannel)(LPCSTR name, int reserved, IShareSessionChannel** channel) override {
    log_->calls.push_back("manager.GetModuleChannel " + std::string(name) + " " +
                          std::to_string(reserved));
    *channel = &channel_;
    return S_OK;
  }

 private:
  HostLog* log_;
  int role_;
  FakeChannel channel_;
  FakeServer server_;
};

class FakeRegistry : public IZQCPPluginRegistry {
 public:
  explicit FakeRegistry(HostLog* log) : log_(log) {}
  STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(RegisterPlugin)(REFIID iid, IUnknown* plugin) override {
    log_->calls.push_back("registry.RegisterPlugin");
    log_->registeredIid = iid;
    log_->registeredPlugin = plugin;
    return S_OK;
  }

 private:
  HostLog* log_;
};

// The platform object with a real reference count, so the test sees the plug-in keep it.
class FakePlatform : public IZQCPPlatform {
 public:
  FakePlatform(HostLog* log, int role) : registry_(log), manager_(log, role) {}
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
    if (IsEqualGUID(iid, IID_IZQCPPlatform) || IsEqualGUID(iid, IID_IUnknown)) {
      *ppv = static_cast<IZQCPPlatform*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
  STDMETHOD_(ULONG, Release)() override { return --refs; }
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(GetPluginRegistry)(IZQCPPluginRegistry** registry) override {
    *registry = &registry_;
    return S_OK;
  }
  STDMETHOD(GetCommandWorkshop)(IZQCPCommandWorkshop**) override { return E_NOTIMPL; }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved8)() override { return E_NOTIMPL; }
  STDMETHOD(GetHttpConnectionFactory)(IHttpConnectionFactory**) override { return E_NOTIMPL; }
  STDMETHOD(GetShareSessionManager)(IShareSessionManager** manager) override {
    *manager = &manager_;
    return S_OK;
  }
  STDMETHOD(Reserved11)() override { return E_NOTIMPL; }
  STDMETHOD(GetSettingsStore)(ISettingsStore**) override { return E_NOTIMPL; }
  STDMETHOD(CreateObjectByName)(LPCWSTR, int, IUnknown**) override { return E_NOTIMPL; }

  int refs = 0;

 private:
  FakeRegistry registry_;
  FakeManager manager_;
};

ZQBlogPlugin_* Plugin() { return ZQBlogPlugin_::Instance(); }

class PluginStartupTest : public ::testing::Test {
 protected:
  void TearDown() override { ZQCP::SetHostPlatform(nullptr); }
};

TEST(ZQBlogPluginTest, InstanceIsOneObjectAndLeavesTheCountAlone) {
  ZQBlogPlugin_* first = Plugin();
  LONG count = first->RefCount();
  EXPECT_EQ(first, Plugin());
  EXPECT_EQ(count, first->RefCount());
}

TEST(ZQBlogPluginTest, QueryInterfaceAnswersExactlyTheTwoIds) {
  IZQBlog* blog = Plugin();
  LONG count = Plugin()->RefCount();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, blog->QueryInterface(IID_IUnknown, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_NOINTERFACE, blog->QueryInterface(IID_IZQCPPlugin, &out));
  EXPECT_EQ(E_NOINTERFACE, blog->QueryInterface(IID_ICmdEvent, &out));

  void* operation = nullptr;
  ASSERT_EQ(S_OK, blog->QueryInterface(IID_IZQBlogOperation, &operation));
  EXPECT_NE(static_cast<void*>(blog), operation);  // a separate sub-object
  void* primary = nullptr;
  ASSERT_EQ(S_OK, static_cast<IZQBlogOperation*>(operation)->QueryInterface(IID_IZQBlog, &primary));
  EXPECT_EQ(static_cast<void*>(blog), primary);
  // The same answers from the other two sub-objects.
  void* fromSink = nullptr;
  ASSERT_EQ(S_OK, static_cast<IOnRecvShareSessionMsg*>(Plugin())->QueryInterface(IID_IZQBlog,
                                                                                   &fromSink));
  EXPECT_EQ(primary, fromSink);
  EXPECT_EQ(E_POINTER, blog->QueryInterface(IID_IZQBlog, nullptr));
  EXPECT_EQ(count, Plugin()->RefCount());  // no reference added
}

TEST(ZQBlogPluginTest, PlainCountingAndSurvivingZero) {
  IZQBlog* blog = Plugin();
  LONG start = Plugin()->RefCount();
  EXPECT_EQ(static_cast<ULONG>(start + 1), blog->AddRef());
  EXPECT_EQ(static_cast<ULONG>(start + 2), static_cast<IZQBlogOperation*>(Plugin())->AddRef());
  EXPECT_EQ(static_cast<ULONG>(start + 1), blog->Release());
  EXPECT_EQ(static_cast<ULONG>(start), blog->Release());
  // Driven to zero, the object is not destroyed: counting simply goes on.
  while (Plugin()->RefCount() > 0) blog->Release();
  EXPECT_EQ(1u, blog->AddRef());
  EXPECT_EQ(0u, blog->Release());
}

TEST(ZQBlogPluginTest, ReleasedToZeroStillWorks) {
  IZQBlog* blog = Plugin();
  blog->AddRef();
  while (Plugin()->RefCount() > 0) blog->Release();
  ASSERT_EQ(blog, static_cast<IZQBlog*>(Plugin()));
  BSTR name = nullptr;
  ASSERT_EQ(S_OK, blog->GetPluginName(&name));
  EXPECT_STREQ(L"Velmora.Community.ZQBlog", name);
  SysFreeString(name);
}

TEST(ZQBlogPluginTest, PluginNameThroughBothInterfaces) {
  BSTR a = nullptr;
  BSTR b = nullptr;
  ASSERT_EQ(S_OK, static_cast<IZQBlog*>(Plugin())->GetPluginName(&a));
  ASSERT_EQ(S_OK, static_cast<IZQBlogOperation*>(Plugin())->GetPluginName(&b));
  EXPECT_EQ(std::wstring(L"Velmora.Community.ZQBlog"), std::wstring(a, SysStringLen(a)));
  EXPECT_EQ(std::wstring(a, SysStringLen(a)), std::wstring(b, SysStringLen(b)));
  SysFreeString(a);
  SysFreeString(b);
  EXPECT_EQ(E_POINTER, static_cast<IZQBlog*>(Plugin())->GetPluginName(nullptr));
  EXPECT_EQ(S_OK, static_cast<IZQBlog*>(Plugin())->Uninitialize(nullptr));
}

TEST(ZQBlogPluginTest, CommandIdsCountFromOneAndRestartAfterClearSession) {
  ASSERT_EQ(S_OK, Plugin()->ClearSession());
  EXPECT_EQ(1, ZQBlogPlugin_::NextCommandId());
  EXPECT_EQ(2, ZQBlogPlugin_::NextCommandId());
  EXPECT_EQ(3, ZQBlogPlugin_::NextCommandId());
  ASSERT_EQ(S_OK, Plugin()->ClearSession());
  EXPECT_EQ(1, ZQBlogPlugin_::NextCommandId());
}

TEST(ZQBlogPluginTest, SetCurrentUserLowerCases) {
  ASSERT_EQ(S_OK, Plugin()->SetCurrentUser(L"AbC123"));
  EXPECT_EQ(L"abc123", Plugin()->CurrentUser());
  ASSERT_EQ(S_OK, Plugin()->SetCurrentUser(nullptr));
  EXPECT_EQ(L"", Plugin()->CurrentUser());
}

TEST_F(PluginStartupTest, StandAloneRegistersThePluginAndJoinsNothing) {
  HostLog log;
  FakePlatform platform(&log, 2);
  ASSERT_EQ(S_OK, Plugin()->Initialize(&platform));
  EXPECT_EQ((std::vector<std::string>{"registry.RegisterPlugin", "manager.GetRole"}), log.calls);
  EXPECT_TRUE(IsEqualGUID(IID_IZQBlog, log.registeredIid));
  EXPECT_EQ(static_cast<IUnknown*>(static_cast<IZQBlog*>(Plugin())), log.registeredPlugin);
  // The plug-in keeps the platform (one reference) for the life of the library.
  EXPECT_EQ(static_cast<IZQCPPlatform*>(&platform), ZQCP::GetHostPlatform());
  EXPECT_EQ(1, platform.refs);
}

TEST_F(PluginStartupTest, ForwardAttachesTheMessageSinkToTheModuleChannel) {
  HostLog log;
  FakePlatform platform(&log, 0);
  ASSERT_EQ(S_OK, Plugin()->Initialize(&platform));
  EXPECT_EQ((std::vector<std::string>{"registry.RegisterPlugin", "manager.GetRole",
                                      "manager.GetModuleChannel ZQBlog 0",
                                      "channel.AttachMessageSink"}),
            log.calls);
  EXPECT_EQ(static_cast<IOnRecvShareSessionMsg*>(Plugin()), log.messageSink);
}

TEST_F(PluginStartupTest, ServeRegistersTheModuleAndAttachesItsParser) {
  HostLog log;
  FakePlatform platform(&log, 1);
  ASSERT_EQ(S_OK, Plugin()->Initialize(&platform));
  EXPECT_EQ((std::vector<std::string>{"registry.RegisterPlugin", "manager.GetRole",
                                      "manager.RegisterModule ZQBlog 10",
                                      "manager.GetModuleServer ZQBlog 10",
                                      "server.AttachOperationHandler"}),
            log.calls);
  EXPECT_EQ(static_cast<IOnRecvShareSessionOperationEvent*>(
                ShareSessionCmdParserManager_::Instance()->GetParser("ZQBlog")),
            log.operationHandler);
}

TEST_F(PluginStartupTest, UnknownRoleJoinsNothingAndInitializeCanRunAgain) {
  HostLog first;
  FakePlatform platformA(&first, 7);
  ASSERT_EQ(S_OK, Plugin()->Initialize(&platformA));
  EXPECT_EQ((std::vector<std::string>{"registry.RegisterPlugin", "manager.GetRole"}), first.calls);
  HostLog second;
  FakePlatform platformB(&second, 2);
  ASSERT_EQ(S_OK, Plugin()->Initialize(&platformB));
  // The platform pointer is replaced: the first one is released.
  EXPECT_EQ(0, platformA.refs);
  EXPECT_EQ(1, platformB.refs);
  EXPECT_EQ(static_cast<IZQCPPlatform*>(&platformB), ZQCP::GetHostPlatform());
}

TEST_F(PluginStartupTest, NullOrForeignPlatformIsSurvived) {
  EXPECT_EQ(S_OK, Plugin()->Initialize(nullptr));
  EXPECT_EQ(nullptr, ZQCP::GetHostPlatform());
  HostLog log;
  FakeRegistry notAPlatform(&log);
  EXPECT_EQ(S_OK, Plugin()->Initialize(&notAPlatform));
  EXPECT_EQ(nullptr, ZQCP::GetHostPlatform());
  EXPECT_TRUE(log.calls.empty());
}

TEST(ZQCPWarpperTest, CutsTheProgramPathToItsFolder) {
  using ZQCP::ZQCPWarpper_;
  EXPECT_EQ(L"C:\\Program Files\\Host\\", ZQCPWarpper_::CutToDirectory(L"C:\\Program Files\\Host\\host.exe"));
  EXPECT_EQ(L"/usr/bin/", ZQCPWarpper_::CutToDirectory(L"/usr/bin/host"));
  EXPECT_EQ(L"a/b\\", ZQCPWarpper_::CutToDirectory(L"a/b\\c"));
  // The cut fails, and the whole path is kept, without a separator, with one at index 0
  // or with one at the end.
  EXPECT_EQ(L"host.exe", ZQCPWarpper_::CutToDirectory(L"host.exe"));
  EXPECT_EQ(L"/host", ZQCPWarpper_::CutToDirectory(L"/host"));
  EXPECT_EQ(L"dir/", ZQCPWarpper_::CutToDirectory(L"dir/"));
  EXPECT_EQ(L"", ZQCPWarpper_::CutToDirectory(L""));
}

TEST(ZQCPWarpperTest, InstanceRecordsThisProgramsFolder) {
  ZQCP::ZQCPWarpper_* wrapper = ZQCP::ZQCPWarpper_::Instance();
  ASSERT_NE(nullptr, wrapper);
  EXPECT_TRUE(wrapper->Initialize(0));
  const std::wstring& dir = wrapper->ProgramDirectory();
  ASSERT_FALSE(dir.empty());
#if defined(_WIN32)
  EXPECT_EQ(L'\\', dir.back());
#else
  EXPECT_EQ(L'/', dir.back());
#endif
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
