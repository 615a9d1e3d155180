#include "commands/BaseAlbumCmd.h"

#include <cstring>
#include <new>

#include "data/BstrText.h"
#include "data/ResultOnAlbum.h"
#include "interfaces/IXMLPackage.h"
#include "session/BlogSession.h"
#include "util/CriticalSection.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

const char BaseAlbumCmd::kSuccessWord[] = "success";
const char BaseAlbumCmd::kNoExistWord[] = "no_exist";

namespace {

const char kContentType[] = "application/x-www-form-urlencoded";

// The ANSI byte length of a text read through a getter of IZQAlbumInfo.
template <class Getter>
size_t AnsiLengthOf(Getter get) {
  ScopedBstr text;
  if (FAILED(get(text.Receive()))) return 0;
  return WideToAnsi(text.ToWide()).size();
}

}  // namespace

// ---------------------------------------------------------------- Form

bool BaseAlbumCmd::Form::Append(const std::string& piece) {
  if (!ok_) return false;
  // The buffer keeps its last byte for the terminator.
  if (capacity_ == 0 || piece.size() > capacity_ - 1 - text_.size()) {
    ok_ = false;
    return false;
  }
  text_ += piece;
  return true;
}

// ---------------------------------------------------------------- construction

BaseAlbumCmd::BaseAlbumCmd(int endpointIndex, int operationIndex, int noticeCode)
    : endpointIndex_(endpointIndex), operationIndex_(operationIndex), noticeCode_(noticeCode) {}

BaseAlbumCmd::~BaseAlbumCmd() = default;

std::string BaseAlbumCmd::Message() {
  CmdLock hold(*this);
  return message_;
}

std::wstring BaseAlbumCmd::Uin() { return AnsiToWide(UserId()); }

// ---------------------------------------------------------------- texts and values

std::string BaseAlbumCmd::FormText(const std::wstring& text) {
  return AnsiToUtf8(UrlEscape(WideToAnsi(text)));
}

bool BaseAlbumCmd::ReadReplyValue(IPackage* package, const char* name, std::string* value) {
  value->clear();
  if (package == nullptr) return false;
  IXMLPackage* xml = nullptr;
  if (FAILED(package->QueryInterface(IidOf<IXMLPackage>(), reinterpret_cast<void**>(&xml))) ||
      xml == nullptr) {
    return false;
  }
  CComPtr<IXMLPackage> document;
  document.Attach(xml);
  char buffer[kReplyValueBufferSize];
  std::memset(buffer, 0, sizeof(buffer));
  // S_OK: present; S_FALSE: absent; a failure: nothing usable.
  if (document->GetValue(name, buffer, kReplyValueBufferSize) != S_OK) return false;
  buffer[kReplyValueBufferSize - 1] = '\0';
  value->assign(buffer, std::strlen(buffer));
  return true;
}

bool BaseAlbumCmd::FitsReadLimit(const std::string& text, int limit) {
  return limit >= kIntItemSize && text.size() <= static_cast<size_t>(limit - kIntItemSize);
}

