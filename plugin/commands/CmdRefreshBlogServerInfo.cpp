#include "commands/CmdRefreshBlogServerInfo.h"

#include <climits>
#include <cstdint>
#include <memory>
#include <utility>

#include "data/BlogPackage.h"
#include "data/BlogPackageParser.h"
#include "data/ResultOnAlbum.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

const char CmdRefreshBlogServerInfo::kServerHost[] = "blog.velmora.cn";
const char CmdRefreshBlogServerInfo::kDirectoryPath[] = "/touch3/";

namespace {

// Lines 1 to 6 of the directory, in order.
enum DirectoryLine : size_t {
  kLineStatus = 0,
  kLineCidDatNumber = 1,
  kLineCidDatUrl = 2,
  kLineAlbumListNumber = 3,
  kLineAlbumListUrl = 4,
  kLineResourceListNumber = 5,
  kLineResourceListUrl = 6,
  kLineFirstEndpoint = 7,
};

const wchar_t kNoBlog[] = L"404";

}  // namespace

CmdRefreshBlogServerInfo::CmdRefreshBlogServerInfo() : host_(kServerHost), port_(kServerPort) {}

CmdRefreshBlogServerInfo::~CmdRefreshBlogServerInfo() = default;

void CmdRefreshBlogServerInfo::SetContextValue(int value) {
  CmdLock hold(*this);
  contextValue_ = value;
}

int CmdRefreshBlogServerInfo::ContextValue() {
  CmdLock hold(*this);
  return contextValue_;
}

// ---------------------------------------------------------------- HTTP hooks

void CmdRefreshBlogServerInfo::GetServer(const char** host, unsigned short* port) {
  *host = host_.c_str();
  *port = port_;
}

bool CmdRefreshBlogServerInfo::GetConnectionParameter(ConnectionParameter* /*block*/) {
  return false;
}

void CmdRefreshBlogServerInfo::GetRequestLine(int* method, std::string* path) {
  *method = kMethodGet;
  *path = std::string(kDirectoryPath) + UserId();
}

bool CmdRefreshBlogServerInfo::GetRequestBody(const BYTE** /*data*/, int* /*length*/) {
  return false;
}

HRESULT CmdRefreshBlogServerInfo::OnResponseHeaders(IHttpReplyHeaders* /*headers*/) {
  return S_OK;
}

CComPtr<IPackageParser> CmdRefreshBlogServerInfo::CreateReplyParser() {
  CComPtr<IPackageParser> parser;
  CComObject<BlogPackageParser>* created = nullptr;
  if (SUCCEEDED(CComObject<BlogPackageParser>::CreateInstance(&created)) && created != nullptr) {
    parser = static_cast<IPackageParser*>(created);
  }
  return parser;
}

HRESULT CmdRefreshBlogServerInfo::OnReplyPackage(IPackage* package) {
  if (package == nullptr) return E_FAIL;
  // The package comes from this command's own BlogPackageParser.
  const BlogPackage* body = static_cast<const BlogPackage*>(package);
  const BYTE* data = nullptr;
  int length = 0;
  body->GetData(&data, &length);
  if (data == nullptr || length <= 0) {
    SetStatus(0);
    DeliverOrAnswer();
    return E_FAIL;
  }
  std::wstring text = AnsiToWide(
      std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)));
  return ApplyDirectory(text) ? S_OK : E_FAIL;
}

void CmdRefreshBlogServerInfo::OnTransportError(int code) {
  TellFailure(code, kOpServerDirectory);
}

// ---------------------------------------------------------------- the directory

std::vector<std::wstring> CmdRefreshBlogServerInfo::SplitDirectoryLines(
    const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t end = text.find(L'\r');
  lines.push_back(text.substr(0, end));
  while (end != std::wstring::npos) {
    const size_t begin = end + 1;
    end = text.find(L'\r', begin);
    // The first character of every later line is the LF of the CR LF pair.
    const size_t length = (end == std::wstring::npos ? text.size() : end) - begin;
    std::wstring line = length > 0 ? text.substr(begin + 1, length - 1) : std::wstring();
    // What follows the last CR is a line only when something follows its LF.
    if (end == std::wstring::npos && line.empty()) break;
    lines.push_back(std::move(line));
  }
  return lines;
}

