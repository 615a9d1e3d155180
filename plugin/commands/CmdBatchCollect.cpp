#include "commands/CmdBatchCollect.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include "commands/XmlReply.h"
#include "data/AlbumInfo.h"
#include "data/ResultOnBatchOperation.h"
#include "interfaces/IXMLNode.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {
namespace {

// The longest text a string item read with the operation-record limit can hold.
constexpr size_t kRecordTextBytes =
    static_cast<size_t>(BaseBlogCmd::kRecordStringLimit - kIntItemSize);

// The smallest resource record: four ints and eleven empty strings.
constexpr size_t kMinResourceRecordSize = 4 * kIntItemSize + 11 * kIntItemSize;

// Calls read with a zeroed buffer of the reply value size; true and *value (the text
// up to the first zero byte) when read answers S_OK, false (absent) otherwise.
template <class Read>
bool ReadReplyValue(Read read, std::string* value) {
  std::vector<char> buffer(CmdBatchCollect::kReplyValueBufferSize, '\0');
  if (read(buffer.data(), static_cast<int>(buffer.size())) != S_OK) return false;
  buffer.back() = '\0';
  value->assign(buffer.data());
  return true;
}

bool PackageValue(IXMLPackage* reply, const char* name, std::string* value) {
  return ReadReplyValue(
      [&](char* buffer, int size) { return reply->GetValue(name, buffer, size); }, value);
}

// node's named value; "" when it has none.
std::string NodeValue(IXMLNode* node, const char* name) {
  std::string value;
  ReadReplyValue([&](char* buffer, int size) { return node->GetValue(name, buffer, size); },
                 &value);
  return value;
}

std::wstring CidOf(IZQResInfo* resource) {
  BSTR text = nullptr;
  std::wstring cid;
  if (SUCCEEDED(resource->GetCid(&text)) && text != nullptr) {
    cid.assign(text, SysStringLen(text));
  }
  SysFreeString(text);
  return cid;
}

// The ANSI text of a string property read through getter.
template <class Getter>
std::string AnsiOf(ResourceInfo* resource, Getter getter) {
  BSTR text = nullptr;
  std::wstring wide;
  if (SUCCEEDED((resource->*getter)(&text)) && text != nullptr) {
    wide.assign(text, SysStringLen(text));
  }
  SysFreeString(text);
  return WideToAnsi(wide);
}

template <class Getter>
int IntOf(ResourceInfo* resource, Getter getter) {
  int value = 0;
  (resource->*getter)(&value);
  return value;
}

// A new resource of the command's own, or null.
CComPtr<ResourceInfo> NewItem() {
  CComPtr<ResourceInfo> item;
  CComObject<ResourceInfo>* created = nullptr;
  if (SUCCEEDED(CComObject<ResourceInfo>::CreateInstance(&created)) && created != nullptr) {
    item = created;
  }
  return item;
}

}  // namespace

CmdBatchCollect::CmdBatchCollect() : port_(kServerPort) {}

CmdBatchCollect::~CmdBatchCollect() = default;

void CmdBatchCollect::SetCategoryId(int categoryId) {
  CmdLock hold(*this);
  categoryId_ = categoryId;
}

int CmdBatchCollect::CategoryId() {
  CmdLock hold(*this);
  return categoryId_;
}

HRESULT CmdBatchCollect::SetItems(IZQResInfo* const* items, int count) {
  if (count < 0) return E_INVALIDARG;
  if (count > 0 && items == nullptr) return E_POINTER;
  for (int i = 0; i < count; ++i) {
    if (items[i] == nullptr) return E_POINTER;
  }
  std::vector<CComPtr<ResourceInfo>> copies;
  copies.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    CComPtr<ResourceInfo> item = NewItem();
    if (!item) return E_OUTOFMEMORY;
    item->CopyFrom(items[i]);
    copies.push_back(item);
  }
  CmdLock hold(*this);
  items_.swap(copies);
  itemCount_ = count;
  return S_OK;
}

int CmdBatchCollect::ItemCount() {
  CmdLock hold(*this);
  return itemCount_;
}

// ---------------------------------------------------------------- HTTP hooks

void CmdBatchCollect::GetServer(const char** host, unsigned short* port) {
  host_.clear();
  path_.clear();
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) session->GetOperationEndpoint(kEndpointBatchCollect, &host_, &path_);
  *host = host_.c_str();
  *port = port_;
}

bool CmdBatchCollect::GetConnectionParameter(ConnectionParameter* /*block*/) { return false; }

void CmdBatchCollect::GetRequestLine(int* method, std::string* path) {
  *method = kMethodPost;
  *path = path_;
  SetHeader("Cookie", BuildCookie(UserId()).c_str());
  SetHeader("Content-Type", "application/x-www-form-urlencoded");
}

