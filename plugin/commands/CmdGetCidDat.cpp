#include "commands/CmdGetCidDat.h"

#include <climits>
#include <cstdint>

#include "data/BlogPackage.h"
#include "data/BlogPackageParser.h"
#include "data/ResultOnAlbum.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

namespace {

const int kStatusNotFound = 404;

void AppendInt(std::vector<BYTE>* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<BYTE>(value >> (8 * i)));
}

void AppendString(std::vector<BYTE>* out, const std::string& text) {
  AppendInt(out, static_cast<uint32_t>(text.size()));
  out->insert(out->end(), text.begin(), text.end());
}

// key as ANSI text. Index keys are hexadecimal digits almost always: ASCII, which every
// ANSI code page keeps as it is, needs no conversion.
std::string NarrowKey(const std::wstring& key) {
  std::string narrow;
  narrow.reserve(key.size());
  for (wchar_t c : key) {
    if (c <= 0 || c >= 0x80) return WideToAnsi(key);
    narrow.push_back(static_cast<char>(c));
  }
  return narrow;
}

// Bytes of the ANSI form of key.
size_t NarrowKeyLength(const std::wstring& key) {
  for (wchar_t c : key) {
    if (c <= 0 || c >= 0x80) return WideToAnsi(key).size();
  }
  return key.size();
}

}  // namespace

CmdGetCidDat::CmdGetCidDat() = default;

CmdGetCidDat::~CmdGetCidDat() = default;

// ---------------------------------------------------------------- the table

size_t CmdGetCidDat::MergeCidTable(BlogSession_* session, const BYTE* table, size_t length) {
  if (session == nullptr || table == nullptr) return 0;
  const size_t records = length / kRecordSize;  // a trailing partial record is ignored
  static_assert(kRecordSize == CidIndex::kRawRecordSize && kAlbumIdOffset == kContentIdSize,
                "a Cid.dat record is what the index takes raw");
  Hold hold(session->CidLock());
  session->AddCidRecords(table, records);
  return records;
}

std::vector<BYTE> CmdGetCidDat::BuildChangeRecord(BlogSession_* session,
                                                  const std::string& userId) {
  std::vector<BYTE> payload;
  if (session != nullptr) {
    // Hexadecimal keys: 4 + 40 + 4 bytes a pair.
    payload.reserve(userId.size() + 8 + session->CidPairCount() * 48);
  }
  AppendString(&payload, userId);
  const size_t countOffset = payload.size();
  AppendInt(&payload, 0);  // the pair count, written once the pairs are in
  uint32_t count = 0;
  bool fits = true;
  if (session != nullptr) {
    // One pass under CidLock: the count and the pairs describe the same index.
    session->ForEachCidPair([&](const std::wstring& key, int albumId) {
      if (!fits) return;
      AppendString(&payload, NarrowKey(key));
      AppendInt(&payload, static_cast<uint32_t>(albumId));
      ++count;
      fits = payload.size() <= static_cast<size_t>(INT_MAX);
    });
  }
  if (!fits) return std::vector<BYTE>();
  for (int i = 0; i < 4; ++i) payload[countOffset + i] = static_cast<BYTE>(count >> (8 * i));
  return payload;
}

// ---------------------------------------------------------------- HTTP hooks

void CmdGetCidDat::GetServer(const char** host, unsigned short* port) {
  BlogSession_* session = BlogSession_::Instance();
  std::string splitHost;
  std::string splitPath;
  if (session == nullptr ||
      !session->SplitCidDatUrl(AnsiToWide(UserId()), &splitHost, &splitPath)) {
    // Nothing to connect to: the host hears of it as of a connection that failed.
    AbandonRequest(kFailureNoServer, kOpCidData);
  }
  host_.swap(splitHost);
  path_.swap(splitPath);
  *host = host_.c_str();
  *port = kServerPort;
}

bool CmdGetCidDat::GetConnectionParameter(ConnectionParameter* /*block*/) { return false; }

void CmdGetCidDat::GetRequestLine(int* method, std::string* path) {
  *method = kMethodGet;
  *path = path_;
}

bool CmdGetCidDat::GetRequestBody(const BYTE** /*data*/, int* /*length*/) { return false; }

