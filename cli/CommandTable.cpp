#include "cli/CommandTable.h"

#include <CLI/CLI.hpp>

#include "cli/CliMain.h"
#include "cli/CliSession.h"
#include "cli/CommandLine.h"
#include "cli/HumanOutput.h"
#include "cli/InputCheck.h"
#include "cli/Utf8Text.h"

namespace Velmora {
namespace ZQCli {

namespace {

bool Given(const CLI::App& sub, const char* name) {
  const CLI::Option* option = sub.get_option_no_throw(name);
  return option != nullptr && option->count() > 0;
}

bool CheckUtf8(const std::string& what, const std::string& text, std::string* error) {
  std::wstring wide;
  if (Utf8ToWide(text, &wide)) return true;
  *error = what + " is not valid UTF-8";
  return false;
}

// The resource IDs that end remove-resources, copy and move, in the order given.
bool BuildIds(const RawArguments& raw, CliRequest* request, std::string* error) {
  for (const std::string& text : raw.ids) {
    int id = 0;
    if (!ParseId("ID", text, &id, error)) return false;
    request->ids.push_back(id);
  }
  return true;
}

void WriteIds(const CliRequest& request, CommandLineWriter* out) {
  for (int id : request.ids) out->Argument(std::to_string(id));
}

// ---------------------------------------------------------------- directory, albums,
// cid-dat, session: [UIN]

void DeclareUin(CLI::App* sub, RawArguments* raw) {
  sub->add_option("UIN", raw->uin, "user id (default: --user)")->type_name("");
}

bool BuildUin(const CLI::App&, const RawArguments& raw, CliRequest* request,
              std::string* error) {
  return raw.uin.empty() || CheckUin("UIN", raw.uin, &request->uin, error);
}

void WriteUin(const CliRequest& request, CommandLineWriter* out) {
  if (!request.uin.empty()) out->Argument(request.uin);
}

// ---------------------------------------------------------------- resources ALBUM [--of]

void DeclareResources(CLI::App* sub, RawArguments* raw) {
  sub->add_option("ALBUM", raw->album, "album id")->type_name("")->required();
  sub->add_option("--of", raw->of, "the album's owner (default: --user)")->type_name("UIN");
}

bool BuildResources(const CLI::App& sub, const RawArguments& raw, CliRequest* request,
                    std::string* error) {
  if (!ParseId("ALBUM", raw.album, &request->album, error)) return false;
  return !Given(sub, "--of") || CheckUin("--of", raw.of, &request->uin, error);
}

void WriteResources(const CliRequest& request, CommandLineWriter* out) {
  out->Argument(std::to_string(request.album));
  if (!request.uin.empty()) out->Option("--of", request.uin);
}

// ---------------------------------------------------------------- albums-by-cid CID

void DeclareAlbumsByCid(CLI::App* sub, RawArguments* raw) {
  sub->add_option("CID", raw->cid, "content id (40 hexadecimal digits)")->type_name("")->required();
}

bool BuildAlbumsByCid(const CLI::App&, const RawArguments& raw, CliRequest* request,
                      std::string* error) {
  return CheckContentId("CID", raw.cid, &request->cid, error);
}

void WriteAlbumsByCid(const CliRequest& request, CommandLineWriter* out) {
  out->Argument(request.cid);
}

// ---------------------------------------------------------------- comments KEY [--number]

void DeclareComments(CLI::App* sub, RawArguments* raw) {
  sub->add_option("KEY", raw->key, "the resource's comment key")->type_name("")->required();
  sub->add_option("--number", raw->number,
                  "request number, handed back in the result (default 0)")
      ->type_name("N");
}

bool BuildComments(const CLI::App& sub, const RawArguments& raw, CliRequest* request,
                   std::string* error) {
  if (!CheckCommentKey(raw.key, error)) return false;
  request->key = raw.key;
  return !Given(sub, "--number") || ParseNumber("--number", raw.number, &request->number, error);
}

void WriteComments(const CliRequest& request, CommandLineWriter* out) {
  out->Argument(request.key);
  if (request.number != 0) out->Option("--number", std::to_string(request.number));
}

// ---------------------------------------------------------------- create-album, modify-album

void DeclareAlbumOptions(CLI::App* sub, RawArguments* raw, bool name_required) {
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

// The album values both commands take (--new-count only modify-album declares).
bool BuildAlbumSpec(const CLI::App& sub, const RawArguments& raw, AlbumSpec* spec,
                    std::string* error) {
  if (Given(sub, "--name")) {
    if (raw.name.empty()) {
      *error = "--name: an album needs a name";
      return false;
    }
    if (!CheckUtf8("--name", raw.name, error)) return false;
    spec->name = raw.name;
  }
  if (Given(sub, "--desc")) {
    if (!CheckUtf8("--desc", raw.desc, error)) return false;
    spec->desc = raw.desc;
  }
  if (Given(sub, "--pic-url")) {
    if (!CheckUtf8("--pic-url", raw.pic_url, error)) return false;
    spec->pic_url = raw.pic_url;
  }
  int number = 0;
  if (Given(sub, "--type")) {
    if (!ParseNumber("--type", raw.type, &number, error)) return false;
    spec->category_type = number;
  }
  if (Given(sub, "--show")) {
    if (!ParseNumber("--show", raw.show, &number, error)) return false;
    spec->show_status = number;
  }
  if (Given(sub, "--new-count")) {
    if (!ParseNumber("--new-count", raw.new_count, &number, error)) return false;
    spec->new_count = number;
  }
  if (Given(sub, "--tag")) {
    if (raw.tags.size() > 3) {
      *error = "--tag: an album has at most three tags";
      return false;
    }
    for (const std::string& tag : raw.tags) {
      if (!CheckUtf8("--tag", tag, error)) return false;
    }
    spec->tags = raw.tags;
  }
  return true;
}

void WriteAlbumSpec(const AlbumSpec& spec, CommandLineWriter* out) {
  if (spec.name) out->Option("--name", *spec.name);
  if (spec.desc) out->Option("--desc", *spec.desc);
  if (spec.category_type) out->Option("--type", std::to_string(*spec.category_type));
  if (spec.show_status) out->Option("--show", std::to_string(*spec.show_status));
  if (spec.tags) {
    for (const std::string& tag : *spec.tags) out->Option("--tag", tag);
  }
  if (spec.pic_url) out->Option("--pic-url", *spec.pic_url);
  if (spec.new_count) out->Option("--new-count", std::to_string(*spec.new_count));
}

void DeclareCreateAlbum(CLI::App* sub, RawArguments* raw) {
  DeclareAlbumOptions(sub, raw, true);
}

bool BuildCreateAlbum(const CLI::App& sub, const RawArguments& raw, CliRequest* request,
                      std::string* error) {
  return BuildAlbumSpec(sub, raw, &request->album_spec, error);
}

void WriteCreateAlbum(const CliRequest& request, CommandLineWriter* out) {
  WriteAlbumSpec(request.album_spec, out);
}

void DeclareModifyAlbum(CLI::App* sub, RawArguments* raw) {
  sub->add_option("ID", raw->album, "album id")->type_name("")->required();
  DeclareAlbumOptions(sub, raw, false);
  sub->add_option("--new-count", raw->new_count, "number of newly added resources to report")
      ->type_name("N");
}

bool BuildModifyAlbum(const CLI::App& sub, const RawArguments& raw, CliRequest* request,
                      std::string* error) {
  return ParseId("ID", raw.album, &request->album, error) &&
         BuildAlbumSpec(sub, raw, &request->album_spec, error);
}

void WriteModifyAlbum(const CliRequest& request, CommandLineWriter* out) {
  out->Argument(std::to_string(request.album));
  WriteAlbumSpec(request.album_spec, out);
}

// ---------------------------------------------------------------- remove-album ID

void DeclareRemoveAlbum(CLI::App* sub, RawArguments* raw) {
  sub->add_option("ID", raw->album, "album id")->type_name("")->required();
}

bool BuildRemoveAlbum(const CLI::App&, const RawArguments& raw, CliRequest* request,
                      std::string* error) {
  return ParseId("ID", raw.album, &request->album, error);
}

void WriteAlbum(const CliRequest& request, CommandLineWriter* out) {
  out->Argument(std::to_string(request.album));
}

// ---------------------------------------------------------------- collect ALBUM
// --resource... | --from-json

void DeclareCollect(CLI::App* sub, RawArguments* raw) {
  sub->add_option("ALBUM", raw->album, "album id")->type_name("")->required();
  CLI::Option* resource =
      sub->add_option("--resource", raw->resources,
                      "key=value,... (cid, gcid, res_name, res_type, size, format, state, url, "
                      "original, refer, desc; \\, for a comma); repeat for more resources")
          ->type_name("KEY=VALUE,...");
  CLI::Option* from_json =
      sub->add_option("--from-json", raw->from_json, "a JSON array of resource objects")
          ->type_name("FILE");
  resource->excludes(from_json);
  from_json->excludes(resource);
}

bool BuildCollect(const CLI::App& sub, const RawArguments& raw, CliRequest* request,
                  std::string* error) {
  if (!ParseId("ALBUM", raw.album, &request->album, error)) return false;
  if (Given(sub, "--from-json")) {
    return LoadResourcesJson(raw.from_json, &request->resources, error);
  }
  if (!Given(sub, "--resource")) {
    *error = "collect needs --resource or --from-json";
    return false;
  }
  for (const std::string& text : raw.resources) {
    ResourceSpec spec;
    if (!ParseResourceOption(text, &spec, error)) return false;
    request->resources.push_back(spec);
  }
  return true;
}

// Resources read --from-json are written as --resource options: the same request.
void WriteCollect(const CliRequest& request, CommandLineWriter* out) {
  out->Argument(std::to_string(request.album));
  for (const ResourceSpec& spec : request.resources) {
    out->Option("--resource", ResourceOptionText(spec));
  }
}

// ---------------------------------------------------------------- remove-resources ALBUM ID...

void DeclareRemoveResources(CLI::App* sub, RawArguments* raw) {
  sub->add_option("ALBUM", raw->album, "album id")->type_name("")->required();
  sub->add_option("ID", raw->ids, "resource ids")->type_name("")->required();
}

bool BuildRemoveResources(const CLI::App&, const RawArguments& raw, CliRequest* request,
                          std::string* error) {
  return ParseId("ALBUM", raw.album, &request->album, error) && BuildIds(raw, request, error);
}

void WriteRemoveResources(const CliRequest& request, CommandLineWriter* out) {
  out->Argument(std::to_string(request.album));
  WriteIds(request, out);
}

// ---------------------------------------------------------------- copy, move FROM TO ID...
// [--choice]

void DeclareFromToIds(CLI::App* sub, RawArguments* raw) {
  sub->add_option("FROM", raw->from, "source album id")->type_name("")->required();
  sub->add_option("TO", raw->to, "target album id")->type_name("")->required();
  sub->add_option("ID", raw->ids, "resource ids")->type_name("")->required();
}

void DeclareCopy(CLI::App* sub, RawArguments* raw) {
  DeclareFromToIds(sub, raw);
  sub->add_flag("--choice", raw->choice, "accepted; copy always sends choice=1");
}

void DeclareMove(CLI::App* sub, RawArguments* raw) {
  DeclareFromToIds(sub, raw);
  sub->add_flag("--choice", raw->choice,
                "send choice=1 (the reference service then copies instead)");
}

// copy always sends choice=1; move sends it with --choice.
bool BuildCopyOrMove(const CLI::App&, const RawArguments& raw, CliRequest* request,
                     std::string* error) {
  if (!ParseId("FROM", raw.from, &request->from, error)) return false;
  if (!ParseId("TO", raw.to, &request->to, error)) return false;
  request->choice = request->kind == CommandKind::kCopy ? true : raw.choice;
  return BuildIds(raw, request, error);
}

void WriteCopyOrMove(const CliRequest& request, CommandLineWriter* out) {
  out->Argument(std::to_string(request.from));
  out->Argument(std::to_string(request.to));
  WriteIds(request, out);
  if (request.kind == CommandKind::kMove && request.choice) out->Flag("--choice");
}

// ---------------------------------------------------------------- modify-resource FROM TO ID
// [--name] [--desc]

void DeclareModifyResource(CLI::App* sub, RawArguments* raw) {
  sub->add_option("FROM", raw->from, "the resource's album")->type_name("")->required();
  sub->add_option("TO", raw->to, "the album it shall be in")->type_name("")->required();
  sub->add_option("ID", raw->resource, "resource id")->type_name("")->required();
  sub->add_option("--name", raw->name, "new name (default: keep)")->type_name("NAME");
  sub->add_option("--desc", raw->desc, "new description (default: keep)")->type_name("TEXT");
}

bool BuildModifyResource(const CLI::App& sub, const RawArguments& raw, CliRequest* request,
                         std::string* error) {
  if (!ParseId("FROM", raw.from, &request->from, error)) return false;
  if (!ParseId("TO", raw.to, &request->to, error)) return false;
  if (!ParseId("ID", raw.resource, &request->resource, error)) return false;
  if (Given(sub, "--name")) {
    if (!CheckUtf8("--name", raw.name, error)) return false;
    request->res_name = raw.name;
  }
  if (Given(sub, "--desc")) {
    if (!CheckUtf8("--desc", raw.desc, error)) return false;
    request->res_desc = raw.desc;
  }
  return true;
}

void WriteModifyResource(const CliRequest& request, CommandLineWriter* out) {
  out->Argument(std::to_string(request.from));
  out->Argument(std::to_string(request.to));
  out->Argument(std::to_string(request.resource));
  if (request.res_name) out->Option("--name", *request.res_name);
  if (request.res_desc) out->Option("--desc", *request.res_desc);
}

// Whether the rows stand in the order of their kinds, so CommandFor can index them.
constexpr bool InKindOrder(const std::array<CliCommand, kCommandCount>& commands) {
  for (size_t i = 0; i < commands.size(); ++i) {
    if (static_cast<size_t>(commands[i].kind) != i) return false;
  }
  return true;
}

}  // namespace

const std::array<CliCommand, kCommandCount>& AllCommands() {
  using K = CommandKind;
  using S = CliSession;
  static constexpr std::array<CliCommand, kCommandCount> kCommands = {{
      // kind, word, summary,
      //     declare, build, write,
      //     run, human, program
      {K::kDirectory, "directory", "show a user's server directory",
       DeclareUin, BuildUin, WriteUin,
       &S::RunDirectory, DirectoryText, nullptr},
      {K::kAlbums, "albums", "list a user's albums",
       DeclareUin, BuildUin, WriteUin,
       &S::RunAlbums, AlbumsText, nullptr},
      {K::kResources, "resources", "list the resources of an album",
       DeclareResources, BuildResources, WriteResources,
       &S::RunResources, ResourcesText, nullptr},
      {K::kCidDat, "cid-dat", "fetch a user's content-id table (Cid.dat)",
       DeclareUin, BuildUin, WriteUin,
       &S::RunCidDat, CidDatText, nullptr},
      {K::kAlbumsByCid, "albums-by-cid", "which of --user's albums hold a content id",
       DeclareAlbumsByCid, BuildAlbumsByCid, WriteAlbumsByCid,
       &S::RunAlbumsByCid, AlbumsByCidText, nullptr},
      {K::kComments, "comments", "fetch the comment count of a resource",
       DeclareComments, BuildComments, WriteComments,
       &S::RunComments, CommentsText, nullptr},
      {K::kCreateAlbum, "create-album", "create an album",
       DeclareCreateAlbum, BuildCreateAlbum, WriteCreateAlbum,
       &S::RunCreateAlbum, CreateAlbumText, nullptr},
      {K::kModifyAlbum, "modify-album", "change an album (options left out keep their values)",
       DeclareModifyAlbum, BuildModifyAlbum, WriteModifyAlbum,
       &S::RunModifyAlbum, ModifyAlbumText, nullptr},
      {K::kRemoveAlbum, "remove-album", "remove an (empty) album",
       DeclareRemoveAlbum, BuildRemoveAlbum, WriteAlbum,
       &S::RunRemoveAlbum, RemoveAlbumText, nullptr},
      {K::kCollect, "collect", "collect resources into an album",
       DeclareCollect, BuildCollect, WriteCollect,
       &S::RunCollect, CollectText, nullptr},
      {K::kRemoveResources, "remove-resources", "remove resources from an album",
       DeclareRemoveResources, BuildRemoveResources, WriteRemoveResources,
       &S::RunRemoveResources, RemoveResourcesText, nullptr},
      {K::kCopy, "copy", "copy resources to another album (sends choice=1)",
       DeclareCopy, BuildCopyOrMove, WriteCopyOrMove,
       &S::RunCopyOrMove, CopyOrMoveText, nullptr},
      {K::kMove, "move", "move resources to another album (sends choice=0)",
       DeclareMove, BuildCopyOrMove, WriteCopyOrMove,
       &S::RunCopyOrMove, CopyOrMoveText, nullptr},
      {K::kModifyResource, "modify-resource",
       "rename or re-describe a resource, moving it when TO differs from FROM",
       DeclareModifyResource, BuildModifyResource, WriteModifyResource,
       &S::RunModifyResource, ModifyResourceText, nullptr},
      {K::kSession, "session", "show the blog session as this process holds it (fetches nothing)",
       DeclareUin, BuildUin, WriteUin,
       &S::RunSession, SessionText, nullptr},
      {K::kShell, "shell", "run commands from stdin, one a line, in one session",
       nullptr, nullptr, nullptr,
       nullptr, nullptr, ShellProgram},
      {K::kDemo, "demo", "a guided session against the (embedded) service",
       nullptr, nullptr, nullptr,
       nullptr, nullptr, DemoProgram},
      {K::kServe, "serve", "serve the share session of --data and --user until interrupted",
       nullptr, nullptr, nullptr,
       nullptr, nullptr, ServeProgram},
      {K::kWatch, "watch", "join the share session and print each change as it is applied",
       nullptr, nullptr, nullptr,
       nullptr, nullptr, WatchProgram},
  }};
  static_assert(InKindOrder(kCommands), "one row per CommandKind, in the order of the kinds");
  return kCommands;
}

}  // namespace ZQCli
}  // namespace Velmora
