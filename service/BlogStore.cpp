#include "BlogStore.h"

#include <algorithm>
#include <cctype>
#include <ctime>

namespace Velmora {
namespace ZQBlog {
namespace Service {

namespace {

const char kSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS users(
  uin TEXT PRIMARY KEY,
  blog_opened INTEGER NOT NULL DEFAULT 1,
  blacklisted INTEGER NOT NULL DEFAULT 0,
  wealth INTEGER NOT NULL DEFAULT 0,
  albums_modified INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS albums(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  uin TEXT NOT NULL REFERENCES users(uin),
  name TEXT NOT NULL,
  description TEXT NOT NULL,
  category_type INTEGER NOT NULL,
  show_status INTEGER NOT NULL,
  tags TEXT NOT NULL,
  pic_url TEXT NOT NULL,
  newly_added_res_num INTEGER NOT NULL DEFAULT 0,
  last_time INTEGER NOT NULL,
  resources_modified INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS albums_by_uin ON albums(uin);
CREATE TABLE IF NOT EXISTS resources(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  album_id INTEGER NOT NULL REFERENCES albums(id),
  cid TEXT NOT NULL,
  gcid TEXT NOT NULL,
  name TEXT NOT NULL,
  format TEXT NOT NULL,
  size TEXT NOT NULL,
  url TEXT NOT NULL,
  original TEXT NOT NULL,
  refer TEXT NOT NULL,
  description TEXT NOT NULL,
  res_type INTEGER NOT NULL,
  undone INTEGER NOT NULL,
  audit INTEGER NOT NULL,
  last_time INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS resources_by_album ON resources(album_id);
CREATE TABLE IF NOT EXISTS comments(
  res_key TEXT PRIMARY KEY,
  count INTEGER NOT NULL);
CREATE VIEW IF NOT EXISTS cid_entries AS
  SELECT a.uin AS uin, r.cid AS cid, r.album_id AS album_id, r.id AS resource_id
  FROM resources r JOIN albums a ON a.id = r.album_id;
)sql";

// Tags are kept in one column, separated by a character that input never holds (control
// characters are refused).
const char kTagSeparator = '\x1f';

std::string JoinTags(const std::vector<std::string>& tags) {
  std::string joined;
  for (size_t i = 0; i < tags.size(); ++i) {
    if (i > 0) joined += kTagSeparator;
    joined += tags[i];
  }
  return joined;
}

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

bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t extra;
    uint32_t code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= n) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    if ((extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// 40 hexadecimal digits, returned in upper case; nullopt otherwise.
std::optional<std::string> NormalizeContentId(const std::string& text) {
  if (text.size() != 40) return std::nullopt;
  std::string upper = text;
  for (char& c : upper) {
    if (!IsHexDigit(c)) return std::nullopt;
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return upper;
}

// Decimal digits without sign; leading zeros dropped; empty counts as 0.
std::optional<std::string> NormalizeSize(const std::string& text) {
  if (text.empty()) return std::string("0");
  if (text.size() > 20) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const size_t first = text.find_first_not_of('0');
  return first == std::string::npos ? std::string("0") : text.substr(first);
}

bool IsPrintableAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

std::string LowerAscii(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

uint64_t SplitMix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// A stable made-up content id for demo data.
std::string DemoContentId(const std::string& uin, int index, char salt) {
  uint64_t state = 1469598103934665603ULL;
  for (char c : uin) state = (state ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  state ^= static_cast<uint64_t>(index) * 0x100000001B3ULL + static_cast<unsigned char>(salt);
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  while (hex.size() < 40) {
    uint64_t v = SplitMix64(state);
    for (int k = 0; k < 16 && hex.size() < 40; ++k, v >>= 4) hex += kDigits[v & 0xF];
  }
  return hex;
}

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

const char kSuccess[] = "success";

// Keys of the change-time bookkeeping: the album list of a user, the resource list of
// an album.
std::string AlbumListKey(const std::string& uin) { return "u" + uin; }
std::string ResourceListKey(int album_id) { return "a" + std::to_string(album_id); }

}  // namespace

int ResourceRecord::state() const {
  if (audit) return kStateUnderReview;
  if (fields.undone) return kStateUndone;
  return kStateReady;
}

struct BlogStore::UserRow {
  bool blog_opened = false;
  bool blacklisted = false;
  int64_t wealth = 0;
  int64_t albums_modified = 0;
};

BlogStore::BlogStore(const ServiceOptions& options) : options_(options) {}

BlogStore::~BlogStore() = default;

void BlogStore::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  db_.Open(options_.database_path);
  if (options_.database_path != ":memory:") {
    // WAL keeps readers of other tools out of the writers' way; a failure to switch is
    // harmless (the default journal still works).
    try {
      db_.Exec("PRAGMA journal_mode=WAL");
    } catch (const StoreError&) {
    }
  }
  db_.Exec("PRAGMA foreign_keys=ON");
  db_.Exec(kSchema);
}

bool BlogStore::IsValidUin(const std::string& uin) {
  if (uin.empty() || uin.size() > 64) return false;
  return std::all_of(uin.begin(), uin.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '@' ||
           c == '-';
  });
}

int64_t BlogStore::Now() const {
  if (options_.clock) return options_.clock();
  return static_cast<int64_t>(std::time(nullptr));
}

int64_t BlogStore::NextChangeTime(const std::string& list, int64_t previous) {
  const auto it = unserved_.find(list);
  const bool held_by_client = it == unserved_.end() || it->second != previous;
  const int64_t next = std::max(Now(), held_by_client ? previous + 1 : previous);
  unserved_[list] = next;
  return next;
}

void BlogStore::MarkServed(const std::string& list) { unserved_.erase(list); }

void BlogStore::CheckFault() const {
  if (fault_) throw StoreError("injected database fault");
}

// ---------------------------------------------------------------- private helpers

std::optional<BlogStore::UserRow> BlogStore::FindUser(const std::string& uin) {
  SqliteStatement st(db_,
                     "SELECT blog_opened, blacklisted, wealth, albums_modified FROM users "
                     "WHERE uin = ?");
  st.Bind(1, uin);
  if (!st.Step()) return std::nullopt;
  UserRow row;
  row.blog_opened = st.Int(0) != 0;
  row.blacklisted = st.Int(1) != 0;
  row.wealth = st.Int(2);
  row.albums_modified = st.Int(3);
  return row;
}

void BlogStore::InsertUser(const std::string& uin, bool blog_opened) {
  if (!FindUser(uin)) unserved_[AlbumListKey(uin)] = Now();
  SqliteStatement st(db_,
                     "INSERT INTO users(uin, blog_opened, blacklisted, wealth, albums_modified) "
                     "VALUES(?, ?, 0, ?, ?) "
                     "ON CONFLICT(uin) DO UPDATE SET blog_opened = excluded.blog_opened");
  st.Bind(1, uin).Bind(2, blog_opened ? 1 : 0).Bind(3, options_.initial_wealth).Bind(4, Now());
  st.Run();
}

std::optional<AlbumRecord> BlogStore::FindAlbum(int album_id) {
  std::string sql = std::string("SELECT ") + kAlbumColumns + " FROM albums a WHERE a.id = ?";
  SqliteStatement st(db_, sql.c_str());
  st.Bind(1, album_id);
  if (!st.Step()) return std::nullopt;
  return ReadAlbum(st);
}

std::optional<AlbumRecord> BlogStore::FindUserAlbum(const std::string& uin, int album_id) {
  std::string sql =
      std::string("SELECT ") + kAlbumColumns + " FROM albums a WHERE a.id = ? AND a.uin = ?";
  SqliteStatement st(db_, sql.c_str());
  st.Bind(1, album_id).Bind(2, uin);
  if (!st.Step()) return std::nullopt;
  return ReadAlbum(st);
}

std::vector<ResourceRecord> BlogStore::LoadResources(int album_id) {
  std::string sql = std::string("SELECT ") + kResourceColumns +
                    " FROM resources WHERE album_id = ? ORDER BY id";
  SqliteStatement st(db_, sql.c_str());
  st.Bind(1, album_id);
  std::vector<ResourceRecord> list;
  while (st.Step()) list.push_back(ReadResource(st));
  return list;
}

std::optional<ResourceRecord> BlogStore::FindResource(int resource_id) {
  std::string sql = std::string("SELECT ") + kResourceColumns + " FROM resources WHERE id = ?";
  SqliteStatement st(db_, sql.c_str());
  st.Bind(1, resource_id);
  if (!st.Step()) return std::nullopt;
  return ReadResource(st);
}

bool BlogStore::AlbumNameTaken(const std::string& uin, const std::string& name, int except_id) {
  SqliteStatement st(db_, "SELECT 1 FROM albums WHERE uin = ? AND name = ? AND id <> ?");
  st.Bind(1, uin).Bind(2, name).Bind(3, except_id);
  return st.Step();
}

bool BlogStore::AlbumHoldsCid(int album_id, const std::string& cid, int except_resource) {
  SqliteStatement st(db_, "SELECT 1 FROM resources WHERE album_id = ? AND cid = ? AND id <> ?");
  st.Bind(1, album_id).Bind(2, cid).Bind(3, except_resource);
  return st.Step();
}

int BlogStore::CountResources(int album_id) {
  SqliteStatement st(db_, "SELECT COUNT(*) FROM resources WHERE album_id = ?");
  st.Bind(1, album_id);
  st.Step();
  return static_cast<int>(st.Int(0));
}

int BlogStore::InsertAlbum(const std::string& uin, const AlbumFields& fields) {
  const int64_t now = Now();
  SqliteStatement st(db_,
                     "INSERT INTO albums(uin, name, description, category_type, show_status, "
                     "tags, pic_url, newly_added_res_num, last_time, resources_modified) "
                     "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  st.Bind(1, uin)
      .Bind(2, fields.name)
      .Bind(3, fields.desc)
      .Bind(4, fields.category_type)
      .Bind(5, fields.show_status)
      .Bind(6, JoinTags(fields.tags))
      .Bind(7, fields.pic_url)
      .Bind(8, fields.newly_added_res_num)
      .Bind(9, now)
      .Bind(10, now);
  st.Run();
  const int id = static_cast<int>(db_.LastInsertId());
  unserved_[ResourceListKey(id)] = now;
  return id;
}

int BlogStore::InsertResource(int album_id, const ResourceRecord& r) {
  SqliteStatement st(db_,
                     "INSERT INTO resources(album_id, cid, gcid, name, format, size, url, "
                     "original, refer, description, res_type, undone, audit, last_time) "
                     "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  st.Bind(1, album_id)
      .Bind(2, r.fields.cid)
      .Bind(3, r.fields.gcid)
      .Bind(4, r.fields.name)
      .Bind(5, r.fields.format)
      .Bind(6, r.fields.size)
      .Bind(7, r.fields.url)
      .Bind(8, r.fields.original)
      .Bind(9, r.fields.refer)
      .Bind(10, r.fields.desc)
      .Bind(11, r.fields.res_type)
      .Bind(12, r.fields.undone ? 1 : 0)
      .Bind(13, r.audit ? 1 : 0)
      .Bind(14, r.last_time);
  st.Run();
  return static_cast<int>(db_.LastInsertId());
}

void BlogStore::TouchAlbumList(const std::string& uin) {
  SqliteStatement get(db_, "SELECT albums_modified FROM users WHERE uin = ?");
  get.Bind(1, uin);
  if (!get.Step()) return;
  SqliteStatement set(db_, "UPDATE users SET albums_modified = ? WHERE uin = ?");
  set.Bind(1, NextChangeTime(AlbumListKey(uin), get.Int(0))).Bind(2, uin);
  set.Run();
}

void BlogStore::TouchAlbum(int album_id) {
  SqliteStatement get(db_, "SELECT resources_modified FROM albums WHERE id = ?");
  get.Bind(1, album_id);
  if (!get.Step()) return;
  SqliteStatement set(db_,
                      "UPDATE albums SET resources_modified = ?, last_time = ? WHERE id = ?");
  set.Bind(1, NextChangeTime(ResourceListKey(album_id), get.Int(0)))
      .Bind(2, Now())
      .Bind(3, album_id);
  set.Run();
}

bool BlogStore::ContainsWord(const std::string& text,
                             const std::vector<std::string>& words) const {
  const std::string lower = LowerAscii(text);
  for (const std::string& word : words) {
    if (!word.empty() && lower.find(LowerAscii(word)) != std::string::npos) return true;
  }
  return false;
}

std::string BlogStore::CheckText(const std::string& text, bool ascii_only) const {
  if (text.size() > options_.max_text_bytes) return "fail";
  if (!IsValidUtf8(text)) return "fail";
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t' && c != '\r' && c != '\n') || u == 0x7F) return "fail";
    if (ascii_only && u >= 0x80) return "fail";
  }
  if (ContainsWord(text, options_.sensitive_words)) return "illegal";
  return std::string();
}

// ---------------------------------------------------------------- administration

void BlogStore::AddUser(const std::string& uin, bool blog_opened) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  if (!IsValidUin(uin)) throw StoreError("invalid user id");
  InsertUser(uin, blog_opened);
}

void BlogStore::SetBlacklisted(const std::string& uin, bool blacklisted) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteStatement st(db_, "UPDATE users SET blacklisted = ? WHERE uin = ?");
  st.Bind(1, blacklisted ? 1 : 0).Bind(2, uin);
  st.Run();
}

void BlogStore::SetWealth(const std::string& uin, int64_t wealth) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteStatement st(db_, "UPDATE users SET wealth = ? WHERE uin = ?");
  st.Bind(1, wealth).Bind(2, uin);
  st.Run();
}

std::optional<int64_t> BlogStore::GetWealth(const std::string& uin) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  auto user = FindUser(uin);
  if (!user) return std::nullopt;
  return user->wealth;
}

int BlogStore::AddAlbum(const std::string& uin, const AlbumFields& fields) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  if (!FindUser(uin)) throw StoreError("no such user");
  const int id = InsertAlbum(uin, fields);
  TouchAlbumList(uin);
  tx.Commit();
  return id;
}

int BlogStore::AddResource(int album_id, const ResourceFields& fields, bool under_review) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  auto album = FindAlbum(album_id);
  if (!album) throw StoreError("no such album");
  auto cid = NormalizeContentId(fields.cid);
  if (!cid) throw StoreError("content id is not 40 hexadecimal digits");
  ResourceRecord r;
  r.fields = fields;
  r.fields.cid = *cid;
  if (auto gcid = NormalizeContentId(fields.gcid)) r.fields.gcid = *gcid;
  if (auto size = NormalizeSize(fields.size)) r.fields.size = *size;
  r.audit = under_review;
  r.last_time = Now();
  const int id = InsertResource(album_id, r);
  SqliteStatement owner(db_, "SELECT uin FROM albums WHERE id = ?");
  owner.Bind(1, album_id);
  owner.Step();
  TouchAlbum(album_id);
  TouchAlbumList(owner.Text(0));
  tx.Commit();
  return id;
}

void BlogStore::SetResourceFlags(int resource_id, bool undone, bool under_review) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  auto resource = FindResource(resource_id);
  if (!resource) throw StoreError("no such resource");
  SqliteStatement st(db_, "UPDATE resources SET undone = ?, audit = ? WHERE id = ?");
  st.Bind(1, undone ? 1 : 0).Bind(2, under_review ? 1 : 0).Bind(3, resource_id);
  st.Run();
  TouchAlbum(resource->album_id);
  SqliteStatement owner(db_, "SELECT uin FROM albums WHERE id = ?");
  owner.Bind(1, resource->album_id);
  if (owner.Step()) TouchAlbumList(owner.Text(0));
  tx.Commit();
}

void BlogStore::SetCommentCount(const std::string& key, int64_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteStatement st(db_,
                     "INSERT INTO comments(res_key, count) VALUES(?, ?) "
                     "ON CONFLICT(res_key) DO UPDATE SET count = excluded.count");
  st.Bind(1, key).Bind(2, count);
  st.Run();
}

void BlogStore::SetFaultInjection(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  fault_ = on;
}

bool BlogStore::SeedDemo(const std::string& uin) {
  if (!IsValidUin(uin)) throw StoreError("invalid user id");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    CheckFault();
    SqliteStatement st(db_, "SELECT COUNT(*) FROM albums WHERE uin = ?");
    st.Bind(1, uin);
    st.Step();
    if (st.Int(0) > 0) return false;
  }
  AddUser(uin, true);

