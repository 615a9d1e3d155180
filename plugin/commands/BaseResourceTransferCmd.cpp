#include "commands/BaseResourceTransferCmd.h"

#include "commands/XmlReply.h"
#include "session/BlogSession.h"
#include "util/CriticalSection.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {
namespace {

const char kDone[] = "1";

}  // namespace

BaseResourceTransferCmd::BaseResourceTransferCmd(const Traits& traits, Transfer transfer)
    : BaseResourceBatchCmd(traits), transfer_(transfer) {}

BaseResourceTransferCmd::~BaseResourceTransferCmd() = default;

// ---------------------------------------------------------------- parameters

bool BaseResourceTransferCmd::SetParameters(int sourceCategoryId, int targetCategoryId,
                                            bool choice, int count, const int* ids) {
  CmdLock hold(*this);
  if (!StoreParameters(sourceCategoryId, count, ids)) return false;
  targetCategoryId_ = targetCategoryId;
  choice_ = choice ? 1 : 0;
  return true;
}

int BaseResourceTransferCmd::TargetCategoryId() {
  CmdLock hold(*this);
  return targetCategoryId_;
}

int BaseResourceTransferCmd::Choice() {
  CmdLock hold(*this);
  return choice_;
}

std::vector<int> BaseResourceTransferCmd::DoneIds() {
  CmdLock hold(*this);
  return doneIds_;
}

std::vector<int> BaseResourceTransferCmd::FailedIds() {
  CmdLock hold(*this);
  return failedIds_;
}

std::map<int, std::string> BaseResourceTransferCmd::DoneStates() {
  CmdLock hold(*this);
  return doneStates_;
}

std::map<int, std::string> BaseResourceTransferCmd::Failures() {
  CmdLock hold(*this);
  return failures_;
}

std::map<int, int> BaseResourceTransferCmd::NewIds() {
  CmdLock hold(*this);
  return newIds_;
}

std::string BaseResourceTransferCmd::FormHeader(const std::string& utf8UserId) {
  return "uin=" + utf8UserId + "&category_id_from=" + std::to_string(categoryId_) +
         "&category_id_to=" + std::to_string(targetCategoryId_) +
         "&choice=" + std::to_string(choice_) + "&num=" + std::to_string(itemCount_);
}

// ---------------------------------------------------------------- the reply

HRESULT BaseResourceTransferCmd::OnReplyPackage(IPackage* package) {
  CComPtr<IXMLPackage> reply = XmlDocumentOf(package);
  message_ = ReadReplyValue(reply, "message");
  if (message_ == kSuccessWord) {
    SetStatus(1);
    ReadTransferItems(reply);
    if (!ApplyTransfer()) {
      DeliverOrAnswer();
      return S_OK;
    }
  } else if (ReplyItemCount(reply) > 0) {
    CComPtr<IXMLNode> first = ReplyItem(reply, 0);
    message_ = ReadItemValue(first, "message");
  }
  FinishReply();
  return S_OK;
}

void BaseResourceTransferCmd::ReadTransferItems(IXMLPackage* reply) {
  const bool copy = transfer_ == kTransferCopy;
  const int count = ReplyItemCount(reply);
  for (int i = 0; i < count; ++i) {
    // A copy's items answer the requested ids by position; those beyond are not read.
    if (copy && static_cast<size_t>(i) >= ids_.size()) break;
    CComPtr<IXMLNode> item = ReplyItem(reply, i);
    const std::string done = ReadItemValue(item, "done");
    const int itemId = ParseDecimal(ReadItemValue(item, "id"));
    const int key = copy ? ids_[static_cast<size_t>(i)] : itemId;
    if (done == kDone) {
      doneIds_.push_back(key);
      doneStates_.emplace(key, ReadItemValue(item, "state"));
      if (copy) {
        newIds_.emplace(key, itemId);
        copies_.push_back(CopiedResource{key, itemId});
      }
    } else {
      failedIds_.push_back(key);
      failures_.emplace(key, ReadItemValue(item, "message"));
    }
  }
}

bool BaseResourceTransferCmd::ApplyTransfer() {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return false;
  const std::wstring uin = AnsiToWide(UserId());
  Hold hold(session->AlbumListLock());
  AlbumInfo* source = session->FindAlbum(uin, categoryId_);
  AlbumInfo* target = session->FindAlbum(uin, targetCategoryId_);
  if (source == nullptr || target == nullptr) return false;
  if (transfer_ == kTransferCopy) {
    ApplyCopiedResources(session, source, target, targetCategoryId_, copies_);
  } else {
    ApplyMovedResources(session, source, categoryId_, target, targetCategoryId_, doneIds_);
  }
  return true;
}

