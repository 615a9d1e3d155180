// HostApplication: a whole host in one object, assembled the way the host application
// does it: the data root (user folders through the helper library, the settings
// database, the registry file), the HTTP connection service with its resolver table,
// the command workshop, the share session, the XML parser factory and the platform
// object; then the helper library and the plug-in are loaded, registered
// (DllRegisterServer) and started (Initialize), and the host's result and failure
// sinks are advised.
//
// Running an operation. The plug-in numbers its commands itself (1, 2, 3 ... after
// each ClearSession) and tells the result sink only (command id, result kind); the
// workshop command it hands back does not say its id. RunOperation therefore runs one
// operation at a time: it notes how many sink events have arrived, submits, waits for
// the workshop to report the command terminal, and then takes the events that arrived
// since the submission as this command's: the last result event (a command may raise
// it twice under one id), else the last failure event. With one command in flight at a
// time this is unambiguous. The time-out runs from the submission to that point; on
// time-out the command is left to the workshop (its connection fails at the HTTP stall
// time-out, or Shutdown stops it) and the caller gets kTimedOut at once. The next
// RunOperation first waits (within its own time-out) for that command to end, so its
// late events are never taken for the next command's; if it does not end, kBusy.
//
// Not thread-safe: one thread starts, runs operations and shuts down. The sinks are
// called on the host's threads and only record. One started host per process at a time:
// the registry file, the helper library's data root and the plug-in are process-wide.
#ifndef ZQBLOG_HOST_APP_HOSTAPPLICATION_H_
#define ZQBLOG_HOST_APP_HOSTAPPLICATION_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/http/HttpReplyProgress.h"
#include "host/http/HttpResolverTable.h"
#include "host/sharesession/ShareSessionChange.h"
#include "host/workshop/HostPlatform.h"
#include "interfaces/ICommonResult.h"
#include "interfaces/ISettingsStore.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IWorkshopCmd.h"
#include "interfaces/IZQBlog.h"
#include "interfaces/IZQBlogOperation.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class CommandWorkshop;
class CrossProcessTransport;
class HostEventLog;
class HttpConnectionService;
class PluginLoader;
class ShareSessionHub;

struct HostApplicationOptions {
  // The data root (UTF-8 path; created with its parents when missing): users/ (the
  // helper library's user folder, where the plug-in keeps its cache), settings.db,
  // registry.reg.
  std::string data_root;
  // Where every HTTP connection goes (the resolver table's catch-all); an empty host
  // leaves names to DNS.
  HttpEndpoint connect_to;
  // The share-session role the manager reports: 0 forward, 1 serve, 2 stand-alone.
  int share_session_role = 2;
  // Empty: the share session stays inside this process (other participants join it
  // through ShareSession()). Set: the session of (data_root, this user) between the
  // processes of this host, by role: 1 serves it (Start fails when another process
  // does), 0 forwards to the process that serves it (joining it whenever one is up),
  // 2 shares nothing.
  std::string share_session_user;
  // Called on a host thread for every change broadcast this process's participant
  // publishes and, after the plug-in's message sink handled it, for every one it
  // receives (ShareSessionChange.h). Must not call back into the host.
  std::function<void(const ShareSessionChange&)> on_change;
  // Called on the HTTP connection thread as every reply arrives (its header, each
  // piece of its body, its end; HttpReplyProgress.h). Must not block or call back into
  // the host.
  HttpReplyObserver on_reply;
  // The helper library and the plug-in library; empty: looked for beside the program,
  // then in the build tree layout (../host/, ../plugin/ from the program's folder),
  // then at the paths the build recorded.
  std::string helper_library_path;
  std::string plugin_library_path;
  // The default time-out of RunOperation (submission to result), and the HTTP
  // service's stall time-out. REQUIRES: > 0.
  std::chrono::milliseconds operation_timeout{std::chrono::seconds(30)};
  std::chrono::milliseconds http_stall_timeout{std::chrono::seconds(30)};
  // Whether Start calls the plug-in's DllRegisterServer (into the data root's registry).
  bool register_server = true;
};

// What came of one operation submitted through RunOperation.
struct OperationOutcome {
  enum class Kind {
    kResult,    // a result event arrived and its object was fetched (result not null)
    kFailure,   // the failure sink was called (failure_code, failure_operation)
    kNoResult,  // the command ended without a usable result (final_state, hr says why)
    kTimedOut,  // nothing ended within the time-out
    kBusy,      // a command that timed out earlier is still running: nothing was submitted
    kRefused,   // the operation itself failed (hr); nothing ran
  };
  Kind kind = Kind::kRefused;
  HRESULT hr = S_OK;
  int command_id = 0;
  int result_kind = -1;  // 0 album, 1 resource, 2 batch, 3 comment
  CComPtr<ICommonResult> result;
  int failure_code = 0;
  int failure_operation = -1;
  int final_state = -1;  // the command's state when it ended (-1: unknown)
  std::chrono::milliseconds timeout{0};
  // The operation was forwarded to the serving process of a share session between
  // processes, and that process went away before answering (or none was joined): the
  // plug-in got an empty answer.
  bool serving_process_lost = false;
  // The status code of the last HTTP reply whose header arrived while the operation
  // ran; 0 when none did.
  int http_status = 0;

  // One line for people, naming what happened ("connection refused", "timed out after
  // 5 s", "not implemented (E_NOTIMPL, 0x80004001)", ...).
  std::string Describe() const;
};