HRESULT CmdGetCidDat::OnResponseHeaders(IHttpReplyHeaders* headers) {
  int status = 0;
  if (headers == nullptr || FAILED(headers->GetStatusCode(&status))) return S_OK;
  if (status == kStatusNotFound) {
    // The user has no content-id data: a successful, empty fetch.
    replyKind_ = kReplyNoTable;
    SetStatus(1);
    DeliverOrAnswer();
  } else if (status < 200 || status > 299) {
    // An error page is not a table: its bytes must not become index entries.
    replyKind_ = kReplyRefused;
  }
  return S_OK;
}

CComPtr<IPackageParser> CmdGetCidDat::CreateReplyParser() {
  CComPtr<IPackageParser> parser;
  CComObject<BlogPackageParser>* created = nullptr;
  if (SUCCEEDED(CComObject<BlogPackageParser>::CreateInstance(&created)) && created != nullptr) {
    parser = static_cast<IPackageParser*>(created);
  }
  return parser;
}

HRESULT CmdGetCidDat::ParseJoinedBody(IPackageParser* parser, std::vector<BYTE>* body) {
  // The parser is this command's own BlogPackageParser (CreateReplyParser).
  HRESULT hr = static_cast<BlogPackageParser*>(parser)->Adopt(std::move(*body));
  body->clear();
  return hr;
}

HRESULT CmdGetCidDat::OnReplyPackage(IPackage* package) {
  if (replyKind_ == kReplyNoTable) return S_OK;  // answered at the headers already
  if (replyKind_ == kReplyRefused || package == nullptr) return E_FAIL;
  // The package comes from this command's own BlogPackageParser.
  const BlogPackage* body = static_cast<const BlogPackage*>(package);
  const BYTE* data = nullptr;
  int length = 0;
  body->GetData(&data, &length);
  if (data == nullptr || length <= 0) return E_FAIL;
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return E_FAIL;
  MergeCidTable(session, data, static_cast<size_t>(length));
  SetStatus(1);
  DispatchReply(true);
  return S_OK;
}

void CmdGetCidDat::OnTransportError(int code) {
  TellFailure(code, kOpCidData);
}

// ---------------------------------------------------------------- share-session records

std::string CmdGetCidDat::GetCommandName() { return "GetCidDat"; }

int CmdGetCidDat::GetRequestRecordSize() { return UserIdRecordSize(); }

bool CmdGetCidDat::WriteRequestRecord(IShareSessionMessage* message) {
  return WriteUserIdRecord(message);
}

bool CmdGetCidDat::ReadRequestRecord(IShareSessionMessage* message) {
  return ReadUserIdRecord(message);
}

int CmdGetCidDat::GetResultRecordSize() { return kStatusRecordSize; }

bool CmdGetCidDat::WriteResultRecord(BYTE* payload, int size) {
  return WriteStatusRecord(payload, size);
}

bool CmdGetCidDat::ReadResultRecord(const BYTE* payload, int size) {
  return ReadStatusRecord(payload, size);
}

int CmdGetCidDat::GetChangeRecordSize() {
  size_t size = static_cast<size_t>(StringItemSize(UserId())) + kIntItemSize;
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) {
    session->ForEachCidPair([&size](const std::wstring& key, int /*albumId*/) {
      size += kIntItemSize + NarrowKeyLength(key) + kIntItemSize;
    });
  }
  return size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

void CmdGetCidDat::PublishChange() {
  std::vector<BYTE> payload = BuildChangeRecord(BlogSession_::Instance(), UserId());
  if (payload.empty()) return;  // too large for one payload
  PublishChangeRecord(payload);
}

void CmdGetCidDat::NotifyChange() {
  PublishNoticeCode(kNoticeCidData);
}

// ---------------------------------------------------------------- the result

void CmdGetCidDat::DeliverResult() {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return;
  CComPtr<IResultOnAlbum> result = NewAlbumResult(kOpCidData, AnsiToWide(UserId()));
  if (!result) return;
  FileResult(session, result, kResultKindAlbum);
}

}  // namespace ZQBlog
}  // namespace Velmora
