// CmdBatchCollect ("BatchCollect", operation 4): collects a list of resources into one
// album of a user in a single POST to the "resource_batch_collect" endpoint, and brings
// the session's cached album and content-id index up to date with what the server took.
//
// The form (at most 4095 bytes; for a form that does not fit no request goes out, the
// command fails with the failure notice (kFailureRequestTooLong, 4, 0, 0)):
//   encoder=utf-8&uin=<uin>&category_id=<id>&korrin_version=&peerid=&num=<count>
//   &neednotifyfriend=0
// then for each item i (from 0) the eleven fields
//   &cid_i &gcid_i              ANSI text as it is
//   &res_name_i                 escaped, UTF-8
//   &res_type_i                 decimal
//   &size_i &format_i           escaped, ANSI
//   &undone_i                   the item's state, decimal
//   &url_i &original_i &refer_i &desc_i   escaped, UTF-8
// The uin goes out as UTF-8, not escaped.
//
// The reply: <result return="1" message="success"> with one "resource" element per
// item, in request order: add="1" id state for a collected item, add="0" id message for
// a refused one. Every value is read into a 4096-byte buffer.
//   no "return"              nothing changes; a refusal: Status 0, an empty message
//                            text
//   "return" "1"             Status 1. Element i answers item i (by position) and
//                            gives it its id; a collected item takes its state.
//                            Elements beyond the items are not read; items beyond the
//                            elements stay untouched. When the user's album is in the
//                            session, each collected item's (cid, album) pair goes
//                            into the content-id index, and it is appended to the
//                            album when the album's resources are loaded (the album
//                            then shares it). When it is not, the session stays as it
//                            is and the result (ids and tables) is delivered, or
//                            answered to the process that asked, in every role;
//                            nothing is broadcast.
//   any other "return"       nothing changes, Status 0
// Then the result is delivered (roles 0 and 2), or, in role 1 and only with Status 1,
// the change broadcast with notice code 10.
//
// HTTP status 500 delivers a Status 0 result at once, before the body is read, in every
// role. That result is the command's only one: a body that follows is still parsed (a
// body that is not XML fails the command) and delivers nothing, so the host never hears
// of a second outcome under the same command id; but a body that says "return" "1" is
// applied to the session as above (and broadcast in role 1), as the resource list
// applies such a body: the service did collect. A command run for another process
// answers that process with the Status 0 outcome instead.
//
// Share-session records:
//   operation  string uin, int album id, int item count, one resource record per item.
//              An operation whose record the serving process could not read back (the
//              uin above 46 bytes, or a resource text above its record limit) is not
//              forwarded: WriteRequestRecord refuses it and the command fails at Start.
//   result     int Status, string message (cut to the 46 bytes its reader takes), int
//              collected count (the collected items), int refused count, then, added
//              so that the forwarding process shows what a stand-alone one does: the
//              ids of the collected items (int count, the ids in collected order), the
//              collected states and the refusals (each: int count, then per entry in
//              ascending id order int id and string text, read with the record cap).
//              A list the record ends before is taken as empty.
//   change     string uin, string message (cut to 46 bytes); when the message is
//              "success": int album id, int collected count, the record of each
//              collected item, int refused count, then per refusal in ascending id
//              order int id and string message (whole: the decoders take any text).
//
// A transport error gives the session's failure sinks (code, 4, 0, 0).
#ifndef ZQBLOG_COMMANDS_CMDBATCHCOLLECT_H_
#define ZQBLOG_COMMANDS_CMDBATCHCOLLECT_H_

#include <map>
#include <string>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "data/ResourceInfo.h"
#include "interfaces/IXMLPackage.h"
#include "interfaces/IZQResInfo.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

class CmdBatchCollect : public BaseBlogCmd {
 public:
  static constexpr unsigned short kServerPort = 80;
  // The form buffer; the form holds at most one byte less.
  static constexpr int kFormBufferSize = 4096;
  // Every value of the reply is read into a buffer of this size.
  static constexpr int kReplyValueBufferSize = 4096;

