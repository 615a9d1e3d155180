#include "commands/BaseResourceBatchCmd.h"

#include <cstring>

#include "session/BlogSession.h"
#include "util/CriticalSection.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

const char BaseResourceBatchCmd::kSuccessWord[] = "success";

namespace {

const char kFormContentType[] = "application/x-www-form-urlencoded";

// Calls node->GetValue(name) with a zeroed buffer of bufferSize bytes and takes the
// text up to its first zero byte, whatever the host wrote (the last byte stays zero).
template <class Node>
std::string ReadBoundedValue(Node* node, const char* name, int bufferSize) {
  if (node == nullptr || bufferSize < 1) return std::string();
  std::vector<char> buffer(static_cast<size_t>(bufferSize), '\0');
  if (FAILED(node->GetValue(name, buffer.data(), bufferSize))) return std::string();
  buffer.back() = '\0';
  return std::string(buffer.data(), std::strlen(buffer.data()));
}

}  // namespace

BaseResourceBatchCmd::BaseResourceBatchCmd(const Traits& traits) : traits_(traits) {}

BaseResourceBatchCmd::~BaseResourceBatchCmd() = default;

// ---------------------------------------------------------------- parameters

bool BaseResourceBatchCmd::StoreParameters(int categoryId, int count, const int* ids) {
  if (count < 0 || (count > 0 && ids == nullptr)) return false;
  std::vector<int> copied;
  if (count > 0) copied.assign(ids, ids + count);
  categoryId_ = categoryId;
  itemCount_ = count;
  ids_.swap(copied);
  return true;
}

int BaseResourceBatchCmd::CategoryId() {
  CmdLock hold(*this);
  return categoryId_;
}

int BaseResourceBatchCmd::ItemCount() {
  CmdLock hold(*this);
  return itemCount_;
}

std::vector<int> BaseResourceBatchCmd::Ids() {
  CmdLock hold(*this);
  return ids_;
}

std::string BaseResourceBatchCmd::Message() {
  CmdLock hold(*this);
  return message_;
}

std::string BaseResourceBatchCmd::GetCommandName() { return traits_.commandName; }

// ---------------------------------------------------------------- the request

bool BaseResourceBatchCmd::BuildForm(std::string* form) {
  CmdLock hold(*this);
  form->clear();
  const size_t kMaxLength = kFormBufferSize - 1;
  std::string text = FormHeader(AnsiToUtf8(UserId()));
  if (text.size() > kMaxLength) return false;
  for (size_t i = 0; i < ids_.size(); ++i) {
    const std::string pair = "&id_" + std::to_string(i) + "=" + std::to_string(ids_[i]);
    if (pair.size() > kMaxLength - text.size()) return false;
    text += pair;
  }
  form->swap(text);
  return true;
}

void BaseResourceBatchCmd::GetServer(const char** host, unsigned short* port) {
  host_.clear();
  path_.clear();
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) session->GetOperationEndpoint(traits_.endpointIndex, &host_, &path_);
  *host = host_.c_str();
  *port = kServerPort;
}

bool BaseResourceBatchCmd::GetConnectionParameter(ConnectionParameter* /*block*/) {
  return false;
}

void BaseResourceBatchCmd::GetRequestLine(int* method, std::string* path) {
  *method = kMethodPost;
  *path = path_;
  SetHeader("Cookie", BuildCookie(UserId()).c_str());
  SetHeader("Content-Type", kFormContentType);
}

bool BaseResourceBatchCmd::GetRequestBody(const BYTE** data, int* length) {
  if (!BuildForm(&form_)) AbandonRequest(kFailureRequestTooLong, traits_.operationIndex);
  *data = reinterpret_cast<const BYTE*>(form_.data());
  *length = static_cast<int>(form_.size());
  return true;
}

HRESULT BaseResourceBatchCmd::OnResponseHeaders(IHttpReplyHeaders* /*headers*/) { return S_OK; }

CComPtr<IPackageParser> BaseResourceBatchCmd::CreateReplyParser() {
  return CreateXmlReplyParser();
}

void BaseResourceBatchCmd::OnTransportError(int /*code*/) {
  TellFailure(categoryId_, traits_.operationIndex);
}

// ---------------------------------------------------------------- the reply

std::string BaseResourceBatchCmd::ReadReplyValue(IXMLPackage* reply, const char* name) {
  return ReadBoundedValue(reply, name, traits_.replyValueBufferSize);
}

std::string BaseResourceBatchCmd::ReadItemValue(IXMLNode* item, const char* name) {
  return ReadBoundedValue(item, name, traits_.replyValueBufferSize);
}

