#include "cli/CommandLine.h"

#include <cstdlib>
#include <memory>

#include <CLI/CLI.hpp>

#include "cli/InputCheck.h"
#include "cli/Utf8Text.h"
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

// The words each option and argument was given as, before checking.
struct RawArgs {
  std::string uin, album, from, to, resource, cid, key, number, of;
  std::vector<std::string> ids;
  std::string name, desc, pic_url, type, show, new_count, from_json;
  std::vector<std::string> tags, resources;
  bool choice = false;
  // Every subcommand with its kind. Subcommands share the strings above: only one
  // runs per parse, and its own options tell what was given (Given).
  std::vector<std::pair<CLI::App*, CommandKind>> commands;
};

void AddAlbumOptions(CLI::App* sub, RawArgs* raw, bool name_required) {
  CLI::Option* name = sub->add_option("--name", raw->name, "album name")->type_name("NAME");
  if (name_required) name->required();
  sub->add_option("--desc", raw->desc, "description")->type_name("TEXT");
  sub->add_option("--type", raw->type, "album type (any integer; default 0)")->type_name("N");
  sub->add_option("--show", raw->show,
                  "show status (any integer; 1 sends show_status=1, others 0; default 1)")
      ->type_name("N");
  sub->add_option("--tag", raw->tags, "a tag (up to three; repeat the option)")
      ->type_name("TAG");
  sub->add_option("--pic-url", raw->pic_url, "picture URL")->type_name("URL");
}

// Adds every command to app; with with_session_commands also shell and demo.
void AddCommands(CLI::App* app, RawArgs* raw, bool with_session_commands) {
  auto add = [&](const char* word, const char* help, CommandKind kind) {
    CLI::App* sub = app->add_subcommand(word, help);
    raw->commands.emplace_back(sub, kind);
    return sub;
  };
  CLI::App* sub = add("directory", "show a user's server directory", CommandKind::kDirectory);
  sub->add_option("UIN", raw->uin, "user id (default: --user)")->type_name("");
  sub = add("albums", "list a user's albums", CommandKind::kAlbums);
  sub->add_option("UIN", raw->uin, "user id (default: --user)")->type_name("");
  sub = add("resources", "list the resources of an album", CommandKind::kResources);
  sub->add_option("ALBUM", raw->album, "album id")->type_name("")->required();
  sub->add_option("--of", raw->of, "the album's owner (default: --user)")->type_name("UIN");
  sub = add("cid-dat", "fetch a user's content-id table (Cid.dat)", CommandKind::kCidDat);
  sub->add_option("UIN", raw->uin, "user id (default: --user)")->type_name("");
  sub = add("albums-by-cid", "which of --user's albums hold a content id",
            CommandKind::kAlbumsByCid);
  sub->add_option("CID", raw->cid, "content id (40 hexadecimal digits)")->type_name("")->required();
  sub = add("comments", "fetch the comment count of a resource", CommandKind::kComments);
  sub->add_option("KEY", raw->key, "the resource's comment key")->type_name("")->required();
  sub->add_option("--number", raw->number,
                  "request number, handed back in the result (default 0)")
      ->type_name("N");

  sub = add("create-album", "create an album", CommandKind::kCreateAlbum);
  AddAlbumOptions(sub, raw, true);
  sub = add("modify-album", "change an album (options left out keep their values)",
            CommandKind::kModifyAlbum);
  sub->add_option("ID", raw->album, "album id")->type_name("")->required();
  AddAlbumOptions(sub, raw, false);
  sub->add_option("--new-count", raw->new_count, "number of newly added resources to report")
      ->type_name("N");
  sub = add("remove-album", "remove an (empty) album", CommandKind::kRemoveAlbum);
  sub->add_option("ID", raw->album, "album id")->type_name("")->required();

  sub = add("collect", "collect resources into an album", CommandKind::kCollect);
  sub->add_option("ALBUM", raw->album, "album id")->type_name("")->required();
  CLI::Option* resource = sub->add_option(
      "--resource", raw->resources,
      "key=value,... (cid, gcid, res_name, res_type, size, format, state, url, original, "
      "refer, desc; \\, for a comma); repeat for more resources")
      ->type_name("KEY=VALUE,...");
  CLI::Option* from_json =
      sub->add_option("--from-json", raw->from_json, "a JSON array of resource objects")
          ->type_name("FILE");
  resource->excludes(from_json);
  from_json->excludes(resource);
  sub = add("remove-resources", "remove resources from an album",
            CommandKind::kRemoveResources);
  sub->add_option("ALBUM", raw->album, "album id")->type_name("")->required();
  sub->add_option("ID", raw->ids, "resource ids")->type_name("")->required();
  sub = add("copy", "copy resources to another album (sends choice=1)", CommandKind::kCopy);
  sub->add_option("FROM", raw->from, "source album id")->type_name("")->required();
  sub->add_option("TO", raw->to, "target album id")->type_name("")->required();
  sub->add_option("ID", raw->ids, "resource ids")->type_name("")->required();
  sub->add_flag("--choice", raw->choice, "accepted; copy always sends choice=1");
  sub = add("move", "move resources to another album (sends choice=0)", CommandKind::kMove);
  sub->add_option("FROM", raw->from, "source album id")->type_name("")->required();
  sub->add_option("TO", raw->to, "target album id")->type_name("")->required();
  sub->add_option("ID", raw->ids, "resource ids")->type_name("")->required();
  sub->add_flag("--choice", raw->choice,
                "send choice=1 (the reference service then copies instead)");
  sub = add("modify-resource",
            "rename or re-describe a resource, moving it when TO differs from FROM",
            CommandKind::kModifyResource);
  sub->add_option("FROM", raw->from, "the resource's album")->type_name("")->required();
  sub->add_option("TO", raw->to, "the album it shall be in")->type_name("")->required();
  sub->add_option("ID", raw->resource, "resource id")->type_name("")->required();
  sub->add_option("--name", raw->name, "new name (default: keep)")->type_name("NAME");
  sub->add_option("--desc", raw->desc, "new description (default: keep)")->type_name("TEXT");

  sub = add("session", "show the blog session as this process holds it (fetches nothing)",
            CommandKind::kSession);
  sub->add_option("UIN", raw->uin, "user id (default: --user)")->type_name("");

  if (with_session_commands) {
    add("shell", "run commands from stdin, one a line, in one session", CommandKind::kShell);
    add("demo", "a guided session against the (embedded) service", CommandKind::kDemo);
    add("serve", "serve the share session of --data and --user until interrupted",
        CommandKind::kServe);
    add("watch", "join the share session and print each change as it is applied",
        CommandKind::kWatch);
  }
}

