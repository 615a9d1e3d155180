// BaseResourceTransferCmd: copy and move of the user's resources from a source album
// into a target album (CmdCopyResource, CmdMoveResource). Both send the same form to the
// same endpoint ("resource_batch_move", EndpointIndex 6):
//   uin=<user id>&category_id_from=<source>&category_id_to=<target>&choice=<0|1>
//   &num=<item count>&id_0=<id>&id_1=<id>...
// where choice is the caller's flag; the server answers every resource separately:
//   <result message="success">
//     <resource done="1" id="900" state="1"/>
//     <resource done="0" id="7" message="excess"/>
//   </result>
//
// How copy and move differ:
//                              copy                         move
//   command name, operation    "CopyResource", 11           "MoveResource", 10
//   notice code                8                            9
//   reply value buffer         4096 bytes                   8192 bytes
//   items read                 below the package's item count and below the item
//                              count (copy only)
//   key of an item             the requested id at the      the item's "id"
//                              item's position
//   a done item also records   (key, item "id") as new id   -
//   cached albums              ApplyCopiedResources         ApplyMovedResources
//                              (commands/ResourceTransfer.h)
//
// Reply handling:
//   "message" "success"   Status 1. Every item is read: "done" exactly "1" appends
//                         the key to the done ids and stores (key, "state") in the done
//                         states; any other "done" appends the key to the failed ids
//                         and stores (key, item "message") in the failures. Then, under
//                         AlbumListLock, both cached albums of the user are looked up
//                         and updated with the done items. When either is not cached
//                         the session stays as it is and the result is delivered (or
//                         answered to the process that asked) in every role, nothing
//                         published.
//   any other message     when the reply has items, the first item's "message"
//                         replaces the message; Status stays 0, nothing changes.
// The reply ends as BaseResourceBatchCmd::FinishReply says.
//
// Result (ResultOnBatchOperation, kind 2): the user id, the operation and its title,
// Status, the text of the message word for the operation, the source as category id,
// the target as target category id, the number of done states and of failures as the
// two counts, the done states and the failures as the two tables, and, when Status is
// 1, the done ids and the failed ids as the two id lists.
//
// Share-session records (a truncated record or one with a refused text is refused
// whole):
//   request  user id (string, read with the 50-byte limit), source (int), target (int),
//            choice (byte), item count (int), the ids (int each)
//   result   Status (int), message (string, cut to the 46 bytes its 50-byte reader
//            takes); when Status is 1 also the number of done states (int) and each (id
//            (int), state (string)) in ascending id order, then the number of failures
//            (int) and each (id (int), message (string)) in ascending id order, then
//            (added, so the forwarding process shows what a stand-alone one does) the
//            done ids and the failed ids, each as a count (int) and the ids (int each)
//            in reply order. The states and failure messages are shown as they are and
//            are read with the record cap (kResultTextLimit); an id list the record
//            ends before is taken as empty.
//   change   user id (string), message (string); when the message is "success" also
//            source (int), target (int), then
//              copy: the number of done items (int) and, per done item in reply
//                    order, the requested id (int) and the id of the copy (int);
//              move: the number of done ids (int) and each done id (int) in order;
//            then the number of failures (int) and each (id (int), message (string))
//            in ascending id order.
//   The copies go in reply order, one pair per done item, so that a process applying
//   the broadcast puts them at the front of the target in the same order and with the
//   same number of pairs as its count says.
#ifndef ZQBLOG_COMMANDS_BASERESOURCETRANSFERCMD_H_
#define ZQBLOG_COMMANDS_BASERESOURCETRANSFERCMD_H_

#include <map>
#include <string>
#include <vector>

#include "commands/BaseResourceBatchCmd.h"
#include "commands/ResourceTransfer.h"

namespace Velmora {
namespace ZQBlog {

class BaseResourceTransferCmd : public BaseResourceBatchCmd {
 public:
  enum Transfer { kTransferCopy, kTransferMove };

  // The plug-in's parameters: source and target album, the caller's flag (choice 1
  // when true), its count and ids[0, count). False, nothing changed, for a negative
  // count or a null ids with a positive count.
  bool SetParameters(int sourceCategoryId, int targetCategoryId, bool choice, int count,
                     const int* ids);

  int TargetCategoryId();
  int Choice();
  // What the reply said, in reply order (ids) or by id (maps).
  std::vector<int> DoneIds();
  std::vector<int> FailedIds();
  std::map<int, std::string> DoneStates();
  std::map<int, std::string> Failures();
  // Copy only: each requested id that was copied to the id of its copy.
  std::map<int, int> NewIds();

  // BaseBlogCmd
  bool ReadRequestRecord(IShareSessionMessage* message) override;
  bool ReadResultRecord(const BYTE* payload, int size) override;
  void DeliverResult() override;

 protected:
  BaseResourceTransferCmd(const Traits& traits, Transfer transfer);
  ~BaseResourceTransferCmd() override;

  // BaseHttpCmd
  HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) override;
  // BaseResourceBatchCmd
  std::string FormHeader(const std::string& utf8UserId) ZQ_REQUIRES(CommandLock()) override;

 private:
  // Reads the items of a "success" reply into the done and failed ids, states and
  // failures.
  void ReadTransferItems(IXMLPackage* reply) ZQ_REQUIRES(CommandLock());
  // Updates the cached albums with the done items; false (nothing changed) when either
  // album is not cached.
  bool ApplyTransfer() ZQ_REQUIRES(CommandLock());

  // BaseResourceBatchCmd
  std::vector<BYTE> BuildRequestRecord() override;
  std::vector<BYTE> BuildChangeRecord() override;
  std::vector<BYTE> BuildResultRecord() override;

  const Transfer transfer_;
  // categoryId_ of the base is the source album.
  int targetCategoryId_ ZQ_GUARDED_BY(CommandLock()) = 0;
  int choice_ ZQ_GUARDED_BY(CommandLock()) = 0;
  std::vector<int> doneIds_ ZQ_GUARDED_BY(CommandLock());
  std::vector<int> failedIds_ ZQ_GUARDED_BY(CommandLock());
  std::map<int, std::string> doneStates_ ZQ_GUARDED_BY(CommandLock());
  std::map<int, std::string> failures_ ZQ_GUARDED_BY(CommandLock());
  std::map<int, int> newIds_ ZQ_GUARDED_BY(CommandLock());
  // Copy: every done item, in reply order.
  std::vector<CopiedResource> copies_ ZQ_GUARDED_BY(CommandLock());
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_BASERESOURCETRANSFERCMD_H_
