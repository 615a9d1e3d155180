#include "commands/CmdModifyAlbum.h"

#include <new>

#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"

namespace Velmora {
namespace ZQBlog {
namespace {

int NewlyAddedResNumOf(AlbumInfo* album) {
  int count = 0;
  album->GetNewlyAddedResNum(&count);
  return count;
}

int IdOf(AlbumInfo* album) {
  int id = 0;
  album->GetId(&id);
  return id;
}

}  // namespace

CmdModifyAlbum::CmdModifyAlbum()
    : BaseAlbumCmd(kEndpointModifyAlbum, kOpModifyAlbum, kNoticeModifyAlbum) {}

CmdModifyAlbum::~CmdModifyAlbum() = default;

AlbumInfo* CmdModifyAlbum::OwnAlbum() {
  if (!album_) album_ = MakeAlbum();
  return album_;
}

HRESULT CmdModifyAlbum::SetAlbum(IZQAlbumInfo* album) {
  if (album == nullptr) return E_POINTER;
  CComPtr<AlbumInfo> copy;
  try {
    copy = MakeAlbum();
    CopyAlbumDescription(album, copy);
    int count = 0;
    if (SUCCEEDED(album->GetNewlyAddedResNum(&count))) copy->SetNewlyAddedResNum(count);
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;
  }
  CmdLock hold(*this);
  album_ = copy;
  return S_OK;
}

CComPtr<AlbumInfo> CmdModifyAlbum::Album() {
  CmdLock hold(*this);
  return CComPtr<AlbumInfo>(OwnAlbum());
}

// ---------------------------------------------------------------- request

void CmdModifyAlbum::BuildForm(Form* form) {
  AlbumInfo* album = OwnAlbum();
  AppendAlbumFields(album, "&category_id=" + std::to_string(IdOf(album)), form);
  form->Append("&newly_added_res_num=" + std::to_string(NewlyAddedResNumOf(album)));
}

// ---------------------------------------------------------------- reply

HRESULT CmdModifyAlbum::OnReplyPackage(IPackage* package) {
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
  AlbumInfo* album = OwnAlbum();
  Hold hold(session->AlbumListLock());
  if (answer == "1") {
    SetStatus(1);
    AlbumInfo* cached = session->FindAlbum(Uin(), IdOf(album));
    if (cached == nullptr) {
      // The server changed an album this process does not hold: the session stays as
      // it is, the caller still hears that the change was made.
      DeliverOrAnswer();
      return S_OK;
    }
    cached->CopyFrom(*album);
    cached->SetNewlyAddedResNum(NewlyAddedResNumOf(album));
  } else if (message == kNoExistWord) {
    session->RemoveAlbumOfCurrentUser(IdOf(album));
  }
  Dispatch();
  return S_OK;
}

void CmdModifyAlbum::DeliverResult() {
  CComPtr<AlbumInfo> album = Album();
  DeliverAlbumResult(IdOf(album), AlbumName(album));
}

// ---------------------------------------------------------------- share-session records

std::string CmdModifyAlbum::GetCommandName() { return "ModifyAlbum"; }

int CmdModifyAlbum::GetRequestRecordSize() {
  CmdLock hold(*this);
  return StringItemSize(UserId()) + OwnAlbum()->RecordSize() + kIntItemSize;
}

bool CmdModifyAlbum::WriteRequestRecord(IShareSessionMessage* message) {
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
  writer.WriteInt(NewlyAddedResNumOf(album));
  return writer.ok();
}

bool CmdModifyAlbum::ReadRequestRecord(IShareSessionMessage* message) {
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(message, &payload, &size)) return false;
  RecordReader reader(payload, static_cast<size_t>(size));
  std::string userId;
  int32_t count = 0;
  CComPtr<AlbumInfo> album = MakeAlbum();
  if (!reader.ReadString(&userId, kRecordStringLimit) || !album->ReadRecord(reader) ||
      !reader.ReadInt(&count)) {
    return false;
  }
  album->SetNewlyAddedResNum(count);
  // The record is whole: the user id is taken as its bytes by the common reader.
  if (!ReadUserIdRecord(message)) return false;
  CmdLock hold(*this);
  album_ = album;
  return true;
}

int CmdModifyAlbum::GetResultRecordSize() {
  return kIntItemSize + StringItemSize(FitRecordWord(Message()));
}

bool CmdModifyAlbum::WriteResultRecord(BYTE* payload, int size) {
  if (payload == nullptr || size < 0) return false;
  const std::string message = FitRecordWord(Message());
  RecordWriter writer(payload, static_cast<size_t>(size));
  writer.WriteInt(Status());
  writer.WriteString(message);
  return writer.ok();
}

bool CmdModifyAlbum::ReadResultRecord(const BYTE* payload, int size) {
  if (payload == nullptr || size < 0) return false;
  RecordReader reader(payload, static_cast<size_t>(size));
  int32_t status = 0;
  std::string message;
  if (!reader.ReadInt(&status) || !reader.ReadString(&message, kRecordStringLimit)) {
    return false;
  }
  CmdLock hold(*this);
  SetStatus(status);
  SetMessage(message);
  return true;
}

std::vector<BYTE> CmdModifyAlbum::BuildChangeRecord() {
  CmdLock hold(*this);
  const std::string userId = UserId();
  const std::string message = Message();
  const bool success = message == kSuccessWord;
  AlbumInfo* album = OwnAlbum();
  std::vector<BYTE> payload(static_cast<size_t>(
      StringItemSize(userId) + StringItemSize(message) +
      (success ? album->RecordSize() + kIntItemSize : 0)));
  RecordWriter writer(payload.data(), payload.size());
  writer.WriteString(userId);
  writer.WriteString(message);
  if (success) {
    album->WriteRecord(writer);
    writer.WriteInt(NewlyAddedResNumOf(album));
  }
  return payload;
}

int CmdModifyAlbum::GetChangeRecordSize() { return static_cast<int>(BuildChangeRecord().size()); }

void CmdModifyAlbum::PublishChange() { PublishPayload(BuildChangeRecord()); }

}  // namespace ZQBlog
}  // namespace Velmora