  struct DemoAlbum {
    AlbumFields fields;
    std::vector<ResourceFields> resources;
  };
  auto resource = [&](int index, const char* name, const char* format, const char* size,
                      int res_type, const char* desc) {
    ResourceFields r;
    r.cid = DemoContentId(uin, index, 'c');
    r.gcid = DemoContentId(uin, index, 'g');
    r.name = name;
    r.format = format;
    r.size = size;
    r.url = std::string("http://dl.velmora.cn/") + r.cid + "/" + name;
    r.original = std::string("http://www.velmora.cn/share/") + std::to_string(index);
    r.refer = "http://www.velmora.cn/";
    r.desc = desc;
    r.res_type = res_type;
    return r;
  };

  std::vector<DemoAlbum> albums(4);
  albums[0].fields.name = "旅行";
  albums[0].fields.desc = "海边和山里拍的视频";
  albums[0].fields.pic_url = "http://pic.velmora.cn/demo/travel.jpg";
  albums[0].fields.category_type = 0;
  albums[0].fields.show_status = 1;
  albums[0].fields.tags = {"海", "山"};
  albums[0].resources = {
      resource(1, "海边日落.mp4", "mp4", "73400320", 1, "三亚的傍晚"),
      resource(2, "黄山云海.mkv", "mkv", "524288000", 1, "清晨的云海"),
      resource(3, "旅行计划.pdf", "pdf", "1048576", 0, "行程与预算"),
  };
  albums[1].fields.name = "Open Source";
  albums[1].fields.desc = "Installers and source archives";
  albums[1].fields.pic_url = "http://pic.velmora.cn/demo/opensource.png";
  albums[1].fields.category_type = 1;
  albums[1].fields.show_status = 1;
  albums[1].fields.tags = {"linux", "tools", "iso"};
  albums[1].resources = {
      resource(4, "debian-12.iso", "iso", "659554304", 0, "netinst image"),
      resource(5, "sqlite-3.40.tar.gz", "gz", "3174400", 0, "amalgamation source"),
  };
  albums[2].fields.name = "音乐 Music";
  albums[2].fields.desc = "";
  albums[2].fields.pic_url = "";
  albums[2].fields.category_type = 2;
  albums[2].fields.show_status = 0;
  albums[2].resources = {
      resource(6, "夜曲.mp3", "mp3", "4718592", 1, "still downloading"),
      resource(7, "Demo Song.flac", "flac", "31457280", 1, "waiting for review"),
  };
  albums[3].fields.name = "Empty";
  albums[3].fields.desc = "Nothing here yet";
  albums[3].fields.pic_url = "http://pic.velmora.cn/demo/empty.png";
  albums[3].fields.category_type = 0;
  albums[3].fields.show_status = 1;
  albums[3].fields.tags = {"new"};

