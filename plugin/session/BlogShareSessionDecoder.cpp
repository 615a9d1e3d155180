#include "session/BlogShareSessionDecoder.h"

#include <memory>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "commands/ResourceTransfer.h"
#include "data/AlbumInfo.h"
#include "data/AlbumListInfo.h"
#include "data/RecordText.h"
#include "data/ResourceInfo.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IZQCPPlatform.h"
#include "module/HostPlatform.h"
#include "module/ZQBlogPlugin.h"
#include "platform/atl.h"
#include "util/CriticalSection.h"
#include "util/SingletonHolder.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {
namespace {

// Access to the broadcast being delivered on a channel, ended when it goes out of
// scope (after a conversion error too).
class MessageAccess {
 public:
  explicit MessageAccess(IShareSessionChannel* channel)
      : channel_(channel), begun_(SUCCEEDED(channel->BeginReadMessage())) {}
  ~MessageAccess() {
    if (begun_) channel_->EndReadMessage();
  }
  MessageAccess(const MessageAccess&) = delete;
  MessageAccess& operator=(const MessageAccess&) = delete;

  bool begun() const { return begun_; }

 private:
  IShareSessionChannel* channel_;
  bool begun_;
};

// The module channel of "ZQBlog" through the host platform; null when any step fails.
CComPtr<IShareSessionChannel> ModuleChannel() {
  CComPtr<IShareSessionChannel> channel;
  IZQCPPlatform* platform = ZQCP::GetHostPlatform();
  if (platform == nullptr) return channel;
  CComPtr<IShareSessionManager> manager;
  if (FAILED(platform->GetShareSessionManager(&manager)) || !manager) return channel;
  if (FAILED(manager->GetModuleChannel(kModuleName, 0, &channel))) channel.Release();
  return channel;
}

}  // namespace

BlogShareSessionDecoder_* BlogShareSessionDecoder_::Instance() {
  return TAVO::Pattern::SingletonHolder<BlogShareSessionDecoder_,
                                        TAVO::System::Thread::CriticalSection>::Instance();
}

BlogShareSessionDecoder_::BlogShareSessionDecoder_() : session_(BlogSession_::Instance()) {}

BlogShareSessionDecoder_::BlogShareSessionDecoder_(BlogSession_* session) : session_(session) {}

bool BlogShareSessionDecoder_::DecodeMessage(int noticeCode, int /*value1*/, int /*value2*/) {
  if (session_ == nullptr || session_->CurrentUin().empty()) return false;
  Hold hold(noticeCode == kNoticeServerDirectory ? session_->ServerLock()
                                                 : session_->AlbumListLock());
  CComPtr<IShareSessionChannel> channel = ModuleChannel();
  if (!channel) return false;
  MessageAccess access(channel);
  if (!access.begun()) return false;
  const BYTE* payload = nullptr;
  int length = 0;
  if (FAILED(channel->GetMessagePayload(&payload, &length)) || payload == nullptr ||
      length <= 0) {
    return false;
  }
  RecordReader reader(payload, static_cast<size_t>(length));
  return ApplyNotice(noticeCode, &reader);
}

namespace {

// int N; false when the item is refused, N is negative or the rest of the payload
// cannot hold N items of minItemSize bytes (so nothing is reserved for a count that lies).
bool ReadCount(RecordReader* reader, size_t minItemSize, int32_t* count) {
  return reader->ReadInt(count) && *count >= 0 &&
         static_cast<size_t>(*count) <= reader->remaining() / minItemSize;
}

// int N, then N items, each read by readItem(reader, Item*) and appended to items; false
// when the count is refused (see ReadCount) or an item is.
template <typename Item, typename ReadItem>
bool ReadItemList(RecordReader* reader, size_t minItemSize, ReadItem readItem,
                  std::vector<Item>* items) {
  int32_t count = 0;
  if (!ReadCount(reader, minItemSize, &count)) return false;
  items->reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    items->emplace_back();
    if (!readItem(reader, &items->back())) return false;
  }
  return true;
}


