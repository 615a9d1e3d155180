// BaseResourceBatchCmd: what the three write commands on a list of the user's resource
// ids share (CmdBatchRemove, and CmdCopyResource / CmdMoveResource through
// BaseResourceTransferCmd):
//   - the parameters: an album (the one removed from, or the source of a copy or
//     move), the caller's item count and its ids in order;
//   - the request: POST to the command's write endpoint on port 80, "Cookie" then
//     "Content-Type" set as every write does, and a form of at most 4095 bytes: the
//     command's header (the user id as UTF-8, not escaped, then the numbers in
//     decimal) followed by "&id_<i>=<id>" for each id; a form that does not fit is
//     not sent: the command fails with the failure notice (kFailureRequestTooLong,
//     operation index, 0, 0) and no request goes out;
//   - the reply: an XML package whose outcome is its "message" value, read into a
//     buffer of the command's size; the commands return success from OnReplyPackage
//     whatever the reply says;
//   - the end of a reply: outside role 1 the result is delivered; in role 1 a reply
//     that succeeded is published (change record, then the notice (0, notice code, 0,
//     0)), and a command run for another process answers it with its result record
//     whether or not it succeeded (BaseBlogCmd::DispatchReply);
//   - a transport error: the failure sinks get (album id, operation index, 0, 0), the
//     album id in first place instead of the connection's error code.
// The differences between the commands are a Traits row each.
//
// Threads: the fields are guarded by the command lock (BaseCmd); the hooks and the
// BaseBlogCmd operations run with it held.
#ifndef ZQBLOG_COMMANDS_BASERESOURCEBATCHCMD_H_
#define ZQBLOG_COMMANDS_BASERESOURCEBATCHCMD_H_

#include <cstdint>
#include <string>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "data/ResultOnBatchOperation.h"
#include "interfaces/IShareSessionMessage.h"
#include "interfaces/IXMLNode.h"
#include "interfaces/IXMLPackage.h"
#include "platform/atl.h"
#include "util/RecordItem.h"

namespace Velmora {
namespace ZQBlog {

class BaseResourceBatchCmd : public BaseBlogCmd {
 public:
  // What tells the commands apart.
  struct Traits {
    const char* commandName;   // GetCommandName, the registration key
    int endpointIndex;         // EndpointIndex of the write endpoint
    int operationIndex;        // OperationIndex
    int noticeCode;            // NoticeCode of NotifyChange
    int replyValueBufferSize;  // bytes of the buffer each reply value is read into
  };

  static constexpr unsigned short kServerPort = 80;
  // The form is formatted into a buffer of this many bytes, its terminator included.
  static constexpr int kFormBufferSize = 4096;
  // The "message" of a reply whose operation the server performed.
  static const char kSuccessWord[];

  // BaseBlogCmd
  std::string GetCommandName() override;
  // Publishes (0, notice code, 0, 0) on the serving channel; nothing without one.
  void NotifyChange() ZQ_REQUIRES(CommandLock()) override;
  // The request, change and result records are built whole by the command
  // (BuildRequestRecord, BuildChangeRecord, BuildResultRecord): their sizes are the
  // built records' sizes, and writing one copies it.
  int GetRequestRecordSize() ZQ_REQUIRES(CommandLock()) final;
  bool WriteRequestRecord(IShareSessionMessage* message) ZQ_REQUIRES(CommandLock()) final;
  int GetChangeRecordSize() ZQ_REQUIRES(CommandLock()) final;
  // Sends the change record on the serving channel; nothing without one.
  void PublishChange() ZQ_REQUIRES(CommandLock()) final;
  int GetResultRecordSize() ZQ_REQUIRES(CommandLock()) final;
  bool WriteResultRecord(BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) final;

  // The form GetRequestBody sends, in *form. False (*form empty) when the header or an
  // id pair does not fit in kFormBufferSize - 1 bytes. Throws ConversionError when the
  // user id cannot be converted.
  bool BuildForm(std::string* form);

  // The album the command works on (the source album of a copy or move).
  int CategoryId();
  // The caller's item count and ids.
  int ItemCount();
  std::vector<int> Ids();
  // The reply's outcome word as the command kept it (see the commands).
  std::string Message();

 protected:
  explicit BaseResourceBatchCmd(const Traits& traits);
  ~BaseResourceBatchCmd() override;

