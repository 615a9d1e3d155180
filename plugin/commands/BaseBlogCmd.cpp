#include "commands/BaseBlogCmd.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>

#include "commands/EntityRemoval.h"
#include "common/HmacMd5.h"
#include "data/ResultOnAlbum.h"
#include "data/StringSetter.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IZQCPCommandWorkshop.h"
#include "interfaces/IZQCPPlatform.h"
#include "module/HostPlatform.h"
#include "module/ZQBlogPlugin.h"
#include "session/BlogCache.h"
#include "session/BlogSession.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

const char BaseBlogCmd::kCookieKey[] = "?T#(W]~=K!+*QX";

namespace {

// The operation titles by OperationIndex, as code page 936 bytes.
const char* const kOperationTitles[] = {
    // 获取服务器信息
    "\xbb\xf1\xc8\xa1\xb7\xfe\xce\xf1\xc6\xf7\xd0\xc5\xcf\xa2",
    // 获取Cid.dat文件信息
    "\xbb\xf1\xc8\xa1\x43id.dat\xce\xc4\xbc\xfe\xd0\xc5\xcf\xa2",
    // 获取专辑列表信息
    "\xbb\xf1\xc8\xa1\xd7\xa8\xbc\xad\xc1\xd0\xb1\xed\xd0\xc5\xcf\xa2",
    // 获取资源列表信息
    "\xbb\xf1\xc8\xa1\xd7\xca\xd4\xb4\xc1\xd0\xb1\xed\xd0\xc5\xcf\xa2",
    // 收藏资源
    "\xca\xd5\xb2\xd8\xd7\xca\xd4\xb4",
    // 删除资源
    "\xc9\xbe\xb3\xfd\xd7\xca\xd4\xb4",
    // 创建专辑
    "\xb4\xb4\xbd\xa8\xd7\xa8\xbc\xad",
    // 修改专辑
    "\xd0\xde\xb8\xc4\xd7\xa8\xbc\xad",
    // 删除专辑
    "\xc9\xbe\xb3\xfd\xd7\xa8\xbc\xad",
    // 修改资源
    "\xd0\xde\xb8\xc4\xd7\xca\xd4\xb4",
    // 移动资源
    "\xd2\xc6\xb6\xaf\xd7\xca\xd4\xb4",
    // 复制资源
    "\xb8\xb4\xd6\xc6\xd7\xca\xd4\xb4",
};
constexpr int kOperationTitleCount =
    static_cast<int>(sizeof(kOperationTitles) / sizeof(kOperationTitles[0]));
static_assert(kOperationTitleCount == 12, "one title per operation index 0 to 11");

// 错误的命令标识
const char kWrongOperationTitle[] = "\xb4\xed\xce\xf3\xb5\xc4\xc3\xfc\xc1\xee\xb1\xea\xca\xb6";

struct ErrorText {
  const char* word;
  const char* text;  // code page 936
};

// cookie验证错误
#define ZQBLOG_COOKIE_DENIED_TEXT "cookie\xd1\xe9\xd6\xa4\xb4\xed\xce\xf3"

// The error words of moving and copying resources.
const ErrorText kMoveCopyErrorTexts[] = {
    // 目标专辑装不下更多的资源
    {"excess",
     "\xc4\xbf\xb1\xea\xd7\xa8\xbc\xad\xd7\xb0\xb2\xbb\xcf\xc2\xb8\xfc\xb6\xe0\xb5\xc4\xd7\xca"
     "\xd4\xb4"},
    // 目标专辑已经收藏过该资源
    {"duplicate",
     "\xc4\xbf\xb1\xea\xd7\xa8\xbc\xad\xd2\xd1\xbe\xad\xca\xd5\xb2\xd8\xb9\xfd\xb8\xc3\xd7\xca"
     "\xd4\xb4"},
    // CR LF 下载未完成的资源不允许移动复制到专辑
    {"undone",
     "\r\n\xcf\xc2\xd4\xd8\xce\xb4\xcd\xea\xb3\xc9\xb5\xc4\xd7\xca\xd4\xb4\xb2\xbb\xd4\xca\xd0"
     "\xed\xd2\xc6\xb6\xaf\xb8\xb4\xd6\xc6\xb5\xbd\xd7\xa8\xbc\xad"},
    // 审核中不允许移动复制
    {"audit", "\xc9\xf3\xba\xcb\xd6\xd0\xb2\xbb\xd4\xca\xd0\xed\xd2\xc6\xb6\xaf\xb8\xb4\xd6\xc6"},
    // 目标专辑满
    {"fail", "\xc4\xbf\xb1\xea\xd7\xa8\xbc\xad\xc2\xfa"},
    // 目标专辑不存在
    {"no_exist", "\xc4\xbf\xb1\xea\xd7\xa8\xbc\xad\xb2\xbb\xb4\xe6\xd4\xda"},
    {"denied", ZQBLOG_COOKIE_DENIED_TEXT},
};

// The error words of every other operation.
const ErrorText kGeneralErrorTexts[] = {
    // 数据库错误
    {"fail", "\xca\xfd\xbe\xdd\xbf\xe2\xb4\xed\xce\xf3"},
    {"denied", ZQBLOG_COOKIE_DENIED_TEXT},
    // 已被加入黑名单, 禁止操作
    {"forbidden",
     "\xd2\xd1\xb1\xbb\xbc\xd3\xc8\xeb\xba\xda\xc3\xfb\xb5\xa5, \xbd\xfb\xd6\xb9\xb2\xd9\xd7"
     "\xf7"},
    // 敏感词
    {"illegal", "\xc3\xf4\xb8\xd0\xb4\xca"},
    // 存在同名专辑
    {"duplicate", "\xb4\xe6\xd4\xda\xcd\xac\xc3\xfb\xd7\xa8\xbc\xad"},
    // 专辑不为空
    {"no_empty", "\xd7\xa8\xbc\xad\xb2\xbb\xce\xaa\xbf\xd5"},
    // 专辑不存在
    {"no_exist", "\xd7\xa8\xbc\xad\xb2\xbb\xb4\xe6\xd4\xda"},
    // 财富积分不足
    {"no_bill", "\xb2\xc6\xb8\xbb\xbb\xfd\xb7\xd6\xb2\xbb\xd7\xe3"},
    // 专辑数达到上限
    {"excess", "\xd7\xa8\xbc\xad\xca\xfd\xb4\xef\xb5\xbd\xc9\xcf\xcf\xde"},
};

#undef ZQBLOG_COOKIE_DENIED_TEXT

template <size_t N>
std::string LookUp(const ErrorText (&table)[N], const std::string& word) {
  for (const ErrorText& entry : table) {
    if (word == entry.word) return entry.text;
  }
  return std::string();
}

// The host's share-session manager, or null.
CComPtr<IShareSessionManager> ShareSessionManager() {
  CComPtr<IShareSessionManager> manager;
  CComPtr<IZQCPPlatform> platform(ZQCP::GetHostPlatform());
  if (!platform) return manager;
  if (FAILED(platform->GetShareSessionManager(&manager))) manager.Release();
  return manager;
}

}  // namespace

