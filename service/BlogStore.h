// The blog service's data: users, their albums ("categories") and the resources in them,
// comment counts, and the change times that drive conditional fetches. Every operation
// is atomic (one SQLite transaction) and serialized by one lock, so the store may be
// used from any number of threads.
//
// Write operations answer with an Outcome: kSuccess, or the refusal the reply reports
// with its word (kNoExist, kDuplicate, kExcess, ...). Database faults are raised as
// StoreError; the HTTP layer decides how each endpoint reports them.
#ifndef ZQBLOG_SERVICE_BLOGSTORE_H_
#define ZQBLOG_SERVICE_BLOGSTORE_H_

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ServiceOptions.h"
#include "SqliteDb.h"
#include "StoreOutcome.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

// What an album form carries. Texts are UTF-8.
struct AlbumFields {
  std::string name;
  std::string desc;
  std::string pic_url;
  int category_type = 0;
  int show_status = 1;
  std::vector<std::string> tags;
  int newly_added_res_num = 0;
};

struct AlbumRecord {
  int id = 0;
  AlbumFields fields;
  int64_t last_time = 0;           // seconds since 1970
  int64_t resources_modified = 0;  // change time of the album's resource list
  int resource_count = 0;
};

// One resource as a collect form describes it. cid and gcid are hexadecimal content ids,
// size is decimal text, the other texts are UTF-8. undone: the download is unfinished.
struct ResourceFields {
  std::string cid;
  std::string gcid;
  std::string name;
  std::string format;
  std::string size;
  std::string url;
  std::string original;
  std::string refer;
  std::string desc;
  int res_type = 0;
  bool undone = false;
};

// Resource states as the service reports them.
enum ResourceState { kStateReady = 0, kStateUndone = 1, kStateUnderReview = 2 };

struct ResourceRecord {
  int id = 0;
  int album_id = 0;
  ResourceFields fields;  // cid and gcid in upper case, size in canonical decimal
  bool audit = false;     // under review
  int64_t last_time = 0;
  int state() const;
};

struct DirectoryInfo {
  int cid_count = 0;
  int album_count = 0;
  int resource_count = 0;
};

struct AlbumList {
  int64_t modified = 0;  // change time of the list
  std::vector<AlbumRecord> albums;
};

struct ResourceList {
  int64_t modified = 0;
  std::vector<ResourceRecord> resources;
};

struct CidEntry {
  uint8_t cid[20];
  int32_t album_id;
};

// Outcome of an album or single-resource write. One nobody filled in is a failure.
struct WriteOutcome {
  Outcome result = Outcome::kFail;  // kSuccess or the refusal
  int category_id = 0;              // the album created or changed
  bool ok() const { return result == Outcome::kSuccess; }
};

// Outcome for one item of a batch: done (collected, copied, moved) or refused.
struct ItemOutcome {
  bool done = false;
  int id = 0;     // new or kept resource id; for a refusal the resource's id or a stand-in
  int state = 0;  // ResourceState of a done item
  Outcome result = Outcome::kFail;  // kSuccess for a done item, else the refusal
};

struct BatchOutcome {
  Outcome result = Outcome::kFail;
  bool accepted = false;  // the request as a whole was valid and processed
  std::vector<ItemOutcome> items;
};

class BlogStore {
 public:
  explicit BlogStore(const ServiceOptions& options);
  ~BlogStore();
  BlogStore(const BlogStore&) = delete;
  BlogStore& operator=(const BlogStore&) = delete;

  // Opens the database and creates the schema when missing. Throws StoreError.
  void Open();

  // A user id the service accepts: 1 to 64 characters of [A-Za-z0-9_.@-].
  static bool IsValidUin(const std::string& uin);
  // Current time of the store's clock.
  int64_t Now() const;

  // ---- Administration (seeding, tests, the command line). Throw StoreError. ----

  // Creates the user (blog opened, initial wealth) or updates the flag of an existing
  // one. REQUIRES: IsValidUin(uin).
  void AddUser(const std::string& uin, bool blog_opened = true);
  void SetBlacklisted(const std::string& uin, bool blacklisted);
  void SetWealth(const std::string& uin, int64_t wealth);
  std::optional<int64_t> GetWealth(const std::string& uin);
  // Adds an album without the policy checks of CreateAlbum; returns its id.
  int AddAlbum(const std::string& uin, const AlbumFields& fields);
  // Adds a resource without policy checks; cid must be 40 hexadecimal digits.
  int AddResource(int album_id, const ResourceFields& fields, bool under_review = false);
  // Adds every resource of resources to the album in one transaction (all or none);
  // returns their ids in order. Each cid must be 40 hexadecimal digits.
  std::vector<int> AddResources(int album_id, const std::vector<ResourceFields>& resources,
                                bool under_review = false);
  void SetResourceFlags(int resource_id, bool undone, bool under_review);
  void SetCommentCount(const std::string& key, int64_t count);
  // Gives uin a demo blog (albums with Chinese and ASCII names, resources, comment
  // counts). Returns false and changes nothing when the user already has albums.
  bool SeedDemo(const std::string& uin);
  // While set, every operation fails as a database fault would.
  void SetFaultInjection(bool on);