  int64_t comments = 3;
  for (const DemoAlbum& album : albums) {
    const int album_id = AddAlbum(uin, album.fields);
    for (const ResourceFields& r : album.resources) {
      const bool review = r.desc == "waiting for review";
      ResourceFields fields = r;
      fields.undone = r.desc == "still downloading";
      AddResource(album_id, fields, review);
      SetCommentCount(r.cid, comments);
      comments = comments * 3 % 17 + 1;
    }
  }
  return true;
}

// ---------------------------------------------------------------- fetches

std::optional<DirectoryInfo> BlogStore::GetDirectory(const std::string& uin) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  if (!IsValidUin(uin)) return std::nullopt;
  auto user = FindUser(uin);
  if (!user && options_.open_blogs_on_demand) {
    InsertUser(uin, true);
    user = FindUser(uin);
  }
  if (!user || !user->blog_opened) return std::nullopt;
  DirectoryInfo info;
  SqliteStatement albums(db_, "SELECT COUNT(*) FROM albums WHERE uin = ?");
  albums.Bind(1, uin);
  albums.Step();
  info.album_count = static_cast<int>(albums.Int(0));
  SqliteStatement cids(db_, "SELECT COUNT(*) FROM cid_entries WHERE uin = ?");
  cids.Bind(1, uin);
  cids.Step();
  info.cid_count = static_cast<int>(cids.Int(0));
  info.resource_count = info.cid_count;
  return info;
}

