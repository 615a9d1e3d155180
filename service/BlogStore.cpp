// The store's database and schema, clock and change times, row helpers, administration, fetches.
#include "BlogStore.h"

#include <algorithm>
#include <ctime>
#include <utility>

#include "StoreChecks.h"
#include "StoreRows.h"

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

}  // namespace

int ResourceRecord::state() const {
  if (audit) return kStateUnderReview;
  if (fields.undone) return kStateUndone;
  return kStateReady;
}

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
  st.Bind(1, uin);
  BindAlbumFields(st, 2, fields).Bind(9, now).Bind(10, now);
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

BlogStore::WriterCheck BlogStore::CheckWriter(const std::string& uin,
                                              std::initializer_list<int> album_ids,
                                              bool may_open_blog) {
  WriterCheck check;
  check.user = FindUser(uin);
  const bool has_blog = check.user && check.user->blog_opened;
  if (!has_blog && !may_open_blog) {
    check.result = Outcome::kNoExist;
    return check;
  }
  if (check.user && check.user->blacklisted) {
    check.result = Outcome::kForbidden;
    return check;
  }
  for (int album_id : album_ids) {
    std::optional<AlbumRecord> album = FindUserAlbum(uin, album_id);
    if (!album) {
      check.result = Outcome::kNoExist;
      return check;
    }
    if (!check.album) check.album = std::move(album);
  }
  return check;
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
  return AddResources(album_id, {fields}, under_review).front();
}

std::vector<int> BlogStore::AddResources(int album_id, const std::vector<ResourceFields>& resources,
                                         bool under_review) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  auto album = FindAlbum(album_id);
  if (!album) throw StoreError("no such album");
  std::vector<int> ids;
  ids.reserve(resources.size());
  for (const ResourceFields& fields : resources) {
    auto cid = NormalizeContentId(fields.cid);
    if (!cid) throw StoreError("content id is not 40 hexadecimal digits");
    ResourceRecord r;
    r.fields = fields;
    r.fields.cid = *cid;
    if (auto gcid = NormalizeContentId(fields.gcid)) r.fields.gcid = *gcid;
    if (auto size = NormalizeSize(fields.size)) r.fields.size = *size;
    r.audit = under_review;
    r.last_time = Now();
    ids.push_back(InsertResource(album_id, r));
  }
  SqliteStatement owner(db_, "SELECT uin FROM albums WHERE id = ?");
  owner.Bind(1, album_id);
  owner.Step();
  TouchAlbum(album_id);
  TouchAlbumList(owner.Text(0));
  tx.Commit();
  return ids;
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

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