bool BaseBlogCmd::ReadResultHead(const BYTE* payload, int size, RecordReader* reader,
                                 int32_t* status, std::string* word) {
  if (payload == nullptr || size < 0) return false;
  *reader = RecordReader(payload, static_cast<size_t>(size));
  return reader->ReadInt(status) && reader->ReadString(word, kRecordStringLimit);
}

bool BaseBlogCmd::PayloadOf(IShareSessionMessage* message, BYTE** payload, int* size) {
  *payload = nullptr;
  *size = 0;
  if (message == nullptr || FAILED(message->GetPayload(payload, size)) || *size < 0) {
    return false;
  }
  return *size == 0 || *payload != nullptr;
}

bool BaseBlogCmd::PayloadReader(IShareSessionMessage* message, RecordReader* reader) {
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(message, &payload, &size)) return false;
  *reader = RecordReader(payload, static_cast<size_t>(size));
  return true;
}

BaseBlogCmd::BaseBlogCmd() = default;

BaseBlogCmd::~BaseBlogCmd() = default;

// ---------------------------------------------------------------- fields

void BaseBlogCmd::SetUserId(const wchar_t* userId) {
  std::string ansi = WideToAnsi(userId != nullptr ? std::wstring(userId) : std::wstring());
  CmdLock hold(*this);
  userId_.swap(ansi);
}