// ---------------------------------------------------------------- records

std::vector<BYTE> BaseResourceTransferCmd::BuildRequestRecord() {
  CmdLock hold(*this);
  RecordBuilder record;
  AppendRequestHead(&record);
  record.Int(targetCategoryId_);
  record.Byte(static_cast<uint8_t>(choice_));
  AppendIdList(&record);
  return record.bytes();
}

bool BaseResourceTransferCmd::ReadRequestRecord(IShareSessionMessage* message) {
  RecordReader reader(nullptr, 0);
  int32_t source = 0;
  int32_t target = 0;
  uint8_t choice = 0;
  if (!ReadRequestHead(message, &reader, &source) || !reader.ReadInt(&target) ||
      !reader.ReadByte(&choice) || !ReadRequestTail(message, &reader, source)) {
    return false;
  }
  // The caller of ReadRequestRecord holds the command lock throughout: the album, the
  // ids and these are taken together.
  CmdLock hold(*this);
  targetCategoryId_ = target;
  choice_ = choice != 0 ? 1 : 0;
  return true;
}

std::vector<BYTE> BaseResourceTransferCmd::BuildChangeRecord() {
  CmdLock hold(*this);
  RecordBuilder record;
  record.String(UserId());
  record.String(message_);
  if (message_ == kSuccessWord) {
    record.Int(categoryId_);
    record.Int(targetCategoryId_);
    if (transfer_ == kTransferCopy) {
      record.Int(static_cast<int32_t>(copies_.size()));
      for (const CopiedResource& copy : copies_) {
        record.Int(copy.requestedId);
        record.Int(copy.newId);
      }
    } else {
      record.Int(static_cast<int32_t>(doneIds_.size()));
      for (int id : doneIds_) record.Int(id);
    }
    record.Int(static_cast<int32_t>(failures_.size()));
    for (const auto& failure : failures_) {
      record.Int(failure.first);
      record.String(failure.second);
    }
  }
  return record.bytes();
}

std::vector<BYTE> BaseResourceTransferCmd::BuildResultRecord() {
  CmdLock hold(*this);
  RecordBuilder record;
  record.Int(Status());
  record.String(FitRecordWord(message_));
  if (Status() == 1) {
    record.TextTable(doneStates_);
    record.TextTable(failures_);
    // Beyond the two tables, so that the forwarding process shows the two id lists
    // too: the done ids and the failed ids in reply order.
    record.IdList(doneIds_);
    record.IdList(failedIds_);
  }
  return record.bytes();
}

bool BaseResourceTransferCmd::ReadResultRecord(const BYTE* payload, int size) {
  RecordReader reader(nullptr, 0);
  int32_t status = 0;
  std::string message;
  std::map<int, std::string> states;
  std::map<int, std::string> failures;
  std::vector<int> doneIds;
  std::vector<int> failedIds;
  if (!ReadResultHead(payload, size, &reader, &status, &message)) return false;
  if (status == 1) {
    if (!ReadTextTable(&reader, &states) || !ReadTextTable(&reader, &failures)) return false;
    // Each id list is empty when the record ends before it (a record written without
    // them, spare bytes after it or not).
    int32_t count = 0;
    if ((reader.remaining() > 0 && !ReadIdList(&reader, &count, &doneIds)) ||
        (reader.remaining() > 0 && !ReadIdList(&reader, &count, &failedIds))) {
      return false;
    }
  }
  CmdLock hold(*this);
  SetStatus(status);
  message_.swap(message);
  doneStates_.swap(states);
  failures_.swap(failures);
  doneIds_.swap(doneIds);
  failedIds_.swap(failedIds);
  return true;
}

// ---------------------------------------------------------------- the result

void BaseResourceTransferCmd::DeliverResult() {
  CmdLock hold(*this);
  CComPtr<CComObject<ResultOnBatchOperation>> result = NewBatchResult();
  if (!result) return;
  result->SetTargetCategoryId(targetCategoryId_);
  result->SetFirstCount(static_cast<int>(doneStates_.size()));
  result->SetSecondCount(static_cast<int>(failures_.size()));
  if (Status() == 1) {
    result->AppendFirstIds(doneIds_.begin(), doneIds_.end());
    result->AppendSecondIds(failedIds_.begin(), failedIds_.end());
  }
  for (const auto& state : doneStates_) {
    result->InsertFirstText(state.first, AnsiToWide(state.second));
  }
  for (const auto& failure : failures_) {
    result->InsertSecondText(failure.first, AnsiToWide(failure.second));
  }
  FileBatchResult(result);
}

}  // namespace ZQBlog
}  // namespace Velmora
