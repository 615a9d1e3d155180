// CliMain: the zqblog program: parses the command line, opens a session and runs one
// command, the shell or the demo, printing for people or as JSON. Exit status 0, 1 or
// 2 as CommandLine.h and the help text say.
#ifndef ZQBLOG_CLI_CLIMAIN_H_
#define ZQBLOG_CLI_CLIMAIN_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/CliSession.h"

namespace Velmora {
namespace ZQCli {

struct CliStreams {
  std::istream& in;    // the shell's commands
  std::ostream& out;   // results
  std::ostream& err;   // errors, notes and the progress line
  bool progress;       // show a progress line on err (a terminal, not --json)
  bool prompt = false;  // the shell's input is a terminal: prompt on err for each line
};

// Runs zqblog with args (without the program name); returns the exit status. A command
// of the session runs in a session of its own and prints its report; a program runs as
// its row in the command table says.
int CliMain(const std::vector<std::string>& args, CliStreams streams);

// The programs of the command table (CommandTable.h); each returns the exit status.
// REQUIRES: parsed is a command line to run (kRun) of the program's command.
//
// shell: RunShell in a session.
int ShellProgram(const ParsedCommandLine& parsed, CliStreams streams);
// demo: RunDemo (DemoScript.h) in a session.
int DemoProgram(const ParsedCommandLine& parsed, CliStreams streams);
// serve and watch: hold the share session of --data and --user, serving it or joined
// to it, and print one line per change until SIGINT or SIGTERM; SIGUSR1 prints the
// session.
int ServeProgram(const ParsedCommandLine& parsed, CliStreams streams);
int WatchProgram(const ParsedCommandLine& parsed, CliStreams streams);

// Prints one command's report: the JSON object (indented, or on one line when compact)
// or the human text on out; the error and notes on err, each prefixed "zqblog: " and
// prefix. Returns the report's exit status.
int PrintReport(const CliRequest& request, const CommandReport& report, bool json,
                bool compact, const std::string& prefix, CliStreams streams);

// Reads commands from streams.in, one a line, and runs them in session (see the help
// text for the rules) until the end of the input or a line "quit" or "exit". Returns
// the worst exit status of the lines.
int RunShell(CliSession& session, bool json, CliStreams streams);

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_CLIMAIN_H_