int CmdRefreshBlogServerInfo::ParseDirectoryNumber(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool CmdRefreshBlogServerInfo::ApplyDirectory(const std::wstring& text) {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return false;
  Hold hold(session->ServerLock());
  const std::string userId = UserId();
  if (userId.empty()) return false;
  const std::wstring uin = AnsiToWide(userId);

  // An existing record is written in place; a new one is stored only once the parse
  // has succeeded.
  std::unique_ptr<ServerDirectoryRecord> fresh;
  ServerDirectoryRecord* record = session->FindServerEntry(uin);
  if (record == nullptr) {
    fresh.reset(new ServerDirectoryRecord());
    record = fresh.get();
  }

  const std::vector<std::wstring> lines = SplitDirectoryLines(text);
  if (lines[kLineStatus] == kNoBlog) {
    record->Opened = false;
    SetStatus(1);
    // A record this process keeps changed: every process is told, so all keep the
    // same; a user who had none still has none anywhere.
    if (fresh == nullptr) {
      DeliverOrAnswerChange();
    } else {
      DeliverOrAnswer();
    }
    return true;
  }
  auto has = [&lines](size_t line) { return line < lines.size(); };
  // A URL is kept only when every process of a share session can take it from the
  // broadcast of this record: a longer one than a record item holds fails the parse
  // before anything is written.
  for (size_t url : {kLineCidDatUrl, kLineAlbumListUrl, kLineResourceListUrl}) {
    if (has(url) && WideToAnsi(lines[url]).size() > static_cast<size_t>(kMaxStringItemLength)) {
      return false;
    }
  }
  record->Opened = true;
  if (has(kLineCidDatNumber)) {
    record->CidDatNumber = ParseDirectoryNumber(lines[kLineCidDatNumber]);
  }
  if (has(kLineCidDatUrl)) record->CidDatUrl = lines[kLineCidDatUrl];
  if (has(kLineAlbumListNumber)) {
    record->AlbumListNumber = ParseDirectoryNumber(lines[kLineAlbumListNumber]);
  }
  if (has(kLineAlbumListUrl)) record->AlbumListUrl = lines[kLineAlbumListUrl];
  if (has(kLineResourceListNumber)) {
    record->ResourceListNumber = ParseDirectoryNumber(lines[kLineResourceListNumber]);
  }
  if (has(kLineResourceListUrl)) record->ResourceListUrl = lines[kLineResourceListUrl];

  for (size_t name = kLineFirstEndpoint; name <= kLastDirectoryLine && has(name); name += 3) {
    const int index = EndpointIndexOf(lines[name]);
    if (index < 0) return false;                 // an operation nobody knows
    if (!has(name + 2)) return false;            // the triplet is cut short
    session->SetOperationEndpoint(index, lines[name + 1], lines[name + 2]);
  }

  if (fresh) session->StoreServerEntry(uin, std::move(fresh));
  SetStatus(1);
  DispatchReply(true);
  return true;
}

// ---------------------------------------------------------------- share-session records

std::string CmdRefreshBlogServerInfo::GetCommandName() { return "RefreshBlogServerInfo"; }

int CmdRefreshBlogServerInfo::GetRequestRecordSize() { return UserIdRecordSize(); }

bool CmdRefreshBlogServerInfo::WriteRequestRecord(IShareSessionMessage* message) {
  return WriteUserIdRecord(message);
}

bool CmdRefreshBlogServerInfo::ReadRequestRecord(IShareSessionMessage* message) {
  return ReadUserIdRecord(message);
}

int CmdRefreshBlogServerInfo::GetResultRecordSize() { return kStatusRecordSize; }

bool CmdRefreshBlogServerInfo::WriteResultRecord(BYTE* payload, int size) {
  return WriteStatusRecord(payload, size);
}

bool CmdRefreshBlogServerInfo::ReadResultRecord(const BYTE* payload, int size) {
  return ReadStatusRecord(payload, size);
}

std::vector<BYTE> CmdRefreshBlogServerInfo::BuildChangeRecord() {
  const std::string userId = UserId();
  ServerDirectoryRecord copy;
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) {
    Hold hold(session->ServerLock());
    const ServerDirectoryRecord* record = session->FindServerEntry(AnsiToWide(userId));
    if (record != nullptr) copy = *record;
  }
  const std::string cidDatUrl = WideToAnsi(copy.CidDatUrl);
  const std::string albumListUrl = WideToAnsi(copy.AlbumListUrl);
  const std::string resourceListUrl = WideToAnsi(copy.ResourceListUrl);
  const size_t size = static_cast<size_t>(StringItemSize(userId)) + kByteItemSize +
                      3 * kIntItemSize + StringItemSize(cidDatUrl) +
                      StringItemSize(albumListUrl) + StringItemSize(resourceListUrl);
  std::vector<BYTE> payload(size);
  RecordWriter writer(payload.data(), payload.size());
  writer.WriteString(userId);
  writer.WriteByte(copy.Opened ? 1 : 0);
  writer.WriteInt(copy.CidDatNumber);
  writer.WriteString(cidDatUrl);
  writer.WriteInt(copy.AlbumListNumber);
  writer.WriteString(albumListUrl);
  writer.WriteInt(copy.ResourceListNumber);
  writer.WriteString(resourceListUrl);
  return payload;
}

int CmdRefreshBlogServerInfo::GetChangeRecordSize() {
  return static_cast<int>(BuildChangeRecord().size());
}

void CmdRefreshBlogServerInfo::PublishChange() {
  PublishChangeRecord(BuildChangeRecord());
}

void CmdRefreshBlogServerInfo::NotifyChange() {
  PublishNoticeCode(kNoticeServerDirectory);
}

// ---------------------------------------------------------------- the result

void CmdRefreshBlogServerInfo::DeliverResult() {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return;
  CComPtr<IResultOnAlbum> result = NewAlbumResult(kOpServerDirectory, AnsiToWide(UserId()));
  if (!result) return;
  result->SetExtraValue(ContextValue());
  FileResult(session, result, kResultKindAlbum);
}

}  // namespace ZQBlog
}  // namespace Velmora