std::optional<AlbumList> BlogStore::GetAlbumList(const std::string& uin) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  auto user = FindUser(uin);
  if (!user || !user->blog_opened) return std::nullopt;
  AlbumList list;
  list.modified = user->albums_modified;
  MarkServed(AlbumListKey(uin));
  std::string sql =
      std::string("SELECT ") + kAlbumColumns + " FROM albums a WHERE a.uin = ? ORDER BY a.id";
  SqliteStatement st(db_, sql.c_str());
  st.Bind(1, uin);
  while (st.Step()) list.albums.push_back(ReadAlbum(st));
  return list;
}

std::optional<ResourceList> BlogStore::GetResourceList(const std::string& uin, int album_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  auto album = FindUserAlbum(uin, album_id);
  if (!album) return std::nullopt;
  ResourceList list;
  list.modified = album->resources_modified;
  MarkServed(ResourceListKey(album_id));
  list.resources = LoadResources(album_id);
  return list;
}

std::optional<AlbumRecord> BlogStore::GetAlbum(int album_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  return FindAlbum(album_id);
}

std::optional<ResourceRecord> BlogStore::GetResource(int resource_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  return FindResource(resource_id);
}

std::vector<CidEntry> BlogStore::GetCidEntries(const std::string& uin) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteStatement st(db_,
                     "SELECT cid, album_id FROM cid_entries WHERE uin = ? "
                     "ORDER BY album_id, resource_id");
  st.Bind(1, uin);
  std::vector<CidEntry> entries;
  while (st.Step()) {
    const std::string hex = st.Text(0);
    if (hex.size() != 40) continue;  // only well-formed ids are ever stored
    CidEntry entry;
    for (int i = 0; i < 20; ++i) {
      entry.cid[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    }
    entry.album_id = static_cast<int32_t>(st.Int(1));
    entries.push_back(entry);
  }
  return entries;
}

