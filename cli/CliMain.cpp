#include "cli/CliMain.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <iostream>
#include <mutex>

#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/DemoScript.h"

namespace Velmora {
namespace ZQCli {

namespace {

std::string Dump(const nlohmann::json& value, bool compact) {
  return value.dump(compact ? -1 : 2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The name of a change broadcast's notice code.
const char* ChangeName(int notice) {
  static const char* const kNames[] = {
      "server directory", "content-id data", "album list",      "resource list",
      "album modify",     "album create",    "album remove",    "resource modify",
      "copy",             "move",            "batch collect",   "batch remove"};
  if (notice < 0 || notice >= static_cast<int>(sizeof(kNames) / sizeof(kNames[0]))) {
    return "unknown change";
  }
  return kNames[notice];
}

// One line for a change broadcast: JSON, or text for people.
std::string ChangeLine(const ZQHost::ShareSessionChange& change, bool json) {
  if (json) {
    nlohmann::json object = {{"change", ChangeName(change.notice)},
                             {"notice", change.notice},
                             {"uin", change.uin},
                             {"bytes", change.payload_size},
                             {"served", change.served},
                             {"applied", change.applied}};
    return Dump(object, true);
  }
  std::string line = change.served ? "broadcast " : (change.applied ? "applied " : "not applied ");
  line += std::string(ChangeName(change.notice)) + " (notice " + std::to_string(change.notice) +
          ")";
  if (!change.uin.empty()) line += " of " + change.uin;
  return line + ", " + std::to_string(change.payload_size) + " bytes";
}

// serve and watch (mode kServe or kWatch): holds the session in the foreground and
// prints one line per change until SIGINT or SIGTERM; SIGUSR1 prints the session. The
// signals are blocked in every thread (the host's threads inherit the mask) and taken
// here with sigwait.
int HoldSession(const ParsedCommandLine& parsed, ShareMode mode, CliStreams streams) {
  const GlobalOptions& globals = parsed.globals;
  const bool serve = mode == ShareMode::kServe;
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &signals, &previous);

  std::mutex output;  // lines come from host threads and from this one
  CliSession session(globals);
  session.SetChangeListener([&](const ZQHost::ShareSessionChange& change) {
    std::lock_guard<std::mutex> lock(output);
    streams.out << ChangeLine(change, globals.json) << "\n" << std::flush;
  });
  std::string error;
  if (!session.Open(&error, mode)) {
    if (globals.json) streams.out << Dump({{"error", error}}, true) << "\n";
    streams.err << "zqblog: " << error << "\n";
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return 1;
  }
  {
    std::lock_guard<std::mutex> lock(output);
    streams.err << "zqblog: " << (serve ? "serving" : "watching") << " the share session of "
                << globals.user << " in " << globals.data;
    if (serve && !session.EmbeddedAddress().empty()) {
      streams.err << " (service on " << session.EmbeddedAddress() << ")";
    }
    streams.err << "; stop with Ctrl-C\n" << std::flush;
  }
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0 || signal != SIGUSR1) break;
    CliRequest request;
    request.kind = CommandKind::kSession;
    CommandReport report = session.Run(request);
    std::lock_guard<std::mutex> lock(output);
    PrintReport(request, report, globals.json, true, "", streams);
  }
  session.Close();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return 0;
}

// Opens session for one command, the shell or the demo; false when it cannot, the
// problem printed.
bool OpenSession(CliSession& session, const GlobalOptions& globals, CliStreams streams) {
  std::string error;
  if (session.Open(&error)) return true;
  if (globals.json) streams.out << Dump({{"error", error}}, false) << "\n";
  streams.err << "zqblog: " << error << "\n";
  return false;
}

}  // namespace

int PrintReport(const CliRequest& request, const CommandReport& report, bool json,
                bool compact, const std::string& prefix, CliStreams streams) {
  if (json) {
    streams.out << Dump(report.json, compact) << "\n";
  } else if (report.exit_status == 0) {
    const CliCommand& command = CommandFor(request.kind);
    if (command.human != nullptr) streams.out << command.human(request, report.json);
  }
  streams.out.flush();
  for (const std::string& note : report.notes) streams.err << "zqblog: " << prefix << note << "\n";
  if (!report.error.empty()) streams.err << "zqblog: " << prefix << report.error << "\n";
  streams.err.flush();
  return report.exit_status;
}

int RunShell(CliSession& session, bool json, CliStreams streams) {
  ProgressLine progress(streams.err, streams.progress);
  session.SetProgress(&progress);
  int worst = 0;
  std::string line;
  for (int number = 1;; ++number) {
    if (streams.prompt) streams.err << "zqblog> " << std::flush;
    if (!std::getline(streams.in, line)) break;
    std::vector<std::string> words;
    std::string ignored;
    if (SplitWords(line, &words, &ignored) && words.size() == 1 &&
        (words[0] == "quit" || words[0] == "exit")) {
      break;
    }
    const std::string prefix = "line " + std::to_string(number) + ": ";
    ParsedCommandLine parsed = ParseShellLine(line);
    switch (parsed.kind) {
      case ParsedCommandLine::Kind::kEmpty:
        continue;
      case ParsedCommandLine::Kind::kHelp:
        if (!json) streams.out << parsed.text;
        continue;
      case ParsedCommandLine::Kind::kUsageError:
        if (json) {
          nlohmann::json object = {{"line", number}, {"error", parsed.text}};
          streams.out << Dump(object, true) << "\n" << std::flush;
        }
        streams.err << "zqblog: " << prefix << parsed.text << "\n" << std::flush;
        worst = std::max(worst, 2);
        continue;
      case ParsedCommandLine::Kind::kRun:
        break;
    }
    CommandReport report = session.Run(parsed.request);
    progress.Clear();
    if (json) report.json["line"] = number;
    worst = std::max(worst, PrintReport(parsed.request, report, json, true, prefix, streams));
  }
  session.SetProgress(nullptr);
  return worst;
}

int CliMain(const std::vector<std::string>& args, CliStreams streams) {
  ParsedCommandLine parsed = ParseCommandLine(args);
  switch (parsed.kind) {
    case ParsedCommandLine::Kind::kHelp:
      streams.out << parsed.text;
      return 0;
    case ParsedCommandLine::Kind::kUsageError:
    case ParsedCommandLine::Kind::kEmpty:
      streams.err << "zqblog: " << parsed.text << "\n";
      return 2;
    case ParsedCommandLine::Kind::kRun:
      break;
  }
  const GlobalOptions& globals = parsed.globals;
  streams.progress = streams.progress && !globals.json;
  const CliCommand& command = CommandFor(parsed.request.kind);
  if (command.program != nullptr) return command.program(parsed, streams);

  CliSession session(globals);
  if (!OpenSession(session, globals, streams)) return 1;
  ProgressLine progress(streams.err, streams.progress);
  session.SetProgress(&progress);
  CommandReport report = session.Run(parsed.request);
  session.SetProgress(nullptr);
  progress.Clear();
  const int status = PrintReport(parsed.request, report, globals.json, false, "", streams);
  session.Close();
  return status;
}

int ShellProgram(const ParsedCommandLine& parsed, CliStreams streams) {
  CliSession session(parsed.globals);
  if (!OpenSession(session, parsed.globals, streams)) return 1;
  const int status = RunShell(session, parsed.globals.json, streams);
  session.Close();
  return status;
}

int DemoProgram(const ParsedCommandLine& parsed, CliStreams streams) {
  CliSession session(parsed.globals);
  if (!OpenSession(session, parsed.globals, streams)) return 1;
  const int status = RunDemo(session, parsed.globals.json, streams);
  session.Close();
  return status;
}

int ServeProgram(const ParsedCommandLine& parsed, CliStreams streams) {
  return HoldSession(parsed, ShareMode::kServe, streams);
}

int WatchProgram(const ParsedCommandLine& parsed, CliStreams streams) {
  return HoldSession(parsed, ShareMode::kWatch, streams);
}

}  // namespace ZQCli
}  // namespace Velmora
