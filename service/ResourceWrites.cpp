// The resource writes: CollectResources, RemoveResources, TransferResources, ModifyResource.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "BlogStore.h"
#include "StoreChecks.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

BatchOutcome BlogStore::CollectResources(const std::string& uin, int album_id,
                                         const std::vector<ResourceFields>& resources) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  BatchOutcome outcome;
  const WriterCheck check = CheckWriter(uin, {album_id});
  if (check.result != Outcome::kSuccess) {
    outcome.result = check.result;
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
    auto refuse = [&](Outcome why) {
      item.result = why;
      outcome.items.push_back(item);
    };
    auto cid = NormalizeContentId(in.cid);
    if (!cid) {
      refuse(Outcome::kFail);
      continue;
    }
    std::optional<std::string> gcid =
        in.gcid.empty() ? std::optional<std::string>(std::string()) : NormalizeContentId(in.gcid);
    auto size = NormalizeSize(in.size);
    if (!gcid || !size || in.format.size() > 32 || !IsPrintableAscii(in.format) ||
        in.name.empty()) {
      refuse(Outcome::kFail);
      continue;
    }
    Outcome text_check = Outcome::kSuccess;
    for (const std::string* text : {&in.name, &in.desc, &in.url, &in.original, &in.refer}) {
      if (text_check == Outcome::kSuccess) text_check = CheckText(*text);
    }
    if (text_check != Outcome::kSuccess) {
      refuse(text_check);
      continue;
    }
    if (AlbumHoldsCid(album_id, *cid, 0)) {
      refuse(Outcome::kDuplicate);
      continue;
    }
    if (held >= options_.max_resources_per_album) {
      refuse(Outcome::kExcess);
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
    item.result = Outcome::kSuccess;
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
  outcome.result = Outcome::kSuccess;
  return outcome;
}

WriteOutcome BlogStore::RemoveResources(const std::string& uin, int album_id,
                                        const std::vector<int>& ids) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  const WriterCheck check = CheckWriter(uin, {album_id});
  if (check.result != Outcome::kSuccess) return {check.result, album_id};
  for (int id : ids) {
    auto resource = FindResource(id);
    if (!resource || resource->album_id != album_id) return {Outcome::kNoExist, album_id};
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
  return {Outcome::kSuccess, album_id};
}

BatchOutcome BlogStore::TransferResources(const std::string& uin, int from_album, int to_album,
                                          bool copy, const std::vector<int>& ids) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  BatchOutcome outcome;
  const WriterCheck check = CheckWriter(uin, {from_album, to_album});
  if (check.result != Outcome::kSuccess) {
    outcome.result = check.result;
    return outcome;
  }
  int held = CountResources(to_album);
  int done = 0;
  for (int id : ids) {
    ItemOutcome item;
    item.id = id;
    auto resource = FindResource(id);
    if (!resource || resource->album_id != from_album) {
      item.result = Outcome::kNoExist;
    } else if (resource->audit) {
      item.result = Outcome::kAudit;
    } else if (resource->fields.undone) {
      item.result = Outcome::kUndone;
    } else if (AlbumHoldsCid(to_album, resource->fields.cid, 0)) {
      item.result = Outcome::kDuplicate;
    } else if (held >= options_.max_resources_per_album) {
      item.result = Outcome::kExcess;
    } else if (copy) {
      ResourceRecord twin = *resource;
      twin.last_time = Now();
      item.id = InsertResource(to_album, twin);
      item.done = true;
      item.result = Outcome::kSuccess;
      item.state = twin.state();
    } else {
      SqliteStatement st(db_, "UPDATE resources SET album_id = ? WHERE id = ?");
      st.Bind(1, to_album).Bind(2, id);
      st.Run();
      item.done = true;
      item.result = Outcome::kSuccess;
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
  outcome.result = (done > 0 || ids.empty()) ? Outcome::kSuccess : Outcome::kFail;
  return outcome;
}

WriteOutcome BlogStore::ModifyResource(const std::string& uin, int from_album, int to_album,
                                       int resource_id, const std::string& name,
                                       const std::string& desc) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckFault();
  SqliteTransaction tx(db_);
  const WriterCheck check = CheckWriter(uin, {from_album, to_album});
  if (check.result != Outcome::kSuccess) return {check.result, from_album};
  auto resource = FindResource(resource_id);
  if (!resource || resource->album_id != from_album) return {Outcome::kNoExist, from_album};
  if (name.empty()) return {Outcome::kFail, from_album};
  Outcome text_check = CheckText(name);
  if (text_check == Outcome::kSuccess) text_check = CheckText(desc);
  if (text_check != Outcome::kSuccess) return {text_check, from_album};
  if (from_album != to_album) {
    if (AlbumHoldsCid(to_album, resource->fields.cid, resource_id)) {
      return {Outcome::kDuplicate, from_album};
    }
    if (CountResources(to_album) >= options_.max_resources_per_album) {
      return {Outcome::kExcess, from_album};
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
  return {Outcome::kSuccess, from_album};
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
