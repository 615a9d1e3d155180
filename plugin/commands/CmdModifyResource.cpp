#include "commands/CmdModifyResource.h"

#include <cstdio>
#include <utility>

#include "commands/XmlReply.h"
#include "data/AlbumInfo.h"
#include "data/ResultOnResource.h"
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

// The root's named value name read into a buffer of the reply value size: true and
// *value when present, false when absent.
bool PackageValue(IXMLPackage* reply, const char* name, std::string* value) {
  std::vector<char> buffer(CmdModifyResource::kReplyValueBufferSize, '\0');
  if (reply->GetValue(name, buffer.data(), static_cast<int>(buffer.size())) != S_OK) {
    return false;
  }
  buffer.back() = '\0';
  value->assign(buffer.data());
  return true;
}

}  // namespace

CmdModifyResource::CmdModifyResource() : port_(kServerPort) {}

CmdModifyResource::~CmdModifyResource() = default;

void CmdModifyResource::SetParameters(int sourceAlbumId, int targetAlbumId, int resourceId,
                                      const wchar_t* resourceName,
                                      const wchar_t* description) {
  std::string name = WideToAnsi(resourceName != nullptr ? resourceName : L"");
  std::string desc = WideToAnsi(description != nullptr ? description : L"");
  CmdLock hold(*this);
  StoreParameters(sourceAlbumId, targetAlbumId, resourceId, &name, &desc);
}

void CmdModifyResource::StoreParameters(int sourceAlbumId, int targetAlbumId, int resourceId,
                                        std::string* name, std::string* description) {
  sourceAlbumId_ = sourceAlbumId;
  targetAlbumId_ = targetAlbumId;
  resourceId_ = resourceId;
  resourceName_.swap(*name);
  description_.swap(*description);
}

int CmdModifyResource::SourceAlbumId() {
  CmdLock hold(*this);
  return sourceAlbumId_;
}

int CmdModifyResource::TargetAlbumId() {
  CmdLock hold(*this);
  return targetAlbumId_;
}

int CmdModifyResource::ResourceId() {
  CmdLock hold(*this);
  return resourceId_;
}

std::string CmdModifyResource::ResourceName() {
  CmdLock hold(*this);
  return resourceName_;
}

std::string CmdModifyResource::Description() {
  CmdLock hold(*this);
  return description_;
}

// ---------------------------------------------------------------- HTTP hooks

void CmdModifyResource::GetServer(const char** host, unsigned short* port) {
  host_.clear();
  path_.clear();
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) {
    session->GetOperationEndpoint(kEndpointModifyResource, &host_, &path_);
  }
  *host = host_.c_str();
  *port = port_;
}

bool CmdModifyResource::GetConnectionParameter(ConnectionParameter* /*block*/) {
  return false;
}

void CmdModifyResource::GetRequestLine(int* method, std::string* path) {
  *method = kMethodPost;
  *path = path_;
  SetHeader("Cookie", BuildCookie(UserId()).c_str());
  SetHeader("Content-Type", "application/x-www-form-urlencoded");
}

bool CmdModifyResource::GetRequestBody(const BYTE** data, int* length) {
  form_.clear();
  const std::string uin = AnsiToUtf8(UrlEscape(UserId()));
  const std::string name = AnsiToUtf8(UrlEscape(resourceName_));
  const std::string desc = AnsiToUtf8(UrlEscape(description_));
  std::vector<char> buffer(kFormBufferSize, '\0');
  const int written = std::snprintf(
      buffer.data(), buffer.size(),
      "encoder=utf-8&uin=%s&category_id_from=%d&category_id_to=%d&res_id=%d&res_name=%s"
      "&desc=%s",
      uin.c_str(), sourceAlbumId_, targetAlbumId_, resourceId_, name.c_str(), desc.c_str());
  if (written < 0) return false;
  if (written >= kFormBufferSize) AbandonRequest(kFailureRequestTooLong, kOpModifyResource);
  form_.assign(buffer.data(), static_cast<size_t>(written));
  *data = reinterpret_cast<const BYTE*>(form_.data());
  *length = static_cast<int>(form_.size());
  return true;
}