// Notice code 1, the content-id data: string uin, int N, then N pairs of string cid
// and int album id (the index also holds the content ids of fetched resource lists,
// which may be longer than a Cid.dat key). The broadcast carries the serving process's
// whole index after its merge, so it replaces this process's index: both then hold the
// same pairs however many broadcasts arrive (adding them would count every pair already
// held once more with each broadcast). A payload that ends early, lies about a length,
// exceeds a read limit or names an empty user id changes nothing and gives false.
bool ApplyCidData(BlogSession_* session, RecordReader* reader) {
  const int kText = BlogShareSessionDecoder_::kTextLimit;
  std::wstring uin;
  int32_t count = 0;
  // A pair takes at least 8 bytes.
  if (!ReadTextItem(reader, kText, &uin) || uin.empty() ||
      !ReadCount(reader, 2 * kIntItemSize, &count)) {
    return false;
  }
  // A content id of 40 hexadecimal digits is the same text in every code page: it goes
  // to the index as its bytes; only another key is made wide text.
  CidIndex::Batch pairs;
  pairs.Reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    std::string_view cid;
    int32_t albumId = 0;
    if (!reader->ReadStringView(&cid, kText) || !reader->ReadInt(&albumId)) return false;
    if (!pairs.AddHex(cid, albumId)) pairs.AddText(AnsiToWide(std::string(cid)), albumId);
  }
  session->ReplaceCidPairs(pairs);
  return true;
}

// An album record (notice codes 2, 4 and 5) as the payload carries it: texts are ANSI
// bytes, seen in the payload (valid while the message lives).
struct AlbumRecord {
  int32_t id = 0;
  std::string_view categoryName;
  int32_t showStatus = 0;
  int32_t categoryType = 0;
  std::string_view desc;
  std::string_view lastTime;
  std::string_view picUrl;
  int32_t tagNum = 0;
  std::string_view tags[AlbumInfo::kTagSlots];  // those in use
};

// ANSI texts of a payload made wide one after another in one buffer, so that setting
// an album's texts makes no text of its own on the way.
class WideTexts {
 public:
  // text as wide text, valid until the next call.
  const wchar_t* Of(std::string_view text) {
    wide_.clear();
    AppendMultiByteToWide(ZqGetConversionACP(), text.data(), text.size(), &wide_);
    return wide_.c_str();
  }

 private:
  std::wstring wide_;
};

// The smallest album record: four ints and four empty strings.
constexpr size_t kMinAlbumRecordSize = 4 * kIntItemSize + 4 * kIntItemSize;

bool ReadAlbumRecord(RecordReader* reader, AlbumRecord* album) {
  const int kText = BlogShareSessionDecoder_::kTextLimit;
  if (!reader->ReadInt(&album->id) || !reader->ReadStringView(&album->categoryName, kText) ||
      !reader->ReadInt(&album->showStatus) || !reader->ReadInt(&album->categoryType) ||
      !reader->ReadStringView(&album->desc, kText) ||
      !reader->ReadStringView(&album->lastTime, kText) ||
      !reader->ReadStringView(&album->picUrl, kText) || !reader->ReadInt(&album->tagNum)) {
    return false;
  }
  // The writer puts one tag per slot in use.
  for (int i = 0; i < AlbumInfo::TagsInUse(album->tagNum); ++i) {
    if (!reader->ReadStringView(&album->tags[i], kText)) return false;
  }
  return true;
}

// The description the serving process copied into its cached album (AlbumInfo's
// CopyFrom): id, name, show status, type, description, picture URL, tag count and the
// tags in use. The last time is not part of it: the serving process keeps the one it
// has, and so does this one.
void ApplyAlbumDescription(const AlbumRecord& record, AlbumInfo* album, WideTexts* wide) {
  album->SetId(record.id);
  album->SetCategoryName(wide->Of(record.categoryName));
  album->SetShowStatus(record.showStatus != 0 ? 1 : 0);
  album->SetCategoryType(record.categoryType);
  album->SetDesc(wide->Of(record.desc));
  album->SetPicUrl(wide->Of(record.picUrl));
  album->SetTagNum(record.tagNum);
  for (int i = 0; i < AlbumInfo::TagsInUse(record.tagNum); ++i) {
    album->SetTag(i, wide->Of(record.tags[i]));
  }
}

