// CommandLine: turns the words of a command line (the program's arguments, or one line
// of the shell) into global options and a validated CliRequest. CLI11 reads the words;
// InputCheck.h checks the values; every problem becomes one line of text and a usage
// error (exit status 2), so nothing runs on bad input.
#ifndef ZQBLOG_CLI_COMMANDLINE_H_
#define ZQBLOG_CLI_COMMANDLINE_H_

#include <string>
#include <vector>

#include "cli/CliRequest.h"

namespace Velmora {
namespace ZQCli {

// The options that hold for a whole run (and every line of a shell).
struct GlobalOptions {
  std::string data;        // --data; empty: DefaultDataFolder()
  std::string connect_to;  // --connect-to ADDR:PORT; empty: the embedded service
  std::string user = "demo";
  bool json = false;
  double timeout_seconds = 30;
};

struct ParsedCommandLine {
  enum class Kind {
    kRun,         // globals and request are set
    kHelp,        // text holds the help to print (exit status 0)
    kUsageError,  // text holds the one-line problem (exit status 2)
    kEmpty,       // a blank or comment shell line
  };
  Kind kind = Kind::kUsageError;
  std::string text;
  GlobalOptions globals;
  CliRequest request;
};

// The program's arguments (without the program name).
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);
// One shell line: a command and its options, no global options; "help" gives the help.
// Blank lines and lines whose first word starts with '#' are kEmpty; an unquoted word
// starting with '#' ends the line.
ParsedCommandLine ParseShellLine(const std::string& line);

// Splits a line into words like a POSIX shell: blanks separate words, '...' quotes
// literally, "..." quotes with \" and \\ escapes, \x outside quotes is x. False with
// *error for an unterminated quote.
bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error);

// The data folder without --data: $XDG_DATA_HOME/zqblog, else $HOME/.local/share/zqblog;
// empty when neither variable is set.
std::string DefaultDataFolder();

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_COMMANDLINE_H_
