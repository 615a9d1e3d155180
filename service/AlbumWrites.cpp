// The album writes: CreateAlbum, ModifyAlbum and RemoveAlbum.
#include <mutex>
#include <optional>
#include <string>

#include "BlogStore.h"
#include "StoreRows.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

Outcome BlogStore::CheckAlbumTexts(const AlbumFields& fields) const {
  Outcome text_check = CheckText(fields.name);
  if (text_check == Outcome::kSuccess) text_check = CheckText(fields.desc);
  if (text_check == Outcome::kSuccess) text_check = CheckText(fields.pic_url);
  for (const std::string& tag : fields.tags) {
    if (text_check == Outcome::kSuccess) text_check = CheckText(tag);
  }
  return text_check;
}

WriteOutcome BlogStore::CreateAlbum(const std::string& uin, const AlbumFields& fields) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  WriterCheck check = CheckWriter(uin, {}, /*may_open_blog=*/true);
  if (check.result != Outcome::kSuccess) return {check.result};
  std::optional<UserRow>& user = check.user;
  if (fields.name.empty()) return {Outcome::kFail};
  const Outcome text_check = CheckAlbumTexts(fields);
  if (text_check != Outcome::kSuccess) return {text_check};
  // The first album of a signed-in user without a blog opens the blog.
  if (!user || !user->blog_opened) {
    InsertUser(uin, true);
    user = FindUser(uin);
  }
  if (AlbumNameTaken(uin, fields.name, 0)) return {Outcome::kDuplicate};
  SqliteStatement count(db_, "SELECT COUNT(*) FROM albums WHERE uin = ?");
  count.Bind(1, uin);
  count.Step();
  if (count.Int(0) >= options_.max_albums_per_user) return {Outcome::kExcess};
  if (user->wealth < options_.album_create_cost) return {Outcome::kNoBill};
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
  return {Outcome::kSuccess, id};
}

WriteOutcome BlogStore::ModifyAlbum(const std::string& uin, int album_id,
                                    const AlbumFields& fields) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  const WriterCheck check = CheckWriter(uin, {album_id});
  if (check.result != Outcome::kSuccess) return {check.result, album_id};
  if (fields.name.empty()) return {Outcome::kFail, album_id};
  const Outcome text_check = CheckAlbumTexts(fields);
  if (text_check != Outcome::kSuccess) return {text_check, album_id};
  if (AlbumNameTaken(uin, fields.name, album_id)) return {Outcome::kDuplicate, album_id};
  SqliteStatement st(db_,
                     "UPDATE albums SET name = ?, description = ?, category_type = ?, "
                     "show_status = ?, tags = ?, pic_url = ?, newly_added_res_num = ?, "
                     "last_time = ? WHERE id = ?");
  BindAlbumFields(st, 1, fields).Bind(8, Now()).Bind(9, album_id);
  st.Run();
  TouchAlbumList(uin);
  tx.Commit();
  return {Outcome::kSuccess, album_id};
}

WriteOutcome BlogStore::RemoveAlbum(const std::string& uin, int album_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  const WriterCheck check = CheckWriter(uin, {album_id});
  if (check.result != Outcome::kSuccess) return {check.result, album_id};
  if (check.album->resource_count > 0) return {Outcome::kNoEmpty, album_id};
  SqliteStatement st(db_, "DELETE FROM albums WHERE id = ?");
  st.Bind(1, album_id);
  st.Run();
  TouchAlbumList(uin);
  tx.Commit();
  return {Outcome::kSuccess, album_id};
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
