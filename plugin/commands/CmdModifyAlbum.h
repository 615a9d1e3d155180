// CmdModifyAlbum ("ModifyAlbum", operation 7): sends the blog service the complete new
// description of an existing album, named by its category id. POSTs to the
// "category_update" endpoint the form (text fields as BaseAlbumCmd::FormText, the user
// id as UTF-8 only)
//   encoder=utf-8&uin=<uid>&category_id=<id>&category_name=<name>&category_type=<type>
//   &show_status=<0|1>[&tag0=<tag>[&tag1=<tag>[&tag2=<tag>]]]&category_desc=<desc>
//   &pic_url=<url>&newly_added_res_num=<n>
// in a buffer of 8192 bytes; a longer one is not sent (BaseAlbumCmd). The show status
// is held as 1 when the caller's value is 1 and 0 otherwise, as for CmdCreateAlbum.
//
// Reply: named values "return" and "message" of the package root.
//   no "return", or not "1"/"0"   a refusal: Status 0, an empty message text, the
//                                 cache untouched
//   "1"  holding AlbumListLock, the user's cached album with the command album's id is
//        looked up. Absent: Status 1, the session untouched, the result delivered (or
//        answered to the process that asked) in every role, nothing broadcast.
//        Present: it takes the command album's description (id, name,
//        show status, type, description, picture URL, tags; its last time and resources
//        stay) and new-resource count; Status 1
//   "0"  Status 0; when the message is "no_exist" the album is dropped from the signed-
//        in user's cached list and its content-id entries go too
// then, still holding AlbumListLock: roles 0 and 2 deliver a ResultOnAlbum (category id
// and name of the command's album, the text of the message word); role 1 broadcasts
// the change with notice code 4 when Status is 1 and does nothing else.
// OnReplyPackage succeeds in every case.
//
// Share-session records:
//   request  user id (string), album record (AlbumInfo), new-resource count (int). The
//            forwarding side refuses what the serving side would refuse to read, as
//            for CmdCreateAlbum.
//   result   Status (int), message (string, read with the 50-byte limit; a longer
//            word is cut to the 46 bytes it takes).
//   change   user id (string), message (string), and when the message is "success" the
//            album record and the new-resource count (int).
// A transport error gives the session's failure sinks (code, 7, 0, 0).
#ifndef ZQBLOG_COMMANDS_CMDMODIFYALBUM_H_
#define ZQBLOG_COMMANDS_CMDMODIFYALBUM_H_

#include <string>
#include <vector>

#include "commands/BaseAlbumCmd.h"
#include "data/AlbumInfo.h"
#include "interfaces/IZQAlbumInfo.h"

namespace Velmora {
namespace ZQBlog {

class CmdModifyAlbum : public BaseAlbumCmd {
 public:
  static constexpr size_t kFormSize = 8192;

  // Copies album into the command's own album: the description as CmdCreateAlbum
  // copies it, and the new-resource count. E_POINTER for a null album, E_OUTOFMEMORY
  // when the copy cannot be made; S_OK.
  HRESULT SetAlbum(IZQAlbumInfo* album);
  // The command's album (BaseAlbumCmd::Album).
  using BaseAlbumCmd::Album;

  // BaseBlogCmd
  std::string GetCommandName() override;
  int GetRequestRecordSize() override;
  bool WriteRequestRecord(IShareSessionMessage* message) override;
  // Reads the user id (50-byte limit), the album record into a new album and the
  // new-resource count; false, nothing changed, when any item is refused or missing.
  bool ReadRequestRecord(IShareSessionMessage* message) override;
  void PublishChange() ZQ_REQUIRES(CommandLock()) override;
  int GetChangeRecordSize() ZQ_REQUIRES(CommandLock()) override;
  int GetResultRecordSize() ZQ_REQUIRES(CommandLock()) override;
  bool WriteResultRecord(BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) override;
  // Reads Status and the message; false, nothing changed, when the record is short or
  // the message refused.
  bool ReadResultRecord(const BYTE* payload, int size) override;
  void DeliverResult() ZQ_REQUIRES(CommandLock()) override;

 protected:
  CmdModifyAlbum();
  ~CmdModifyAlbum() override;

  HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) override;
  size_t FormBufferSize() const override { return kFormSize; }
  void BuildForm(Form* form) ZQ_REQUIRES(CommandLock()) override;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDMODIFYALBUM_H_