bool BaseAlbumCmd::AlbumRecordFits(AlbumInfo* album) {
  if (album == nullptr) return false;
  const size_t most = static_cast<size_t>(AlbumInfo::kTextLimit - kIntItemSize);
  if (AnsiLengthOf([album](BSTR* out) { return album->GetCategoryName(out); }) > most ||
      AnsiLengthOf([album](BSTR* out) { return album->GetDesc(out); }) > most ||
      AnsiLengthOf([album](BSTR* out) { return album->GetLastTime(out); }) > most ||
      AnsiLengthOf([album](BSTR* out) { return album->GetPicUrl(out); }) > most) {
    return false;
  }
  int tagNum = 0;
  album->GetTagNum(&tagNum);
  for (int i = 0; i < AlbumInfo::TagsInUse(tagNum); ++i) {
    if (AnsiLengthOf([album, i](BSTR* out) { return album->GetTag(i, out); }) > most) {
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------- album description

CComPtr<AlbumInfo> BaseAlbumCmd::MakeAlbum() {
  CComObject<AlbumInfo>* created = nullptr;
  if (FAILED(CComObject<AlbumInfo>::CreateInstance(&created)) || created == nullptr) {
    throw std::bad_alloc();
  }
  return CComPtr<AlbumInfo>(created);
}

void BaseAlbumCmd::CopyAlbumDescription(IZQAlbumInfo* from, AlbumInfo* to) {
  to->CopyFrom(from);
  int showStatus = 0;
  to->GetShowStatus(&showStatus);
  to->SetShowStatus(showStatus == 1 ? 1 : 0);
  // Only the three tag slots are copied and sent; the cached album says so too.
  int tagNum = 0;
  to->GetTagNum(&tagNum);
  to->SetTagNum(AlbumInfo::TagsInUse(tagNum));
}

AlbumInfo* BaseAlbumCmd::OwnAlbum() {
  if (!album_) album_ = MakeAlbum();
  return album_;
}

CComPtr<AlbumInfo> BaseAlbumCmd::Album() {
  CmdLock hold(*this);
  return CComPtr<AlbumInfo>(OwnAlbum());
}

HRESULT BaseAlbumCmd::SetCommandAlbum(IZQAlbumInfo* album, bool withCount) {
  if (album == nullptr) return E_POINTER;
  CComPtr<AlbumInfo> copy;
  try {
    copy = MakeAlbum();
    CopyAlbumDescription(album, copy);
    int count = 0;
    if (withCount && SUCCEEDED(album->GetNewlyAddedResNum(&count))) {
      copy->SetNewlyAddedResNum(count);
    }
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;
  }
  CmdLock hold(*this);
  album_ = copy;
  return S_OK;
}

void BaseAlbumCmd::AppendAlbumFields(AlbumInfo* album, const std::string& idField,
                                     Form* form) {
  int categoryType = 0;
  int showStatus = 0;
  int tagNum = 0;
  album->GetCategoryType(&categoryType);
  album->GetShowStatus(&showStatus);
  album->GetTagNum(&tagNum);
  ScopedBstr desc;
  ScopedBstr picUrl;
  album->GetDesc(desc.Receive());
  album->GetPicUrl(picUrl.Receive());
  form->Append("encoder=utf-8&uin=" + AnsiToUtf8(UserId()) + idField +
               "&category_name=" + FormText(AlbumName(album)) +
               "&category_type=" + std::to_string(categoryType) +
               "&show_status=" + std::to_string(showStatus == 1 ? 1 : 0));
  for (int i = 0; i < AlbumInfo::TagsInUse(tagNum); ++i) {
    ScopedBstr tag;
    album->GetTag(i, tag.Receive());
    form->Append("&tag" + std::to_string(i) + "=" + FormText(tag.ToWide()));
  }
  form->Append("&category_desc=" + FormText(desc.ToWide()) +
               "&pic_url=" + FormText(picUrl.ToWide()));
}

std::wstring BaseAlbumCmd::AlbumName(AlbumInfo* album) {
  ScopedBstr name;
  if (album == nullptr || FAILED(album->GetCategoryName(name.Receive()))) return std::wstring();
  return name.ToWide();
}

int BaseAlbumCmd::AlbumId(AlbumInfo* album) {
  int id = 0;
  album->GetId(&id);
  return id;
}

int BaseAlbumCmd::NewlyAddedResNum(AlbumInfo* album) {
  int count = 0;
  album->GetNewlyAddedResNum(&count);
  return count;
}

// ---------------------------------------------------------------- album records

int BaseAlbumCmd::AlbumRequestRecordSize(bool withCount) {
  CmdLock hold(*this);
  return StringItemSize(UserId()) + OwnAlbum()->RecordSize() + (withCount ? kIntItemSize : 0);
}

bool BaseAlbumCmd::WriteAlbumRequestRecord(IShareSessionMessage* message, bool withCount) {
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(message, &payload, &size)) return false;
  CmdLock hold(*this);
  const std::string userId = UserId();
  AlbumInfo* album = OwnAlbum();
  // What the serving process could not read whole is not sent.
  if (!FitsReadLimit(userId, kRecordStringLimit) || !AlbumRecordFits(album)) return false;
  RecordWriter writer(payload, static_cast<size_t>(size));
  writer.WriteString(userId);
  album->WriteRecord(writer);
  if (withCount) writer.WriteInt(NewlyAddedResNum(album));
  return writer.ok();
}

bool BaseAlbumCmd::ReadAlbumRequestRecord(IShareSessionMessage* message, bool withCount) {
  RecordReader reader(nullptr, 0);
  if (!PayloadReader(message, &reader)) return false;
  std::string userId;
  int32_t count = 0;
  CComPtr<AlbumInfo> album = MakeAlbum();
  if (!reader.ReadString(&userId, kRecordStringLimit) || !album->ReadRecord(reader) ||
      (withCount && !reader.ReadInt(&count))) {
    return false;
  }
  if (withCount) album->SetNewlyAddedResNum(count);
  // The record is whole: the user id is taken as its bytes by the common reader.
  if (!ReadUserIdRecord(message)) return false;
  CmdLock hold(*this);
  album_ = album;
  return true;
}

std::vector<BYTE> BaseAlbumCmd::BuildAlbumChangeRecord(bool withCount) {
  CmdLock hold(*this);
  const std::string userId = UserId();
  const std::string message = Message();
  const bool success = message == kSuccessWord;
  AlbumInfo* album = OwnAlbum();
  std::vector<BYTE> payload(static_cast<size_t>(
      StringItemSize(userId) + StringItemSize(message) +
      (success ? album->RecordSize() + (withCount ? kIntItemSize : 0) : 0)));
  RecordWriter writer(payload.data(), payload.size());
  writer.WriteString(userId);
  writer.WriteString(message);
  if (success) {
    album->WriteRecord(writer);
    if (withCount) writer.WriteInt(NewlyAddedResNum(album));
  }
  return payload;
}

// ---------------------------------------------------------------- HTTP hooks

void BaseAlbumCmd::GetServer(const char** host, unsigned short* port) {
  std::string endpointHost;
  std::string endpointPath;
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) session->GetOperationEndpoint(endpointIndex_, &endpointHost, &endpointPath);
  host_.swap(endpointHost);
  path_.swap(endpointPath);
  *host = host_.c_str();
  *port = kServerPort;
}

bool BaseAlbumCmd::GetConnectionParameter(ConnectionParameter* /*block*/) { return false; }

void BaseAlbumCmd::GetRequestLine(int* method, std::string* path) {
  *method = kMethodPost;
  *path = path_;
  SetHeader("Cookie", BuildCookie(UserId()).c_str());
  SetHeader("Content-Type", kContentType);
}

bool BaseAlbumCmd::GetRequestBody(const BYTE** data, int* length) {
  Form form(FormBufferSize());
  BuildForm(&form);
  if (!form.ok()) {
    body_.clear();
    AbandonRequest(kFailureRequestTooLong, operationIndex_);
  }
  body_ = form.text();
  *data = reinterpret_cast<const BYTE*>(body_.data());
  *length = static_cast<int>(body_.size());
  return true;
}

HRESULT BaseAlbumCmd::OnResponseHeaders(IHttpReplyHeaders* /*headers*/) { return S_OK; }

CComPtr<IPackageParser> BaseAlbumCmd::CreateReplyParser() { return CreateXmlReplyParser(); }

void BaseAlbumCmd::OnTransportError(int code) {
  TellFailure(code, operationIndex_);
}

// ---------------------------------------------------------------- the end of a reply

void BaseAlbumCmd::NotifyChange() {
  PublishNoticeCode(noticeCode_);
}

void BaseAlbumCmd::Dispatch() { DispatchReply(Status() == 1); }

bool BaseAlbumCmd::ReadReplyAnswer(IPackage* package, std::string* answer,
                                   std::string* message) {
  if (!ReadReplyValue(package, "return", answer) || (*answer != "1" && *answer != "0")) {
    // No outcome the command knows: a refusal with the text of an unknown word.
    SetMessage("");
    Dispatch();
    return false;
  }
  ReadReplyValue(package, "message", message);
  SetMessage(*message);
  return true;
}

void BaseAlbumCmd::DeliverAlbumResult(int categoryId, const std::wstring& categoryName) {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return;
  CComPtr<IResultOnAlbum> result = NewAlbumResult(operationIndex_, Uin());
  if (!result) return;
  result->SetMessageText(AnsiToWide(TranslateServerMessage(Message(), operationIndex_)).c_str());
  result->SetCategoryId(categoryId);
  result->SetCategoryName(categoryName.c_str());
  FileResult(session, result, kResultKindAlbum);
}

void BaseAlbumCmd::PublishPayload(const std::vector<BYTE>& payload) {
  PublishChangeRecord(payload);
}

}  // namespace ZQBlog
}  // namespace Velmora
