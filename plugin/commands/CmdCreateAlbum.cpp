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

HRESULT CmdCreateAlbum::SetAlbum(IZQAlbumInfo* album) { return SetCommandAlbum(album, false); }

int CmdCreateAlbum::CreatedCategoryId() {
  CmdLock hold(*this);
  return createdCategoryId_;
}

// ---------------------------------------------------------------- request

void CmdCreateAlbum::BuildForm(Form* form) { AppendAlbumFields(OwnAlbum(), "", form); }

// ---------------------------------------------------------------- reply

HRESULT CmdCreateAlbum::OnReplyPackage(IPackage* package) {
  std::string answer;
  std::string message;
  if (!ReadReplyAnswer(package, &answer, &message)) return S_OK;
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

int CmdCreateAlbum::GetRequestRecordSize() { return AlbumRequestRecordSize(false); }

bool CmdCreateAlbum::WriteRequestRecord(IShareSessionMessage* message) {
  return WriteAlbumRequestRecord(message, false);
}

bool CmdCreateAlbum::ReadRequestRecord(IShareSessionMessage* message) {
  return ReadAlbumRequestRecord(message, false);
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

int CmdCreateAlbum::GetChangeRecordSize() {
  return static_cast<int>(BuildAlbumChangeRecord(false).size());
}

void CmdCreateAlbum::PublishChange() { PublishPayload(BuildAlbumChangeRecord(false)); }

}  // namespace ZQBlog
}  // namespace Velmora