int BaseResourceBatchCmd::ReplyItemCount(IXMLPackage* reply) {
  int count = 0;
  if (reply == nullptr || FAILED(reply->GetItemCount(&count)) || count < 0) return 0;
  return count;
}

CComPtr<IXMLNode> BaseResourceBatchCmd::ReplyItem(IXMLPackage* reply, int index) {
  CComPtr<IXMLNode> item;
  if (reply != nullptr && FAILED(reply->GetItem(index, &item))) item.Release();
  return item;
}

void BaseResourceBatchCmd::FinishReply() { DispatchReply(Status() == 1); }

// ---------------------------------------------------------------- the result

CComPtr<CComObject<ResultOnBatchOperation>> BaseResourceBatchCmd::NewBatchResult() {
  CComPtr<CComObject<ResultOnBatchOperation>> result;
  CComObject<ResultOnBatchOperation>* created = nullptr;
  if (FAILED(CComObject<ResultOnBatchOperation>::CreateInstance(&created)) || created == nullptr) {
    return result;
  }
  result = created;
  const int operation = traits_.operationIndex;
  result->SetUin(AnsiToWide(UserId()).c_str());
  result->SetOperationIndex(operation);
  result->SetStatus(Status());
  result->SetMessageText(AnsiToWide(TranslateServerMessage(message_, operation)).c_str());
  result->SetOperationTitle(AnsiToWide(MakeOperationTitle(operation)).c_str());
  result->SetCategoryId(categoryId_);
  return result;
}

void BaseResourceBatchCmd::FileBatchResult(CComObject<ResultOnBatchOperation>* result) {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr || result == nullptr) return;
  FileResult(session, static_cast<IResultOnBatchOperation*>(result), kResultKindBatch);
}

// ---------------------------------------------------------------- share session

int BaseResourceBatchCmd::GetRequestRecordSize() {
  return static_cast<int>(BuildRequestRecord().size());
}

bool BaseResourceBatchCmd::WriteRequestRecord(IShareSessionMessage* message) {
  return CopyToPayload(BuildRequestRecord(), message);
}

int BaseResourceBatchCmd::GetChangeRecordSize() {
  return static_cast<int>(BuildChangeRecord().size());
}

void BaseResourceBatchCmd::PublishChange() { PublishPayload(BuildChangeRecord()); }

int BaseResourceBatchCmd::GetResultRecordSize() {
  return static_cast<int>(BuildResultRecord().size());
}

bool BaseResourceBatchCmd::WriteResultRecord(BYTE* payload, int size) {
  return CopyToBuffer(BuildResultRecord(), payload, size);
}

void BaseResourceBatchCmd::PublishPayload(const std::vector<BYTE>& payload) {
  PublishChangeRecord(payload);
}

void BaseResourceBatchCmd::NotifyChange() {
  PublishNoticeCode(traits_.noticeCode);
}

void BaseResourceBatchCmd::AppendRequestHead(RecordBuilder* record) {
  record->String(UserId());
  record->Int(categoryId_);
}

void BaseResourceBatchCmd::AppendIdList(RecordBuilder* record) {
  record->Int(itemCount_);
  for (int id : ids_) record->Int(id);
}

bool BaseResourceBatchCmd::ReadRequestHead(IShareSessionMessage* message, RecordReader* reader,
                                           int32_t* categoryId) {
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(message, &payload, &size)) return false;
  *reader = RecordReader(payload, static_cast<size_t>(size));
  std::string userId;
  return reader->ReadString(&userId, kRecordStringLimit) && reader->ReadInt(categoryId);
}

bool BaseResourceBatchCmd::ReadRequestTail(IShareSessionMessage* message, RecordReader* reader,
                                           int categoryId) {
  int32_t count = 0;
  std::vector<int> ids;
  if (!ReadIdList(reader, &count, &ids)) return false;
  // The record is whole: the user id is taken over as its bytes stand.
  CmdLock hold(*this);
  if (!ReadUserIdRecord(message)) return false;
  return StoreParameters(categoryId, count, ids.data());
}

bool BaseResourceBatchCmd::CopyToPayload(const std::vector<BYTE>& bytes,
                                         IShareSessionMessage* message) {
  BYTE* data = nullptr;
  int size = 0;
  if (message == nullptr || FAILED(message->GetPayload(&data, &size))) return false;
  return CopyToBuffer(bytes, data, size);
}


}  // namespace ZQBlog
}  // namespace Velmora