int64_t BlogStore::GetCommentCount(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteStatement st(db_, "SELECT count FROM comments WHERE res_key = ?");
  st.Bind(1, key);
  return st.Step() ? st.Int(0) : 0;
}

// ---------------------------------------------------------------- writes

WriteOutcome BlogStore::CreateAlbum(const std::string& uin, const AlbumFields& fields) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  auto user = FindUser(uin);
  if (user && user->blacklisted) return {"forbidden"};
  if (fields.name.empty()) return {"fail"};
  std::string word = CheckText(fields.name);
  if (word.empty()) word = CheckText(fields.desc);
  if (word.empty()) word = CheckText(fields.pic_url);
  for (const std::string& tag : fields.tags) {
    if (word.empty()) word = CheckText(tag);
  }
  if (!word.empty()) return {word};
  // The first album of a signed-in user without a blog opens the blog.
  if (!user || !user->blog_opened) {
    InsertUser(uin, true);
    user = FindUser(uin);
  }
  if (AlbumNameTaken(uin, fields.name, 0)) return {"duplicate"};
  SqliteStatement count(db_, "SELECT COUNT(*) FROM albums WHERE uin = ?");
  count.Bind(1, uin);
  count.Step();
  if (count.Int(0) >= options_.max_albums_per_user) return {"excess"};
  if (user->wealth < options_.album_create_cost) return {"no_bill"};
  AlbumFields stored = fields;
  stored.newly_added_res_num = 0;
  const int id = InsertAlbum(uin, stored);
  if (options_.album_create_cost != 0) {
    SqliteStatement pay(db_, "UPDATE users SET wealth = wealth - ? WHERE uin = ?");
    pay.Bind(1, options_.album_create_cost).Bind(2, uin);
    pay.Run();
  }
  TouchAlbumList(uin);
  tx.Commit();
  return {kSuccess, id};
}

