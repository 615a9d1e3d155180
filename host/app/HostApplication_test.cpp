// The assembled host against the real plug-in, helper library and a loopback reference
// service: start-up and shutdown, and how RunOperation ties sink events to the
// operation that caused them.
#include "host/app/HostApplication.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/http/HttpConnectionService.h"
#include "host/http/HttpErrorCodes.h"
#include "host/sharesession/CrossProcessTransport.h"
#include "host/sharesession/ShareSessionHub.h"
#include "host/test/FakeWorkshopCommand.h"
#include "host/workshop/CommandWorkshop.h"
#include "host/workshop/PluginRegistry.h"
#include "interfaces/ElvatrixExports.h"
#include "interfaces/IResultOnAlbum.h"
#include "service/BlogService.h"

namespace Velmora {
namespace ZQHost {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using ZQBlog::Service::BlogService;

#if defined(ZQHOST_TEST_ELVATRIX) && defined(ZQHOST_TEST_PLUGIN)

const char kUser[] = "10001";

std::string MakeTempFolder() {
  char pattern[] = "/tmp/zqhost-app-XXXXXX";
  const char* made = mkdtemp(pattern);
  return made != nullptr ? made : "";
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A TCP port that accepts connections (the kernel does, from its backlog) and never
// answers: every exchange stalls.
class SilentPort {
 public:
  SilentPort() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(fd_, 16);
    socklen_t size = sizeof(address);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~SilentPort() { close(fd_); }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A port nothing listens on (bound, then closed again).
uint16_t ClosedPort() {
  SilentPort probe;
  return probe.port();
}

class HostApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempFolder();
    ASSERT_FALSE(root_.empty());
    std::string error;
    ASSERT_TRUE(service_.Open(&error)) << error;
    ASSERT_TRUE(service_.store().SeedDemo(kUser));
    ASSERT_TRUE(service_.Start("127.0.0.1", 0, &error)) << error;
  }
  void TearDown() override {
    service_.Stop();
    std::filesystem::remove_all(root_);
  }

  HostApplicationOptions Options(uint16_t port) const {
    HostApplicationOptions options;
    options.data_root = root_ + "/data";
    options.connect_to = {"127.0.0.1", port};
    options.helper_library_path = ZQHOST_TEST_ELVATRIX;
    options.plugin_library_path = ZQHOST_TEST_PLUGIN;
    options.operation_timeout = std::chrono::seconds(10);
    return options;
  }

  // Starts host, signs kUser in with a fresh session (command ids from 1).
  void StartSignedIn(HostApplication* host) {
    std::string error;
    ASSERT_TRUE(host->Start(&error)) << error;
    ASSERT_EQ(S_OK, host->Blog()->ClearSession());
    ASSERT_EQ(S_OK, host->SignIn(L"10001"));
  }

  static OperationOutcome Refresh(HostApplication* host, int context,
                                  milliseconds timeout = milliseconds(10000)) {
    return host->RunOperation(
        [context](IZQBlogOperation* operation, IWorkshopCmd** command) {
          return operation->RefreshBlogServerInfo(L"10001", context, nullptr, command);
        },
        timeout);
  }

  std::string root_;
  BlogService service_;
};

TEST_F(HostApplicationTest, StartAssemblesTheDataRootRegistryAndPlugin) {
  HostApplication host(Options(service_.port()));
  std::string error;
  ASSERT_TRUE(host.Start(&error)) << error;
  EXPECT_EQ(root_ + "/data/", host.DataRoot());
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/data/users"));
  EXPECT_TRUE(std::filesystem::exists(host.SettingsPath()));
  EXPECT_EQ(ZQHOST_TEST_PLUGIN, host.PluginPath());
  EXPECT_EQ(ZQHOST_TEST_ELVATRIX, host.HelperPath());

  // DllRegisterServer wrote the AppID into the data root's registry file.
  EXPECT_EQ(S_OK, host.RegisterServerResult());
  const std::string registry = ReadFile(host.RegistryPath());
  EXPECT_NE(std::string::npos, registry.find("{BB667777-FF8C-4506-9C69-8CB46480C1C1}"))
      << registry;

  // Initialize registered the plug-in with the host's registry.
  ASSERT_NE(nullptr, host.Blog());
  ASSERT_NE(nullptr, host.Operation());
  PluginRegistry* registry_object =
      PluginRegistry::FromInterface(host.Platform()->PluginRegistryObject());
  ASSERT_NE(nullptr, registry_object);
  EXPECT_EQ(static_cast<IUnknown*>(host.Blog()), registry_object->Find(IID_IZQBlog));

  // The helper library answers paths below the data root.
  HMODULE helper = GetModuleHandleW(kElvatrixModuleName);
  ASSERT_NE(nullptr, helper);
  auto get_user_path =
      reinterpret_cast<PFN_ZQ_GetUserPath>(GetProcAddress(helper, "ZQ_GetUserPath"));
  ASSERT_NE(nullptr, get_user_path);
  WCHAR path[512] = {};
  get_user_path(path, 512);
  const std::wstring expected = std::wstring(root_.begin(), root_.end()) + L"/data/users/";
  EXPECT_EQ(expected, std::wstring(path));

  // Shutdown signs out and stops everything, so the plug-in has no live objects left
  // and both libraries are unloaded.
  host.Shutdown();
  EXPECT_EQ(nullptr, host.Blog());
  EXPECT_EQ(nullptr, dlopen(ZQHOST_TEST_PLUGIN, RTLD_NOW | RTLD_NOLOAD));
  EXPECT_EQ(nullptr, GetModuleHandleW(kElvatrixModuleName));
  host.Shutdown();  // idempotent
  OperationOutcome after = Refresh(&host, 1);
  EXPECT_EQ(OperationOutcome::Kind::kRefused, after.kind);
  EXPECT_EQ(E_UNEXPECTED, after.hr);
}

TEST_F(HostApplicationTest, StartFailsInOneLineAndLeavesNothingHalfBuilt) {
  HostApplicationOptions options = Options(service_.port());
  options.plugin_library_path = root_ + "/missing/libzqblog.so";
  {
    HostApplication host(options);
    std::string error;
    EXPECT_FALSE(host.Start(&error));
    EXPECT_NE(std::string::npos, error.find(options.plugin_library_path)) << error;
    EXPECT_EQ(std::string::npos, error.find('\n')) << error;
    EXPECT_EQ(nullptr, host.Blog());
    EXPECT_EQ(nullptr, host.Workshop());
  }
  options.plugin_library_path = ZQHOST_TEST_PLUGIN;
  options.data_root = "";
  {
    HostApplication host(options);
    std::string error;
    EXPECT_FALSE(host.Start(&error));
    EXPECT_FALSE(error.empty());
  }
  // A host built afterwards starts normally.
  HostApplication host(Options(service_.port()));
  std::string error;
  EXPECT_TRUE(host.Start(&error)) << error;
}

TEST_F(HostApplicationTest, ResultsArriveUnderTheCommandIdsOfTheirOperations) {
  HostApplication host(Options(service_.port()));
  StartSignedIn(&host);
  if (!host.SinksAdvised()) {
    GTEST_SKIP() << "the plug-in refuses the result sinks: "
                 << DescribeHResult(host.SinkAdviseResult());
  }
  OperationOutcome first = Refresh(&host, 77);
  ASSERT_EQ(OperationOutcome::Kind::kResult, first.kind) << first.Describe();
  EXPECT_EQ(1, first.command_id);
  EXPECT_EQ(0, first.result_kind);
  EXPECT_TRUE(first.final_state == 5) << first.final_state;
  int status = 0;
  int extra = 0;
  int index = -1;
  first.result->GetStatus(&status);
  first.result->GetExtraValue(&extra);
  first.result->GetOperationIndex(&index);
  EXPECT_EQ(1, status);
  EXPECT_EQ(77, extra);  // the context value of this submission, not another's
  EXPECT_EQ(0, index);

  OperationOutcome second = Refresh(&host, 78);
  ASSERT_EQ(OperationOutcome::Kind::kResult, second.kind) << second.Describe();
  EXPECT_EQ(2, second.command_id);
  second.result->GetExtraValue(&extra);
  EXPECT_EQ(78, extra);

  // The directory the command stored is there to query.
  bool opened = false;
  EXPECT_EQ(S_OK, host.Blog()->IsBlogOpened(L"10001", &opened));
  EXPECT_TRUE(opened);

  // The results the session held do not keep the library loaded past Shutdown.
  first.result.Release();
  second.result.Release();
  host.Shutdown();
  EXPECT_EQ(nullptr, dlopen(ZQHOST_TEST_PLUGIN, RTLD_NOW | RTLD_NOLOAD));
}

TEST_F(HostApplicationTest, TransportErrorsComeBackAsFailures) {
  HostApplication host(Options(ClosedPort()));
  StartSignedIn(&host);
  if (!host.SinksAdvised()) {
    GTEST_SKIP() << "the plug-in refuses the sinks: " << DescribeHResult(host.SinkAdviseResult());
  }
  OperationOutcome outcome = Refresh(&host, 1);
  ASSERT_EQ(OperationOutcome::Kind::kFailure, outcome.kind) << outcome.Describe();
  EXPECT_EQ(0, outcome.failure_operation);
  EXPECT_EQ(kHttpErrorConnectionRefused, outcome.failure_code);
  EXPECT_EQ(6, outcome.final_state);
  EXPECT_EQ("server directory failed: connection refused (0x8007274D)", outcome.Describe());
}

TEST_F(HostApplicationTest, TimeOutReturnsAtOnceAndLateEventsStayWithTheirCommand) {
  SilentPort silent;
  HostApplicationOptions options = Options(silent.port());
  options.http_stall_timeout = milliseconds(700);
  HostApplication host(options);
  StartSignedIn(&host);
  if (!host.SinksAdvised()) {
    GTEST_SKIP() << "the plug-in refuses the sinks: " << DescribeHResult(host.SinkAdviseResult());
  }
  const auto start = steady_clock::now();
  OperationOutcome stalled = Refresh(&host, 1, milliseconds(200));
  const auto waited = steady_clock::now() - start;
  EXPECT_EQ(OperationOutcome::Kind::kTimedOut, stalled.kind) << stalled.Describe();
  EXPECT_EQ("timed out after 0.2 s", stalled.Describe());
  EXPECT_LT(waited, milliseconds(650)) << "the time-out was not honoured";

  // The stalled command fails later (stall time-out) with a failure event. The next
  // operation goes to the real service; it must get its own result, not that failure.
  host.Http()->ResolverTable().MapAll({"127.0.0.1", service_.port()});
  OperationOutcome next = Refresh(&host, 5, milliseconds(5000));
  ASSERT_EQ(OperationOutcome::Kind::kResult, next.kind) << next.Describe();
  int extra = 0;
  next.result->GetExtraValue(&extra);
  EXPECT_EQ(5, extra);
}

TEST_F(HostApplicationTest, OperationsThatCannotRunAreReportedNotWaitedFor) {
  HostApplication host(Options(service_.port()));
  StartSignedIn(&host);

  // The plug-in's refusal is passed on with its code.
  OperationOutcome refused = host.RunOperation(
      [](IZQBlogOperation*, IWorkshopCmd**) { return E_NOTIMPL; }, milliseconds(5000));
  EXPECT_EQ(OperationOutcome::Kind::kRefused, refused.kind);
  EXPECT_EQ(E_NOTIMPL, refused.hr);
  EXPECT_EQ("the plug-in refused the operation: E_NOTIMPL (0x80004001)", refused.Describe());

  // A command that ends without telling any sink: no result, and its final state.
  auto silent_end = FakeWorkshopCommand::Create();
  silent_end->ScriptStart(5, S_OK);
  CommandWorkshop* workshop = host.Workshop();
  const auto start = steady_clock::now();
  OperationOutcome quiet = host.RunOperation(
      [&](IZQBlogOperation*, IWorkshopCmd** command) {
        workshop->AddCommand(silent_end);
        *command = silent_end;
        (*command)->AddRef();
        return S_OK;
      },
      milliseconds(5000));
  EXPECT_EQ(OperationOutcome::Kind::kNoResult, quiet.kind) << quiet.Describe();
  EXPECT_EQ(5, quiet.final_state);
  EXPECT_LT(steady_clock::now() - start, milliseconds(2000));
  if (host.SinksAdvised()) {
    EXPECT_EQ("the command ended with neither a result nor a failure notice (command state 5)",
              quiet.Describe());
  }

  // A command handed back but never submitted, which stays running: a time-out.
  auto orphan = FakeWorkshopCommand::Create();
  OperationOutcome lost = host.RunOperation(
      [&](IZQBlogOperation*, IWorkshopCmd** command) {
        int old = 0;
        orphan->SetState(2, &old);
        *command = orphan;
        (*command)->AddRef();
        return S_OK;
      },
      milliseconds(150));
  EXPECT_EQ(OperationOutcome::Kind::kTimedOut, lost.kind) << lost.Describe();
  EXPECT_EQ("timed out after 0.15 s", lost.Describe());
  // It is still running: the next operation waits for it, then reports it busy.
  OperationOutcome busy = Refresh(&host, 1, milliseconds(100));
  EXPECT_EQ(OperationOutcome::Kind::kBusy, busy.kind) << busy.Describe();
  int old = 0;
  orphan->SetState(6, &old);
  OperationOutcome after = Refresh(&host, 1, milliseconds(5000));
  EXPECT_NE(OperationOutcome::Kind::kBusy, after.kind) << after.Describe();
}

// The serving process of a share session between processes, played by a hub of its
// own in this program: it takes every request and never answers.
class TakingServer : public CComObjectRootEx<CComMultiThreadModel>,
                     public IOnRecvShareSessionOperationEvent {
 public:
  BEGIN_COM_MAP(TakingServer)
  COM_INTERFACE_ENTRY(IOnRecvShareSessionOperationEvent)
  END_COM_MAP()

  STDMETHOD(OnRecvOperation)(IShareSessionMessage* request) override {
    std::lock_guard<std::mutex> lock(mutex_);
    taken_.emplace_back(request);
    return S_OK;
  }
  STDMETHOD(OnRecvOperationResult)(IShareSessionMessage*) override { return S_OK; }
  size_t Taken() {
    std::lock_guard<std::mutex> lock(mutex_);
    return taken_.size();
  }
  void Drop() {
    std::lock_guard<std::mutex> lock(mutex_);
    taken_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<CComPtr<IShareSessionMessage>> taken_;
};

bool Eventually(const std::function<bool()>& done) {
  const auto give_up = steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

TEST_F(HostApplicationTest, ForwardingNotesAServingProcessThatWentAwayAndReportsChanges) {
  HostApplicationOptions options = Options(ClosedPort());  // it never needs the network
  options.share_session_role = 0;
  options.share_session_user = kUser;
  std::mutex changes_mutex;
  std::vector<ShareSessionChange> changes;
  options.on_change = [&](const ShareSessionChange& change) {
    std::lock_guard<std::mutex> lock(changes_mutex);
    changes.push_back(change);
  };
  HostApplication host(options);
  StartSignedIn(&host);
  EXPECT_FALSE(HostApplication::IsShareSessionServed(options.data_root, kUser));

  // Nobody serves: the forwarded operation is answered at once, and said to be lost.
  OperationOutcome alone = Refresh(&host, 1);
  EXPECT_TRUE(alone.serving_process_lost) << alone.Describe();

  // A serving process comes up, broadcasts, takes the next request and goes away.
  CrossProcessTransport::Options serve;
  serve.data_root = options.data_root;
  serve.user = kUser;
  serve.side = CrossProcessTransport::Side::kServe;
  std::string error;
  std::unique_ptr<CrossProcessTransport> link = CrossProcessTransport::Create(serve, &error);
  ASSERT_NE(nullptr, link) << error;
  CrossProcessTransport* serving = link.get();
  auto hub = std::make_unique<ShareSessionHub>(std::move(link));
  CComPtr<IShareSessionManager> manager;
  ASSERT_EQ(S_OK, CreateShareSessionManager(hub.get(), 1, &manager));
  manager->RegisterModule("ZQBlog", 10);
  CComPtr<IShareSessionServer> server;
  ASSERT_EQ(S_OK, manager->GetModuleServer("ZQBlog", 10, &server));
  CComObject<TakingServer>* taker = nullptr;
  ASSERT_EQ(S_OK, CComObject<TakingServer>::CreateInstance(&taker));
  CComPtr<IOnRecvShareSessionOperationEvent> handler(taker);
  server->AttachOperationHandler(handler);
  EXPECT_TRUE(HostApplication::IsShareSessionServed(options.data_root, kUser));
  ASSERT_TRUE(Eventually([&] { return serving->JoinedPeers() == 1; }));

  const BYTE record[] = {5, 0, 0, 0, '1', '0', '0', '0', '1', 0xFF};
  ASSERT_EQ(S_OK, server->PublishData(record, sizeof(record)));
  ASSERT_EQ(S_OK, server->PublishNotice(0, 999, 0, 0));  // a code the plug-in does not know
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> lock(changes_mutex);
    return !changes.empty();
  }));
  {
    std::lock_guard<std::mutex> lock(changes_mutex);
    EXPECT_EQ(999, changes[0].notice);
    EXPECT_EQ(kUser, changes[0].uin);
    EXPECT_EQ(sizeof(record), changes[0].payload_size);
    EXPECT_FALSE(changes[0].served);
  }

