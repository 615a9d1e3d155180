#include "cli/CommandLine.h"

#include <cstdlib>
#include <string_view>
#include <utility>

#include <CLI/CLI.hpp>

#include "cli/CommandTable.h"
#include "cli/InputCheck.h"
#include "host/http/HttpResolverTable.h"

namespace Velmora {
namespace ZQCli {

namespace {

const char kDescription[] =
    "zqblog: the blog plug-in's command-line host. It loads the plug-in, signs --user in,\n"
    "fetches what each command needs (server directory, album list, resource lists) and\n"
    "runs the command's operation against the blog service.";

const char kFooter[] =
    "Service: without --connect-to, zqblog starts the reference blog service inside the\n"
    "process on a free loopback port, its database in DATA/service/blog.db, and gives\n"
    "--user a demo blog when the service does not know that user yet. With --connect-to\n"
    "every connection of the plug-in goes to ADDR:PORT.\n"
    "\n"
    "copy and move: both send the same form; the service copies when choice=1 and moves\n"
    "when choice=0. copy always sends choice=1 (its --choice changes nothing); move sends\n"
    "choice=0, and choice=1 with --choice (the reference service then copies).\n"
    "\n"
    "shell: one command a line from stdin, in one session. Blank lines and # comments are\n"
    "skipped; a failing line is reported on stderr as \"line N: ...\" and the next line\n"
    "runs. With --json every command line prints one JSON object (one per line). Exit\n"
    "status: the worst of its lines (2 if a line was a usage error, else 1 if a line\n"
    "failed, else 0). quit or exit (or the end of the input) leaves; on a terminal the\n"
    "shell prompts with \"zqblog> \" on stderr.\n"
    "\n"
    "demo: a guided session: directory, albums, resources of an album, create two albums,\n"
    "collect two resources, copy and move them, comment count, albums by content id,\n"
    "then removes what it made.\n"
    "\n"
    "Share session: several zqblog processes of one data folder and user can share one blog\n"
    "session. 'zqblog serve' talks to the service for all of them and broadcasts every\n"
    "change (one line each; JSON lines with --json) until SIGINT or SIGTERM; only one\n"
    "process serves a data folder and user. While one serves, every other zqblog command\n"
    "forwards its operations to it and applies its broadcasts; with none, commands run on\n"
    "their own. 'zqblog watch' joins and prints each change it applies. SIGUSR1 makes\n"
    "serve and watch print their session ('session' shows it in the shell).\n"
    "\n"
    "Exit status: 0 when the operation's result has status 1; 1 when it has status 0, a\n"
    "failure was reported, it timed out, or the host could not run it; 2 for a usage\n"
    "error. --timeout bounds each operation from submission to its result.";

// What CLI11 reads a command line into: the words of every command's arguments and
// options, and every command added with its row.
struct ParserState {
  RawArguments raw;
  std::vector<std::pair<CLI::App*, const CliCommand*>> commands;
};

// Adds every command to app; with with_programs also the programs (shell, demo, serve,
// watch).
void AddCommands(CLI::App* app, ParserState* state, bool with_programs) {
  for (const CliCommand& command : AllCommands()) {
    if (command.program != nullptr && !with_programs) continue;
    CLI::App* sub = app->add_subcommand(command.word, command.summary);
    if (command.declare != nullptr) command.declare(sub, &state->raw);
    state->commands.emplace_back(sub, &command);
  }
}

// The one-line text of a CLI11 parse error, naming the unknown command where there is
// one.
std::string ParseErrorText(const CLI::ParseError& e, const ParserState& state,
                           const std::vector<std::string>& args) {
  const std::string what = e.what();
  bool has_command = false;
  std::string prefix;
  for (const auto& command : state.commands) {
    if (command.first->parsed()) {
      has_command = true;
      prefix = std::string(command.second->word) + ": ";
    }
  }
  if (!has_command) {
    // The first word that is neither an option nor a global option's value.
    static const char* const kValued[] = {"--data", "--connect-to", "--user", "--timeout"};
    for (size_t i = 0; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (arg.empty() || arg[0] == '-') {
        for (const char* valued : kValued) {
          if (arg == valued) ++i;
        }
        continue;
      }
      return "unknown command '" + arg + "' (see --help)";
    }
    if (what.find("subcommand is required") != std::string::npos) {
      return "no command given (see --help)";
    }
  }
  std::string text = what;
  if (text.find("was not expected") != std::string::npos ||
      text.find("were not expected") != std::string::npos) {
    text = "unexpected argument: " + text.substr(text.find(':') + 1);
    while (text.find(":  ") != std::string::npos) text.replace(text.find(":  "), 3, ": ");
  }
  return prefix + text + " (see --help)";
}

ParsedCommandLine Parse(CLI::App& app, const ParserState& state, std::vector<std::string> args) {
  ParsedCommandLine out;
  // CLI11 reads the vector from the back.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out.kind = ParsedCommandLine::Kind::kHelp;
    CLI::App* active = &app;
    for (const auto& command : state.commands) {
      if (command.first->parsed()) active = command.first;
    }
    out.text = active->help();
    return out;
  } catch (const CLI::CallForAllHelp&) {
    out.kind = ParsedCommandLine::Kind::kHelp;
    out.text = app.help("", CLI::AppFormatMode::All);
    return out;
  } catch (const CLI::ParseError& e) {
    out.kind = ParsedCommandLine::Kind::kUsageError;
    out.text = ParseErrorText(e, state, args);
    return out;
  }
  for (const auto& command : state.commands) {
    if (!command.first->parsed()) continue;
    CliRequest request;
    request.kind = command.second->kind;
    std::string error;
    if (command.second->build != nullptr &&
        !command.second->build(*command.first, state.raw, &request, &error)) {
      out.kind = ParsedCommandLine::Kind::kUsageError;
      out.text = std::string(command.second->word) + ": " + error;
      return out;
    }
    out.request = request;
    out.kind = ParsedCommandLine::Kind::kRun;
    return out;
  }
  out.kind = ParsedCommandLine::Kind::kUsageError;
  out.text = "no command given (see --help)";
  return out;
}

// word as a shell and SplitWords read it back: bare when every character is one that
// neither quotes nor separates, else in '...' with each ' inside as '\''.
std::string Quoted(const std::string& word) {
  static const std::string_view kPlain = "-_./:=,@+%";
  bool bare = !word.empty();
  for (char c : word) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       (c >= '0' && c <= '9') || static_cast<unsigned char>(c) >= 0x80 ||
                       kPlain.find(c) != std::string_view::npos;
    if (!plain) bare = false;
  }
  if (bare) return word;
  std::string out = "'";
  for (char c : word) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace

void CommandLineWriter::Option(const std::string& name, const std::string& value) {
  if (!value.empty() && value[0] == '-') {
    options_.push_back(name + "=" + value);
  } else {
    options_.push_back(name);
    options_.push_back(value);
  }
}

std::vector<std::string> CommandLineWriter::Words() const {
  bool dashed = false;
  for (const std::string& argument : arguments_) {
    if (!argument.empty() && argument[0] == '-') dashed = true;
  }
  std::vector<std::string> words;
  if (dashed) {
    words = options_;
    words.push_back("--");
    words.insert(words.end(), arguments_.begin(), arguments_.end());
  } else {
    words = arguments_;
    words.insert(words.end(), options_.begin(), options_.end());
  }
  return words;
}

std::string CommandLineOf(const CliRequest& request) {
  const CliCommand& command = CommandFor(request.kind);
  CommandLineWriter writer;
  if (command.write != nullptr) command.write(request, &writer);
  std::string line = command.word;
  for (const std::string& word : writer.Words()) line += " " + Quoted(word);
  return line;
}

std::string DefaultDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/zqblog";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/share/zqblog";
  return std::string();
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CLI::App app(kDescription, "zqblog");
  app.fallthrough();
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.get_formatter()->label("Subcommands", "Commands");
  app.require_subcommand(1);
  GlobalOptions globals;
  std::string timeout_text;
  std::string user_text = globals.user;
  app.add_option("--data", globals.data,
                 "data folder: user folders, settings, registry, embedded service database "
                 "(default $XDG_DATA_HOME/zqblog or ~/.local/share/zqblog)")
      ->type_name("DIR");
  app.add_option("--connect-to", globals.connect_to,
                 "send every connection to ADDR:PORT instead of starting the service")
      ->type_name("ADDR:PORT");
  app.add_option("--user", user_text, "the signed-in user (default demo)")->type_name("UIN");
  app.add_flag("--json", globals.json, "print one JSON object on stdout");
  app.add_option("--timeout", timeout_text,
                 "seconds each operation may take, submission to result (default 30)")
      ->type_name("SECONDS");
  ParserState state;
  AddCommands(&app, &state, true);
  app.footer(kFooter);  // after the commands, which would inherit it