bool CmdBatchCollect::BuildForm() {
  form_.clear();
  const std::string uin = AnsiToUtf8(UserId());
  std::vector<char> buffer(kFormBufferSize, '\0');
  const int written =
      std::snprintf(buffer.data(), buffer.size(),
                    "encoder=utf-8&uin=%s&category_id=%d&korrin_version=%s&peerid=%s&num=%d"
                    "&neednotifyfriend=%d",
                    uin.c_str(), categoryId_, korrinVersion_.c_str(), peerId_.c_str(),
                    itemCount_, 0);
  if (written < 0 || written >= kFormBufferSize) return false;
  std::string form(buffer.data(), static_cast<size_t>(written));
  const size_t capacity = static_cast<size_t>(kFormBufferSize - 1);
  for (size_t i = 0; i < items_.size(); ++i) {
    ResourceInfo* item = items_[i];
    std::ostringstream group;
    group << "&cid_" << i << "=" << AnsiOf(item, &ResourceInfo::GetCid)
          << "&gcid_" << i << "=" << AnsiOf(item, &ResourceInfo::GetGcid)
          << "&res_name_" << i << "="
          << AnsiToUtf8(UrlEscape(AnsiOf(item, &ResourceInfo::GetResName)))
          << "&res_type_" << i << "=" << IntOf(item, &ResourceInfo::GetResType)
          << "&size_" << i << "=" << UrlEscape(AnsiOf(item, &ResourceInfo::GetSize))
          << "&format_" << i << "=" << UrlEscape(AnsiOf(item, &ResourceInfo::GetFormat))
          << "&undone_" << i << "=" << IntOf(item, &ResourceInfo::GetState)
          << "&url_" << i << "=" << AnsiToUtf8(UrlEscape(AnsiOf(item, &ResourceInfo::GetUrl)))
          << "&original_" << i << "="
          << AnsiToUtf8(UrlEscape(AnsiOf(item, &ResourceInfo::GetOriginal)))
          << "&refer_" << i << "="
          << AnsiToUtf8(UrlEscape(AnsiOf(item, &ResourceInfo::GetRefer)))
          << "&desc_" << i << "="
          << AnsiToUtf8(UrlEscape(AnsiOf(item, &ResourceInfo::GetDesc)));
    const std::string text = group.str();
    if (text.size() > capacity - form.size()) return false;
    form += text;
  }
  form_.swap(form);
  return true;
}

bool CmdBatchCollect::GetRequestBody(const BYTE** data, int* length) {
  if (!BuildForm()) {
    form_.clear();
    AbandonRequest(kFailureRequestTooLong, kOpBatchCollect);
  }
  *data = reinterpret_cast<const BYTE*>(form_.data());
  *length = static_cast<int>(form_.size());
  return true;
}

HRESULT CmdBatchCollect::OnResponseHeaders(IHttpReplyHeaders* headers) {
  int status = 0;
  if (headers == nullptr || FAILED(headers->GetStatusCode(&status)) || status != 500) {
    return S_OK;
  }
  SetStatus(0);
  deliveredOnServerError_ = true;
  DeliverOrAnswer();
  return E_FAIL;
}

CComPtr<IPackageParser> CmdBatchCollect::CreateReplyParser() { return CreateXmlReplyParser(); }

void CmdBatchCollect::OnTransportError(int code) {
  TellFailure(code, kOpBatchCollect);
}

// ---------------------------------------------------------------- the reply

HRESULT CmdBatchCollect::OnReplyPackage(IPackage* package) {
  CComPtr<IXMLPackage> reply = XmlDocumentOf(package);
  if (!reply) return S_OK;
  const std::wstring uin = AnsiToWide(UserId());
  std::string message;
  PackageValue(reply, "message", &message);
  std::string returned;
  const bool answered = PackageValue(reply, "return", &returned);
  // After a 500 the outcome has gone out already: only a body that says the service
  // collected still changes the session, and nothing is delivered again.
  if (deliveredOnServerError_) {
    if (returned != "1") return S_OK;
    message_ = message;
    ReadCollected(reply, uin);
    if (ApplyCollected(uin)) BroadcastIfServing();
    return S_OK;
  }
  message_ = message;
  if (!answered) {
    // No outcome at all: a refusal with the text of an unknown word.
    message_.clear();
    DispatchReply(false);
    return S_OK;
  }
  if (returned == "1") {
    SetStatus(1);
    ReadCollected(reply, uin);
    if (!ApplyCollected(uin)) {
      // The album is not in the session: it stays as it is, the caller hears the
      // outcome with every id and refusal.
      DeliverOrAnswer();
      return S_OK;
    }
  }
  DispatchReply(Status() == 1);
  return S_OK;
}

