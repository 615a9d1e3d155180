#include "host/app/HostApplication.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "common/Folders.h"
#include "common/Utf8.h"
#include "host/http/HttpConnectionService.h"
#include "host/http/HttpErrorCodes.h"
#include "host/settings/SettingsStore.h"
#include "host/sharesession/CrossProcessTransport.h"
#include "host/sharesession/ShareSessionHub.h"
#include "host/workshop/CommandWorkshop.h"
#include "host/workshop/HostPlatform.h"
#include "host/workshop/PluginLoader.h"
#include "host/workshop/PluginRegistry.h"
#include "host/xml/XmlPackageParser.h"

namespace Velmora {
namespace ZQHost {

// The sink events since the host started, counted in arrival order; the newest
// kKeptEvents of them are kept (an operation reads those since its submission, and one
// operation sees a handful), so a host that runs for long does not grow with every event.
// The sinks hold it through a shared pointer: the plug-in may keep a sink longer than the
// application lives.
class HostEventLog {
 public:
  struct Event {
    bool is_result = false;
    int first = 0;   // command id, or failure code
    int second = 0;  // result kind, or operation index
  };
  static constexpr size_t kKeptEvents = 4096;

  void Add(const Event& event) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(event);
      ++count_;
      if (events_.size() > kKeptEvents) events_.pop_front();
    }
    changed_.notify_all();
  }

