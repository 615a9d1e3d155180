// CommandTable: every command of zqblog as one row: its word and line of help, its
// arguments and options (declared to CLI11, checked into a CliRequest, written back as
// words), and what runs it and prints its outcome. The parser and CommandLineOf
// (CommandLine.h), the session (CliSession::Run), the program (CliMain.h) and the demo
// (DemoScript.h) take every command from here: a new command is a CommandKind and its
// row, with the functions the row names.
#ifndef ZQBLOG_CLI_COMMANDTABLE_H_
#define ZQBLOG_CLI_COMMANDTABLE_H_

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "cli/CliRequest.h"

namespace CLI {
class App;
}  // namespace CLI

namespace Velmora {
namespace ZQCli {

class CliSession;
class CommandLineWriter;
struct CliStreams;
struct CommandReport;
struct ParsedCommandLine;

// The words each argument and option of a command was given as, before checking. CLI11
// stores them while it parses; the commands share the fields, as only one command runs
// per parse and its own options tell which were given.
struct RawArguments {
  std::string uin, album, from, to, resource, cid, key, number, of;
  std::vector<std::string> ids;
  std::string name, desc, pic_url, type, show, new_count, from_json;
  std::vector<std::string> tags, resources;
  bool choice = false;
};

struct CliCommand {
  CommandKind kind;
  const char* word;     // "albums-by-cid"
  const char* summary;  // its line in the help

  // Adds the command's arguments and options to sub, each stored in raw. Null: none.
  void (*declare)(CLI::App* sub, RawArguments* raw);
  // Checks what sub stored in raw and fills *request (its kind already set); false with
  // the one-line problem in *error. Null: nothing to check.
  bool (*build)(const CLI::App& sub, const RawArguments& raw, CliRequest* request,
                std::string* error);
  // Writes request back as the arguments and options that build turns into it again.
  // Null: none.
  void (*write)(const CliRequest& request, CommandLineWriter* out);

  // A command of the session (also a line of the shell): the method of the session that
  // runs it, filling the report whose object is the --json output, and the text of a
  // report that succeeded, for people. Both null for a program.
  void (CliSession::*run)(const CliRequest& request, CommandReport* report);
  std::string (*human)(const CliRequest& request, const nlohmann::json& report);

  // A program of its own (shell, demo, serve, watch; none runs in the shell): opens
  // what it needs, runs, prints for people or as JSON and returns the exit status. Null
  // for a command of the session.
  int (*program)(const ParsedCommandLine& parsed, CliStreams streams);
};

// One row per CommandKind; kWatch is the last kind.
constexpr size_t kCommandCount = static_cast<size_t>(CommandKind::kWatch) + 1;

// Every command, in the order of CommandKind, which is the order the help lists them in.
const std::array<CliCommand, kCommandCount>& AllCommands();
// The row of kind.
inline const CliCommand& CommandFor(CommandKind kind) {
  return AllCommands()[static_cast<size_t>(kind)];
}

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_COMMANDTABLE_H_
