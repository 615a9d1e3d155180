#include "commands/CmdModifyAlbum.h"

#include <new>

#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"

namespace Velmora {
namespace ZQBlog {
CmdModifyAlbum::CmdModifyAlbum()
    : BaseAlbumCmd(kEndpointModifyAlbum, kOpModifyAlbum, kNoticeModifyAlbum) {}

CmdModifyAlbum::~CmdModifyAlbum() = default;

HRESULT CmdModifyAlbum::SetAlbum(IZQAlbumInfo* album) { return SetCommandAlbum(album, true); }

// ---------------------------------------------------------------- request

void CmdModifyAlbum::BuildForm(Form* form) {
  AlbumInfo* album = OwnAlbum();
  AppendAlbumFields(album, "&category_id=" + std::to_string(AlbumId(album)), form);
  form->Append("&newly_added_res_num=" + std::to_string(NewlyAddedResNum(album)));
}

// ---------------------------------------------------------------- reply

HRESULT CmdModifyAlbum::OnReplyPackage(IPackage* package) {
  std::string answer;
  std::string message;
  if (!ReadReplyAnswer(package, &answer, &message)) return S_OK;
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return S_OK;
  AlbumInfo* album = OwnAlbum();
  Hold hold(session->AlbumListLock());
  if (answer == "1") {
    SetStatus(1);
    AlbumInfo* cached = session->FindAlbum(Uin(), AlbumId(album));
    if (cached == nullptr) {
      // The server changed an album this process does not hold: the session stays as
      // it is, the caller still hears that the change was made.
      DeliverOrAnswer();
      return S_OK;
    }
    cached->CopyFrom(*album);
    cached->SetNewlyAddedResNum(NewlyAddedResNum(album));
  } else if (message == kNoExistWord) {
    session->RemoveAlbumOfCurrentUser(AlbumId(album));
  }
  Dispatch();
  return S_OK;
}

void CmdModifyAlbum::DeliverResult() {
  CComPtr<AlbumInfo> album = Album();
  DeliverAlbumResult(AlbumId(album), AlbumName(album));
}

// ---------------------------------------------------------------- share-session records

std::string CmdModifyAlbum::GetCommandName() { return "ModifyAlbum"; }

int CmdModifyAlbum::GetRequestRecordSize() { return AlbumRequestRecordSize(true); }

bool CmdModifyAlbum::WriteRequestRecord(IShareSessionMessage* message) {
  return WriteAlbumRequestRecord(message, true);
}

bool CmdModifyAlbum::ReadRequestRecord(IShareSessionMessage* message) {
  return ReadAlbumRequestRecord(message, true);
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
  RecordReader reader(nullptr, 0);
  int32_t status = 0;
  std::string message;
  if (!ReadResultHead(payload, size, &reader, &status, &message)) return false;
  CmdLock hold(*this);
  SetStatus(status);
  SetMessage(message);
  return true;
}

int CmdModifyAlbum::GetChangeRecordSize() {
  return static_cast<int>(BuildAlbumChangeRecord(true).size());
}

void CmdModifyAlbum::PublishChange() { PublishPayload(BuildAlbumChangeRecord(true)); }

}  // namespace ZQBlog
}  // namespace Velmora