// Notice code 2 (see the header).
bool ApplyAlbumList(BlogSession_* session, RecordReader* reader)
    ZQ_REQUIRES(session->AlbumListLock()) {
  std::wstring uin;
  std::vector<AlbumRecord> records;
  if (!ReadTextItem(reader, BlogShareSessionDecoder_::kTextLimit, &uin) || uin.empty() ||
      !ReadItemList(reader, kMinAlbumRecordSize, ReadAlbumRecord, &records)) {
    return false;
  }

  AlbumListInfo* list = session->GetOrCreateAlbumList(uin);
  if (list == nullptr) return false;
  std::unordered_set<int> named;
  // The list's albums by id; the albums made below join in.
  std::unordered_map<int, AlbumInfo*> held = list->AlbumsById(records.size());
  WideTexts wide;
  for (const AlbumRecord& record : records) {
    named.insert(record.id);
    AlbumInfo*& album = held[record.id];
    if (album == nullptr) {
      album = list->NewAlbum();
      if (album == nullptr) return false;
    }
    // The whole record: the description, the last time, and no tags beyond those in use.
    ApplyAlbumDescription(record, album, &wide);
    album->SetLastTime(wide.Of(record.lastTime));
    for (int i = AlbumInfo::TagsInUse(record.tagNum); i < AlbumInfo::kTagSlots; ++i) {
      album->SetTag(i, L"");
    }
  }
  // The serving process removed the albums its reply no longer had, and their
  // content-id pairs.
  session->RemoveAlbumsNotIn(list, named);
  return true;
}

// A resource record as the payload carries it: texts are ANSI bytes, seen in the
// payload (valid while the message lives).
struct ResourceRecord {
  int32_t id = 0;
  std::string_view texts[static_cast<size_t>(ResourceInfo::TextField::kCount)];
  int32_t resType = 0;
  int32_t state = 0;
  int32_t categoryId = 0;

  std::string_view& text(ResourceInfo::TextField field) {
    return texts[static_cast<size_t>(field)];
  }
  std::string_view text(ResourceInfo::TextField field) const {
    return texts[static_cast<size_t>(field)];
  }
};

// The smallest resource record: four ints and eleven empty strings.
constexpr size_t kMinResourceRecordSize = 4 * kIntItemSize + 11 * kIntItemSize;

bool ReadResourceRecord(RecordReader* reader, ResourceRecord* resource) {
  const int kText = BlogShareSessionDecoder_::kTextLimit;
  using Field = ResourceInfo::TextField;
  if (!reader->ReadInt(&resource->id)) return false;
  // The texts up to the description, in record order, then three ints and the user.
  for (size_t i = 0; i <= static_cast<size_t>(Field::kDesc); ++i) {
    if (!reader->ReadStringView(&resource->texts[i], kText)) return false;
  }
  return reader->ReadInt(&resource->resType) && reader->ReadInt(&resource->state) &&
         reader->ReadInt(&resource->categoryId) &&
         reader->ReadStringView(&resource->text(Field::kUin), kText);
}

// The fields of record into resource, one of the plug-in's own: plain ASCII texts kept as
// they came; every text whole, zero bytes included, as the serving process keeps it.
void WriteResourceFields(const ResourceRecord& record, ResourceInfo* resource) {
  using Field = ResourceInfo::TextField;
  size_t bytes = 0;  // as many as the texts take when kept as they came (wide takes more)
  for (std::string_view text : record.texts) bytes += text.size();
  resource->ReserveText(bytes);
  for (size_t i = 0; i < static_cast<size_t>(Field::kCount); ++i) {
    resource->SetAnsiText(static_cast<Field>(i), record.texts[i]);
  }
  resource->SetResType(ResourceInfo::RecordResType(record.resType));
  resource->SetState(record.state);
  resource->SetCategoryId(record.categoryId);
}