void BaseBlogCmd::SetCommandId(int commandId) {
  CmdLock hold(*this);
  commandId_ = commandId;
}

std::string BaseBlogCmd::UserId() {
  CmdLock hold(*this);
  return userId_;
}

int BaseBlogCmd::Status() {
  CmdLock hold(*this);
  return status_;
}

int BaseBlogCmd::CommandId() {
  CmdLock hold(*this);
  return commandId_;
}

void BaseBlogCmd::SetStatus(int status) { status_ = status; }

HRESULT BaseBlogCmd::SubmitToHost() {
  CComPtr<IZQCPPlatform> platform(ZQCP::GetHostPlatform());
  if (!platform) return E_FAIL;
  CComPtr<IZQCPCommandWorkshop> workshop;
  if (FAILED(platform->GetCommandWorkshop(&workshop)) || !workshop) return E_FAIL;
  CComPtr<IHttpConnectionFactory> factory;
  if (FAILED(platform->GetHttpConnectionFactory(&factory)) || !factory) return E_FAIL;
  SetHttpFactory(factory);
  workshop->AddCommand(SelfCmd());
  return S_OK;
}

// ---------------------------------------------------------------- share session

int BaseBlogCmd::GetShareSessionRole() {
  CComPtr<IShareSessionManager> manager = ShareSessionManager();
  if (!manager) return kRoleStandAlone;
  int role = kRoleStandAlone;
  if (FAILED(manager->GetRole(&role))) return kRoleStandAlone;
  return role;
}

CComPtr<IShareSessionServer> BaseBlogCmd::GetShareSessionServerChannel() {
  CComPtr<IShareSessionServer> server;
  CComPtr<IShareSessionManager> manager = ShareSessionManager();
  if (!manager) return server;
  if (FAILED(manager->GetModuleServer(kModuleName, 0, &server))) server.Release();
  return server;
}

void BaseBlogCmd::PublishChangeRecord(const std::vector<BYTE>& payload) {
  CComPtr<IShareSessionServer> server = GetShareSessionServerChannel();
  if (server) server->PublishData(payload.data(), static_cast<int>(payload.size()));
}

void BaseBlogCmd::PublishBuiltChangeRecord(const std::vector<BYTE>& payload) {
  if (payload.empty() || payload.size() > static_cast<size_t>(INT_MAX)) return;
  PublishChangeRecord(payload);
}

void BaseBlogCmd::PublishNoticeCode(int noticeCode) {
  CComPtr<IShareSessionServer> server = GetShareSessionServerChannel();
  if (server) server->PublishNotice(0, noticeCode, 0, 0);
}

CComPtr<IResultOnAlbum> BaseBlogCmd::NewAlbumResult(int operationIndex, const std::wstring& uin) {
  CComPtr<IResultOnAlbum> result;
  CComObject<ResultOnAlbum>* created = nullptr;
  if (FAILED(CComObject<ResultOnAlbum>::CreateInstance(&created)) || created == nullptr) {
    return result;
  }
  result = static_cast<IResultOnAlbum*>(created);
  result->SetUin(uin.c_str());
  result->SetOperationIndex(operationIndex);
  result->SetOperationTitle(AnsiToWide(MakeOperationTitle(operationIndex)).c_str());
  result->SetStatus(Status());
  return result;
}

void BaseBlogCmd::DeliverListResultOnce(int operationIndex, std::optional<int> categoryId,
                                        bool* delivered) {
  if (*delivered) return;
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return;
  CComPtr<IResultOnAlbum> result = NewAlbumResult(operationIndex, AnsiToWide(UserId()));
  if (!result) return;
  if (categoryId) result->SetCategoryId(*categoryId);
  *delivered = true;
  FileResult(session, result, kResultKindAlbum);
}

void BaseBlogCmd::FileResult(BlogSession_* session, ICommonResult* result, int resultKind) {
  outcomeGiven_ = true;
  const int commandId = CommandId();
  Hold hold(session->ResultLock());
  session->StoreResult(commandId, result);
  session->NotifyResultReady(commandId, resultKind);
}

CComPtr<IShareSessionChannel> BaseBlogCmd::GetShareSessionChannel() {
  CComPtr<IShareSessionChannel> channel;
  CComPtr<IShareSessionManager> manager = ShareSessionManager();
  if (!manager) return channel;
  if (FAILED(manager->GetModuleChannel(kModuleName, 0, &channel))) channel.Release();
  return channel;
}

CComPtr<IShareSessionMessage> BaseBlogCmd::BuildResultMessage(IShareSessionMessage* request) {
  CComPtr<IShareSessionMessage> none;
  CComPtr<IShareSessionServer> server = GetShareSessionServerChannel();
  if (!server) return none;
  CComPtr<IShareSessionMessage> result;
  if (FAILED(server->CreateResultMessage(request, &result)) || !result) return none;
  std::string name = GetCommandName();
  if (FAILED(result->SetName(name.c_str()))) return none;
  if (FAILED(result->SetPayloadSize(GetResultRecordSize() + 8))) return none;
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(result, &payload, &size) || !WriteResultRecord(payload, size)) {
    // A payload of zeros would read as a record; an empty one is not sent at all.
    result->SetPayloadSize(0);
    return none;
  }
  return result;
}

CComPtr<IShareSessionMessage> BaseBlogCmd::BuildOperationMessage() {
  CComPtr<IShareSessionMessage> none;
  CComPtr<IShareSessionChannel> channel = GetShareSessionChannel();
  if (!channel) return none;
  CComPtr<IShareSessionMessage> message;
  if (FAILED(channel->CreateOperationMessage(&message)) || !message) return none;
  std::string name = GetCommandName();
  if (FAILED(message->SetName(name.c_str()))) return none;
  if (FAILED(message->SetPayloadSize(GetRequestRecordSize()))) return none;
  if (!WriteRequestRecord(message)) return none;
  return message;
}

HRESULT BaseBlogCmd::OnShareSessionResult(IShareSessionMessage* result) {
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(result, &payload, &size)) return E_FAIL;
  if (size == 0) {
    // No process could serve the request: the host still hears of an outcome.
    SetStatus(0);
    DeliverResult();
    return S_OK;
  }
  if (!ReadResultRecord(payload, size)) return E_FAIL;
  DeliverResult();
  return S_OK;
}

void BaseBlogCmd::AbandonRequest(int code, int operationIndex) {
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) session->NotifyFailure(code, operationIndex, 0, 0);
  throw RequestAbandoned();
}

void BaseBlogCmd::ServeForwardedRequest(IShareSessionMessage* request) {
  const int commandId = ZQBlogPlugin_::NextCommandId();
  CmdLock hold(*this);
  forwardedRequest_ = request;
  commandId_ = commandId;
}

IShareSessionMessage* BaseBlogCmd::ForwardedRequest() {
  CmdLock hold(*this);
  return forwardedRequest_;
}

void BaseBlogCmd::TellFailure(int value1, int operationIndex, int value3, int value4) {
  outcomeGiven_ = true;
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) session->NotifyFailure(value1, operationIndex, value3, value4);
}

void BaseBlogCmd::OnReplyFinished(int /*state*/) {
  if (!outcomeGiven_) OnTransportError(kFailureBadReply);
}

void BaseBlogCmd::DispatchReply(bool changed) {
  // In role 1 the dispatch itself is the serving process's outcome.
  outcomeGiven_ = true;
  if (GetShareSessionRole() != kRoleServe) {
    DeliverOrAnswer();
    return;
  }
  if (changed) {
    PublishChange();
    NotifyChange();
  }
  AnswerForwardedRequest();
}

void BaseBlogCmd::DeliverOrAnswer() {
  outcomeGiven_ = true;
  if (forwardedRequest_) {
    AnswerForwardedRequest();
  } else {
    DeliverResult();
  }
}

void BaseBlogCmd::DeliverOrAnswerChange() {
  BroadcastIfServing();
  DeliverOrAnswer();
}

void BaseBlogCmd::BroadcastIfServing() {
  if (GetShareSessionRole() != kRoleServe) return;
  outcomeGiven_ = true;
  PublishChange();
  NotifyChange();
}

void BaseBlogCmd::AnswerForwardedRequest() {
  if (!forwardedRequest_ || answered_) return;
  answered_ = true;
  // The host sends the answer once this command lets the request go.
  BuildResultMessage(forwardedRequest_);
}

void BaseBlogCmd::CacheReplyText(BlogCache* cache, std::string* text) {
  RemoveReplyEntities(text);
  cache->SaveBody(text->c_str());
}

void BaseBlogCmd::SetIfModifiedSince(BlogCache* cache, int cacheId) {
  std::wstring stamp;
  {
    Hold hold(CacheLock());
    cache->Init(AnsiToWide(UserId()));
    stamp = cache->GetIfModifiedSince(cacheId);
  }
  if (stamp.empty()) stamp = kDefaultValidator;
  SetHeader("If-Modified-Since", WideToAnsi(stamp).c_str());
}

void BaseBlogCmd::SaveLastModified(BlogCache* cache, IHttpReplyHeaders* headers) {
  StringSetter lastModified;
  headers->GetHeader("Last-Modified", &lastModified);
  if (!lastModified.GetString().empty()) cache->SaveLastModified(lastModified.GetString());
}

bool BaseBlogCmd::ReplayCachedReply(BlogCache* cache) {
  std::string body;
  if (!cache->LoadBody(&body) || body.empty() || body.size() > static_cast<size_t>(INT_MAX)) {
    return false;
  }
  CComPtr<IPackageParser> parser = CreateReplyParser();
  if (!parser) return false;
  if (FAILED(parser->Parse(reinterpret_cast<const BYTE*>(body.data()),
                           static_cast<int>(body.size())))) {
    return false;
  }
  int count = 0;
  if (FAILED(parser->GetPackageCount(&count)) || count < 1) return false;
  CComPtr<IPackage> package;
  if (FAILED(parser->GetPackage(&package)) || !package) return false;
  OnReplyPackage(package);
  return true;
}

std::string BaseBlogCmd::FitRecordWord(const std::string& word) {
  const size_t most = static_cast<size_t>(kRecordStringLimit - kIntItemSize);
  return word.size() <= most ? word : word.substr(0, most);
}

std::string BaseBlogCmd::TranslateServerMessage(const std::string& word, int operationIndex) {
  if (operationIndex == kOpMoveResource || operationIndex == kOpCopyResource) {
    return LookUp(kMoveCopyErrorTexts, word);
  }
  return LookUp(kGeneralErrorTexts, word);
}

// ---------------------------------------------------------------- records

int BaseBlogCmd::UserIdRecordSize() {
  CmdLock hold(*this);
  return StringItemSize(userId_);
}

bool BaseBlogCmd::WriteUserIdRecord(IShareSessionMessage* message) {
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(message, &payload, &size)) return false;
  CmdLock hold(*this);
  RecordWriter writer(payload, static_cast<size_t>(size));
  return writer.WriteString(userId_);
}

