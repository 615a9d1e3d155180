// CmdCreateAlbum ("CreateAlbum", operation 6): asks the blog service to create an album
// for the user from a complete album description. POSTs to the "category_create"
// endpoint the form (text fields as BaseAlbumCmd::FormText, the user id as UTF-8 only)
//   encoder=utf-8&uin=<uid>&category_name=<name>&category_type=<type>&show_status=<0|1>
//   [&tag0=<tag>[&tag1=<tag>[&tag2=<tag>]]]&category_desc=<desc>&pic_url=<url>
// in a buffer of 8192 bytes; a longer one is not sent (BaseAlbumCmd).
//
// The album's show status is held as 1 when the caller's value is 1 and 0 for any
// other value, which is what the form sends: the album the session and the other
// processes keep then shows what the server stored. Tags: the slots in use (TagNum
// limited to 0 to 3).
//
// Reply: named values "return", "message", "category_id" of the package root.
//   no "return", or not "1"/"0"   a refusal: Status 0, an empty message text, the
//                                 cache untouched
//   "1"  the created id (leading decimal number of "category_id", 0 without digits)
//        becomes the album's id; holding AlbumListLock, a new album is appended to the
//        user's cached list (made when the user has none) and filled from the command's
//        album (id, name, show status, type, description, picture URL, tags; no last
//        time, no new-resource count, no resources); an album of that id the list holds
//        already (an album list fetched after the server made it) is filled instead,
//        keeping its last time, count and resources; Status 1
//   "0"  Status 0, the cache untouched
// then, still holding AlbumListLock: roles 0 and 2 deliver a ResultOnAlbum (category id
// = the created id or 0, the album's name, the text of the message word); role 1
// broadcasts the change with notice code 5 when Status is 1 and does nothing else.
// OnReplyPackage succeeds in every case.
//
// Share-session records:
//   request  user id (string), album record (AlbumInfo). The forwarding side refuses to
//            write a record the serving side would refuse to read: a user id above 46
//            bytes or an album text above 96 ANSI bytes makes the forward fail (the
//            command ends in state 6, nothing is sent).
//   result   Status (int), created category id (int), message (string, read with the
//            50-byte limit; a longer word is cut to the 46 bytes it takes).
//   change   user id (string), message (string), and when the message is "success" the
//            album record of the command's album.
// A transport error gives the session's failure sinks (code, 6, 0, 0).
#ifndef ZQBLOG_COMMANDS_CMDCREATEALBUM_H_
#define ZQBLOG_COMMANDS_CMDCREATEALBUM_H_

#include <string>
#include <vector>

#include "commands/BaseAlbumCmd.h"
#include "data/AlbumInfo.h"
#include "interfaces/IZQAlbumInfo.h"

namespace Velmora {
namespace ZQBlog {

class CmdCreateAlbum : public BaseAlbumCmd {
 public:
  static constexpr size_t kFormSize = 8192;

  // Copies album into the command's own album (id, name, show status held as 0 or 1,
  // type, description, picture URL, tag count and the tags in use). E_POINTER for a
  // null album, E_OUTOFMEMORY when the copy cannot be made; S_OK.
  HRESULT SetAlbum(IZQAlbumInfo* album);
  // The command's album (BaseAlbumCmd::Album).
  using BaseAlbumCmd::Album;
  // The id the server gave the new album; 0 until a reply "return" "1" was read.
  int CreatedCategoryId();

  // BaseBlogCmd
  std::string GetCommandName() override;
  int GetRequestRecordSize() override;
  bool WriteRequestRecord(IShareSessionMessage* message) override;
  // Reads the user id (50-byte limit) and the album record into a new album; false,
  // nothing changed, when any item is refused or missing.
  bool ReadRequestRecord(IShareSessionMessage* message) override;
  void PublishChange() ZQ_REQUIRES(CommandLock()) override;
  int GetChangeRecordSize() ZQ_REQUIRES(CommandLock()) override;
  int GetResultRecordSize() ZQ_REQUIRES(CommandLock()) override;
  bool WriteResultRecord(BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) override;
  // Reads Status, the created id and the message; false, nothing changed, when the
  // record is short or the message refused.
  bool ReadResultRecord(const BYTE* payload, int size) override;
  void DeliverResult() ZQ_REQUIRES(CommandLock()) override;

 protected:
  CmdCreateAlbum();
  ~CmdCreateAlbum() override;

  HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) override;
  size_t FormBufferSize() const override { return kFormSize; }
  void BuildForm(Form* form) ZQ_REQUIRES(CommandLock()) override;

 private:
  int createdCategoryId_ = 0;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDCREATEALBUM_H_
