#include "commands/CmdCreateAlbum.h"

#include <new>

#include "commands/XmlReply.h"
#include "data/AlbumListInfo.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"

namespace Velmora {
namespace ZQBlog {
CmdCreateAlbum::CmdCreateAlbum()
    : BaseAlbumCmd(kEndpointCreateAlbum, kOpCreateAlbum, kNoticeCreateAlbum) {}

CmdCreateAlbum::~CmdCreateAlbum() = default;

AlbumInfo* CmdCreateAlbum::OwnAlbum() {
  if (!album_) album_ = MakeAlbum();
  return album_;
}

HRESULT CmdCreateAlbum::SetAlbum(IZQAlbumInfo* album) {
  if (album == nullptr) return E_POINTER;
  CComPtr<AlbumInfo> copy;
  try {
    copy = MakeAlbum();
    CopyAlbumDescription(album, copy);
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;
  }
  CmdLock hold(*this);
  album_ = copy;
  return S_OK;
}

CComPtr<AlbumInfo> CmdCreateAlbum::Album() {
  CmdLock hold(*this);
  return CComPtr<AlbumInfo>(OwnAlbum());
}

int CmdCreateAlbum::CreatedCategoryId() {
  CmdLock hold(*this);
  return createdCategoryId_;
}

// ---------------------------------------------------------------- request

void CmdCreateAlbum::BuildForm(Form* form) { AppendAlbumFields(OwnAlbum(), "", form); }

// ---------------------------------------------------------------- reply

HRESULT CmdCreateAlbum::OnReplyPackage(IPackage* package) {
  std::string answer;
  if (!ReadReplyValue(package, "return", &answer) || (answer != "1" && answer != "0")) {
    // No outcome the command knows: a refusal with the text of an unknown word.
    SetMessage("");
    Dispatch();
    return S_OK;
  }
  std::string message;
  ReadReplyValue(package, "message", &message);
  SetMessage(message);
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return S_OK;
  Hold hold(session->AlbumListLock());
  if (answer == "1") {
    std::string categoryId;
    ReadReplyValue(package, "category_id", &categoryId);
    AlbumInfo* album = OwnAlbum();
    createdCategoryId_ = ParseDecimal(categoryId);
    album->SetId(createdCategoryId_);
    AlbumListInfo* list = session->GetOrCreateAlbumList(Uin());
    // An album list fetched after the server made the album holds it already: it takes
    // the description instead of a second album of the same id.
    AlbumInfo* added = list != nullptr ? list->FindAlbum(createdCategoryId_) : nullptr;
    if (added == nullptr && list != nullptr) added = list->NewAlbum();
    if (added != nullptr) added->CopyFrom(*album);
    SetStatus(1);
  }
  Dispatch();
  return S_OK;
}

void CmdCreateAlbum::DeliverResult() {
  DeliverAlbumResult(CreatedCategoryId(), AlbumName(Album()));
}

// ---------------------------------------------------------------- share-session records

std::string CmdCreateAlbum::GetCommandName() { return "CreateAlbum"; }

int CmdCreateAlbum::GetRequestRecordSize() {
  CmdLock hold(*this);
  return StringItemSize(UserId()) + OwnAlbum()->RecordSize();
}

bool CmdCreateAlbum::WriteRequestRecord(IShareSessionMessage* message) {
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
  return writer.ok();
}

bool CmdCreateAlbum::ReadRequestRecord(IShareSessionMessage* message) {
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(message, &payload, &size)) return false;
  RecordReader reader(payload, static_cast<size_t>(size));
  std::string userId;
  CComPtr<AlbumInfo> album = MakeAlbum();
  if (!reader.ReadString(&userId, kRecordStringLimit) || !album->ReadRecord(reader)) {
    return false;
  }
  // The record is whole: the user id is taken as its bytes by the common reader.
  if (!ReadUserIdRecord(message)) return false;
  CmdLock hold(*this);
  album_ = album;
  return true;
}

int CmdCreateAlbum::GetResultRecordSize() {
  return 2 * kIntItemSize + StringItemSize(FitRecordWord(Message()));
}

bool CmdCreateAlbum::WriteResultRecord(BYTE* payload, int size) {
  if (payload == nullptr || size < 0) return false;
  const std::string message = FitRecordWord(Message());
  RecordWriter writer(payload, static_cast<size_t>(size));
  writer.WriteInt(Status());
  writer.WriteInt(CreatedCategoryId());
  writer.WriteString(message);
  return writer.ok();
}

bool CmdCreateAlbum::ReadResultRecord(const BYTE* payload, int size) {
  if (payload == nullptr || size < 0) return false;
  RecordReader reader(payload, static_cast<size_t>(size));
  int32_t status = 0;
  int32_t categoryId = 0;
  std::string message;
  if (!reader.ReadInt(&status) || !reader.ReadInt(&categoryId) ||
      !reader.ReadString(&message, kRecordStringLimit)) {
    return false;
  }
  CmdLock hold(*this);
  SetStatus(status);
  createdCategoryId_ = categoryId;
  SetMessage(message);
  return true;
}

std::vector<BYTE> CmdCreateAlbum::BuildChangeRecord() {
  CmdLock hold(*this);
  const std::string userId = UserId();
  const std::string message = Message();
  const bool success = message == kSuccessWord;
  AlbumInfo* album = OwnAlbum();
  std::vector<BYTE> payload(static_cast<size_t>(StringItemSize(userId) + StringItemSize(message) +
                                                (success ? album->RecordSize() : 0)));
  RecordWriter writer(payload.data(), payload.size());
  writer.WriteString(userId);
  writer.WriteString(message);
  if (success) album->WriteRecord(writer);
  return payload;
}

int CmdCreateAlbum::GetChangeRecordSize() { return static_cast<int>(BuildChangeRecord().size()); }

void CmdCreateAlbum::PublishChange() { PublishPayload(BuildChangeRecord()); }

}  // namespace ZQBlog
}  // namespace Velmora