bool BaseBlogCmd::ReadUserIdRecord(IShareSessionMessage* message) {
  RecordReader reader(nullptr, 0);
  if (!PayloadReader(message, &reader)) return false;
  std::string userId;
  if (!reader.ReadString(&userId, kRecordStringLimit)) return false;
  CmdLock hold(*this);
  userId_.swap(userId);
  return true;
}

void BaseBlogCmd::RecordBuilder::Int(int32_t value) { AppendIntItem(&bytes_, value); }

void BaseBlogCmd::RecordBuilder::Byte(uint8_t value) { bytes_.push_back(value); }

void BaseBlogCmd::RecordBuilder::String(const std::string& text) {
  AppendStringItem(&bytes_, text);
}

void BaseBlogCmd::RecordBuilder::IdList(const std::vector<int>& ids) {
  Int(static_cast<int32_t>(ids.size()));
  for (int id : ids) Int(id);
}

void BaseBlogCmd::RecordBuilder::TextTable(const std::map<int, std::string>& table) {
  Int(static_cast<int32_t>(table.size()));
  for (const auto& entry : table) {
    Int(entry.first);
    String(entry.second);
  }
}

bool BaseBlogCmd::CopyToBuffer(const std::vector<BYTE>& bytes, BYTE* payload, int size) {
  if (size < 0 || bytes.size() > static_cast<size_t>(size)) return false;
  if (bytes.empty()) return true;
  if (payload == nullptr) return false;
  std::memcpy(payload, bytes.data(), bytes.size());
  return true;
}

bool BaseBlogCmd::ReadIdList(RecordReader* reader, int32_t* count, std::vector<int>* ids) {
  int32_t read = 0;
  if (!reader->ReadInt(&read) || read < 0) return false;
  if (static_cast<size_t>(read) > reader->remaining() / kIntItemSize) return false;
  std::vector<int> list;
  list.reserve(static_cast<size_t>(read));
  for (int32_t i = 0; i < read; ++i) {
    int32_t id = 0;
    if (!reader->ReadInt(&id)) return false;
    list.push_back(id);
  }
  *count = read;
  ids->swap(list);
  return true;
}

bool BaseBlogCmd::ReadTextTable(RecordReader* reader, std::map<int, std::string>* table) {
  int32_t count = 0;
  if (!reader->ReadInt(&count) || count < 0) return false;
  if (static_cast<size_t>(count) > reader->remaining() / (2 * kIntItemSize)) return false;
  for (int32_t i = 0; i < count; ++i) {
    int32_t id = 0;
    std::string text;
    if (!reader->ReadInt(&id) || !reader->ReadString(&text, kResultTextLimit)) return false;
    table->emplace(id, std::move(text));
  }
  return true;
}

bool BaseBlogCmd::WriteStatusRecord(BYTE* payload, int size) {
  if (payload == nullptr || size < kStatusRecordSize) return false;
  RecordWriter writer(payload, static_cast<size_t>(size));
  return writer.WriteInt(status_);
}

bool BaseBlogCmd::ReadStatusRecord(const BYTE* payload, int size) {
  if (payload == nullptr || size < kStatusRecordSize) return false;
  RecordReader reader(payload, static_cast<size_t>(size));
  int32_t status = 0;
  if (!reader.ReadInt(&status)) return false;
  status_ = status;
  return true;
}

// ---------------------------------------------------------------- envelope and texts

std::string BaseBlogCmd::BuildCookie(const std::string& userId) {
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  char loginTime[32];
  std::snprintf(loginTime, sizeof(loginTime), "%04d%02d%02d%02d%02d%02d",
                static_cast<int>(now.wYear), static_cast<int>(now.wMonth),
                static_cast<int>(now.wDay), static_cast<int>(now.wHour),
                static_cast<int>(now.wMinute), static_cast<int>(now.wSecond));
  std::string message = userId + loginTime;
  uint8_t digest[Common::kMd5DigestSize];
  Common::HmacMd5(kCookieKey, std::strlen(kCookieKey), message.data(), message.size(), digest);
  static const char kHex[] = "0123456789abcdef";
  std::string key;
  key.reserve(2 * Common::kMd5DigestSize);
  for (uint8_t byte : digest) {
    key += kHex[byte >> 4];
    key += kHex[byte & 0x0F];
  }
  return "login_name=" + userId + "; login_time=" + loginTime + "; key=" + key;
}