  // The album that receives the resources.
  void SetCategoryId(int categoryId);
  int CategoryId();
  // Copies items[0, count) into new resources of the command's own, in order; the
  // item count becomes count. E_INVALIDARG for a negative count, E_POINTER for a null
  // array with a positive count or a null entry (nothing changes then); E_OUTOFMEMORY
  // when a resource cannot be made.
  HRESULT SetItems(IZQResInfo* const* items, int count);
  int ItemCount();

  // BaseBlogCmd
  std::string GetCommandName() override;
  int GetRequestRecordSize() override;
  bool WriteRequestRecord(IShareSessionMessage* message) override;
  bool ReadRequestRecord(IShareSessionMessage* message) override;
  void PublishChange() ZQ_REQUIRES(CommandLock()) override;
  int GetChangeRecordSize() ZQ_REQUIRES(CommandLock()) override;
  void NotifyChange() ZQ_REQUIRES(CommandLock()) override;
  int GetResultRecordSize() ZQ_REQUIRES(CommandLock()) override;
  bool WriteResultRecord(BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) override;
  bool ReadResultRecord(const BYTE* payload, int size) override;
  // A ResultOnBatchOperation: user id, operation 4 and its title, Status, the
  // translated message, the album id, the collected and refused counts (those of the
  // result record in a process that forwarded the command), the ids of the collected
  // items, their states and the refusals; filed under the command id, then the result
  // event (command id, 2), holding ResultLock.
  void DeliverResult() ZQ_REQUIRES(CommandLock()) override;

 protected:
  CmdBatchCollect();
  ~CmdBatchCollect() override;

  // BaseHttpCmd hooks.
  void GetServer(const char** host, unsigned short* port) ZQ_REQUIRES(CommandLock()) override;
  bool GetConnectionParameter(ConnectionParameter* block) ZQ_REQUIRES(CommandLock()) override;
  void GetRequestLine(int* method, std::string* path) ZQ_REQUIRES(CommandLock()) override;
  bool GetRequestBody(const BYTE** data, int* length) ZQ_REQUIRES(CommandLock()) override;
  // Status 500: Status 0, the result delivered at once, E_FAIL. S_OK otherwise.
  HRESULT OnResponseHeaders(IHttpReplyHeaders* headers) ZQ_REQUIRES(CommandLock()) override;
  // The reply handling above; S_OK in every case.
  HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) override;
  CComPtr<IPackageParser> CreateReplyParser() ZQ_REQUIRES(CommandLock()) override;
  void OnTransportError(int code) ZQ_REQUIRES(CommandLock()) override;

 private:
  // The form in form_; false when it does not fit the buffer.
  bool BuildForm() ZQ_REQUIRES(CommandLock());
  // Reads an accepted reply's elements into the items, the collected ids and states
  // and the refusals.
  void ReadCollected(IXMLPackage* reply, const std::wstring& uin) ZQ_REQUIRES(CommandLock());
  // Adds the collected items to the session's album and index; false (nothing
  // changed) when the album is not in the session. REQUIRES: no session lock held.
  bool ApplyCollected(const std::wstring& uin) ZQ_REQUIRES(CommandLock());
  std::vector<BYTE> BuildChangeRecord();

  int categoryId_ = 0;
  int itemCount_ = 0;
  std::vector<CComPtr<ResourceInfo>> items_;
  std::vector<CComPtr<ResourceInfo>> collected_;
  std::vector<int> collectedIds_;  // the ids the reply gave the collected items
  std::map<int, std::string> collectedStates_;
  std::map<int, std::string> refusals_;
  std::string message_;
  // The outcome read from a result record (forwarding process only).
  bool outcomeFromRecord_ = false;
  int recordCollected_ = 0;
  int recordRefused_ = 0;
  // The counts the result shows: those of a result record when the outcome came in
  // one, else the collected items and the refusals.
  int CollectedCount() ZQ_REQUIRES(CommandLock());
  int RefusedCount() ZQ_REQUIRES(CommandLock());
  std::vector<BYTE> BuildResultRecord();
  // A 500 reply delivered the command's result already.
  bool deliveredOnServerError_ = false;
  std::string host_;
  std::string path_;
  const unsigned short port_;
  // Form fields no operation fills: they go out empty.
  std::string korrinVersion_;
  std::string peerId_;
  std::string form_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDBATCHCOLLECT_H_