// The same for any resource an album holds: another implementation takes wide texts
// through its interface.
void WriteResourceFields(const ResourceRecord& record, IZQResInfo* resource) {
  if (ResourceInfo* own = dynamic_cast<ResourceInfo*>(resource)) {
    WriteResourceFields(record, own);
    return;
  }
  using Field = ResourceInfo::TextField;
  auto wide = [&record](Field field) {
    const std::string_view text = record.text(field);
    return MultiByteToWide(ZqGetConversionACP(), text.data(), text.size());
  };
  resource->SetCid(wide(Field::kCid).c_str());
  resource->SetGcid(wide(Field::kGcid).c_str());
  resource->SetResName(wide(Field::kResName).c_str());
  resource->SetFormat(wide(Field::kFormat).c_str());
  resource->SetSize(wide(Field::kSize).c_str());
  resource->SetLastTime(wide(Field::kLastTime).c_str());
  resource->SetUrl(wide(Field::kUrl).c_str());
  resource->SetOriginal(wide(Field::kOriginal).c_str());
  resource->SetRefer(wide(Field::kRefer).c_str());
  resource->SetDesc(wide(Field::kDesc).c_str());
  resource->SetUin(wide(Field::kUin).c_str());
  resource->SetResType(ResourceInfo::RecordResType(record.resType));
  resource->SetState(record.state);
  resource->SetCategoryId(record.categoryId);
}

// The user whose albums keep their resources and leave the content-id index alone.
const wchar_t kKeepingUser[] = L"www";

// Notice code 3 (see the header).
bool ApplyResourceList(BlogSession_* session, RecordReader* reader)
    ZQ_REQUIRES(session->AlbumListLock()) {
  std::wstring uin;
  int32_t albumId = 0;
  std::vector<ResourceRecord> records;
  if (!ReadTextItem(reader, BlogShareSessionDecoder_::kTextLimit, &uin) ||
      !reader->ReadInt(&albumId) || uin.empty() ||
      !ReadItemList(reader, kMinResourceRecordSize, ReadResourceRecord, &records)) {
    return false;
  }

  AlbumInfo* album = session->FindAlbum(uin, albumId);
  if (album == nullptr) return false;
  const bool keeping = uin == kKeepingUser;
  if (!keeping) {
    session->RemoveCidEntriesOfAlbum(albumId, album);
    album->ClearResources();
  }
  // The album's resources by id; the resources made below join in.
  std::unordered_map<int, IZQResInfo*> held = album->ResourcesById(records.size());
  for (const ResourceRecord& record : records) {
    auto found = held.find(record.id);
    if (found != held.end()) {
      WriteResourceFields(record, found->second);
      continue;
    }
    ResourceInfo* created = album->NewResource();
    if (created == nullptr) return false;
    created->SetId(record.id);
    held.emplace(record.id, created);
    WriteResourceFields(record, created);
    if (!keeping) session->AddCidEntryOf(created, albumId);
  }
  album->SetResourcesLoaded(true);
  return true;
}

// Every write broadcast (codes 4 to 11) begins with the user id and the server's word
// (strings); only "success" carries a change.
const char kWriteSuccessWord[] = "success";

// The change of a write broadcast: applies the rest of a payload whose head said
// "success" for the user uin; false when it is refused.
using WriteChange = bool (*)(BlogSession_* session, RecordReader* reader,
                             const std::wstring& uin);

// A write broadcast: reads the head (string uin, string word), then hands the rest to
// change. False when either item of the head is refused or the user id is empty; true,
// nothing changed, when the word is not "success"; else what change gives.
bool ApplyWriteNotice(BlogSession_* session, RecordReader* reader, WriteChange change)
    ZQ_REQUIRES(session->AlbumListLock()) {
  const int kLimit = BlogShareSessionDecoder_::kTextLimit;
  std::wstring uin;
  std::string word;
  if (!ReadTextItem(reader, kLimit, &uin) || !reader->ReadString(&word, kLimit) ||
      uin.empty()) {
    return false;
  }
  if (word != kWriteSuccessWord) return true;
  return change(session, reader, uin);
}

// The refusals that end a batch broadcast (codes 8, 9 and 10): int M, then M times
// int id and string message; read past, not used. False when M is negative or more
// than the rest can hold, or an item is refused.
bool SkipRefusals(RecordReader* reader) {
  int32_t count = 0;
  if (!ReadCount(reader, 2 * kIntItemSize, &count)) return false;
  for (int32_t i = 0; i < count; ++i) {
    int32_t id = 0;
    std::string message;
    if (!reader->ReadInt(&id) ||
        !reader->ReadString(&message, BlogShareSessionDecoder_::kTextLimit)) {
      return false;
    }
  }
  return true;
}

// Notice code 7, resource modify, after the head: int source album, int target album,
// int resource id, string name, string description. The whole payload is read
// before anything changes. Applied as in the serving process: the resource must be in
// the source album, and for a move the target album must be here too (else false,
// nothing changed). Same album: name, description and album id set. Another album: the
// album id becomes the target, the content-id pair moves from the source to the target
// album, the resource is appended to the target and removed from the source, and its
// name and description are set.
bool ApplyModifyResource(BlogSession_* session, RecordReader* reader, const std::wstring& uin)
    ZQ_REQUIRES(session->AlbumListLock()) {
  const int kText = BlogShareSessionDecoder_::kTextLimit;
  int32_t sourceId = 0;
  int32_t targetId = 0;
  int32_t resourceId = 0;
  std::wstring name;
  std::wstring desc;
  if (!reader->ReadInt(&sourceId) || !reader->ReadInt(&targetId) ||
      !reader->ReadInt(&resourceId) || !ReadTextItem(reader, kText, &name) ||
      !ReadTextItem(reader, kText, &desc)) {
    return false;
  }
  AlbumInfo* source = session->FindAlbum(uin, sourceId);
  if (source == nullptr) return false;
  CComPtr<IZQResInfo> resource(source->FindResource(resourceId));
  if (!resource) return false;
  if (sourceId == targetId) {
    resource->SetResName(name.c_str());
    resource->SetDesc(desc.c_str());
    resource->SetCategoryId(sourceId);
    return true;
  }
  AlbumInfo* target = session->FindAlbum(uin, targetId);
  if (target == nullptr) return false;
  resource->SetCategoryId(targetId);
  session->RemoveCidEntry(resourceId, sourceId, source);
  target->InsertResource(-1, resource);
  source->RemoveResource(resourceId);
  resource->SetResName(name.c_str());
  resource->SetDesc(desc.c_str());
  session->AddCidEntry(resourceId, targetId, target);
  return true;
}

// Notice code 10, batch collect, after the head: int album id, int N, N resource
// records (read with kTextLimit, as in code 3), int M, then M refusals (int id, string
// message) that are read past. The whole payload is read before anything changes; the
// album must be here (else false, nothing changed). Applied as in the serving process:
// each resource's (cid, album id) pair goes into the content-id index, and the resource
// is appended to the album only when the album's resources are loaded (an album whose
// list was never fetched does not show a few collected resources as if they were all it
// holds).
bool ApplyBatchCollect(BlogSession_* session, RecordReader* reader, const std::wstring& uin)
    ZQ_REQUIRES(session->AlbumListLock()) {
  int32_t albumId = 0;
  std::vector<ResourceRecord> records;
  if (!reader->ReadInt(&albumId) ||
      !ReadItemList(reader, kMinResourceRecordSize, ReadResourceRecord, &records) ||
      !SkipRefusals(reader)) {
    return false;
  }

  AlbumInfo* album = session->FindAlbum(uin, albumId);
  if (album == nullptr) return false;
  for (const ResourceRecord& record : records) {
    CComObject<ResourceInfo>* created = nullptr;
    if (FAILED(CComObject<ResourceInfo>::CreateInstance(&created)) || created == nullptr) {
      return false;
    }
    CComPtr<ResourceInfo> resource(created);
    resource->SetId(record.id);
    WriteResourceFields(record, resource.p);
    session->AddCidEntryOf(resource, albumId);
    if (album->ResourcesLoaded()) album->InsertResource(-1, resource);
  }
  return true;
}

// Notice code 4, album modify (see the header).
bool ApplyAlbumModify(BlogSession_* session, RecordReader* reader, const std::wstring& uin)
    ZQ_REQUIRES(session->AlbumListLock()) {
  AlbumRecord record;
  int32_t newlyAdded = 0;
  if (!ReadAlbumRecord(reader, &record) || !reader->ReadInt(&newlyAdded)) return false;
  AlbumInfo* album = session->FindAlbum(uin, record.id);
  if (album == nullptr) return false;
  WideTexts wide;
  ApplyAlbumDescription(record, album, &wide);
  album->SetNewlyAddedResNum(newlyAdded);
  return true;
}

// Notice code 5, album create (see the header).
bool ApplyAlbumCreate(BlogSession_* session, RecordReader* reader, const std::wstring& uin)
    ZQ_REQUIRES(session->AlbumListLock()) {
  AlbumRecord record;
  if (!ReadAlbumRecord(reader, &record)) return false;
  AlbumListInfo* list = session->GetOrCreateAlbumList(uin);
  if (list == nullptr) return false;
  // An album list fetched after the server made the album may hold it already: it then
  // takes the description, as in the serving process, and the list keeps one album of
  // that id.
  AlbumInfo* album = list->FindAlbum(record.id);
  if (album == nullptr) album = list->NewAlbum();
  if (album == nullptr) return false;
  WideTexts wide;
  ApplyAlbumDescription(record, album, &wide);
  return true;
}

// Notice code 6, album removal (see the header).
bool ApplyAlbumRemove(BlogSession_* session, RecordReader* reader, const std::wstring& uin)
    ZQ_REQUIRES(session->AlbumListLock()) {
  int32_t albumId = 0;
  if (!reader->ReadInt(&albumId)) return false;
  AlbumListInfo* list = session->FindAlbumList(uin);
  if (list == nullptr) return false;
  // The album is gone from the server: the index no longer points at it, as in the
  // serving process.
  session->RemoveCidEntriesOfAlbum(albumId, list->FindAlbum(albumId));
  return list->RemoveAlbum(albumId);
}

// The copy, move and batch remove broadcasts (codes 8, 9 and 11). The whole payload is
// read before anything changes: one that ends early, lies about a count or a length, or
// names an empty user id changes nothing and gives false. The change is applied through
// the functions the serving process used on the reply (commands/ResourceTransfer.h),
// so both end with the same albums, resources and content-id index.

// A resource id of a move or batch remove.
bool ReadResourceId(RecordReader* reader, int* id) { return reader->ReadInt(id); }

// A pair of a copy: requested id, id of the copy.
bool ReadCopiedResource(RecordReader* reader, CopiedResource* copy) {
  return reader->ReadInt(&copy->requestedId) && reader->ReadInt(&copy->newId);
}

// A copy or move broadcast after its head, as read, with its two albums as found.
template <typename Item>
struct TransferNotice {
  int32_t sourceId = 0;
  int32_t targetId = 0;
  std::vector<Item> items;
  AlbumInfo* source = nullptr;
  AlbumInfo* target = nullptr;
};

// Reads the rest of a copy or move broadcast (int source album, int target album, int N,
// N items read by readItem, then the refusals) and finds both albums of the user; false
// when anything is refused or either album is not here.
template <typename Item, typename ReadItem>
bool ReadTransferNotice(BlogSession_* session, RecordReader* reader, const std::wstring& uin,
                        size_t minItemSize, ReadItem readItem, TransferNotice<Item>* notice)
    ZQ_REQUIRES(session->AlbumListLock()) {
  if (!reader->ReadInt(&notice->sourceId) || !reader->ReadInt(&notice->targetId) ||
      !ReadItemList(reader, minItemSize, readItem, &notice->items) || !SkipRefusals(reader)) {
    return false;
  }
  notice->source = session->FindAlbum(uin, notice->sourceId);
  notice->target = session->FindAlbum(uin, notice->targetId);
  return notice->source != nullptr && notice->target != nullptr;
}

// Notice code 8, copy, after the head: int source album, int target album, int N, N
// pairs (requested id, id of the copy) in the order the server answered them, then the
// refusals. Both albums must be here (else false, nothing changed). Each copy of a
// resource the source holds lands in the target as in the serving process (by URL or at
// the front, only when the target's list was fetched) and the index gains (cid, target)
// for it.
bool ApplyCopyResource(BlogSession_* session, RecordReader* reader, const std::wstring& uin)
    ZQ_REQUIRES(session->AlbumListLock()) {
  TransferNotice<CopiedResource> copy;
  if (!ReadTransferNotice(session, reader, uin, 2 * kIntItemSize, ReadCopiedResource, &copy)) {
    return false;
  }
  ApplyCopiedResources(session, copy.source, copy.target, copy.targetId, copy.items);
  return true;
}