  std::thread leaver([&] {
    if (Eventually([&] { return taker->Taken() == 1; })) {
      hub->Shutdown();  // its lock goes, as when the process is killed
    }
  });
  OperationOutcome lost = Refresh(&host, 2);
  leaver.join();
  EXPECT_EQ(1u, taker->Taken());
  EXPECT_TRUE(lost.serving_process_lost) << lost.Describe();
  EXPECT_NE(OperationOutcome::Kind::kTimedOut, lost.kind) << lost.Describe();
  taker->Drop();
  server.Release();
  manager.Release();
  hub.reset();
}

TEST_F(HostApplicationTest, ServingIsRefusedWhileAnotherProcessServes) {
  CrossProcessTransport::Options serve;
  serve.data_root = root_ + "/data";
  serve.user = kUser;
  serve.side = CrossProcessTransport::Side::kServe;
  std::string error;
  std::unique_ptr<CrossProcessTransport> other = CrossProcessTransport::Create(serve, &error);
  ASSERT_NE(nullptr, other) << error;

  HostApplicationOptions options = Options(service_.port());
  options.share_session_role = 1;
  options.share_session_user = kUser;
  HostApplication host(options);
  EXPECT_FALSE(host.Start(&error));
  EXPECT_EQ("another process already serves the share session of 10001 in " + root_ + "/data",
            error);
  EXPECT_EQ(nullptr, host.Blog());

  other->Stop();
  HostApplication again(options);
  EXPECT_TRUE(again.Start(&error)) << error;
  EXPECT_TRUE(HostApplication::IsShareSessionServed(options.data_root, kUser));
  again.Shutdown();
  EXPECT_FALSE(HostApplication::IsShareSessionServed(options.data_root, kUser));
}

TEST(HostApplicationTextTest, DescriptionsNameCodesAndOperations) {
  EXPECT_EQ("E_NOTIMPL (0x80004001)", DescribeHResult(E_NOTIMPL));
  EXPECT_EQ("E_FAIL (0x80004005)", DescribeHResult(E_FAIL));
  EXPECT_EQ("0x80070002", DescribeHResult(HRESULT_FROM_WIN32(2)));
  EXPECT_EQ("connection refused (0x8007274D)", DescribeHttpError(kHttpErrorConnectionRefused));
  EXPECT_EQ("error 0x00000007", DescribeHttpError(7));
  EXPECT_EQ("server directory", OperationName(0));
  EXPECT_EQ("copy", OperationName(11));
  EXPECT_EQ("operation 12", OperationName(12));

  OperationOutcome failure;
  failure.kind = OperationOutcome::Kind::kFailure;
  failure.failure_operation = 10;  // move: the code is the source album
  failure.failure_code = 42;
  EXPECT_EQ("move failed in transport (album 42)", failure.Describe());
}

#else

TEST(HostApplicationTest, NeedsTheBuiltLibraries) {
  GTEST_SKIP() << "built without the helper library or the plug-in library";
}

#endif

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
