// The store's row readers, column lists, tag column and change-time keys.
#include "StoreRows.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

namespace {

// Tags are kept in one column, separated by a character that input never holds (control
// characters are refused).
const char kTagSeparator = '\x1f';

std::vector<std::string> SplitTags(const std::string& joined) {
  std::vector<std::string> tags;
  if (joined.empty()) return tags;
  size_t start = 0;
  for (;;) {
    const size_t end = joined.find(kTagSeparator, start);
    tags.push_back(joined.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return tags;
}

}  // namespace

const char kAlbumColumns[] =
    "a.id, a.name, a.description, a.category_type, a.show_status, a.tags, a.pic_url, "
    "a.newly_added_res_num, a.last_time, a.resources_modified, "
    "(SELECT COUNT(*) FROM resources r WHERE r.album_id = a.id)";

AlbumRecord ReadAlbum(const SqliteStatement& st) {
  AlbumRecord album;
  album.id = static_cast<int>(st.Int(0));
  album.fields.name = st.Text(1);
  album.fields.desc = st.Text(2);
  album.fields.category_type = static_cast<int>(st.Int(3));
  album.fields.show_status = static_cast<int>(st.Int(4));
  album.fields.tags = SplitTags(st.Text(5));
  album.fields.pic_url = st.Text(6);
  album.fields.newly_added_res_num = static_cast<int>(st.Int(7));
  album.last_time = st.Int(8);
  album.resources_modified = st.Int(9);
  album.resource_count = static_cast<int>(st.Int(10));
  return album;
}

const char kResourceColumns[] =
    "id, album_id, cid, gcid, name, format, size, url, original, refer, description, "
    "res_type, undone, audit, last_time";

ResourceRecord ReadResource(const SqliteStatement& st) {
  ResourceRecord r;
  r.id = static_cast<int>(st.Int(0));
  r.album_id = static_cast<int>(st.Int(1));
  r.fields.cid = st.Text(2);
  r.fields.gcid = st.Text(3);
  r.fields.name = st.Text(4);
  r.fields.format = st.Text(5);
  r.fields.size = st.Text(6);
  r.fields.url = st.Text(7);
  r.fields.original = st.Text(8);
  r.fields.refer = st.Text(9);
  r.fields.desc = st.Text(10);
  r.fields.res_type = static_cast<int>(st.Int(11));
  r.fields.undone = st.Int(12) != 0;
  r.audit = st.Int(13) != 0;
  r.last_time = st.Int(14);
  return r;
}

std::string JoinTags(const std::vector<std::string>& tags) {
  std::string joined;
  for (size_t i = 0; i < tags.size(); ++i) {
    if (i > 0) joined += kTagSeparator;
    joined += tags[i];
  }
  return joined;
}

SqliteStatement& BindAlbumFields(SqliteStatement& st, int first, const AlbumFields& fields) {
  return st.Bind(first, fields.name)
      .Bind(first + 1, fields.desc)
      .Bind(first + 2, fields.category_type)
      .Bind(first + 3, fields.show_status)
      .Bind(first + 4, JoinTags(fields.tags))
      .Bind(first + 5, fields.pic_url)
      .Bind(first + 6, fields.newly_added_res_num);
}

std::string AlbumListKey(const std::string& uin) { return "u" + uin; }

std::string ResourceListKey(int album_id) { return "a" + std::to_string(album_id); }

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
