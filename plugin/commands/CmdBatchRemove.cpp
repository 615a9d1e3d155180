#include "commands/CmdBatchRemove.h"

#include "commands/ResourceTransfer.h"
#include "commands/XmlReply.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

const BaseResourceBatchCmd::Traits CmdBatchRemove::kTraits = {
    "BatchRemove", kEndpointBatchRemove, kOpBatchRemove, kNoticeBatchRemove,
    kReplyValueBufferSize};

CmdBatchRemove::CmdBatchRemove() : BaseResourceBatchCmd(kTraits) {}

CmdBatchRemove::~CmdBatchRemove() = default;

bool CmdBatchRemove::SetParameters(int categoryId, int count, const int* ids) {
  CmdLock hold(*this);
  return StoreParameters(categoryId, count, ids);
}

std::string CmdBatchRemove::FormHeader(const std::string& utf8UserId) {
  return "uin=" + utf8UserId + "&category_id=" + std::to_string(categoryId_) +
         "&num=" + std::to_string(itemCount_);
}

// ---------------------------------------------------------------- the reply

HRESULT CmdBatchRemove::OnReplyPackage(IPackage* package) {
  CComPtr<IXMLPackage> reply = XmlDocumentOf(package);
  message_ = ReadReplyValue(reply, "message");
  if (message_ == kSuccessWord) {
    SetStatus(1);
    if (!ApplyRemoval()) {
      // The album is not in the session: it stays as it is, the caller hears the
      // outcome.
      DeliverOrAnswer();
      return S_OK;
    }
  }
  FinishReply();
  return S_OK;
}

bool CmdBatchRemove::ApplyRemoval() {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return false;
  const std::wstring uin = AnsiToWide(UserId());
  Hold hold(session->AlbumListLock());
  AlbumInfo* album = session->FindAlbum(uin, categoryId_);
  if (album == nullptr) return false;
  ApplyRemovedResources(session, album, categoryId_, ids_);
  return true;
}

// ---------------------------------------------------------------- records

std::vector<BYTE> CmdBatchRemove::BuildRequestRecord() {
  CmdLock hold(*this);
  RecordBuilder record;
  AppendRequestHead(&record);
  AppendIdList(&record);
  return record.bytes();
}

bool CmdBatchRemove::ReadRequestRecord(IShareSessionMessage* message) {
  RecordReader reader(nullptr, 0);
  int32_t categoryId = 0;
  return ReadRequestHead(message, &reader, &categoryId) &&
         ReadRequestTail(message, &reader, categoryId);
}

std::vector<BYTE> CmdBatchRemove::BuildChangeRecord() {
  CmdLock hold(*this);
  RecordBuilder record;
  record.String(UserId());
  record.String(message_);
  if (message_ == kSuccessWord) {
    record.Int(categoryId_);
    AppendIdList(&record);
  }
  return record.bytes();
}

std::vector<BYTE> CmdBatchRemove::BuildResultRecord() {
  CmdLock hold(*this);
  RecordBuilder record;
  record.Int(Status());
  record.String(FitRecordWord(message_));
  return record.bytes();
}

bool CmdBatchRemove::ReadResultRecord(const BYTE* payload, int size) {
  RecordReader reader(nullptr, 0);
  int32_t status = 0;
  std::string message;
  if (!ReadResultHead(payload, size, &reader, &status, &message)) return false;
  CmdLock hold(*this);
  SetStatus(status);
  message_.swap(message);
  return true;
}

// ---------------------------------------------------------------- the result

void CmdBatchRemove::DeliverResult() {
  CmdLock hold(*this);
  CComPtr<CComObject<ResultOnBatchOperation>> result = NewBatchResult();
  if (!result) return;
  if (Status() == 1) {
    result->SetFirstCount(itemCount_);
    result->AppendFirstIds(ids_.begin(), ids_.end());
  }
  FileBatchResult(result);
}

}  // namespace ZQBlog
}  // namespace Velmora
