// CmdRefreshResComment ("RefreshResComment", no operation index of its own): asks the
// comment server how many comments a resource has ("GET /comment/<resource key>" on the
// comment server, header "Connection: Close", no cookie). The reply is a bare decimal
// number. The count is stored in the host's settings store (section: the user id
// followed by "CID"; key: the resource key; value: the count in decimal, with the time
// in seconds since 1970) and reported in a ResultOnResComment together with the
// caller's resource key and request number, returned unchanged. The command never
// broadcasts a change.
//
// Outcomes of the reply:
//   a body (2xx)          count = the leading decimal number of the body (after white
//                         space and a sign; 0 when there is none, clamped to the int
//                         range), Status 1, the count stored and delivered, success
//   empty body            Status 0, result delivered, the command fails
//   any other status      the body is an error page, not a count: Status 0, nothing
//                         stored, result delivered, the command fails
//   transport error       Status 0, result delivered, the command fails (the host hears
//                         of the failure: a comment refresh has no operation index
//                         for a failure notice)
// The result is filed under ResultLock and the result event (command id, 3) raised
// after that lock is released.
//
// A resource key that could not travel in a request line (a control character or a
// space) is refused before any request: the command fails, nothing is reported.
//
// Across the share session the comment refresh carries its parameters: the operation
// record is the user id (string, 50-byte limit), the request number (int) and the
// resource key (string, kResourceKeyLimit). A record without them (a sender that puts
// only the user id in) is refused, so the serving process never asks for the comment
// count of an empty key. The serving process answers a forwarded refresh with a result
// message instead of delivering the result itself (BaseBlogCmd::DeliverOrAnswer): Status
// (int), request number (int),
// comment count (int), resource key (string). On reading it the forwarding process
// takes Status and the count; it keeps its own resource key and request number (a
// result record's key is meant to be read with a 20-byte limit, which a content id of
// 40 digits exceeds), stores the count when Status is 1 and delivers the result.
#ifndef ZQBLOG_COMMANDS_CMDREFRESHRESCOMMENT_H_
#define ZQBLOG_COMMANDS_CMDREFRESHRESCOMMENT_H_

#include <string>

#include "commands/BaseBlogCmd.h"
#include "interfaces/IShareSessionMessage.h"

namespace Velmora {
namespace ZQBlog {

class CmdRefreshResComment : public BaseBlogCmd {
 public:
  static const char kServerHost[];
  static constexpr unsigned short kServerPort = 80;
  static const char kCommentPath[];
  // The settings section of user U is U followed by this suffix.
  static const wchar_t kSectionSuffix[];
  // Read limit of the resource key in an operation record (length field included).
  static constexpr int kResourceKeyLimit = 1028;

  // The caller's resource key (converted to ANSI; null: empty) and request number, set
  // together right after creation. Throws ConversionError when the key cannot be
  // converted.
  void SetResourceKey(const wchar_t* resourceKey, int requestNumber);
  std::string ResourceKey();
  int RequestNumber();
  int CommentCount();

  // The leading decimal number of text[0, length): white space, an optional sign and
  // digits; 0 when there are none; clamped to the int range.
  static int ParseCount(const char* text, size_t length);

  // Stores count under key in section userId + "CID" of the host's settings store,
  // creating the section (flag 1) when it cannot be opened. False, nothing stored,
  // without a host platform or store, or when the section cannot be had.
  static bool StoreCount(const std::string& userId, const std::string& key, int count);

  // BaseBlogCmd
  std::string GetCommandName() override;
  int GetRequestRecordSize() override;
  bool WriteRequestRecord(IShareSessionMessage* message) override;
  // Reads user id, request number and resource key; false, nothing changed, unless all
  // three are there.
  bool ReadRequestRecord(IShareSessionMessage* message) override;
  // Does nothing: the comment refresh broadcasts no change.
  void PublishChange() ZQ_REQUIRES(CommandLock()) override;
  int GetChangeRecordSize() ZQ_REQUIRES(CommandLock()) override;
  void NotifyChange() ZQ_REQUIRES(CommandLock()) override;
  // 16 + the key's byte length.
  int GetResultRecordSize() override;
  bool WriteResultRecord(BYTE* payload, int size) override;
  // Status, and the count when the record has one; false without a status.
  bool ReadResultRecord(const BYTE* payload, int size) override;
  // The forwarded refresh's answer: reads the result record, stores the count when
  // Status is 1, delivers the result. An empty payload delivers Status 0 (no process
  // could serve it). E_FAIL, nothing delivered, without a status.
  HRESULT OnShareSessionResult(IShareSessionMessage* result) ZQ_REQUIRES(CommandLock()) override;
  // A ResultOnResComment (user id, Status, resource key, the count as category id, the
  // request number) filed under the command id holding ResultLock; then, with the lock
  // released, the result event (command id, 3).
  void DeliverResult() ZQ_REQUIRES(CommandLock()) override;

 protected:
  CmdRefreshResComment();
  ~CmdRefreshResComment() override;

  // BaseHttpCmd hooks.
  void GetServer(const char** host, unsigned short* port) ZQ_REQUIRES(CommandLock()) override;
  bool GetConnectionParameter(ConnectionParameter* block) ZQ_REQUIRES(CommandLock()) override;
  // Throws (the command fails before any request) for a key that cannot travel.
  void GetRequestLine(int* method, std::string* path) ZQ_REQUIRES(CommandLock()) override;
  bool GetRequestBody(const BYTE** data, int* length) ZQ_REQUIRES(CommandLock()) override;
  HRESULT OnResponseHeaders(IHttpReplyHeaders* headers) ZQ_REQUIRES(CommandLock()) override;
  HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) override;
  CComPtr<IPackageParser> CreateReplyParser() ZQ_REQUIRES(CommandLock()) override;
  // Status 0, the result delivered (or answered to the process that asked).
  void OnTransportError(int code) ZQ_REQUIRES(CommandLock()) override;

 private:
  const std::string host_;
  std::string resourceKey_;  // ANSI
  int requestNumber_ = 0;
  int commentCount_ = 0;
  bool errorStatus_ = false;  // the reply's status was not 2xx
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDREFRESHRESCOMMENT_H_
