// CmdGetCidDat ("GetCidDat", operation 1): downloads the user's content-id table
// ("Cid.dat", GET of the CidDatUrl of the user's directory record) and adds every entry
// to the blog session's content-id index, which answers which albums hold a content.
//
// The table is binary: 24-byte records, no header, no terminator:
//   offset 0   20 bytes  content id, raw bytes
//   offset 20   4 bytes  album id, 32-bit little-endian signed int
// Only whole records are read; a trailing partial record is ignored. The index key of
// a record is its content id as 40 upper-case hexadecimal digits (BytesToHex).
// Existing pairs are kept, so fetching the same table twice holds every pair twice.
//
// Outcomes of the reply:
//   a table (2xx)                 the pairs added under CidLock, Status 1, success; the
//                                 result is delivered (roles 0 and 2) or the whole
//                                 index broadcast with notice code 1 (role 1)
//   404                           the user has no table: nothing added, Status 1,
//                                 result delivered in every role, success (a body that
//                                 comes with the 404 is not read)
//   empty body                    nothing added, no result, the command fails
//   any other status              the body is not a table: nothing added, no result,
//                                 the command fails
//   no directory record, or a     no request is made, the command fails and the
//   URL outside the service       failure sinks get (kFailureNoServer, 1, 0, 0)
//   transport error               the session's failure sinks get (code, 1, 0, 0)
// A command run for another process answers that process instead of delivering a
// result (in role 1 after its broadcast; see BaseBlogCmd::DispatchReply).
//
// Share-session records: the operation record is the user id (string, read with the
// 50-byte limit); the result record is Status (int); the change record is the user id
// (string), the number of pairs in the whole index (int), then every pair of the index
// in the index's order: the key as ANSI text (string) and the album id (int). It
// describes the entire index after the merge, not only this reply's records.
#ifndef ZQBLOG_COMMANDS_CMDGETCIDDAT_H_
#define ZQBLOG_COMMANDS_CMDGETCIDDAT_H_

#include <cstddef>
#include <string>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "session/BlogSession.h"

namespace Velmora {
namespace ZQBlog {

class CmdGetCidDat : public BaseBlogCmd {
 public:
  static constexpr unsigned short kServerPort = 80;
  // Bytes of one record, of its content id and of its album id.
  static constexpr size_t kRecordSize = 24;
  static constexpr size_t kContentIdSize = 20;
  static constexpr size_t kAlbumIdOffset = 20;

  // Adds the whole records of table[0, length) to session's content-id index in order,
  // holding its CidLock for the whole merge. Returns the number of records added
  // (length / 24). A null table adds nothing.
  static size_t MergeCidTable(BlogSession_* session, const BYTE* table, size_t length);

  // The change record of session's whole index for userId (see above). Empty when it
  // would not fit a share-session payload (more than INT_MAX bytes).
  static std::vector<BYTE> BuildChangeRecord(BlogSession_* session, const std::string& userId);

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
  // A ResultOnAlbum (user id, operation 1 and its title, Status) filed under the
  // command id, then the result event (command id, 0), holding ResultLock.
  void DeliverResult() ZQ_REQUIRES(CommandLock()) override;

 protected:
  CmdGetCidDat();
  ~CmdGetCidDat() override;

  // BaseHttpCmd hooks.
  // Host and path from the user's CidDatUrl; throws (the command fails before any
  // request) when the user has no directory record or the URL is outside the service.
  void GetServer(const char** host, unsigned short* port) ZQ_REQUIRES(CommandLock()) override;
  bool GetConnectionParameter(ConnectionParameter* block) ZQ_REQUIRES(CommandLock()) override;
  void GetRequestLine(int* method, std::string* path) ZQ_REQUIRES(CommandLock()) override;
  bool GetRequestBody(const BYTE** data, int* length) ZQ_REQUIRES(CommandLock()) override;
  HRESULT OnResponseHeaders(IHttpReplyHeaders* headers) ZQ_REQUIRES(CommandLock()) override;
  HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) override;
  CComPtr<IPackageParser> CreateReplyParser() ZQ_REQUIRES(CommandLock()) override;
  // The table's own parser keeps the joined body as it is (a table is tens of megabytes).
  HRESULT ParseJoinedBody(IPackageParser* parser, std::vector<BYTE>* body)
      ZQ_REQUIRES(CommandLock()) override;
  void OnTransportError(int code) ZQ_REQUIRES(CommandLock()) override;

 private:
  // What the reply's status said about its body.
  enum ReplyKind { kReplyTable, kReplyNoTable, kReplyRefused };

  std::string host_;  // filled by GetServer
  std::string path_;
  ReplyKind replyKind_ ZQ_GUARDED_BY(CommandLock()) = kReplyTable;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDGETCIDDAT_H_
