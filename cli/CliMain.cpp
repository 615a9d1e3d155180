#include "cli/CliMain.h"

#include <algorithm>
#include <iostream>

#include "cli/CommandLine.h"
#include "cli/DemoScript.h"
#include "cli/HumanOutput.h"

namespace Velmora {
namespace ZQCli {

namespace {

std::string Dump(const nlohmann::json& value, bool compact) {
  return value.dump(compact ? -1 : 2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The progress line: rewritten in place, cleared before anything else is printed.
class ProgressLine {
 public:
  ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
  ~ProgressLine() { Clear(); }

  void Show(const std::string& text) {
    if (!enabled_) return;
    err_ << "\r\033[K" << "zqblog: " << text << "..." << std::flush;
    shown_ = true;
  }
  void Clear() {
    if (!shown_) return;
    err_ << "\r\033[K" << std::flush;
    shown_ = false;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  bool shown_ = false;
};

}  // namespace

int PrintReport(const CliRequest& request, const CommandReport& report, bool json,
                bool compact, const std::string& prefix, CliStreams streams) {
  if (json) {
    streams.out << Dump(report.json, compact) << "\n";
  } else if (report.exit_status == 0) {
    streams.out << RenderHuman(request, report.json);
  }
  streams.out.flush();
  for (const std::string& note : report.notes) streams.err << "zqblog: " << prefix << note << "\n";
  if (!report.error.empty()) streams.err << "zqblog: " << prefix << report.error << "\n";
  streams.err.flush();
  return report.exit_status;
}

int RunShell(CliSession& session, bool json, CliStreams streams) {
  ProgressLine progress(streams.err, streams.progress);
  session.SetProgress([&](const std::string& text) { progress.Show(text); });
  int worst = 0;
  std::string line;
  for (int number = 1; std::getline(streams.in, line); ++number) {
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

  CliSession session(globals);
  std::string error;
  if (!session.Open(&error)) {
    if (globals.json) streams.out << Dump({{"error", error}}, false) << "\n";
    streams.err << "zqblog: " << error << "\n";
    return 1;
  }
  int status = 0;
  if (parsed.request.kind == CommandKind::kShell) {
    status = RunShell(session, globals.json, streams);
  } else if (parsed.request.kind == CommandKind::kDemo) {
    status = RunDemo(session, globals.json, streams);
  } else {
    ProgressLine progress(streams.err, streams.progress);
    session.SetProgress([&](const std::string& text) { progress.Show(text); });
    CommandReport report = session.Run(parsed.request);
    session.SetProgress(nullptr);
    progress.Clear();
    status = PrintReport(parsed.request, report, globals.json, false, "", streams);
  }
  session.Close();
  return status;
}

}  // namespace ZQCli
}  // namespace Velmora
