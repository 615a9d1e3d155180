// CommandLine: turns the words of a command line (the program's arguments, or one line
// of the shell) into global options and a validated CliRequest, and a request back into
// its command line. CLI11 reads the words; each command's row in the command table
// (CommandTable.h) declares, checks and writes back its own arguments and options;
// every problem becomes one line of text and a usage error (exit status 2), so nothing
// runs on bad input.
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

// The arguments and options of a request as a command's row writes them back
// (CommandLineOf), laid out so that they parse back to the same request.
class CommandLineWriter {
 public:
  // A positional argument, in the order the command takes them.
  void Argument(const std::string& value) { arguments_.push_back(value); }
  // An option with its value, and a flag, in the order they are to appear.
  void Option(const std::string& name, const std::string& value);
  void Flag(const std::string& name) { options_.push_back(name); }

  // The words: the arguments, then the options. An option whose value starts with '-'
  // is the one word "NAME=VALUE", which CLI11 cannot mistake for two options; when an
  // argument starts with '-', the options come first and "--" precedes the arguments.
  std::vector<std::string> Words() const;

 private:
  std::vector<std::string> arguments_;
  std::vector<std::string> options_;  // the options' words
};

// The command line of request as a person types it after "zqblog", or as a line of the
// shell: the command word, then the arguments and options that ParseCommandLine and
// ParseShellLine turn back into request, each word quoted where a shell and SplitWords
// need it ('...'). REQUIRES: request is one of those parsers could give.
std::string CommandLineOf(const CliRequest& request);

// The data folder without --data: $XDG_DATA_HOME/zqblog, else $HOME/.local/share/zqblog;
// empty when neither variable is set.
std::string DefaultDataFolder();

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_COMMANDLINE_H_