  // BaseHttpCmd hooks.
  // The host and path of the command's endpoint (empty until the directory named it).
  void GetServer(const char** host, unsigned short* port) ZQ_REQUIRES(CommandLock()) override;
  bool GetConnectionParameter(ConnectionParameter* block) ZQ_REQUIRES(CommandLock()) override;
  // POST, the endpoint's path; "Cookie" (BuildCookie of the user id), then
  // "Content-Type" "application/x-www-form-urlencoded".
  void GetRequestLine(int* method, std::string* path) ZQ_REQUIRES(CommandLock()) override;
  // BuildForm's text without its terminator; AbandonRequest(kFailureRequestTooLong,
  // operation index) when it does not fit.
  bool GetRequestBody(const BYTE** data, int* length) ZQ_REQUIRES(CommandLock()) override;
  HRESULT OnResponseHeaders(IHttpReplyHeaders* headers) ZQ_REQUIRES(CommandLock()) override;
  // The host's "IXMLPackageParser".
  CComPtr<IPackageParser> CreateReplyParser() ZQ_REQUIRES(CommandLock()) override;
  // NotifyFailure(category id, operation index, 0, 0); code is not passed on.
  void OnTransportError(int code) ZQ_REQUIRES(CommandLock()) override;

  // The form's text before the id pairs, given the user id as UTF-8.
  virtual std::string FormHeader(const std::string& utf8UserId) ZQ_REQUIRES(CommandLock()) = 0;

  // The command's records, built whole (each takes the command lock itself).
  virtual std::vector<BYTE> BuildRequestRecord() = 0;
  virtual std::vector<BYTE> BuildChangeRecord() = 0;
  virtual std::vector<BYTE> BuildResultRecord() = 0;

  // Keeps categoryId, count and ids[0, count). False, nothing changed, for a negative
  // count or a null ids with a positive count.
  bool StoreParameters(int categoryId, int count, const int* ids) ZQ_REQUIRES(CommandLock());

  // The end of a reply: DispatchReply, with a change to broadcast when Status is 1.
  // REQUIRES: no session lock held.
  void FinishReply() ZQ_REQUIRES(CommandLock());

  // A value of the reply (the root's) or of one of its items, read into a buffer of
  // the command's size: "" when the reply or item is null or has no such value.
  std::string ReadReplyValue(IXMLPackage* reply, const char* name);
  std::string ReadItemValue(IXMLNode* item, const char* name);
  // The reply's number of items (0 for a null reply) and the item at index (or null).
  static int ReplyItemCount(IXMLPackage* reply);
  static CComPtr<IXMLNode> ReplyItem(IXMLPackage* reply, int index);

  // A new batch result with the values every batch result carries: the user id,
  // the operation index and its title, Status, the text of the kept message word for
  // the operation, and the category id. Null when it cannot be created. Throws
  // ConversionError when a text cannot be converted.
  CComPtr<CComObject<ResultOnBatchOperation>> NewBatchResult() ZQ_REQUIRES(CommandLock());
  // Files result in the blog session under the command id and raises the result event
  // (command id, 2), both holding the session's ResultLock. A null result does nothing.
  void FileBatchResult(CComObject<ResultOnBatchOperation>* result) ZQ_REQUIRES(CommandLock());

  // Sends payload on the serving channel; nothing without one.
  void PublishPayload(const std::vector<BYTE>& payload);

  // Copies bytes to the front of message's payload; false when the payload cannot be
  // had or is too small.
  static bool CopyToPayload(const std::vector<BYTE>& bytes, IShareSessionMessage* message);

  // ---- the parts the batch commands' records share.
  // Appends the head of a request record: the user id (string), the album id (int).
  void AppendRequestHead(RecordBuilder* record) ZQ_REQUIRES(CommandLock());
  // Appends the id list: the item count (int), then each id (int).
  void AppendIdList(RecordBuilder* record) ZQ_REQUIRES(CommandLock());
  // The head of a request record: *reader set on message's payload past the user id
  // (read with kRecordStringLimit) and the album id, which goes into *categoryId; the
  // command's own fields follow. False when there is no payload or an item is refused.
  static bool ReadRequestHead(IShareSessionMessage* message, RecordReader* reader,
                              int32_t* categoryId);
  // The end of a request record: the id list from reader; then, holding the command
  // lock, the user id as the record carries it (ReadUserIdRecord) and categoryId with
  // the ids (StoreParameters) are taken. False when the list is refused or either is
  // not taken.
  bool ReadRequestTail(IShareSessionMessage* message, RecordReader* reader, int categoryId);

  const Traits traits_;
  int categoryId_ ZQ_GUARDED_BY(CommandLock()) = 0;
  int itemCount_ ZQ_GUARDED_BY(CommandLock()) = 0;
  std::vector<int> ids_ ZQ_GUARDED_BY(CommandLock());  // ids_.size() == itemCount_
  std::string message_ ZQ_GUARDED_BY(CommandLock());

 private:
  std::string host_ ZQ_GUARDED_BY(CommandLock());
  std::string path_ ZQ_GUARDED_BY(CommandLock());
  std::string form_ ZQ_GUARDED_BY(CommandLock());  // what GetRequestBody handed out
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_BASERESOURCEBATCHCMD_H_
