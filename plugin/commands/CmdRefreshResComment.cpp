#include "commands/CmdRefreshResComment.h"

#include <climits>
#include <cstdint>
#include <ctime>
#include <stdexcept>

#include "data/BlogPackage.h"
#include "data/BlogPackageParser.h"
#include "data/BstrText.h"
#include "data/ResultOnResComment.h"
#include "interfaces/ISettingsSection.h"
#include "interfaces/ISettingsStore.h"
#include "interfaces/IZQCPPlatform.h"
#include "module/HostPlatform.h"
#include "session/BlogSession.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

const char CmdRefreshResComment::kServerHost[] = "comment.velmora.cn";
const char CmdRefreshResComment::kCommentPath[] = "/comment/";
const wchar_t CmdRefreshResComment::kSectionSuffix[] = L"CID";

namespace {

// Whether key can be put into a request line as it is: no control character and no
// space, which would end the path or split the request.
bool TravelsInRequestLine(const std::string& key) {
  for (char c : key) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) return false;
  }
  return true;
}

CComPtr<ISettingsSection> OpenSection(ISettingsStore* store, BSTR name) {
  CComPtr<ISettingsSection> section;
  if (store->OpenSection(name, &section) != S_OK) section.Release();
  return section;
}

}  // namespace

CmdRefreshResComment::CmdRefreshResComment() : host_(kServerHost) {}

CmdRefreshResComment::~CmdRefreshResComment() = default;

void CmdRefreshResComment::SetResourceKey(const wchar_t* resourceKey, int requestNumber) {
  std::string key = resourceKey != nullptr ? WideToAnsi(resourceKey) : std::string();
  CmdLock hold(*this);
  resourceKey_.swap(key);
  requestNumber_ = requestNumber;
}

std::string CmdRefreshResComment::ResourceKey() {
  CmdLock hold(*this);
  return resourceKey_;
}

int CmdRefreshResComment::RequestNumber() {
  CmdLock hold(*this);
  return requestNumber_;
}

int CmdRefreshResComment::CommentCount() {
  CmdLock hold(*this);
  return commentCount_;
}

int CmdRefreshResComment::ParseCount(const char* text, size_t length) {
  if (text == nullptr) return 0;
  size_t i = 0;
  while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const int64_t limit = static_cast<int64_t>(INT_MAX) + 1;
  int64_t value = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool CmdRefreshResComment::StoreCount(const std::string& userId, const std::string& key,
                                      int count) {
  IZQCPPlatform* platform = ZQCP::GetHostPlatform();
  if (platform == nullptr) return false;
  CComPtr<ISettingsStore> store;
  if (FAILED(platform->GetSettingsStore(&store)) || !store) return false;
  const std::wstring sectionName = AnsiToWide(userId) + kSectionSuffix;
  ScopedBstr name;
  *name.Receive() =
      SysAllocStringLen(sectionName.data(), static_cast<UINT>(sectionName.size()));
  if (name.get() == nullptr) return false;
  CComPtr<ISettingsSection> section = OpenSection(store, name.get());
  if (!section) {
    if (store->CreateSection(name.get(), 1) < 0) return false;
    section = OpenSection(store, name.get());
    if (!section) return false;
  }
  const std::string value = std::to_string(count);
  return SUCCEEDED(section->WriteValue(key.c_str(), static_cast<int>(std::time(nullptr)),
                                       value.c_str(), static_cast<int>(value.size())));
}

// ---------------------------------------------------------------- HTTP hooks

void CmdRefreshResComment::GetServer(const char** host, unsigned short* port) {
  *host = host_.c_str();
  *port = kServerPort;
}

bool CmdRefreshResComment::GetConnectionParameter(ConnectionParameter* /*block*/) {
  return false;
}

void CmdRefreshResComment::GetRequestLine(int* method, std::string* path) {
  if (!TravelsInRequestLine(resourceKey_)) {
    throw std::invalid_argument("the resource key cannot be sent in a request line");
  }
  *method = kMethodGet;
  *path = std::string(kCommentPath) + resourceKey_;
  SetHeader("Connection", "Close");
}

bool CmdRefreshResComment::GetRequestBody(const BYTE** /*data*/, int* /*length*/) {
  return false;
}

HRESULT CmdRefreshResComment::OnResponseHeaders(IHttpReplyHeaders* headers) {
  int status = 0;
  if (headers != nullptr && SUCCEEDED(headers->GetStatusCode(&status))) {
    errorStatus_ = status < 200 || status > 299;
  }
  return S_OK;
}

void CmdRefreshResComment::OnTransportError(int /*code*/) {
  SetStatus(0);
  DeliverOrAnswer();
}

CComPtr<IPackageParser> CmdRefreshResComment::CreateReplyParser() {
  CComPtr<IPackageParser> parser;
  CComObject<BlogPackageParser>* created = nullptr;
  if (SUCCEEDED(CComObject<BlogPackageParser>::CreateInstance(&created)) && created != nullptr) {
    parser = static_cast<IPackageParser*>(created);
  }
  return parser;
}

HRESULT CmdRefreshResComment::OnReplyPackage(IPackage* package) {
  const BYTE* data = nullptr;
  int length = 0;
  // The package comes from this command's own BlogPackageParser.
  if (package != nullptr) static_cast<const BlogPackage*>(package)->GetData(&data, &length);
  if (data == nullptr || length <= 0 || errorStatus_) {
    // No count: an empty reply, or an error page whose digits are no comment count.
    SetStatus(0);
    DeliverOrAnswer();
    return E_FAIL;
  }
  SetStatus(1);
  commentCount_ = ParseCount(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
  StoreCount(UserId(), resourceKey_, commentCount_);
  // Delivered in every role: the count is no change to broadcast.
  DeliverOrAnswer();
  return S_OK;
}

// ---------------------------------------------------------------- share-session records

std::string CmdRefreshResComment::GetCommandName() { return "RefreshResComment"; }

int CmdRefreshResComment::GetRequestRecordSize() {
  const std::string userId = UserId();
  CmdLock hold(*this);
  return StringItemSize(userId) + kIntItemSize + StringItemSize(resourceKey_);
}

bool CmdRefreshResComment::WriteRequestRecord(IShareSessionMessage* message) {
  if (message == nullptr) return false;
  BYTE* payload = nullptr;
  int size = 0;
  if (FAILED(message->GetPayload(&payload, &size)) || payload == nullptr || size < 0) {
    return false;
  }
  const std::string userId = UserId();
  CmdLock hold(*this);
  // A key the serving side would refuse is not sent at all.
  if (StringItemSize(resourceKey_) > kResourceKeyLimit) return false;
  RecordWriter writer(payload, static_cast<size_t>(size));
  return writer.WriteString(userId) && writer.WriteInt(requestNumber_) &&
         writer.WriteString(resourceKey_);
}

bool CmdRefreshResComment::ReadRequestRecord(IShareSessionMessage* message) {
  if (message == nullptr) return false;
  BYTE* payload = nullptr;
  int size = 0;
  if (FAILED(message->GetPayload(&payload, &size)) || payload == nullptr || size < 0) {
    return false;
  }
  RecordReader reader(payload, static_cast<size_t>(size));
  std::string userId;
  int32_t requestNumber = 0;
  std::string key;
  if (!reader.ReadString(&userId, kRecordStringLimit) || !reader.ReadInt(&requestNumber) ||
      !reader.ReadString(&key, kResourceKeyLimit)) {
    return false;
  }
  // The user id as the base reads it (the same first item).
  if (!ReadUserIdRecord(message)) return false;
  CmdLock hold(*this);
  requestNumber_ = requestNumber;
  resourceKey_.swap(key);
  return true;
}

void CmdRefreshResComment::PublishChange() {}

int CmdRefreshResComment::GetChangeRecordSize() { return 0; }

void CmdRefreshResComment::NotifyChange() {}

int CmdRefreshResComment::GetResultRecordSize() {
  CmdLock hold(*this);
  return 3 * kIntItemSize + StringItemSize(resourceKey_);
}

bool CmdRefreshResComment::WriteResultRecord(BYTE* payload, int size) {
  if (payload == nullptr || size < 0) return false;
  const int status = Status();
  CmdLock hold(*this);
  RecordWriter writer(payload, static_cast<size_t>(size));
  return writer.WriteInt(status) && writer.WriteInt(requestNumber_) &&
         writer.WriteInt(commentCount_) && writer.WriteString(resourceKey_);
}

bool CmdRefreshResComment::ReadResultRecord(const BYTE* payload, int size) {
  if (payload == nullptr || size < 0) return false;
  RecordReader reader(payload, static_cast<size_t>(size));
  int32_t status = 0;
  int32_t requestNumber = 0;
  int32_t count = 0;
  if (!reader.ReadInt(&status)) return false;
  // A status-only answer carries no count: it reads as 0.
  if (reader.ReadInt(&requestNumber)) reader.ReadInt(&count);
  // The key in the record is readable only up to 16 bytes and the number is the one
  // this command sent: the caller's own key and number are what the result returns.
  CmdLock hold(*this);
  SetStatus(status);
  commentCount_ = count;
  return true;
}

HRESULT CmdRefreshResComment::OnShareSessionResult(IShareSessionMessage* result) {
  BYTE* payload = nullptr;
  int size = 0;
  if (result == nullptr || FAILED(result->GetPayload(&payload, &size))) return E_FAIL;
  // No answer from a serving process: the base delivers the unserved outcome.
  if (size == 0) return BaseBlogCmd::OnShareSessionResult(result);
  if (!ReadResultRecord(payload, size)) return E_FAIL;
  // The count is kept here too, so this process's settings read it whether or not the
  // processes share one store.
  if (Status() == 1) StoreCount(UserId(), ResourceKey(), CommentCount());
  DeliverResult();
  return S_OK;
}

// ---------------------------------------------------------------- the result

void CmdRefreshResComment::DeliverResult() {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return;
  CComObject<ResultOnResComment>* created = nullptr;
  if (FAILED(CComObject<ResultOnResComment>::CreateInstance(&created)) || created == nullptr) {
    return;
  }
  CComPtr<IResultOnResComment> result(static_cast<IResultOnResComment*>(created));
  result->SetUin(AnsiToWide(UserId()).c_str());
  result->SetStatus(Status());
  result->SetResourceKey(AnsiToWide(ResourceKey()).c_str());
  result->SetCategoryId(CommentCount());
  result->SetRequestNumber(RequestNumber());
  const int commandId = CommandId();
  NoteOutcomeGiven();
  {
    Hold hold(session->ResultLock());
    session->StoreResult(commandId, result);
  }
  session->NotifyResultReady(commandId, kResultKindComment);
}

}  // namespace ZQBlog
}  // namespace Velmora