  // The number of events since start, the forgotten ones included.
  size_t Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }

  // The events after the first mark ones, as far as they are kept.
  std::vector<Event> Since(size_t mark) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t first_kept = count_ - events_.size();
    const size_t from = mark > first_kept ? mark - first_kept : 0;
    if (from >= events_.size()) return {};
    return std::vector<Event>(events_.begin() + static_cast<std::ptrdiff_t>(from), events_.end());
  }

  // True once more than mark events have arrived; false at the deadline.
  bool WaitBeyond(size_t mark, std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_until(lock, deadline, [&] { return count_ > mark; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<Event> events_;
  size_t count_ = 0;
};

namespace {

// The host's result sink: records (command id, result kind).
class HostResultSink : public CComObjectRootEx<CComMultiThreadModel>, public IZQBlogResultSink {
 public:
  BEGIN_COM_MAP(HostResultSink)
  COM_INTERFACE_ENTRY(IZQBlogResultSink)
  END_COM_MAP()

  void SetLog(std::shared_ptr<HostEventLog> log) { log_ = std::move(log); }

  STDMETHOD(OnResultReady)(int commandId, int resultKind) override {
    if (log_) log_->Add({true, commandId, resultKind});
    return S_OK;
  }

 private:
  std::shared_ptr<HostEventLog> log_;
};

// The host's failure sink: records (code, operation index).
class HostFailureSink : public CComObjectRootEx<CComMultiThreadModel>,
                        public IZQBlogFailureSink {
 public:
  BEGIN_COM_MAP(HostFailureSink)
  COM_INTERFACE_ENTRY(IZQBlogFailureSink)
  END_COM_MAP()

  void SetLog(std::shared_ptr<HostEventLog> log) { log_ = std::move(log); }

  STDMETHOD(OnFailure)(int code, int operationIndex, int /*value3*/, int /*value4*/) override {
    if (log_) log_->Add({false, code, operationIndex});
    return S_OK;
  }

 private:
  std::shared_ptr<HostEventLog> log_;
};

constexpr std::chrono::milliseconds kShutdownGrace{2000};
constexpr std::chrono::milliseconds kStatePoll{10};

bool IsTerminalState(int state) { return state >= 5 && state <= 8; }

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", value);
  return text;
}

bool FileExists(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return path;
  std::string out = cwd;
  free(cwd);
  if (out.empty() || out.back() != '/') out.push_back('/');
  return out + path;
}

}  // namespace

// ---------------------------------------------------------------- descriptions

std::string DescribeHResult(HRESULT hr) {
  struct Name {
    HRESULT hr;
    const char* name;
  };
  static const Name kNames[] = {
      {S_OK, "S_OK"},
      {S_FALSE, "S_FALSE"},
      {E_NOTIMPL, "E_NOTIMPL"},
      {E_NOINTERFACE, "E_NOINTERFACE"},
      {E_POINTER, "E_POINTER"},
      {E_FAIL, "E_FAIL"},
      {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
      {E_INVALIDARG, "E_INVALIDARG"},
      {E_UNEXPECTED, "E_UNEXPECTED"},
      {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
      {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), "ERROR_MOD_NOT_FOUND"},
      {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), "ERROR_PROC_NOT_FOUND"},
  };
  for (const Name& name : kNames) {
    if (name.hr == hr) return std::string(name.name) + " (" + Hex(static_cast<uint32_t>(hr)) + ")";
  }
  return Hex(static_cast<uint32_t>(hr));
}

std::string DescribeHttpError(int code) {
  struct Name {
    int code;
    const char* text;
  };
  static const Name kNames[] = {
      {kHttpErrorHostNotFound, "host not found"},
      {kHttpErrorConnectionRefused, "connection refused"},
      {kHttpErrorTimedOut, "connection timed out"},
      {kHttpErrorConnectionReset, "connection reset"},
      {kHttpErrorNetworkUnreachable, "network unreachable"},
      {kHttpErrorHostUnreachable, "host unreachable"},
      {kHttpErrorConnectionClosed, "reply cut short"},
      {kHttpErrorBadReply, "a reply that could not be used"},
      {kHttpErrorReplyTooLarge, "reply too large"},
      {kHttpErrorAborted, "connection aborted"},
      {kHttpErrorBadServer, "no usable server"},
      {kHttpErrorOther, "network error"},
      // The plug-in's own: a form too long for its buffer is not sent.
      {static_cast<int>(0x8007006F), "request too long to send"},
  };
  for (const Name& name : kNames) {
    if (name.code == code) return std::string(name.text) + " (" + Hex(static_cast<uint32_t>(code)) + ")";
  }
  return "error " + Hex(static_cast<uint32_t>(code));
}

std::string OperationName(int operationIndex) {
  static const char* const kNames[] = {
      "server directory", "content-id data", "album list",   "resource list",
      "batch collect",    "batch remove",    "create album", "modify album",
      "remove album",     "modify resource", "move",         "copy",
  };
  if (operationIndex >= 0 && operationIndex < 12) return kNames[operationIndex];
  return "operation " + std::to_string(operationIndex);
}

std::string OperationOutcome::Describe() const {
  switch (kind) {
    case Kind::kResult:
      return "result of command " + std::to_string(command_id);
    case Kind::kFailure:
      // Resource list, batch remove, copy and move report the album, not the error.
      if (failure_operation == 3 || failure_operation == 5 || failure_operation == 10 ||
          failure_operation == 11) {
        return OperationName(failure_operation) + " failed in transport (album " +
               std::to_string(failure_code) + ")";
      }
      return OperationName(failure_operation) + " failed: " + DescribeHttpError(failure_code);
    case Kind::kNoResult: {
      if (command_id != 0) {
        return "the result of command " + std::to_string(command_id) +
               " could not be fetched: GetCommandResult answered " + DescribeHResult(hr);
      }
      // A command that ends without telling its outcome has not succeeded for the
      // host, whatever its state says.
      const std::string state = "command state " + std::to_string(final_state);
      if (FAILED(hr)) {
        return "the plug-in took no result sink (" + DescribeHResult(hr) +
               "), so the outcome is unknown (" + state + ")";
      }
      if (http_status != 0) {
        return "the service answered HTTP " + std::to_string(http_status) +
               " with nothing the plug-in could read (" + state + ")";
      }
      return "the command ended with neither a result nor a failure notice (" + state + ")";
    }
    case Kind::kTimedOut: {
      char amount[32];
      std::snprintf(amount, sizeof(amount), "%.3f", static_cast<double>(timeout.count()) / 1000.0);
      std::string seconds = amount;
      while (seconds.back() == '0') seconds.pop_back();
      if (seconds.back() == '.') seconds.pop_back();
      return "timed out after " + seconds + " s";
    }
    case Kind::kRefused:
      return "the plug-in refused the operation: " + DescribeHResult(hr);
    case Kind::kBusy:
      return "an earlier command that timed out is still running";
  }
  return "unknown outcome";
}

// ---------------------------------------------------------------- HostApplication

HostApplication::HostApplication(HostApplicationOptions options)
    : options_(std::move(options)), events_(std::make_shared<HostEventLog>()) {}

HostApplication::~HostApplication() { Shutdown(); }

bool HostApplication::IsShareSessionServed(const std::string& data_root,
                                           const std::string& user) {
  return CrossProcessTransport::IsServed(data_root, user);
}

std::string HostApplication::ProgramFolder() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return std::string();
  std::string text(path, static_cast<size_t>(n));
  size_t slash = text.rfind('/');
  if (slash == std::string::npos) return std::string();
  return text.substr(0, slash + 1);
}