void CmdBatchCollect::ReadCollected(IXMLPackage* reply, const std::wstring& uin) {
  int count = 0;
  if (FAILED(reply->GetItemCount(&count))) count = 0;
  for (int i = 0; i < count && static_cast<size_t>(i) < items_.size(); ++i) {
    CComPtr<IXMLNode> element;
    if (FAILED(reply->GetItem(i, &element)) || !element) break;
    ResourceInfo* item = items_[static_cast<size_t>(i)];
    const std::string added = NodeValue(element, "add");
    const int id = ParseDecimal(NodeValue(element, "id"));
    item->SetId(id);
    if (added == "1") {
      const std::string state = NodeValue(element, "state");
      collectedStates_.emplace(id, state);
      item->SetState(ParseDecimal(state));
      // The item now belongs to this album and user, whatever the caller's copy said.
      item->SetCategoryId(categoryId_);
      item->SetWideText(ResourceInfo::TextField::kUin, uin);  // whole, zero bytes too
      collected_.push_back(item);
      collectedIds_.push_back(id);
    } else {
      refusals_.emplace(id, NodeValue(element, "message"));
    }
  }
}

bool CmdBatchCollect::ApplyCollected(const std::wstring& uin) {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return false;
  Hold hold(session->AlbumListLock());
  AlbumInfo* album = session->FindAlbum(uin, categoryId_);
  if (album == nullptr) return false;
  for (const CComPtr<ResourceInfo>& item : collected_) {
    session->AddCidPair(CidOf(item), categoryId_);
    if (album->ResourcesLoaded()) album->InsertResource(-1, item);
  }
  return true;
}

// ---------------------------------------------------------------- the result

void CmdBatchCollect::DeliverResult() {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return;
  CComObject<ResultOnBatchOperation>* created = nullptr;
  if (FAILED(CComObject<ResultOnBatchOperation>::CreateInstance(&created)) ||
      created == nullptr) {
    return;
  }
  CComPtr<IResultOnBatchOperation> result(static_cast<IResultOnBatchOperation*>(created));
  created->SetUin(AnsiToWide(UserId()).c_str());
  created->SetOperationIndex(kOpBatchCollect);
  created->SetStatus(Status());
  created->SetMessageText(
      AnsiToWide(TranslateServerMessage(message_, kOpBatchCollect)).c_str());
  created->SetOperationTitle(AnsiToWide(MakeOperationTitle(kOpBatchCollect)).c_str());
  created->SetFirstCount(CollectedCount());
  created->SetSecondCount(RefusedCount());
  created->SetCategoryId(categoryId_);
  created->AppendFirstIds(collectedIds_.begin(), collectedIds_.end());
  for (const auto& state : collectedStates_) {
    created->InsertFirstText(state.first, AnsiToWide(state.second));
  }
  for (const auto& refusal : refusals_) {
    created->InsertSecondText(refusal.first, AnsiToWide(refusal.second));
  }
  FileResult(session, result, kResultKindBatch);
}

// ---------------------------------------------------------------- share-session records

std::string CmdBatchCollect::GetCommandName() { return "BatchCollect"; }

int CmdBatchCollect::GetRequestRecordSize() {
  CmdLock hold(*this);
  int size = StringItemSize(UserId()) + 2 * kIntItemSize;
  for (const CComPtr<ResourceInfo>& item : items_) size += item->RecordSize();
  return size;
}

bool CmdBatchCollect::WriteRequestRecord(IShareSessionMessage* message) {
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(message, &payload, &size)) return false;
  CmdLock hold(*this);
  const std::string userId = UserId();
  // The serving process reads the user id with the 46-byte limit and each resource
  // with the limits of its record: what it could not read is not sent.
  if (userId.size() > kRecordTextBytes) return false;
  RecordWriter writer(payload, static_cast<size_t>(size));
  writer.WriteString(userId);
  writer.WriteInt(categoryId_);
  writer.WriteInt(static_cast<int32_t>(items_.size()));
  for (const CComPtr<ResourceInfo>& item : items_) {
    const uint8_t* begin = writer.cursor();
    if (!item->WriteRecord(writer)) return false;
    RecordReader check(begin, static_cast<size_t>(writer.cursor() - begin));
    CComPtr<ResourceInfo> scratch = NewItem();
    if (!scratch || !scratch->ReadRecord(check)) return false;
  }
  return writer.ok();
}

bool CmdBatchCollect::ReadRequestRecord(IShareSessionMessage* message) {
  RecordReader reader(nullptr, 0);
  if (!PayloadReader(message, &reader)) return false;
  std::string userId;
  int32_t categoryId = 0;
  int32_t count = 0;
  if (!reader.ReadString(&userId, kRecordStringLimit) || !reader.ReadInt(&categoryId) ||
      !reader.ReadInt(&count)) {
    return false;
  }
  // A count the payload cannot hold is refused before anything is made for it.
  if (count < 0 || static_cast<size_t>(count) > reader.remaining() / kMinResourceRecordSize) {
    return false;
  }
  std::vector<CComPtr<ResourceInfo>> items;
  items.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    CComPtr<ResourceInfo> item = NewItem();
    if (!item || !item->ReadRecord(reader)) return false;
    items.push_back(item);
  }
  // The record is whole: the user id is taken as its bytes stand (zero bytes too).
  if (!ReadUserIdRecord(message)) return false;
  CmdLock hold(*this);
  categoryId_ = categoryId;
  itemCount_ = count;
  items_.swap(items);
  return true;
}

