// CliRequest: one command of the command-line host, parsed and validated, ready to run.
// Everything a command needs from its input is checked while the request is built
// (CommandLine.h), so a request that exists is well-formed: numbers are numbers, the
// content id has 40 hexadecimal digits, every resource to collect names its cid and
// name. Whether the service agrees is found out by running it.
#ifndef ZQBLOG_CLI_CLIREQUEST_H_
#define ZQBLOG_CLI_CLIREQUEST_H_

#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace Velmora {
namespace ZQCli {

// Every kind has its row in the command table (CommandTable.h), in this order.
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

inline bool operator==(const ResourceSpec& a, const ResourceSpec& b) {
  return std::tie(a.cid, a.gcid, a.res_name, a.format, a.size, a.url, a.original, a.refer,
                  a.desc, a.res_type, a.state) ==
         std::tie(b.cid, b.gcid, b.res_name, b.format, b.size, b.url, b.original, b.refer,
                  b.desc, b.res_type, b.state);
}

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

inline bool operator==(const AlbumSpec& a, const AlbumSpec& b) {
  return std::tie(a.name, a.desc, a.pic_url, a.category_type, a.show_status, a.tags,
                  a.new_count) == std::tie(b.name, b.desc, b.pic_url, b.category_type,
                                           b.show_status, b.tags, b.new_count);
}

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

// Whether a and b are the same request, field by field: they run the same.
inline bool operator==(const CliRequest& a, const CliRequest& b) {
  return std::tie(a.kind, a.uin, a.album, a.from, a.to, a.resource, a.ids, a.cid, a.key,
                  a.number, a.album_spec, a.res_name, a.res_desc, a.resources, a.choice) ==
         std::tie(b.kind, b.uin, b.album, b.from, b.to, b.resource, b.ids, b.cid, b.key,
                  b.number, b.album_spec, b.res_name, b.res_desc, b.resources, b.choice);
}

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_CLIREQUEST_H_