std::string HostApplication::FindLibrary(const std::string& given, const char* file_name,
                                         const char* build_folder,
                                         const char* build_path) const {
  if (!given.empty()) return given;
  const std::string folder = ProgramFolder();
  std::vector<std::string> candidates;
  if (!folder.empty()) {
    candidates.push_back(folder + file_name);
    candidates.push_back(folder + "../" + build_folder + "/" + file_name);
  }
  if (build_path != nullptr && *build_path != '\0') candidates.push_back(build_path);
  for (const std::string& candidate : candidates) {
    if (FileExists(candidate)) return candidate;
  }
  return candidates.empty() ? std::string(file_name) : candidates.front();
}

bool HostApplication::Fail(const std::string& message, std::string* error) {
  if (error != nullptr) *error = message;
  Shutdown();
  return false;
}

bool HostApplication::Start(std::string* error) {
  if (started_ || loader_) return Fail("the host is started already", error);
  if (options_.data_root.empty()) return Fail("no data folder given", error);

  // The data root and what lives in it.
  data_root_ = AbsolutePath(options_.data_root);
  if (data_root_.back() != '/') data_root_.push_back('/');
  if (!Common::MakeFolders(data_root_ + "users")) {
    return Fail("cannot create the data folder " + data_root_ + ": " + std::strerror(errno),
                error);
  }
  LONG reg = ZqRegistrySetFile(RegistryPath().c_str());
  if (reg != ERROR_SUCCESS) {
    return Fail("cannot use the registry file " + RegistryPath() + " (error " +
                    std::to_string(reg) + ")",
                error);
  }
  HRESULT hr = OpenSettingsStore(SettingsPath(), &settings_);
  if (FAILED(hr)) {
    return Fail("cannot open the settings database " + SettingsPath() + ": " +
                    DescribeHResult(hr),
                error);
  }

  // The host services.
  HttpServiceOptions http_options;
  http_options.stall_timeout = options_.http_stall_timeout;
  http_ = std::make_unique<HttpConnectionService>(http_options);
  if (!options_.connect_to.host.empty()) http_->ResolverTable().MapAll(options_.connect_to);
  http_->SetReplyObserver([this, forward = options_.on_reply](const HttpReplyProgress& reply) {
    // The report of a reply's header: nothing received yet, not complete.
    if (reply.received == 0 && !reply.complete) {
      last_http_status_ = reply.status;
      ++replies_seen_;
    }
    if (forward) forward(reply);
  });
  workshop_ = std::make_unique<CommandWorkshop>();
  const int role = options_.share_session_role;
  if (!options_.share_session_user.empty() && (role == 0 || role == 1)) {
    CrossProcessTransport::Options link_options;
    link_options.data_root = data_root_;
    link_options.user = options_.share_session_user;
    link_options.side =
        role == 1 ? CrossProcessTransport::Side::kServe : CrossProcessTransport::Side::kForward;
    std::string link_error;
    std::unique_ptr<CrossProcessTransport> link =
        CrossProcessTransport::Create(link_options, &link_error);
    if (link == nullptr) return Fail(link_error, error);
    link_ = link.get();
    hub_ = std::make_unique<ShareSessionHub>(std::move(link));
  } else {
    hub_ = std::make_unique<ShareSessionHub>();
  }
  hr = CreateShareSessionManager(hub_.get(), role, &manager_);
  if (FAILED(hr)) return Fail("cannot join the share session: " + DescribeHResult(hr), error);
  if (options_.on_change) hub_->ObserveChanges(manager_, options_.on_change);

  HostPlatformConfig config;
  config.data_root = Common::Utf8ToWide(data_root_);
  http_->GetFactory(&config.http_factory);
  workshop_->GetInterface(&config.workshop);
  config.share_session_manager = manager_;
  config.settings_store = settings_;
  config.xml_parser_factory = [](IPackageParser** out) { return CreateXmlPackageParser(out); };
  hr = HostPlatform::Create(config, &platform_);
  if (FAILED(hr)) return Fail("cannot make the platform object: " + DescribeHResult(hr), error);

  // The libraries: the helper first (the plug-in finds it loaded), then the plug-in.
#if defined(ZQHOST_BUILD_ELVATRIX)
  const char* build_helper = ZQHOST_BUILD_ELVATRIX;
#else
  const char* build_helper = nullptr;
#endif
#if defined(ZQHOST_BUILD_PLUGIN)
  const char* build_plugin = ZQHOST_BUILD_PLUGIN;
#else
  const char* build_plugin = nullptr;
#endif
  helper_path_ = FindLibrary(options_.helper_library_path, "libElvatrix.so", "host", build_helper);
  plugin_path_ = FindLibrary(options_.plugin_library_path, "libzqblog.so", "plugin", build_plugin);
  loader_ = std::make_unique<PluginLoader>();
  hr = loader_->LoadHelper(helper_path_, config.data_root);
  if (FAILED(hr)) {
    return Fail("cannot load the helper library " + helper_path_ + ": " + loader_->LastError(),
                error);
  }
  hr = loader_->Load(plugin_path_);
  if (FAILED(hr)) {
    return Fail("cannot load the plug-in " + plugin_path_ + ": " + loader_->LastError() + " (" +
                    DescribeHResult(hr) + ")",
                error);
  }
  if (options_.register_server) {
    // The loader keeps the library open; this only finds it again.
    void* library = dlopen(plugin_path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
    typedef HRESULT (*RegisterFunction)();
    auto do_register = library != nullptr
                           ? reinterpret_cast<RegisterFunction>(dlsym(library, "DllRegisterServer"))
                           : nullptr;
    register_hr_ = do_register != nullptr ? do_register() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    if (library != nullptr) dlclose(library);
    if (FAILED(register_hr_)) {
      return Fail("the plug-in's DllRegisterServer failed: " + DescribeHResult(register_hr_),
                  error);
    }
  }
  hr = loader_->Initialize(static_cast<IZQCPPlatform*>(platform_));
  if (FAILED(hr)) return Fail("the plug-in did not start: " + DescribeHResult(hr), error);
  started_ = true;

  // The sinks. A plug-in that refuses them still runs; RunOperation says so.
  CComObject<HostResultSink>* result_sink = nullptr;
  CComObject<HostFailureSink>* failure_sink = nullptr;
  if (FAILED(CComObject<HostResultSink>::CreateInstance(&result_sink)) ||
      FAILED(CComObject<HostFailureSink>::CreateInstance(&failure_sink))) {
    delete result_sink;
    delete failure_sink;
    return Fail("cannot make the result sinks", error);
  }
  result_sink->SetLog(events_);
  failure_sink->SetLog(events_);
  result_sink_ = result_sink;
  failure_sink_ = failure_sink;
  HRESULT result_hr = loader_->Blog()->AdviseResultSink(result_sink_);
  result_sink_advised_ = SUCCEEDED(result_hr);
  HRESULT failure_hr = loader_->Blog()->AdviseFailureSink(failure_sink_);
  failure_sink_advised_ = SUCCEEDED(failure_hr);
  sink_hr_ = FAILED(result_hr) ? result_hr : FAILED(failure_hr) ? failure_hr : S_OK;
  return true;
}

void HostApplication::Shutdown() {
  if (loader_ && loader_->Blog() != nullptr) {
    if (result_sink_advised_) loader_->Blog()->UnadviseResultSink(result_sink_);
    if (failure_sink_advised_) loader_->Blog()->UnadviseFailureSink(failure_sink_);
  }
  result_sink_advised_ = false;
  failure_sink_advised_ = false;
  // Open connections fail now; their commands end on the workshop's thread.
  http_.reset();
  if (workshop_) {
    workshop_->WaitForAll(kShutdownGrace);
    workshop_.reset();
  }
  pending_.Release();
  // Signing out: the session lets go of its results, albums and resources, so the
  // library has no live objects left and can be unloaded.
  if (started_ && loader_ && loader_->Blog() != nullptr) loader_->Blog()->ClearSession();
  if (platform_) {
    PluginRegistry* registry = PluginRegistry::FromInterface(platform_->PluginRegistryObject());
    if (registry != nullptr) registry->Clear();
  }
  if (hub_) hub_->Shutdown();
  if (loader_) {
    // A library with live objects stays loaded (and so does the helper; the loader
    // closes neither then): the process lets go of them at exit.
    loader_->Unload();
    loader_.reset();
  }
  platform_.Release();
  manager_.Release();
  link_ = nullptr;
  hub_.reset();
  settings_.Release();
  result_sink_.Release();
  failure_sink_.Release();
  started_ = false;
}

IZQBlog* HostApplication::Blog() const { return loader_ ? loader_->Blog() : nullptr; }

IZQBlogOperation* HostApplication::Operation() const {
  return loader_ ? loader_->Operation() : nullptr;
}

size_t HostApplication::SinkEventCount() const { return events_->Count(); }

HRESULT HostApplication::SignIn(const std::wstring& uin) {
  if (!started_) return E_UNEXPECTED;
  return loader_->Blog()->SetCurrentUser(uin.c_str());
}

bool HostApplication::WaitUntilEnded(IWorkshopCmd* command,
                                     std::chrono::steady_clock::time_point deadline) {
  auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (remaining.count() < 0) remaining = std::chrono::milliseconds(0);
  switch (workshop_->WaitForCommand(command, remaining)) {
    case CommandWorkshop::WaitResult::kFinished:
    case CommandWorkshop::WaitResult::kGivenUp:
      return true;
    case CommandWorkshop::WaitResult::kTimedOut:
      return false;
    case CommandWorkshop::WaitResult::kUnknown:
      break;
  }
  // Not submitted to this workshop: watch the command itself.
  for (;;) {
    int state = 0;
    command->GetState(&state);
    if (IsTerminalState(state)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kStatePoll);
  }
}

OperationOutcome HostApplication::RunOperation(const OperationCall& call) {
  return RunOperation(call, options_.operation_timeout);
}

OperationOutcome HostApplication::RunOperation(const OperationCall& call,
                                               std::chrono::milliseconds timeout) {
  OperationOutcome out;
  out.timeout = timeout;
  if (!started_ || !call) {
    out.kind = OperationOutcome::Kind::kRefused;
    out.hr = E_UNEXPECTED;
    return out;
  }
  if (pending_) {
    if (!WaitUntilEnded(pending_, std::chrono::steady_clock::now() + timeout)) {
      out.kind = OperationOutcome::Kind::kBusy;
      return out;
    }
    pending_.Release();
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const size_t mark = events_->Count();
  // A loss is counted before its empty answer can end a command, and one operation runs
  // at a time: a loss noted between submission and end is this operation's.
  const uint64_t lost_mark = link_ != nullptr ? link_->LostOperations() : 0;
  const uint64_t replies_mark = replies_seen_;
  CComPtr<IWorkshopCmd> command;
  out.hr = call(loader_->Operation(), &command);
  if (FAILED(out.hr)) {
    out.kind = OperationOutcome::Kind::kRefused;
    return out;
  }

  bool ended = false;
  if (command) {
    ended = WaitUntilEnded(command, deadline);
    command->GetState(&out.final_state);
  } else {
    // No command handed back: the first sink event ends the wait.
    ended = events_->WaitBeyond(mark, deadline);
  }
  out.serving_process_lost = link_ != nullptr && link_->LostOperations() != lost_mark;
  if (replies_seen_ != replies_mark) out.http_status = last_http_status_;
  if (!ended) {
    out.kind = OperationOutcome::Kind::kTimedOut;
    pending_ = command;
    return out;
  }

  // Commands run one at a time: what arrived since the submission is this command's.
  const std::vector<HostEventLog::Event> events = events_->Since(mark);
  const HostEventLog::Event* last_result = nullptr;
  const HostEventLog::Event* last_failure = nullptr;
  for (const HostEventLog::Event& event : events) {
    (event.is_result ? last_result : last_failure) = &event;
  }
  if (last_result != nullptr) {
    out.command_id = last_result->first;
    out.result_kind = last_result->second;
    HRESULT hr = loader_->Blog()->GetCommandResult(out.command_id, &out.result);
    if (FAILED(hr) || !out.result) {
      out.kind = OperationOutcome::Kind::kNoResult;
      out.hr = FAILED(hr) ? hr : E_POINTER;
      out.result.Release();
      return out;
    }
    out.kind = OperationOutcome::Kind::kResult;
    out.hr = S_OK;
    return out;
  }
  if (last_failure != nullptr) {
    out.kind = OperationOutcome::Kind::kFailure;
    out.failure_code = last_failure->first;
    out.failure_operation = last_failure->second;
    return out;
  }
  out.kind = OperationOutcome::Kind::kNoResult;
  out.hr = SinksAdvised() ? S_OK : sink_hr_;
  return out;
}

}  // namespace ZQHost
}  // namespace Velmora