WriteOutcome BlogStore::ModifyAlbum(const std::string& uin, int album_id,
                                    const AlbumFields& fields) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  auto user = FindUser(uin);
  if (!user || !user->blog_opened) return {"no_exist", album_id};
  if (user->blacklisted) return {"forbidden", album_id};
  if (!FindUserAlbum(uin, album_id)) return {"no_exist", album_id};
  if (fields.name.empty()) return {"fail", album_id};
  std::string word = CheckText(fields.name);
  if (word.empty()) word = CheckText(fields.desc);
  if (word.empty()) word = CheckText(fields.pic_url);
  for (const std::string& tag : fields.tags) {
    if (word.empty()) word = CheckText(tag);
  }
  if (!word.empty()) return {word, album_id};
  if (AlbumNameTaken(uin, fields.name, album_id)) return {"duplicate", album_id};
  SqliteStatement st(db_,
                     "UPDATE albums SET name = ?, description = ?, category_type = ?, "
                     "show_status = ?, tags = ?, pic_url = ?, newly_added_res_num = ?, "
                     "last_time = ? WHERE id = ?");
  st.Bind(1, fields.name)
      .Bind(2, fields.desc)
      .Bind(3, fields.category_type)
      .Bind(4, fields.show_status)
      .Bind(5, JoinTags(fields.tags))
      .Bind(6, fields.pic_url)
      .Bind(7, fields.newly_added_res_num)
      .Bind(8, Now())
      .Bind(9, album_id);
  st.Run();
  TouchAlbumList(uin);
  tx.Commit();
  return {kSuccess, album_id};
}

WriteOutcome BlogStore::RemoveAlbum(const std::string& uin, int album_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  auto user = FindUser(uin);
  if (!user || !user->blog_opened) return {"no_exist", album_id};
  if (user->blacklisted) return {"forbidden", album_id};
  auto album = FindUserAlbum(uin, album_id);
  if (!album) return {"no_exist", album_id};
  if (album->resource_count > 0) return {"no_empty", album_id};
  SqliteStatement st(db_, "DELETE FROM albums WHERE id = ?");
  st.Bind(1, album_id);
  st.Run();
  TouchAlbumList(uin);
  tx.Commit();
  return {kSuccess, album_id};
}

BatchOutcome BlogStore::CollectResources(const std::string& uin, int album_id,
                                         const std::vector<ResourceFields>& resources) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  BatchOutcome outcome;
  auto user = FindUser(uin);
  if (!user || !user->blog_opened) {
    outcome.message = "no_exist";
    return outcome;
  }
  if (user->blacklisted) {
    outcome.message = "forbidden";
    return outcome;
  }
  if (!FindUserAlbum(uin, album_id)) {
    outcome.message = "no_exist";
    return outcome;
  }
  int held = CountResources(album_id);
  bool changed = false;
  for (size_t i = 0; i < resources.size(); ++i) {
    const ResourceFields& in = resources[i];
    ItemOutcome item;
    // A refused item has no resource id; its stand-in is minus its position, so every
    // refusal of the batch keeps an id of its own.
    item.id = -static_cast<int>(i);
    auto refuse = [&](const std::string& word) {
      item.message = word;
      outcome.items.push_back(item);
    };
    auto cid = NormalizeContentId(in.cid);
    if (!cid) {
      refuse("fail");
      continue;
    }
    std::optional<std::string> gcid =
        in.gcid.empty() ? std::optional<std::string>(std::string()) : NormalizeContentId(in.gcid);
    auto size = NormalizeSize(in.size);
    if (!gcid || !size || in.format.size() > 32 || !IsPrintableAscii(in.format) ||
        in.name.empty()) {
      refuse("fail");
      continue;
    }
    std::string word;
    for (const std::string* text : {&in.name, &in.desc, &in.url, &in.original, &in.refer}) {
      if (word.empty()) word = CheckText(*text);
    }
    if (!word.empty()) {
      refuse(word);
      continue;
    }
    if (AlbumHoldsCid(album_id, *cid, 0)) {
      refuse("duplicate");
      continue;
    }
    if (held >= options_.max_resources_per_album) {
      refuse("excess");
      continue;
    }
    ResourceRecord r;
    r.fields = in;
    r.fields.cid = *cid;
    r.fields.gcid = *gcid;
    r.fields.size = *size;
    r.audit = ContainsWord(in.name, options_.review_words) ||
              ContainsWord(in.desc, options_.review_words);
    r.last_time = Now();
    item.done = true;
    item.id = InsertResource(album_id, r);
    item.state = r.state();
    outcome.items.push_back(item);
    ++held;
    changed = true;
  }
  if (changed) {
    TouchAlbum(album_id);
    TouchAlbumList(uin);
  }
  tx.Commit();
  outcome.accepted = true;
  outcome.message = kSuccess;
  return outcome;
}

