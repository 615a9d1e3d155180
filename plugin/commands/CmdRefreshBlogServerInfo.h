// CmdRefreshBlogServerInfo ("RefreshBlogServerInfo", operation 0): asks the blog main
// server where a user's blog lives ("GET /touch3/<user id>") and stores the answer in
// the blog session: the user's ServerDirectoryRecord and the write endpoints. Every other
// blog command of the user takes its server from there.
//
// The reply is text with CR LF separated lines:
//   line 0        "404" when the user has no blog (anything else: the blog is open)
//   lines 1 to 6  CidDatNumber, CidDatUrl, AlbumListNumber, AlbumListUrl,
//                 ResourceListNumber, ResourceListUrl
//   lines 7 to 27 up to seven triplets: operation name, host, path of an endpoint
// Line 0 is the text before the first CR; every later line is the text between two CRs
// with its first character (the LF) dropped. The text after the last CR is a line only
// when something follows its LF, so a reply ending in CR LF has no empty last line.
// Lines that do not exist leave their fields as they were; lines after 27 are ignored.
//
// Outcomes of the reply:
//   empty body                    Status 0, result delivered, the command fails
//   "404"                         Opened cleared on an existing record (none is made),
//                                 Status 1, result delivered in every role, success
//   a directory                   the record stored, Status 1, success; the result is
//                                 delivered (roles 0 and 2) or the record broadcast
//                                 with notice code 0 (role 1)
//   unknown operation name, or a  the command fails with no result; an existing record
//   triplet cut short             keeps the fields already written and the endpoints
//                                 read before stay, a new record is not stored
//   a URL above 65536 ANSI bytes  the command fails with no result and nothing written:
//                                 the record's broadcast could not carry it
//   transport error               the session's failure sinks get (code, 0, 0, 0)
// A result delivered "in every role" goes, in a command run for another process, back
// to that process as its answer instead (BaseBlogCmd::DeliverOrAnswer).
// The parse holds the session's ServerLock throughout, the delivery included (it takes
// ResultLock inside).
//
// Share-session records: the operation record is the user id (string, read with the
// 50-byte limit); the result record is Status (int); the change record is the user id,
// Opened (byte), CidDatNumber (int), CidDatUrl (string), AlbumListNumber (int),
// AlbumListUrl (string), ResourceListNumber (int), ResourceListUrl (string), the URLs
// as ANSI text.
#ifndef ZQBLOG_COMMANDS_CMDREFRESHBLOGSERVERINFO_H_
#define ZQBLOG_COMMANDS_CMDREFRESHBLOGSERVERINFO_H_

#include <string>
#include <vector>

#include "commands/BaseBlogCmd.h"

namespace Velmora {
namespace ZQBlog {

class CmdRefreshBlogServerInfo : public BaseBlogCmd {
 public:
  // The blog main server and the directory path prefix.
  static const char kServerHost[];
  static constexpr unsigned short kServerPort = 80;
  static const char kDirectoryPath[];
  // Lines of the reply that are read (0 to 27).
  static constexpr size_t kLastDirectoryLine = 27;

  // The caller's context value, handed back in the result object (0 by default).
  void SetContextValue(int value);
  int ContextValue();

  // BaseBlogCmd
  std::string GetCommandName() override;
  int GetRequestRecordSize() ZQ_REQUIRES(CommandLock()) override;
  bool WriteRequestRecord(IShareSessionMessage* message) ZQ_REQUIRES(CommandLock()) override;
  bool ReadRequestRecord(IShareSessionMessage* message) ZQ_REQUIRES(CommandLock()) override;
  void PublishChange() ZQ_REQUIRES(CommandLock()) override;
  int GetChangeRecordSize() ZQ_REQUIRES(CommandLock()) override;
  void NotifyChange() ZQ_REQUIRES(CommandLock()) override;
  int GetResultRecordSize() ZQ_REQUIRES(CommandLock()) override;
  bool WriteResultRecord(BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) override;
  bool ReadResultRecord(const BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) override;
  // A ResultOnAlbum (user id, operation 0 and its title, Status, the context value as
  // extra value) filed under the command id, then the result event (command id, 0).
  void DeliverResult() ZQ_REQUIRES(CommandLock()) override;

  // The lines of a directory reply as described above.
  static std::vector<std::wstring> SplitDirectoryLines(const std::wstring& text);
  // Leading decimal digits after optional white space and sign; 0 when there are none;
  // clamped to the int range.
  static int ParseDirectoryNumber(const std::wstring& text);

 protected:
  CmdRefreshBlogServerInfo();
  ~CmdRefreshBlogServerInfo() override;

  // BaseHttpCmd hooks.
  void GetServer(const char** host, unsigned short* port) ZQ_REQUIRES(CommandLock()) override;
  bool GetConnectionParameter(ConnectionParameter* block) ZQ_REQUIRES(CommandLock()) override;
  void GetRequestLine(int* method, std::string* path) ZQ_REQUIRES(CommandLock()) override;
  bool GetRequestBody(const BYTE** data, int* length) ZQ_REQUIRES(CommandLock()) override;
  HRESULT OnResponseHeaders(IHttpReplyHeaders* headers) ZQ_REQUIRES(CommandLock()) override;
  HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) override;
  CComPtr<IPackageParser> CreateReplyParser() ZQ_REQUIRES(CommandLock()) override;
  void OnTransportError(int code) ZQ_REQUIRES(CommandLock()) override;

 private:
  // Applies the directory text to the session (see above); false when the parse fails.
  bool ApplyDirectory(const std::wstring& text) ZQ_REQUIRES(CommandLock());
  // The change record of the user's directory entry (empty fields when there is none).
  std::vector<BYTE> BuildChangeRecord();

  const std::string host_;
  const unsigned short port_;
  int contextValue_ = 0;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDREFRESHBLOGSERVERINFO_H_
