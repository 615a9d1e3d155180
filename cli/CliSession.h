// CliSession: one session of the command-line host: the embedded reference service
// (without --connect-to), the assembled host with the plug-in, the signed-in user, and
// what the session has fetched already (server directories, album lists). Run executes
// one command: it fetches first whatever the command needs, as a host application
// would, then runs the command's operation, and reports the outcome as the JSON object
// of the contract plus, on failure, one line for people.
//
// What is fetched when: a command that shows something (directory, albums, resources,
// cid-dat) always runs its own fetch. Commands that need data fetch the server
// directory and the album list of a user once per session (the write operations keep
// the plug-in's copy current), a resource list when the plug-in has not loaded it, and
// the content-id table once per session (fetching it again would enter every pair a
// second time).
#ifndef ZQBLOG_CLI_CLISESSION_H_
#define ZQBLOG_CLI_CLISESSION_H_

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/CliRequest.h"
#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/ProgressLine.h"
#include "host/app/HostApplication.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {
class BlogService;
}  // namespace Service
}  // namespace ZQBlog

namespace ZQCli {

// What one command produced.
struct CommandReport {
  CommandKind kind = CommandKind::kDirectory;
  // 0 when the (last) operation's result has status 1, else 1.
  int exit_status = 0;
  // The contract's object: "result" (of the last operation run, absent when none ran
  // or it gave no result), "failure", "albums", "opened", "cid_dat_url", "album_ids";
  // "error" with the one-line problem when exit_status is 1.
  nlohmann::json json = nlohmann::json::object();
  // The one-line problem for stderr ("" when none).
  std::string error;
  // Further one-line remarks for stderr (for example: the user has no blog).
  std::vector<std::string> notes;
};

// How a session takes part in the share session of its data folder and user.
enum class ShareMode {
  kAuto,   // forward to the serving process when one is up, else run on its own
  kServe,  // serve it; Open fails when another process serves it already
  kWatch,  // forward to it, joining whenever a serving process is up
};

class CliSession {
 public:
  explicit CliSession(GlobalOptions options);
  // Close().
  ~CliSession();
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  // Starts the embedded service when no --connect-to was given and the session does not
  // forward (seeding --user with the demo blog when the service does not know that
  // user), assembles the host in the share-session role mode gives and signs --user in.
  // False with a one-line *error.
  bool Open(std::string* error, ShareMode mode = ShareMode::kAuto);
  // The host, then the embedded service. Idempotent.
  void Close();

  // Runs one command with the method its row in the command table names. REQUIRES: Open
  // succeeded; request is a command of the session (not a program: shell, demo, serve,
  // watch). Never throws.
  CommandReport Run(const CliRequest& request);

  // The line told of each operation as it starts ("album list of demo") and of the
  // bytes of its replies (null: none). The line must outlive its use here: set null
  // before it goes.
  void SetProgress(ProgressLine* progress) {
    std::lock_guard<std::mutex> lock(progress_mutex_);
    progress_ = progress;
  }

  // Called on a host thread for every change broadcast the session serves or applies.
  // REQUIRES: called before Open.
  void SetChangeListener(std::function<void(const ZQHost::ShareSessionChange&)> listener) {
    change_listener_ = std::move(listener);
  }

  const std::string& user() const { return options_.user; }
  // Whether Open joined a serving process: operations are forwarded to it.
  bool forwarding() const { return forwarding_; }
  // The embedded service's address ("127.0.0.1:PORT"), or "" with --connect-to.
  std::string EmbeddedAddress() const;

 private:
  typedef ZQHost::HostApplication::OperationCall OperationCall;

  // Runs one operation; records its result or failure in *report ("result" replaced,
  // "failure" set). True when a result with status 1 came back; otherwise *report has
  // the error "what: reason" and exit status 1.
  bool Operation(const std::string& what, const OperationCall& call, CommandReport* report,
                 const std::vector<int>& table_keys = {});
  // A write: runs it as Operation does and, when it succeeded, adds the user's "albums"
  // to *report as AddAlbums does.
  void WriteOperation(const std::string& what, const OperationCall& call, CommandReport* report,
                      const std::vector<int>& table_keys = {});
  // Sets the error of *report (exit status 1); returns false.
  bool Fail(CommandReport* report, const std::string& text);
  bool QueryFailed(CommandReport* report, const char* query, HRESULT hr);

  bool EnsureDirectory(const std::string& uin, bool force, CommandReport* report,
                       bool* opened = nullptr);
  bool EnsureAlbumList(const std::string& uin, bool force, CommandReport* report);
  bool EnsureResources(const std::string& uin, int album, bool force, CommandReport* report);
  // Fetches the Cid.dat of uin (the operation "Cid.dat of <uin>"), noting when it is the
  // user's; false (with the error) when the fetch failed.
  bool FetchCidDat(const std::string& uin, CommandReport* report);
  // Whether the plug-in's album list of uin holds album; false with an error on a
  // query failure (*known says which).
  bool HasAlbum(const std::string& uin, int album, bool* known, CommandReport* report);
  // Adds "albums" of uin to the report; false (with an error) when they cannot be read.
  bool AddAlbums(const std::string& uin, CommandReport* report);

  // The commands, one method each; the command table (AllCommands) names them.
  friend const std::array<CliCommand, kCommandCount>& AllCommands();
  void RunDirectory(const CliRequest& request, CommandReport* report);
  void RunAlbums(const CliRequest& request, CommandReport* report);
  void RunResources(const CliRequest& request, CommandReport* report);
  void RunCidDat(const CliRequest& request, CommandReport* report);
  void RunAlbumsByCid(const CliRequest& request, CommandReport* report);
  void RunComments(const CliRequest& request, CommandReport* report);
  void RunCreateAlbum(const CliRequest& request, CommandReport* report);
  void RunModifyAlbum(const CliRequest& request, CommandReport* report);
  void RunRemoveAlbum(const CliRequest& request, CommandReport* report);
  void RunCollect(const CliRequest& request, CommandReport* report);
  // What a failure notice means, for people ("connection refused (0x8007274D)").
  static std::string FailureSentence(const ZQHost::OperationOutcome& outcome);
  void RunRemoveResources(const CliRequest& request, CommandReport* report);
  void RunCopyOrMove(const CliRequest& request, CommandReport* report);
  void RunModifyResource(const CliRequest& request, CommandReport* report);
  void RunSession(const CliRequest& request, CommandReport* report);
  // The user's album list and the resource lists of albums, each when held by the
  // user's list and not loaded yet.
  bool PrepareWrite(const std::vector<int>& albums, CommandReport* report);

  GlobalOptions options_;
  std::unique_ptr<ZQBlog::Service::BlogService> service_;
  std::unique_ptr<ZQHost::HostApplication> host_;
  std::mutex progress_mutex_;  // guards progress_: the HTTP thread reports to it
  ProgressLine* progress_ = nullptr;
  std::function<void(const ZQHost::ShareSessionChange&)> change_listener_;
  bool forwarding_ = false;
  std::set<std::string> directories_;  // users whose directory this session fetched
  std::set<std::string> album_lists_;  // users whose album list this session fetched
  bool cid_dat_fetched_ = false;
};

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_CLISESSION_H_
