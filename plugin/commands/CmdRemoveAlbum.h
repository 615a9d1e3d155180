// CmdRemoveAlbum ("RemoveAlbum", operation 8): asks the blog service to delete one album
// of the user, named by its category id. POSTs to the "category_delete" endpoint the
// form "uin=<uid>&category_id=<id>" (the user id as UTF-8 only, no "encoder" field) in
// a buffer of 1024 bytes; a longer one is not sent (BaseAlbumCmd).
//
// Reply: the named value "message" of the package root (there is no "return"). Holding
// AlbumListLock throughout, the delivery or broadcast included:
//   - the user's cached album list is looked up; none: the session is untouched and
//     the outcome (Status 1 for "success", else 0) is delivered, or answered to the
//     process that asked, in every role; nothing is broadcast;
//   - "success": Status 1; every content-id entry of the album is removed; the album's
//     name is kept for the result; the album is removed from the list if it holds it;
//   - "no_exist": the album's content-id entries and the album go (if it is there);
//     Status 0;
//   - any other word: the cache is untouched; Status 0;
// then roles 0 and 2 deliver a ResultOnAlbum (the category id, the removed album's name
// or "", the text of the message word); role 1 broadcasts the change with notice code 6
// when Status is 1 and does nothing else. OnReplyPackage succeeds in every case.
//
// Share-session records:
//   request  user id (string), category id (int); the forwarding side refuses a user
//            id the serving side would refuse to read (above 46 bytes).
//   result   Status (int), message (string, read with the 50-byte limit; a longer
//            word is cut to the 46 bytes it takes), then, added because the
//            forwarding process can no longer look it up, the removed album's name
//            (string, "" when the album was not cached; read with the record cap). A
//            record that ends after the message is taken with an empty name.
//   change   user id (string), message (string), and when the message is "success" the
//            category id (int).
// A transport error gives the session's failure sinks (code, 8, 0, 0).
#ifndef ZQBLOG_COMMANDS_CMDREMOVEALBUM_H_
#define ZQBLOG_COMMANDS_CMDREMOVEALBUM_H_

#include <string>
#include <vector>

#include "commands/BaseAlbumCmd.h"

namespace Velmora {
namespace ZQBlog {

class CmdRemoveAlbum : public BaseAlbumCmd {
 public:
  static constexpr size_t kFormSize = 1024;

  // The album to delete; set by the plug-in right after creation.
  void SetCategoryId(int categoryId);
  int CategoryId();
  // The name of the removed album; "" until the reply found it in the cache.
  std::wstring RemovedAlbumName();

  // BaseBlogCmd
  std::string GetCommandName() override;
  int GetRequestRecordSize() ZQ_REQUIRES(CommandLock()) override;
  bool WriteRequestRecord(IShareSessionMessage* message) ZQ_REQUIRES(CommandLock()) override;
  // Reads the user id (50-byte limit) and the category id; false, both unchanged, when
  // either is refused or missing.
  bool ReadRequestRecord(IShareSessionMessage* message) ZQ_REQUIRES(CommandLock()) override;
  void PublishChange() ZQ_REQUIRES(CommandLock()) override;
  int GetChangeRecordSize() ZQ_REQUIRES(CommandLock()) override;
  int GetResultRecordSize() ZQ_REQUIRES(CommandLock()) override;
  bool WriteResultRecord(BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) override;
  // Reads Status, the message and the album name; false, nothing changed, when the
  // record is short or a text refused.
  bool ReadResultRecord(const BYTE* payload, int size) override;
  void DeliverResult() ZQ_REQUIRES(CommandLock()) override;

 protected:
  CmdRemoveAlbum();
  ~CmdRemoveAlbum() override;

  HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) override;
  size_t FormBufferSize() const override { return kFormSize; }
  void BuildForm(Form* form) ZQ_REQUIRES(CommandLock()) override;

 private:
  std::vector<BYTE> BuildChangeRecord();

  int categoryId_ = 0;
  std::wstring albumName_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDREMOVEALBUM_H_