  // ---- Fetches. Throw StoreError. ----

  // nullopt when the user has no blog (unknown, or blog not opened). With
  // open_blogs_on_demand an unknown valid user gets a blog first.
  std::optional<DirectoryInfo> GetDirectory(const std::string& uin);
  // nullopt when the user has no blog.
  std::optional<AlbumList> GetAlbumList(const std::string& uin);
  // nullopt when the album is not the user's.
  std::optional<ResourceList> GetResourceList(const std::string& uin, int album_id);
  std::optional<AlbumRecord> GetAlbum(int album_id);
  std::optional<ResourceRecord> GetResource(int resource_id);
  // One entry per resource in any album of the user, by album then resource id.
  std::vector<CidEntry> GetCidEntries(const std::string& uin);
  // 0 for a key without comments.
  int64_t GetCommentCount(const std::string& key);

  // ---- Writes on behalf of an authenticated user. Throw StoreError on a fault. ----

  WriteOutcome CreateAlbum(const std::string& uin, const AlbumFields& fields);
  WriteOutcome ModifyAlbum(const std::string& uin, int album_id, const AlbumFields& fields);
  WriteOutcome RemoveAlbum(const std::string& uin, int album_id);
  // One item outcome per resource, in order. accepted is false when the whole request
  // is refused (result says why).
  BatchOutcome CollectResources(const std::string& uin, int album_id,
                                const std::vector<ResourceFields>& resources);
  // All or nothing: an id that is not in the album refuses the whole request.
  WriteOutcome RemoveResources(const std::string& uin, int album_id,
                               const std::vector<int>& ids);
  // copy: every copied resource gets a new id; move: a moved resource keeps its id.
  BatchOutcome TransferResources(const std::string& uin, int from_album, int to_album,
                                 bool copy, const std::vector<int>& ids);
  WriteOutcome ModifyResource(const std::string& uin, int from_album, int to_album,
                              int resource_id, const std::string& name,
                              const std::string& desc);

 private:
  struct UserRow {
    bool blog_opened = false;
    bool blacklisted = false;
    int64_t wealth = 0;
    int64_t albums_modified = 0;
  };
  // What the opening checks of a write found.
  struct WriterCheck {
    Outcome result = Outcome::kSuccess;  // kSuccess: the write may go on; else its answer
    std::optional<UserRow> user;         // nullopt for an unknown user
    std::optional<AlbumRecord> album;    // the first of the albums checked, if any
  };

  // The checks every write opens with, in this order, answering at the first that fails:
  // the user has a blog, else kNoExist (skipped when may_open_blog: such a write opens
  // the blog itself); the user is not blacklisted, else kForbidden; each of album_ids,
  // in order, is one of the user's albums, else kNoExist. Call under the lock, inside
  // the write's transaction.
  WriterCheck CheckWriter(const std::string& uin, std::initializer_list<int> album_ids,
                          bool may_open_blog = false);
  std::optional<UserRow> FindUser(const std::string& uin);
  void InsertUser(const std::string& uin, bool blog_opened);
  std::optional<AlbumRecord> FindAlbum(int album_id);
  std::optional<AlbumRecord> FindUserAlbum(const std::string& uin, int album_id);
  std::vector<ResourceRecord> LoadResources(int album_id);
  std::optional<ResourceRecord> FindResource(int resource_id);
  bool AlbumNameTaken(const std::string& uin, const std::string& name, int except_id);
  bool AlbumHoldsCid(int album_id, const std::string& cid, int except_resource);
  int CountResources(int album_id);
  int InsertAlbum(const std::string& uin, const AlbumFields& fields);
  int InsertResource(int album_id, const ResourceRecord& resource);
  // The next change time of a list whose current one is previous. It never goes back,
  // and it passes previous by a second when a client may hold previous already (the
  // list was served with it, or the store does not know), so that a change within the
  // same second still shows in the next conditional fetch.
  int64_t NextChangeTime(const std::string& list, int64_t previous);
  // Notes that list was served: clients may now hold its change time.
  void MarkServed(const std::string& list);
  void TouchAlbumList(const std::string& uin);
  void TouchAlbum(int album_id);
  // The policy checks on user input: kSuccess when text passes, else the refusal
  // (kFail for a malformed text, kIllegal for a sensitive word).
  Outcome CheckText(const std::string& text, bool ascii_only = false) const;
  // CheckText on each text of an album (name, description, picture URL, tags in order):
  // the first refusal, else kSuccess.
  Outcome CheckAlbumTexts(const AlbumFields& fields) const;
  bool ContainsWord(const std::string& text, const std::vector<std::string>& words) const;
  void CheckFault() const;

  ServiceOptions options_;
  std::mutex mutex_;
  SqliteDb db_;
  bool fault_ = false;
  // Change times this process gave to lists that have not been served since; only for
  // them may a change keep the same second.
  std::unordered_map<std::string, int64_t> unserved_;
};

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_BLOGSTORE_H_
