// BaseAlbumCmd: what the three album write commands (CmdCreateAlbum, CmdModifyAlbum,
// CmdRemoveAlbum) share.
//   - The request: POST to the command's write endpoint of the session (host and path
//     as the server directory gave them), port 80, with the headers "Cookie" (signed for
//     the user id) and "Content-Type" "application/x-www-form-urlencoded", set in this
//     order; the body is a form the command writes into a buffer of fixed size.
//   - The reply: an XML package read through the host's "IXMLPackageParser"; its named
//     values are read into buffers of kReplyValueBufferSize bytes. The server's
//     "message" word is kept for the result text and the share-session records.
//   - The end of a reply: outside role 1 the result is delivered; in role 1 the change
//     is broadcast (PublishChange, then the command's notice code) when Status is 1,
//     and a command run for another process answers it (BaseBlogCmd::DispatchReply).
//   - A transport error: the session's failure sinks get (code, operation index, 0, 0).
//
// Threads: the fields are guarded by the command lock; the hooks and the virtual
// operations run with it held.
#ifndef ZQBLOG_COMMANDS_BASEALBUMCMD_H_
#define ZQBLOG_COMMANDS_BASEALBUMCMD_H_

#include <cstddef>
#include <string>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "data/AlbumInfo.h"
#include "interfaces/IPackage.h"
#include "util/RecordItem.h"

namespace Velmora {
namespace ZQBlog {

class BaseAlbumCmd : public BaseBlogCmd {
 public:
  static constexpr unsigned short kServerPort = 80;
  // Every named value of a reply is read into a buffer of this many bytes.
  static constexpr int kReplyValueBufferSize = 1024;
  // The word of a reply (and of a change record) that says the server did the work.
  static const char kSuccessWord[];
  // The word of a reply that says the album does not exist on the server.
  static const char kNoExistWord[];

  // A form being written into a buffer of capacity bytes, which holds at most
  // capacity - 1 bytes of form (the last byte is the terminator). Pieces are appended
  // whole: a piece that does not fit in the space left is not written and the form is
  // refused (ok() false) from then on.
  class Form {
   public:
    explicit Form(size_t capacity) : capacity_(capacity) {}
    bool Append(const std::string& piece);
    bool ok() const { return ok_; }
    const std::string& text() const { return text_; }

   private:
    size_t capacity_;
    std::string text_;
    bool ok_ = true;
  };

  // The server's "message" word of the reply; empty until a reply has been read.
  std::string Message();

  // A text field of a form: the wide text converted to ANSI, escaped (UrlEscape) and
  // converted to UTF-8 (AnsiToUtf8). Throws ConversionError when a conversion fails.
  static std::string FormText(const std::wstring& text);
  // The named value name of package (an IXMLPackage) read into a buffer of
  // kReplyValueBufferSize bytes, so cut to one byte less. False, *value empty, when the
  // package is not an XML package or does not have the value.
  static bool ReadReplyValue(IPackage* package, const char* name, std::string* value);

  // Whether text fits a string item read with limit (the 4-byte length field
  // included): at most limit - 4 bytes.
  static bool FitsReadLimit(const std::string& text, int limit);
  // Whether every text of album's record (name, description, last time, picture URL and
  // the tags in use) fits AlbumInfo's read limit as ANSI text, so that the process that
  // reads the record takes it whole.
  static bool AlbumRecordFits(AlbumInfo* album);

 protected:
  // endpointIndex: the session's EndpointIndex of the write operation; operationIndex:
  // the OperationIndex of results and failure notices; noticeCode: the NoticeCode of
  // the change broadcast.
  BaseAlbumCmd(int endpointIndex, int operationIndex, int noticeCode);
  ~BaseAlbumCmd() override;

  // BaseHttpCmd hooks shared by the three commands.
  // The host and path of the write endpoint (empty until the server directory named
  // it), port 80.
  void GetServer(const char** host, unsigned short* port) ZQ_REQUIRES(CommandLock()) override;
  // false: no connection parameter.
  bool GetConnectionParameter(ConnectionParameter* block) ZQ_REQUIRES(CommandLock()) override;
  // POST, the endpoint path; sets "Cookie" then "Content-Type".
  void GetRequestLine(int* method, std::string* path) ZQ_REQUIRES(CommandLock()) override;
  // The form of BuildForm in a buffer of FormBufferSize bytes. A form that does not fit
  // is not sent: AbandonRequest(kFailureRequestTooLong, operation index).
  bool GetRequestBody(const BYTE** data, int* length) ZQ_REQUIRES(CommandLock()) override;
  // S_OK; the headers are not used.
  HRESULT OnResponseHeaders(IHttpReplyHeaders* headers) ZQ_REQUIRES(CommandLock()) override;
  // The host's XML package parser.
  CComPtr<IPackageParser> CreateReplyParser() ZQ_REQUIRES(CommandLock()) override;
  // The session's failure notice (code, operation index, 0, 0).
  void OnTransportError(int code) ZQ_REQUIRES(CommandLock()) override;