bool Given(CLI::App* sub, const char* name) {
  CLI::Option* option = sub->get_option_no_throw(name);
  return option != nullptr && option->count() > 0;
}

bool CheckUtf8(const std::string& what, const std::string& text, std::string* error) {
  std::wstring wide;
  if (Utf8ToWide(text, &wide)) return true;
  *error = what + " is not valid UTF-8";
  return false;
}

// Builds the request of the subcommand that ran; false with *error on a bad value.
bool Build(CLI::App* sub, CommandKind kind, RawArgs& raw, CliRequest* out, std::string* error) {
  CliRequest request;
  request.kind = kind;
  switch (kind) {
    case CommandKind::kDirectory:
    case CommandKind::kAlbums:
    case CommandKind::kCidDat:
    case CommandKind::kSession:
      if (!raw.uin.empty() && !CheckUin("UIN", raw.uin, &request.uin, error)) return false;
      break;
    case CommandKind::kResources:
      if (!ParseId("ALBUM", raw.album, &request.album, error)) return false;
      if (Given(sub, "--of") && !CheckUin("--of", raw.of, &request.uin, error)) return false;
      break;
    case CommandKind::kAlbumsByCid:
      if (!CheckContentId("CID", raw.cid, &request.cid, error)) return false;
      break;
    case CommandKind::kComments:
      if (!CheckCommentKey(raw.key, error)) return false;
      request.key = raw.key;
      if (Given(sub, "--number") && !ParseNumber("--number", raw.number, &request.number, error)) {
        return false;
      }
      break;
    case CommandKind::kCreateAlbum:
    case CommandKind::kModifyAlbum: {
      if (kind == CommandKind::kModifyAlbum && !ParseId("ID", raw.album, &request.album, error)) {
        return false;
      }
      AlbumSpec& spec = request.album_spec;
      if (Given(sub, "--name")) {
        if (raw.name.empty()) {
          *error = "--name: an album needs a name";
          return false;
        }
        if (!CheckUtf8("--name", raw.name, error)) return false;
        spec.name = raw.name;
      }
      if (Given(sub, "--desc")) {
        if (!CheckUtf8("--desc", raw.desc, error)) return false;
        spec.desc = raw.desc;
      }
      if (Given(sub, "--pic-url")) {
        if (!CheckUtf8("--pic-url", raw.pic_url, error)) return false;
        spec.pic_url = raw.pic_url;
      }
      int number = 0;
      if (Given(sub, "--type")) {
        if (!ParseNumber("--type", raw.type, &number, error)) return false;
        spec.category_type = number;
      }
      if (Given(sub, "--show")) {
        if (!ParseNumber("--show", raw.show, &number, error)) return false;
        spec.show_status = number;
      }
      if (Given(sub, "--new-count")) {
        if (!ParseNumber("--new-count", raw.new_count, &number, error)) return false;
        spec.new_count = number;
      }
      if (Given(sub, "--tag")) {
        if (raw.tags.size() > 3) {
          *error = "--tag: an album has at most three tags";
          return false;
        }
        for (const std::string& tag : raw.tags) {
          if (!CheckUtf8("--tag", tag, error)) return false;
        }
        spec.tags = raw.tags;
      }
      break;
    }
    case CommandKind::kRemoveAlbum:
      if (!ParseId("ID", raw.album, &request.album, error)) return false;
      break;
    case CommandKind::kCollect:
      if (!ParseId("ALBUM", raw.album, &request.album, error)) return false;
      if (Given(sub, "--from-json")) {
        if (!LoadResourcesJson(raw.from_json, &request.resources, error)) return false;
      } else if (Given(sub, "--resource")) {
        for (const std::string& text : raw.resources) {
          ResourceSpec spec;
          if (!ParseResourceOption(text, &spec, error)) return false;
          request.resources.push_back(spec);
        }
      } else {
        *error = "collect needs --resource or --from-json";
        return false;
      }
      break;
    case CommandKind::kRemoveResources:
      if (!ParseId("ALBUM", raw.album, &request.album, error)) return false;
      break;
    case CommandKind::kCopy:
    case CommandKind::kMove:
      if (!ParseId("FROM", raw.from, &request.from, error)) return false;
      if (!ParseId("TO", raw.to, &request.to, error)) return false;
      request.choice = kind == CommandKind::kCopy ? true : raw.choice;
      break;
    case CommandKind::kModifyResource:
      if (!ParseId("FROM", raw.from, &request.from, error)) return false;
      if (!ParseId("TO", raw.to, &request.to, error)) return false;
      if (!ParseId("ID", raw.resource, &request.resource, error)) return false;
      if (Given(sub, "--name")) {
        if (!CheckUtf8("--name", raw.name, error)) return false;
        request.res_name = raw.name;
      }
      if (Given(sub, "--desc")) {
        if (!CheckUtf8("--desc", raw.desc, error)) return false;
        request.res_desc = raw.desc;
      }
      break;
    case CommandKind::kShell:
    case CommandKind::kDemo:
    case CommandKind::kServe:
    case CommandKind::kWatch:
      break;
  }
  if (kind == CommandKind::kRemoveResources || kind == CommandKind::kCopy ||
      kind == CommandKind::kMove) {
    for (const std::string& text : raw.ids) {
      int id = 0;
      if (!ParseId("ID", text, &id, error)) return false;
      request.ids.push_back(id);
    }
  }
  *out = request;
  return true;
}