int CmdBatchCollect::CollectedCount() {
  return outcomeFromRecord_ ? recordCollected_ : static_cast<int>(collected_.size());
}

int CmdBatchCollect::RefusedCount() {
  return outcomeFromRecord_ ? recordRefused_ : static_cast<int>(refusals_.size());
}

std::vector<BYTE> CmdBatchCollect::BuildResultRecord() {
  CmdLock hold(*this);
  RecordBuilder record;
  record.Int(Status());
  record.String(FitRecordWord(message_));
  // The two counts as the result shows them.
  record.Int(CollectedCount());
  record.Int(RefusedCount());
  // Beyond the counts, so that the forwarding process shows the whole outcome: the
  // ids of the collected items in collected order, their states and the refusals.
  record.IdList(collectedIds_);
  record.TextTable(collectedStates_);
  record.TextTable(refusals_);
  return record.bytes();
}

int CmdBatchCollect::GetResultRecordSize() {
  return static_cast<int>(BuildResultRecord().size());
}

bool CmdBatchCollect::WriteResultRecord(BYTE* payload, int size) {
  return CopyToBuffer(BuildResultRecord(), payload, size);
}

bool CmdBatchCollect::ReadResultRecord(const BYTE* payload, int size) {
  RecordReader reader(nullptr, 0);
  int32_t status = 0;
  std::string message;
  int32_t collected = 0;
  int32_t refused = 0;
  if (!ReadResultHead(payload, size, &reader, &status, &message) ||
      !reader.ReadInt(&collected) || !reader.ReadInt(&refused)) {
    return false;
  }
  std::vector<int> ids;
  std::map<int, std::string> states;
  std::map<int, std::string> refusals;
  // Each list is empty when the record ends before it (a record written without them,
  // spare bytes after it or not).
  int32_t count = 0;
  if ((reader.remaining() > 0 && !ReadIdList(&reader, &count, &ids)) ||
      (reader.remaining() > 0 && !ReadTextTable(&reader, &states)) ||
      (reader.remaining() > 0 && !ReadTextTable(&reader, &refusals))) {
    return false;
  }
  CmdLock hold(*this);
  SetStatus(status);
  message_.swap(message);
  recordCollected_ = collected;
  recordRefused_ = refused;
  collectedIds_.swap(ids);
  collectedStates_.swap(states);
  refusals_.swap(refusals);
  outcomeFromRecord_ = true;
  return true;
}

std::vector<BYTE> CmdBatchCollect::BuildChangeRecord() {
  CmdLock hold(*this);
  const std::string userId = UserId();
  const std::string message = FitRecordWord(message_);
  const bool success = message_ == "success";
  // The collected items may be shared with a cached album: read them under its lock.
  BlogSession_* session = BlogSession_::Instance();
  std::unique_ptr<Hold> albums;
  if (session != nullptr) albums.reset(new Hold(session->AlbumListLock()));
  size_t size = static_cast<size_t>(StringItemSize(userId) + StringItemSize(message));
  if (success) {
    size += 3 * kIntItemSize;
    for (const CComPtr<ResourceInfo>& item : collected_) size += item->RecordSize();
    for (const auto& refusal : refusals_) {
      size += kIntItemSize + StringItemSize(refusal.second);
    }
  }
  std::vector<BYTE> payload(size);
  RecordWriter writer(payload.data(), payload.size());
  writer.WriteString(userId);
  writer.WriteString(message);
  if (success) {
    writer.WriteInt(categoryId_);
    writer.WriteInt(static_cast<int32_t>(collected_.size()));
    for (const CComPtr<ResourceInfo>& item : collected_) item->WriteRecord(writer);
    writer.WriteInt(static_cast<int32_t>(refusals_.size()));
    for (const auto& refusal : refusals_) {
      writer.WriteInt(refusal.first);
      writer.WriteString(refusal.second);
    }
  }
  return payload;
}

int CmdBatchCollect::GetChangeRecordSize() {
  return static_cast<int>(BuildChangeRecord().size());
}

void CmdBatchCollect::PublishChange() {
  PublishChangeRecord(BuildChangeRecord());
}

void CmdBatchCollect::NotifyChange() {
  PublishNoticeCode(kNoticeBatchCollect);
}

}  // namespace ZQBlog
}  // namespace Velmora