  // BaseBlogCmd: the notice (0, notice code, 0, 0) on the serving channel.
  void NotifyChange() ZQ_REQUIRES(CommandLock()) override;

  // The size of the form buffer.
  virtual size_t FormBufferSize() const = 0;
  // Writes the command's form into form; may throw ConversionError.
  virtual void BuildForm(Form* form) ZQ_REQUIRES(CommandLock()) = 0;

  // The end of a reply: DispatchReply, with a change to broadcast when Status is 1.
  void Dispatch() ZQ_REQUIRES(CommandLock());
  // Reads the reply's "return" word into *answer and its "message" word into *message,
  // which becomes the command's message. False when "return" is missing or neither "1"
  // nor "0": the reply is then a refusal with an empty message, already dispatched.
  bool ReadReplyAnswer(IPackage* package, std::string* answer, std::string* message)
      ZQ_REQUIRES(CommandLock());
  // Builds a ResultOnAlbum (the user id, the operation index and its title, Status,
  // the text of the message word, categoryId, categoryName), files it under the command
  // id and raises the result event (command id, 0), holding the session's ResultLock.
  void DeliverAlbumResult(int categoryId, const std::wstring& categoryName)
      ZQ_REQUIRES(CommandLock());
  // Sends payload on the serving channel (nothing when there is none).
  void PublishPayload(const std::vector<BYTE>& payload);

  // ---- the album description of CmdCreateAlbum and CmdModifyAlbum.
  // A new empty album. Throws std::bad_alloc when it cannot be made.
  static CComPtr<AlbumInfo> MakeAlbum();
  // Copies the description of from into to (AlbumInfo::CopyFrom through the
  // interface), then holds the show status as 1 when it is 1 and 0 for any other value,
  // and the tag count as the number of tag slots in use (0 to 3): the form sends exactly
  // that, so the cached album shows what the server stored.
  static void CopyAlbumDescription(IZQAlbumInfo* from, AlbumInfo* to);
  // The fields both album forms begin with: "encoder=utf-8&uin=<user id>", then
  // idField as given (the modify form's "&category_id=<id>"; empty for a new album),
  // "&category_name=", "&category_type=", "&show_status=" (1 when the album's is 1,
  // else 0), "&tag<i>=" for each tag slot in use in slot order, "&category_desc=" and
  // "&pic_url=". The command appends what its form has beyond them.
  void AppendAlbumFields(AlbumInfo* album, const std::string& idField, Form* form);
  // The album's name ("" when it cannot be read).
  static std::wstring AlbumName(AlbumInfo* album);
  // The album's id and new-resource count (0 when they cannot be read).
  static int AlbumId(AlbumInfo* album);
  static int NewlyAddedResNum(AlbumInfo* album);

  // The command's album (one reference for the caller); an empty album before the
  // command's SetAlbum. Throws std::bad_alloc when it cannot be made.
  CComPtr<AlbumInfo> Album();
  // Copies album into a new album that becomes the command's: its description
  // (CopyAlbumDescription) and, withCount, its new-resource count. E_POINTER for a null
  // album, E_OUTOFMEMORY when the copy cannot be made; S_OK.
  HRESULT SetCommandAlbum(IZQAlbumInfo* album, bool withCount);
  // The command's album, made on first use.
  AlbumInfo* OwnAlbum() ZQ_REQUIRES(CommandLock());

  // The share-session records of the command's album; withCount adds its new-resource
  // count (int) after the album record. The request: user id (string) and the album
  // record; the forwarding side does not write what the serving side would refuse to
  // read (a user id above the record limit, an album text above AlbumInfo's limit).
  int AlbumRequestRecordSize(bool withCount);
  bool WriteAlbumRequestRecord(IShareSessionMessage* message, bool withCount);
  // Reads the request into a new album that becomes the command's; false, nothing
  // changed, when any item is refused or missing.
  bool ReadAlbumRequestRecord(IShareSessionMessage* message, bool withCount);
  // The change: user id (string), message (string), and when the message is "success"
  // the album record.
  std::vector<BYTE> BuildAlbumChangeRecord(bool withCount);

  // The user id as the wide key of the session's per-user data.
  std::wstring Uin();
  int OperationIndexOf() const { return operationIndex_; }

  void SetMessage(const std::string& message) ZQ_REQUIRES(CommandLock()) { message_ = message; }

 private:
  const int endpointIndex_;
  const int operationIndex_;
  const int noticeCode_;
  std::string host_ ZQ_GUARDED_BY(CommandLock());  // ANSI, from the endpoint
  std::string path_ ZQ_GUARDED_BY(CommandLock());  // ANSI, from the endpoint
  std::string body_ ZQ_GUARDED_BY(CommandLock());  // the form sent, alive until Step returns
  std::string message_ ZQ_GUARDED_BY(CommandLock());
  CComPtr<AlbumInfo> album_ ZQ_GUARDED_BY(CommandLock());  // CmdCreateAlbum's and CmdModifyAlbum's
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_BASEALBUMCMD_H_