// The one-line text of a CLI11 parse error, naming the unknown command where there is
// one.
std::string ParseErrorText(const CLI::ParseError& e, const RawArgs& raw,
                           const std::vector<std::string>& args) {
  const std::string what = e.what();
  bool has_command = false;
  std::string prefix;
  for (const auto& command : raw.commands) {
    if (command.first->parsed()) {
      has_command = true;
      prefix = std::string(CommandWord(command.second)) + ": ";
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

ParsedCommandLine Parse(CLI::App& app, RawArgs& raw, std::vector<std::string> args) {
  ParsedCommandLine out;
  // CLI11 reads the vector from the back.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out.kind = ParsedCommandLine::Kind::kHelp;
    CLI::App* active = &app;
    for (const auto& command : raw.commands) {
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
    out.text = ParseErrorText(e, raw, args);
    return out;
  }
  for (const auto& command : raw.commands) {
    if (!command.first->parsed()) continue;
    std::string error;
    if (!Build(command.first, command.second, raw, &out.request, &error)) {
      out.kind = ParsedCommandLine::Kind::kUsageError;
      out.text = std::string(CommandWord(command.second)) + ": " + error;
      return out;
    }
    out.kind = ParsedCommandLine::Kind::kRun;
    return out;
  }
  out.kind = ParsedCommandLine::Kind::kUsageError;
  out.text = "no command given (see --help)";
  return out;
}

}  // namespace

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
  RawArgs raw;
  AddCommands(&app, &raw, true);
  app.footer(kFooter);  // after the commands, which would inherit it

  ParsedCommandLine out = Parse(app, raw, args);
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
  RawArgs raw;
  AddCommands(&app, &raw, false);
  if (words.size() == 1 && (words[0] == "help" || words[0] == "?")) {
    out.kind = ParsedCommandLine::Kind::kHelp;
    out.text = app.help();
    return out;
  }
  if (words[0] == "shell" || words[0] == "demo" || words[0] == "serve" || words[0] == "watch") {
    out.kind = ParsedCommandLine::Kind::kUsageError;
    out.text = "'" + words[0] + "' cannot run inside the shell";
    return out;
  }
  if (!words[0].empty() && words[0][0] == '-') {
    out.kind = ParsedCommandLine::Kind::kUsageError;
    out.text = "global options (" + words[0] + ") belong on the zqblog command line, not in the shell";
    return out;
  }
  return Parse(app, raw, words);
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