WriteOutcome BlogStore::RemoveResources(const std::string& uin, int album_id,
                                        const std::vector<int>& ids) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  auto user = FindUser(uin);
  if (!user || !user->blog_opened) return {"no_exist", album_id};
  if (user->blacklisted) return {"forbidden", album_id};
  if (!FindUserAlbum(uin, album_id)) return {"no_exist", album_id};
  for (int id : ids) {
    auto resource = FindResource(id);
    if (!resource || resource->album_id != album_id) return {"no_exist", album_id};
  }
  if (!ids.empty()) {
    SqliteStatement st(db_, "DELETE FROM resources WHERE id = ?");
    for (int id : ids) {
      st.Reset();
      st.Bind(1, id);
      st.Run();
    }
    TouchAlbum(album_id);
    TouchAlbumList(uin);
  }
  tx.Commit();
  return {kSuccess, album_id};
}

BatchOutcome BlogStore::TransferResources(const std::string& uin, int from_album, int to_album,
                                          bool copy, const std::vector<int>& ids) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  BatchOutcome outcome;
  auto user = FindUser(uin);
  if (!user || !user->blog_opened) {
    outcome.message = "no_exist";
    return outcome;
  }
  if (user->blacklisted) {
    outcome.message = "forbidden";
    return outcome;
  }
  if (!FindUserAlbum(uin, from_album) || !FindUserAlbum(uin, to_album)) {
    outcome.message = "no_exist";
    return outcome;
  }
  int held = CountResources(to_album);
  int done = 0;
  for (int id : ids) {
    ItemOutcome item;
    item.id = id;
    auto resource = FindResource(id);
    if (!resource || resource->album_id != from_album) {
      item.message = "no_exist";
    } else if (resource->audit) {
      item.message = "audit";
    } else if (resource->fields.undone) {
      item.message = "undone";
    } else if (AlbumHoldsCid(to_album, resource->fields.cid, 0)) {
      item.message = "duplicate";
    } else if (held >= options_.max_resources_per_album) {
      item.message = "excess";
    } else if (copy) {
      ResourceRecord twin = *resource;
      twin.last_time = Now();
      item.id = InsertResource(to_album, twin);
      item.done = true;
      item.state = twin.state();
    } else {
      SqliteStatement st(db_, "UPDATE resources SET album_id = ? WHERE id = ?");
      st.Bind(1, to_album).Bind(2, id);
      st.Run();
      item.done = true;
      item.state = resource->state();
    }
    if (item.done) {
      ++held;
      ++done;
    }
    outcome.items.push_back(item);
  }
  if (done > 0) {
    TouchAlbum(to_album);
    if (!copy) TouchAlbum(from_album);
    TouchAlbumList(uin);
  }
  tx.Commit();
  outcome.accepted = true;
  // Nothing moved or copied: the request as a whole failed, and each item says why.
  outcome.message = (done > 0 || ids.empty()) ? kSuccess : "fail";
  return outcome;
}

WriteOutcome BlogStore::ModifyResource(const std::string& uin, int from_album, int to_album,
                                       int resource_id, const std::string& name,
                                       const std::string& desc) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  auto user = FindUser(uin);
  if (!user || !user->blog_opened) return {"no_exist", from_album};
  if (user->blacklisted) return {"forbidden", from_album};
  if (!FindUserAlbum(uin, from_album) || !FindUserAlbum(uin, to_album)) {
    return {"no_exist", from_album};
  }
  auto resource = FindResource(resource_id);
  if (!resource || resource->album_id != from_album) return {"no_exist", from_album};
  if (name.empty()) return {"fail", from_album};
  std::string word = CheckText(name);
  if (word.empty()) word = CheckText(desc);
  if (!word.empty()) return {word, from_album};
  if (from_album != to_album) {
    if (AlbumHoldsCid(to_album, resource->fields.cid, resource_id)) {
      return {"duplicate", from_album};
    }
    if (CountResources(to_album) >= options_.max_resources_per_album) {
      return {"excess", from_album};
    }
  }
  const bool review = resource->audit || ContainsWord(name, options_.review_words) ||
                      ContainsWord(desc, options_.review_words);
  SqliteStatement st(db_,
                     "UPDATE resources SET name = ?, description = ?, album_id = ?, audit = ?, "
                     "last_time = ? WHERE id = ?");
  st.Bind(1, name)
      .Bind(2, desc)
      .Bind(3, to_album)
      .Bind(4, review ? 1 : 0)
      .Bind(5, Now())
      .Bind(6, resource_id);
  st.Run();
  TouchAlbum(from_album);
  if (to_album != from_album) TouchAlbum(to_album);
  TouchAlbumList(uin);
  tx.Commit();
  return {kSuccess, from_album};
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