// Notice code 9, move, after the head: int source album, int target album, int N, N
// resource ids, then the refusals. Both albums must be here (else false, nothing
// changed). Each resource the source holds moves as in the serving process; an id the
// source lacks is skipped.
bool ApplyMoveResource(BlogSession_* session, RecordReader* reader, const std::wstring& uin)
    ZQ_REQUIRES(session->AlbumListLock()) {
  TransferNotice<int> move;
  if (!ReadTransferNotice(session, reader, uin, kIntItemSize, ReadResourceId, &move)) {
    return false;
  }
  ApplyMovedResources(session, move.source, move.sourceId, move.target, move.targetId,
                      move.items);
  return true;
}

// Notice code 11, batch remove, after the head: int album id, int N, N resource ids.
// The album must be here (else false, nothing changed). As in the serving process the
// index loses (cid, album) for each id the album holds, and each of them leaves the
// album; ids it does not hold are passed over.
bool ApplyBatchRemove(BlogSession_* session, RecordReader* reader, const std::wstring& uin)
    ZQ_REQUIRES(session->AlbumListLock()) {
  int32_t albumId = 0;
  std::vector<int> ids;
  if (!reader->ReadInt(&albumId) || !ReadItemList(reader, kIntItemSize, ReadResourceId, &ids)) {
    return false;
  }
  AlbumInfo* album = session->FindAlbum(uin, albumId);
  if (album == nullptr) return false;
  ApplyRemovedResources(session, album, albumId, ids);
  return true;
}

}  // namespace

// Unchecked: the lock the caller holds depends on noticeCode (see DecodeMessage).
bool BlogShareSessionDecoder_::ApplyNotice(int noticeCode, RecordReader* reader)
    ZQ_NO_THREAD_SAFETY_ANALYSIS {
  switch (noticeCode) {
    case kNoticeServerDirectory:
      return ApplyServerDirectory(reader);
    case kNoticeCidData:
      return ApplyCidData(session_, reader);
    case kNoticeAlbumList:
      return ApplyAlbumList(session_, reader);
    case kNoticeResourceList:
      return ApplyResourceList(session_, reader);
    case kNoticeModifyAlbum:
      return ApplyWriteNotice(session_, reader, ApplyAlbumModify);
    case kNoticeCreateAlbum:
      return ApplyWriteNotice(session_, reader, ApplyAlbumCreate);
    case kNoticeRemoveAlbum:
      return ApplyWriteNotice(session_, reader, ApplyAlbumRemove);
    case kNoticeModifyResource:
      return ApplyWriteNotice(session_, reader, ApplyModifyResource);
    case kNoticeBatchCollect:
      return ApplyWriteNotice(session_, reader, ApplyBatchCollect);
    case kNoticeCopyResource:
      return ApplyWriteNotice(session_, reader, ApplyCopyResource);
    case kNoticeMoveResource:
      return ApplyWriteNotice(session_, reader, ApplyMoveResource);
    case kNoticeBatchRemove:
      return ApplyWriteNotice(session_, reader, ApplyBatchRemove);
    default:
      // Codes above 11 and negative codes have no handler.
      return false;
  }
}

bool BlogShareSessionDecoder_::ApplyServerDirectory(RecordReader* reader) {
  std::wstring uin;
  uint8_t opened = 0;
  int32_t cidDatNumber = 0;
  int32_t albumListNumber = 0;
  int32_t resourceListNumber = 0;
  std::unique_ptr<ServerDirectoryRecord> record(new ServerDirectoryRecord());
  // The record replaces what the user had only when it arrived whole.
  bool whole = ReadTextItem(reader, kTextLimit, &uin) && reader->ReadByte(&opened) &&
               reader->ReadInt(&cidDatNumber) &&
               ReadTextItem(reader, kTextLimit, &record->CidDatUrl) &&
               reader->ReadInt(&albumListNumber) &&
               ReadTextItem(reader, kTextLimit, &record->AlbumListUrl) &&
               reader->ReadInt(&resourceListNumber) &&
               ReadTextItem(reader, kTextLimit, &record->ResourceListUrl);
  if (!whole || uin.empty()) return false;
  record->Opened = opened != 0;
  record->CidDatNumber = cidDatNumber;
  record->AlbumListNumber = albumListNumber;
  record->ResourceListNumber = resourceListNumber;
  session_->StoreServerEntry(uin, std::move(record));
  return true;
}

}  // namespace ZQBlog
}  // namespace Velmora
