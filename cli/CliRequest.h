// CliRequest: one command of the command-line host, parsed and validated, ready to run.
// Everything a command needs from its input is checked while the request is built
// (CommandLine.h), so a request that exists is well-formed: numbers are numbers, the
// content id has 40 hexadecimal digits, every resource to collect names its cid and
// name. Whether the service agrees is found out by running it.
#ifndef ZQBLOG_CLI_CLIREQUEST_H_
#define ZQBLOG_CLI_CLIREQUEST_H_

#include <optional>
#include <string>
#include <vector>

namespace Velmora {
namespace ZQCli {

enum class CommandKind {
  kDirectory,
  kAlbums,
  kResources,
  kCidDat,
  kAlbumsByCid,
  kComments,
  kCreateAlbum,
  kModifyAlbum,
  kRemoveAlbum,
  kCollect,
  kRemoveResources,
  kCopy,
  kMove,
  kModifyResource,
  kSession,  // the blog session as this process holds it; fetches nothing
  kShell,
  kDemo,
  kServe,  // serves the share session of --data and --user until interrupted
  kWatch,  // joins it as a forwarding process and prints each change it applies
};

// The command word of kind ("albums-by-cid", ...).
const char* CommandWord(CommandKind kind);

// One resource to collect. Texts are UTF-8; cid and gcid upper-case hexadecimal.
struct ResourceSpec {
  std::string cid;
  std::string gcid;
  std::string res_name;
  std::string format;
  std::string size;  // decimal digits, or empty
  std::string url;
  std::string original;
  std::string refer;
  std::string desc;
  int res_type = 0;
  int state = 0;
};

// The album values of create-album and modify-album; a value left out is not given
// (create: the album's default; modify: the album's current value).
struct AlbumSpec {
  std::optional<std::string> name;
  std::optional<std::string> desc;
  std::optional<std::string> pic_url;
  std::optional<int> category_type;
  std::optional<int> show_status;
  std::optional<std::vector<std::string>> tags;  // at most three
  std::optional<int> new_count;                  // modify-album only
};

struct CliRequest {
  CommandKind kind = CommandKind::kDirectory;
  // directory, albums, cid-dat, session: the UIN argument; resources: --of. Empty: the
  // signed-in user. Lower-case.
  std::string uin;
  // resources, collect, remove-resources: ALBUM; modify-album, remove-album: ID.
  int album = 0;
  // copy, move, modify-resource: FROM and TO; modify-resource: the resource ID.
  int from = 0;
  int to = 0;
  int resource = 0;
  // remove-resources, copy, move: the resource IDs, in the order given.
  std::vector<int> ids;
  // albums-by-cid: the content id (40 upper-case hexadecimal digits).
  std::string cid;
  // comments: KEY and --number.
  std::string key;
  int number = 0;
  // create-album, modify-album.
  AlbumSpec album_spec;
  // modify-resource: --name, --desc.
  std::optional<std::string> res_name;
  std::optional<std::string> res_desc;
  // collect.
  std::vector<ResourceSpec> resources;
  // copy, move: --choice.
  bool choice = false;
};

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_CLIREQUEST_H_
