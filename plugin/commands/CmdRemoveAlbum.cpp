#include "commands/CmdRemoveAlbum.h"

#include "data/AlbumListInfo.h"
#include "data/BstrText.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {
CmdRemoveAlbum::CmdRemoveAlbum()
    : BaseAlbumCmd(kEndpointRemoveAlbum, kOpRemoveAlbum, kNoticeRemoveAlbum) {}

CmdRemoveAlbum::~CmdRemoveAlbum() = default;

void CmdRemoveAlbum::SetCategoryId(int categoryId) {
  CmdLock hold(*this);
  categoryId_ = categoryId;
}

int CmdRemoveAlbum::CategoryId() {
  CmdLock hold(*this);
  return categoryId_;
}

std::wstring CmdRemoveAlbum::RemovedAlbumName() {
  CmdLock hold(*this);
  return albumName_;
}

// ---------------------------------------------------------------- request

void CmdRemoveAlbum::BuildForm(Form* form) {
  form->Append("uin=" + AnsiToUtf8(UserId()) + "&category_id=" + std::to_string(CategoryId()));
}

// ---------------------------------------------------------------- reply

HRESULT CmdRemoveAlbum::OnReplyPackage(IPackage* package) {
  const std::wstring uin = Uin();
  std::string message;
  ReadReplyValue(package, "message", &message);
  SetMessage(message);
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return S_OK;
  const int categoryId = CategoryId();
  Hold hold(session->AlbumListLock());
  AlbumListInfo* list = session->FindAlbumList(uin);
  if (message == kSuccessWord) SetStatus(1);
  if (list == nullptr) {
    // Albums never fetched: the session stays as it is, the caller still hears the
    // outcome.
    DeliverOrAnswer();
    return S_OK;
  }
  if (message == kSuccessWord) {
    // The index no longer points at the album, whether or not the list holds it; the
    // change is broadcast either way so every process keeps the same index.
    AlbumInfo* album = list->FindAlbum(categoryId);
    session->RemoveCidEntriesOfAlbum(categoryId, album);
    if (album != nullptr) albumName_ = AlbumName(album);
    list->RemoveAlbum(categoryId);
  } else if (message == kNoExistWord) {
    session->RemoveCidEntriesOfAlbum(categoryId, list->FindAlbum(categoryId));
    list->RemoveAlbum(categoryId);
  }
  Dispatch();
  return S_OK;
}

void CmdRemoveAlbum::DeliverResult() { DeliverAlbumResult(CategoryId(), RemovedAlbumName()); }

// ---------------------------------------------------------------- share-session records

std::string CmdRemoveAlbum::GetCommandName() { return "RemoveAlbum"; }

int CmdRemoveAlbum::GetRequestRecordSize() { return StringItemSize(UserId()) + kIntItemSize; }

bool CmdRemoveAlbum::WriteRequestRecord(IShareSessionMessage* message) {
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(message, &payload, &size)) return false;
  const std::string userId = UserId();
  // What the serving process could not read whole is not sent.
  if (!FitsReadLimit(userId, kRecordStringLimit)) return false;
  RecordWriter writer(payload, static_cast<size_t>(size));
  writer.WriteString(userId);
  writer.WriteInt(CategoryId());
  return writer.ok();
}

bool CmdRemoveAlbum::ReadRequestRecord(IShareSessionMessage* message) {
  RecordReader reader(nullptr, 0);
  if (!PayloadReader(message, &reader)) return false;
  std::string userId;
  int32_t categoryId = 0;
  if (!reader.ReadString(&userId, kRecordStringLimit) || !reader.ReadInt(&categoryId)) {
    return false;
  }
  // The record is whole: the user id is taken as its bytes by the common reader.
  if (!ReadUserIdRecord(message)) return false;
  SetCategoryId(categoryId);
  return true;
}

int CmdRemoveAlbum::GetResultRecordSize() {
  return kIntItemSize + StringItemSize(FitRecordWord(Message())) +
         StringItemSize(WideToAnsi(RemovedAlbumName()));
}

bool CmdRemoveAlbum::WriteResultRecord(BYTE* payload, int size) {
  if (payload == nullptr || size < 0) return false;
  const std::string message = FitRecordWord(Message());
  RecordWriter writer(payload, static_cast<size_t>(size));
  writer.WriteInt(Status());
  writer.WriteString(message);
  // Beyond the message: the removed album's name, which the forwarding process can no
  // longer look up (the album left its session with the broadcast before this answer).
  writer.WriteString(WideToAnsi(RemovedAlbumName()));
  return writer.ok();
}

bool CmdRemoveAlbum::ReadResultRecord(const BYTE* payload, int size) {
  RecordReader reader(nullptr, 0);
  int32_t status = 0;
  std::string message;
  std::string name;
  if (!ReadResultHead(payload, size, &reader, &status, &message)) return false;
  // A record that ends after the message carries no name.
  if (reader.remaining() > 0 && !reader.ReadString(&name, kResultTextLimit)) return false;
  std::wstring wideName = AnsiToWide(name);
  CmdLock hold(*this);
  SetStatus(status);
  SetMessage(message);
  albumName_.swap(wideName);
  return true;
}

std::vector<BYTE> CmdRemoveAlbum::BuildChangeRecord() {
  const std::string userId = UserId();
  const std::string message = Message();
  const bool success = message == kSuccessWord;
  std::vector<BYTE> payload(static_cast<size_t>(StringItemSize(userId) + StringItemSize(message) +
                                                (success ? kIntItemSize : 0)));
  RecordWriter writer(payload.data(), payload.size());
  writer.WriteString(userId);
  writer.WriteString(message);
  if (success) writer.WriteInt(CategoryId());
  return payload;
}

int CmdRemoveAlbum::GetChangeRecordSize() { return static_cast<int>(BuildChangeRecord().size()); }

void CmdRemoveAlbum::PublishChange() { PublishPayload(BuildChangeRecord()); }

}  // namespace ZQBlog
}  // namespace Velmora