HRESULT CmdModifyResource::OnResponseHeaders(IHttpReplyHeaders* /*headers*/) { return S_OK; }

CComPtr<IPackageParser> CmdModifyResource::CreateReplyParser() {
  return CreateXmlReplyParser();
}

void CmdModifyResource::OnTransportError(int code) {
  TellFailure(code, kOpModifyResource);
}

// ---------------------------------------------------------------- the reply

HRESULT CmdModifyResource::OnReplyPackage(IPackage* package) {
  CComPtr<IXMLPackage> reply = XmlDocumentOf(package);
  // Whatever the reply did, the exchange itself is finished.
  if (reply) Apply(reply);
  return S_OK;
}

void CmdModifyResource::Apply(IXMLPackage* reply) {
  std::string returned;
  if (!PackageValue(reply, "return", &returned)) {
    // No outcome at all: a refusal with the text of an unknown word.
    message_.clear();
    DispatchReply(false);
    return;
  }
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return;
  Hold hold(session->AlbumListLock());
  std::string message;
  PackageValue(reply, "message", &message);
  message_.swap(message);

  if (returned == "1") {
    SetStatus(1);
    const std::wstring uin = AnsiToWide(UserId());
    CComPtr<IZQResInfo> resource(
        session->FindResourceInAlbum(uin, sourceAlbumId_, resourceId_));
    AlbumInfo* source = session->FindAlbum(uin, sourceAlbumId_);
    AlbumInfo* target = session->FindAlbum(uin, targetAlbumId_);
    if (!resource || source == nullptr || target == nullptr) {
      // The session does not hold what the server changed: it stays as it is, the
      // caller hears the outcome.
      DeliverOrAnswer();
      return;
    }
    const std::wstring name = AnsiToWide(resourceName_);
    const std::wstring desc = AnsiToWide(description_);
    if (sourceAlbumId_ == targetAlbumId_) {
      resource->SetResName(name.c_str());
      resource->SetDesc(desc.c_str());
      resource->SetCategoryId(sourceAlbumId_);
    } else {
      resource->SetCategoryId(targetAlbumId_);
      // The resource leaves the source album: so does its content-id pair there (looked
      // up while the source still holds it).
      session->RemoveCidEntry(resourceId_, sourceAlbumId_, source);
      target->InsertResource(-1, resource);
      source->RemoveResource(resourceId_);
      resource->SetResName(name.c_str());
      resource->SetDesc(desc.c_str());
      session->AddCidEntry(resourceId_, targetAlbumId_, target);
    }
  }

  DispatchReply(Status() == 1);
}

// ---------------------------------------------------------------- the result

void CmdModifyResource::DeliverResult() {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return;
  CComObject<ResultOnResource>* created = nullptr;
  if (FAILED(CComObject<ResultOnResource>::CreateInstance(&created)) || created == nullptr) {
    return;
  }
  CComPtr<IResultOnResource> result(static_cast<IResultOnResource*>(created));
  result->SetUin(AnsiToWide(UserId()).c_str());
  result->SetOperationIndex(kOpModifyResource);
  result->SetStatus(Status());
  result->SetMessageText(
      AnsiToWide(TranslateServerMessage(message_, kOpModifyResource)).c_str());
  result->SetOperationTitle(AnsiToWide(MakeOperationTitle(kOpModifyResource)).c_str());
  result->SetCategoryId(sourceAlbumId_);
  result->SetTargetCategoryId(targetAlbumId_);
  result->SetResourceId(resourceId_);
  FileResult(session, result, kResultKindResource);
}

// ---------------------------------------------------------------- share-session records

std::string CmdModifyResource::GetCommandName() { return "ModifyResource"; }