  ParsedCommandLine out = Parse(app, state, args);
  if (out.kind != ParsedCommandLine::Kind::kRun) return out;
  auto usage = [&](const std::string& text) {
    out.kind = ParsedCommandLine::Kind::kUsageError;
    out.text = text;
    return out;
  };
  if (!CheckUin("--user", user_text, &globals.user, &out.text)) return usage(out.text);
  if (!timeout_text.empty()) {
    char* end = nullptr;
    const double value = std::strtod(timeout_text.c_str(), &end);
    if (end == timeout_text.c_str() || *end != '\0' || !(value > 0) || value > 86400) {
      return usage("--timeout '" + timeout_text +
                   "' is not a number of seconds (more than 0, at most 86400)");
    }
    globals.timeout_seconds = value;
  }
  if (!globals.connect_to.empty()) {
    ZQHost::HttpEndpoint endpoint;
    if (!ZQHost::HttpResolverTable::ParseEndpoint(globals.connect_to, &endpoint)) {
      return usage("--connect-to '" + globals.connect_to + "' is not ADDR:PORT");
    }
  }
  if (globals.data.empty()) {
    globals.data = DefaultDataFolder();
    if (globals.data.empty()) return usage("--data is needed (neither XDG_DATA_HOME nor HOME is set)");
  }
  out.globals = globals;
  return out;
}

ParsedCommandLine ParseShellLine(const std::string& line) {
  ParsedCommandLine out;
  std::vector<std::string> words;
  if (!SplitWords(line, &words, &out.text)) {
    out.kind = ParsedCommandLine::Kind::kUsageError;
    return out;
  }
  if (words.empty()) {
    out.kind = ParsedCommandLine::Kind::kEmpty;
    return out;
  }
  CLI::App app("Commands of the zqblog shell, one a line:", "zqblog shell");
  app.require_subcommand(1);
  ParserState state;
  AddCommands(&app, &state, false);
  if (words.size() == 1 && (words[0] == "help" || words[0] == "?")) {
    out.kind = ParsedCommandLine::Kind::kHelp;
    out.text = app.help();
    return out;
  }
  for (const CliCommand& command : AllCommands()) {
    if (command.program != nullptr && words[0] == command.word) {
      out.kind = ParsedCommandLine::Kind::kUsageError;
      out.text = "'" + words[0] + "' cannot run inside the shell";
      return out;
    }
  }
  if (!words[0].empty() && words[0][0] == '-') {
    out.kind = ParsedCommandLine::Kind::kUsageError;
    out.text = "global options (" + words[0] + ") belong on the zqblog command line, not in the shell";
    return out;
  }
  return Parse(app, state, words);
}

bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error) {
  words->clear();
  std::string word;
  bool in_word = false;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (in_word) words->push_back(word);
      word.clear();
      in_word = false;
      ++i;
    } else if (c == '#' && !in_word) {
      break;  // a comment to the end of the line
    } else if (c == '\'') {
      const size_t close = line.find('\'', i + 1);
      if (close == std::string::npos) {
        *error = "unterminated ' quote";
        return false;
      }
      word.append(line, i + 1, close - i - 1);
      in_word = true;
      i = close + 1;
    } else if (c == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        if (line[i] == '"') {
          closed = true;
          ++i;
          break;
        }
        if (line[i] == '\\' && i + 1 < line.size() &&
            (line[i + 1] == '"' || line[i + 1] == '\\')) {
          ++i;
        }
        word.push_back(line[i]);
        ++i;
      }
      if (!closed) {
        *error = "unterminated \" quote";
        return false;
      }
      in_word = true;
    } else if (c == '\\' && i + 1 < line.size()) {
      word.push_back(line[i + 1]);
      in_word = true;
      i += 2;
    } else {
      word.push_back(c);
      in_word = true;
      ++i;
    }
  }
  if (in_word) words->push_back(word);
  return true;
}

}  // namespace ZQCli
}  // namespace Velmora