// "E_NOTIMPL (0x80004001)", "S_OK (0x00000000)", or "0x80070002" for codes without a
// name.
std::string DescribeHResult(HRESULT hr);
// What an HTTP error code of the connection service means ("connection refused"), or
// "error 0x........" for another code.
std::string DescribeHttpError(int code);
// The operation index's name: 0 "server directory", 2 "album list", ...; "operation N"
// outside 0 to 11.
std::string OperationName(int operationIndex);

class HostApplication {
 public:
  // One operation call: calls the plug-in and hands back the command it made.
  typedef std::function<HRESULT(IZQBlogOperation* operation, IWorkshopCmd** command)>
      OperationCall;

  explicit HostApplication(HostApplicationOptions options);
  // Shutdown().
  ~HostApplication();
  HostApplication(const HostApplication&) = delete;
  HostApplication& operator=(const HostApplication&) = delete;

  // Assembles the host and starts the plug-in (steps in the header comment). False,
  // with *error set to one line, when a step fails; what was built is shut down again.
  // A plug-in that refuses the sinks is not an error here: SinksAdvised() says so and
  // RunOperation reports it. REQUIRES: not started before.
  bool Start(std::string* error);

  // Stops in this order: sinks unadvised, HTTP service stopped (open connections fail),
  // the workshop stopped after its commands had a moment to end, the session cleared
  // (ClearSession: the plug-in lets go of its results and albums), the plug-in registry
  // cleared, the share session shut down, the plug-in unloaded (it stays loaded when
  // it still has live objects), the helper library and the settings store released.
  // Idempotent.
  void Shutdown();

  // The plug-in's interfaces (borrowed; valid between Start and Shutdown).
  IZQBlog* Blog() const;
  IZQBlogOperation* Operation() const;

  // Signs the user in (IZQBlog::SetCurrentUser). REQUIRES: started.
  HRESULT SignIn(const std::wstring& uin);

  // Runs one operation (see the header comment) with the default or the given
  // time-out. REQUIRES: started; not called concurrently.
  OperationOutcome RunOperation(const OperationCall& call);
  OperationOutcome RunOperation(const OperationCall& call, std::chrono::milliseconds timeout);

  // How many result and failure sink events have arrived since Start, all commands
  // together (a command's late or second notice shows up here after RunOperation).
  size_t SinkEventCount() const;

  // Whether both sinks were accepted, and the plug-in's answer when one was not.
  bool SinksAdvised() const { return sink_hr_ == S_OK; }
  HRESULT SinkAdviseResult() const { return sink_hr_; }
  // DllRegisterServer's answer (S_OK when not asked for).
  HRESULT RegisterServerResult() const { return register_hr_; }

  // The pieces, for tests and embedders (valid between Start and Shutdown).
  CommandWorkshop* Workshop() const { return workshop_.get(); }
  HttpConnectionService* Http() const { return http_.get(); }
  HostPlatform* Platform() const { return platform_; }
  ISettingsStore* SettingsStore() const { return settings_; }
  // The share session the plug-in's participant joined; other participants made from
  // it (CreateShareSessionManager) play the host's other processes.
  ShareSessionHub* ShareSession() const { return hub_.get(); }

  // The data root with a trailing separator, and the files Start put there.
  const std::string& DataRoot() const { return data_root_; }
  std::string SettingsPath() const { return data_root_ + "settings.db"; }
  std::string RegistryPath() const { return data_root_ + "registry.reg"; }
  // The libraries Start loaded.
  const std::string& HelperPath() const { return helper_path_; }
  const std::string& PluginPath() const { return plugin_path_; }

  // The folder of the running program, with a trailing separator ("" if unknown).
  static std::string ProgramFolder();

  // True when a live process serves the share session of (data_root, user) now.
  static bool IsShareSessionServed(const std::string& data_root, const std::string& user);

 private:
  bool Fail(const std::string& message, std::string* error);
  // Waits until command is in a terminal state (or the workshop gave it up); false at
  // the deadline. A command the workshop does not know is watched through GetState.
  bool WaitUntilEnded(IWorkshopCmd* command, std::chrono::steady_clock::time_point deadline);
  std::string FindLibrary(const std::string& given, const char* file_name,
                          const char* build_folder, const char* build_path) const;

  HostApplicationOptions options_;
  std::string data_root_;
  std::string helper_path_;
  std::string plugin_path_;
  bool started_ = false;
  HRESULT sink_hr_ = E_UNEXPECTED;
  HRESULT register_hr_ = S_OK;

  std::shared_ptr<HostEventLog> events_;
  CComPtr<ISettingsStore> settings_;
  std::unique_ptr<HttpConnectionService> http_;
  // The replies whose header has arrived, and the status of the last one.
  std::atomic<uint64_t> replies_seen_{0};
  std::atomic<int> last_http_status_{0};
  std::unique_ptr<CommandWorkshop> workshop_;
  std::unique_ptr<ShareSessionHub> hub_;
  CrossProcessTransport* link_ = nullptr;  // hub_'s transport between processes, if any
  CComPtr<IShareSessionManager> manager_;
  CComPtr<HostPlatform> platform_;
  std::unique_ptr<PluginLoader> loader_;
  CComPtr<IZQBlogResultSink> result_sink_;
  CComPtr<IZQBlogFailureSink> failure_sink_;
  CComPtr<IWorkshopCmd> pending_;  // a command that timed out and may still run
  bool result_sink_advised_ = false;
  bool failure_sink_advised_ = false;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_APP_HOSTAPPLICATION_H_