int CmdModifyResource::GetRequestRecordSize() {
  CmdLock hold(*this);
  return StringItemSize(UserId()) + StringItemSize(resourceName_) +
         StringItemSize(description_) + 3 * kIntItemSize;
}

bool CmdModifyResource::WriteRequestRecord(IShareSessionMessage* message) {
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(message, &payload, &size)) return false;
  CmdLock hold(*this);
  const std::string userId = UserId();
  // The serving process reads each text with the 50-byte limit: an operation it could
  // not read whole is not sent at all.
  if (userId.size() > kRecordTextBytes || resourceName_.size() > kRecordTextBytes ||
      description_.size() > kRecordTextBytes) {
    return false;
  }
  RecordWriter writer(payload, static_cast<size_t>(size));
  writer.WriteString(userId);
  writer.WriteInt(sourceAlbumId_);
  writer.WriteInt(targetAlbumId_);
  writer.WriteInt(resourceId_);
  writer.WriteString(resourceName_);
  writer.WriteString(description_);
  return writer.ok();
}

bool CmdModifyResource::ReadRequestRecord(IShareSessionMessage* message) {
  RecordReader reader(nullptr, 0);
  if (!PayloadReader(message, &reader)) return false;
  std::string userId;
  int32_t source = 0;
  int32_t target = 0;
  int32_t resourceId = 0;
  std::string name;
  std::string desc;
  if (!reader.ReadString(&userId, kRecordStringLimit) || !reader.ReadInt(&source) ||
      !reader.ReadInt(&target) || !reader.ReadInt(&resourceId) ||
      !reader.ReadString(&name, kRecordStringLimit) ||
      !reader.ReadString(&desc, kRecordStringLimit)) {
    return false;
  }
  // The record is whole: the user id is taken as its bytes stand (zero bytes too).
  if (!ReadUserIdRecord(message)) return false;
  CmdLock hold(*this);
  StoreParameters(source, target, resourceId, &name, &desc);
  return true;
}

int CmdModifyResource::GetResultRecordSize() {
  CmdLock hold(*this);
  return StringItemSize(FitRecordWord(message_)) + kIntItemSize;
}

bool CmdModifyResource::WriteResultRecord(BYTE* payload, int size) {
  if (payload == nullptr || size < 0) return false;
  CmdLock hold(*this);
  RecordWriter writer(payload, static_cast<size_t>(size));
  writer.WriteInt(Status());
  writer.WriteString(FitRecordWord(message_));
  return writer.ok();
}

bool CmdModifyResource::ReadResultRecord(const BYTE* payload, int size) {
  RecordReader reader(nullptr, 0);
  int32_t status = 0;
  std::string word;
  if (!ReadResultHead(payload, size, &reader, &status, &word)) return false;
  CmdLock hold(*this);
  SetStatus(status);
  message_.swap(word);
  return true;
}

std::vector<BYTE> CmdModifyResource::BuildChangeRecord() {
  CmdLock hold(*this);
  const std::string userId = UserId();
  const std::string word = FitRecordWord(message_);
  const size_t size = static_cast<size_t>(StringItemSize(userId) + StringItemSize(word) +
                                          3 * kIntItemSize + StringItemSize(resourceName_) +
                                          StringItemSize(description_));
  std::vector<BYTE> payload(size);
  RecordWriter writer(payload.data(), payload.size());
  writer.WriteString(userId);
  writer.WriteString(word);
  writer.WriteInt(sourceAlbumId_);
  writer.WriteInt(targetAlbumId_);
  writer.WriteInt(resourceId_);
  writer.WriteString(resourceName_);
  writer.WriteString(description_);
  return payload;
}

int CmdModifyResource::GetChangeRecordSize() {
  return static_cast<int>(BuildChangeRecord().size());
}

void CmdModifyResource::PublishChange() {
  PublishChangeRecord(BuildChangeRecord());
}

void CmdModifyResource::NotifyChange() {
  PublishNoticeCode(kNoticeModifyResource);
}

}  // namespace ZQBlog
}  // namespace Velmora
