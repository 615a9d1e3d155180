// CmdBatchRemove ("BatchRemove", operation 5, notice code 11): deletes resources, named
// by their ids, from one album of the user.
//
// Request: POST to the "resource_batch_remove" endpoint (EndpointIndex 1) with the form
//   uin=<user id>&category_id=<album>&num=<item count>&id_0=<id>&id_1=<id>...
// (see BaseResourceBatchCmd for the envelope and the 4095-byte bound).
//
// Reply: <result message="..."/>; "message" is read into a 4096-byte buffer.
//   "success"       Status 1. Under AlbumListLock: the user's cached album is looked up;
//                   when it is not cached, the session stays as it is and the result
//                   is delivered (or answered to the process that asked) in every
//                   role, nothing published. Otherwise the content-id index loses
//                   (cid, album) for every id the album holds and each of them leaves
//                   the album (ids it does not hold, every id of an album whose list
//                   was never fetched, are passed over); the reply ends as below.
//   anything else   Status 0, nothing changes.
// The reply ends as BaseResourceBatchCmd::FinishReply says (result outside role 1,
// broadcast in role 1 when Status is 1).
//
// Result (ResultOnBatchOperation, kind 2): the user id, operation 5 and its title,
// Status, the text of the message word for operation 5, the album id; when Status is 1
// also the item count as first count and every requested id in order as the first id
// list. A process that learnt the outcome from a result record shows its own request's
// ids, which are the ones the serving process removed.
//
// Share-session records (strings read with the 50-byte limit):
//   request  user id (string), album id (int), item count (int), the ids (int each)
//   result   Status (int), message (string, cut to the 46 bytes its reader takes)
//   change   user id (string), message (string); when the message is "success" also
//            the album id (int), the item count (int), the ids (int each)
// A record that is truncated or has a refused text is refused whole: nothing of it is
// taken over.
#ifndef ZQBLOG_COMMANDS_CMDBATCHREMOVE_H_
#define ZQBLOG_COMMANDS_CMDBATCHREMOVE_H_

#include <string>
#include <vector>

#include "commands/BaseResourceBatchCmd.h"

namespace Velmora {
namespace ZQBlog {

class CmdBatchRemove : public BaseResourceBatchCmd {
 public:
  static const Traits kTraits;
  static constexpr int kReplyValueBufferSize = 4096;

  // The plug-in's parameters: the album, the caller's count and its ids[0, count). False,
  // nothing changed, for a negative count or a null ids with a positive count.
  bool SetParameters(int categoryId, int count, const int* ids);

  // BaseBlogCmd
  bool ReadRequestRecord(IShareSessionMessage* message) override;
  bool ReadResultRecord(const BYTE* payload, int size) override;
  void DeliverResult() override;

 protected:
  CmdBatchRemove();
  ~CmdBatchRemove() override;

  // BaseHttpCmd
  HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) override;
  // BaseResourceBatchCmd
  std::string FormHeader(const std::string& utf8UserId) ZQ_REQUIRES(CommandLock()) override;

 private:
  // Applies a "success" reply to the session; false when the album is not cached
  // (nothing changed).
  bool ApplyRemoval() ZQ_REQUIRES(CommandLock());

  // BaseResourceBatchCmd
  std::vector<BYTE> BuildRequestRecord() override;
  std::vector<BYTE> BuildChangeRecord() override;
  std::vector<BYTE> BuildResultRecord() override;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDBATCHREMOVE_H_