std::string BaseBlogCmd::MakeOperationTitle(int operationIndex) {
  if (operationIndex < 0 || operationIndex >= kOperationTitleCount) return kWrongOperationTitle;
  return kOperationTitles[operationIndex];
}

namespace {

template <class Char>
bool UsableUserId(std::basic_string_view<Char> userId) {
  for (Char c : userId) {
    const auto code = static_cast<std::make_unsigned_t<Char>>(c);
    if (code < 0x20 || code == 0x7F || c == ' ' || c == ';' || c == '/') return false;
  }
  return true;
}

}  // namespace

bool BaseBlogCmd::IsUsableUserId(std::string_view userId) { return UsableUserId(userId); }

bool BaseBlogCmd::IsUsableUserId(std::wstring_view userId) { return UsableUserId(userId); }

std::string BaseBlogCmd::UrlEscape(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\0':
        return escaped;  // the text ends at its first NUL
      case '%':
        escaped += "%25";
        break;
      case '+':
        escaped += "%2B";
        break;
      case ' ':
        escaped += "%20";
        break;
      case '=':
        escaped += "%3D";
        break;
      case '&':
        escaped += "%26";
        break;
      case '?':
        escaped += "%3F";
        break;
      case '/':
        escaped += "%2F";
        break;
      case '\\':
        escaped += "%5C";
        break;
      case '\r':
        escaped += "%0D";
        break;
      case '\n':
        escaped += "%0A";
        break;
      default:
        escaped += c;
        break;
    }
  }
  return escaped;
}

std::string BaseBlogCmd::AnsiToUtf8(const std::string& text) {
  if (text.empty()) return std::string();
  if (text.size() > static_cast<size_t>(INT_MAX)) {
    AtlThrow(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER));
  }
  const UINT codePage = ZqGetConversionACP();
  const int length = static_cast<int>(text.size());
  int needed = MultiByteToWideChar(codePage, MB_PRECOMPOSED, text.data(), length, nullptr, 0);
  if (needed == 0) AtlThrowLastWin32();
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  if (MultiByteToWideChar(codePage, MB_PRECOMPOSED, text.data(), length, &wide[0], needed) ==
      0) {
    AtlThrowLastWin32();
  }
  return WideToMultiByte(CP_UTF8, wide.data(), wide.size());
}

std::wstring BaseBlogCmd::Utf8ToWide(const char* bytes, int length) {
  if (bytes == nullptr || length < 1) return std::wstring();
  return MultiByteToWide(CP_UTF8, bytes, static_cast<size_t>(length));
}

std::wstring BaseBlogCmd::BytesToHex(const BYTE* bytes, int length) {
  std::wstring hex;
  if (bytes == nullptr || length < 1) return hex;
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  hex.reserve(2 * static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    hex += kHex[bytes[i] >> 4];
    hex += kHex[bytes[i] & 0x0F];
  }
  return hex;
}

CComPtr<IPackageParser> BaseBlogCmd::CreateXmlReplyParser() {
  CComPtr<IPackageParser> parser;
  CComPtr<IZQCPPlatform> platform(ZQCP::GetHostPlatform());
  if (!platform) return parser;
  CComPtr<IUnknown> object;
  if (FAILED(platform->CreateObjectByName(L"IXMLPackageParser", 0, &object)) || !object) {
    return parser;
  }
  if (FAILED(object.QueryInterface(&parser))) parser.Release();
  return parser;
}

}  // namespace ZQBlog
}  // namespace Velmora
