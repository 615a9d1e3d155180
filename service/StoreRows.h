// The store's row helpers: album and resource row readers, the tag column, list keys.
// Shared by the sources of BlogStore only; its public header does not expose them.
#ifndef ZQBLOG_SERVICE_STOREROWS_H_
#define ZQBLOG_SERVICE_STOREROWS_H_

#include <string>
#include <vector>

#include "BlogStore.h"
#include "SqliteDb.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

// The columns ReadAlbum reads, for "SELECT <columns> FROM albums a ...".
extern const char kAlbumColumns[];
AlbumRecord ReadAlbum(const SqliteStatement& st);

// The columns ReadResource reads, for "SELECT <columns> FROM resources ...".
extern const char kResourceColumns[];
ResourceRecord ReadResource(const SqliteStatement& st);

// Tags as the albums table keeps them, in one column.
std::string JoinTags(const std::vector<std::string>& tags);

// Binds fields to the album columns name, description, category_type, show_status, tags,
// pic_url and newly_added_res_num, in that order, at parameters first to first + 6.
SqliteStatement& BindAlbumFields(SqliteStatement& st, int first, const AlbumFields& fields);

// Keys of the change-time bookkeeping: the album list of a user, the resource list of
// an album.
std::string AlbumListKey(const std::string& uin);
std::string ResourceListKey(int album_id);

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_STOREROWS_H_
