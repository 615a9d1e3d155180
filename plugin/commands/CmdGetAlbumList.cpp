#include "commands/CmdGetAlbumList.h"

#include <cstdint>
#include <memory>
#include <set>
#include <utility>

#include "commands/XmlReply.h"
#include "data/AlbumListInfo.h"
#include "data/RecordText.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {
namespace {

// The selector of the album list in the blog cache (as opposed to an album id).
constexpr int kAlbumListCacheId = -1;

bool IsFreshStatus(int status) { return status >= 200 && status <= 299; }

std::wstring Utf8Text(const std::string& bytes) {
  return BaseBlogCmd::Utf8ToWide(bytes.data(), static_cast<int>(bytes.size()));
}

}  // namespace

CmdGetAlbumList::CmdGetAlbumList() : port_(kServerPort), cache_(new BlogCache()) {}

CmdGetAlbumList::~CmdGetAlbumList() = default;

void CmdGetAlbumList::UseCache(std::unique_ptr<BlogCache> cache) {
  CmdLock hold(*this);
  if (cache) cache_ = std::move(cache);
}

// ---------------------------------------------------------------- HTTP hooks

void CmdGetAlbumList::GetServer(const char** host, unsigned short* port) {
  host_.clear();
  path_.clear();
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) session->SplitAlbumListUrl(AnsiToWide(UserId()), &host_, &path_);
  *host = host_.c_str();
  *port = port_;
}

bool CmdGetAlbumList::GetConnectionParameter(ConnectionParameter* /*block*/) { return false; }

void CmdGetAlbumList::GetRequestLine(int* method, std::string* path) {
  *method = kMethodGet;
  *path = path_;
  SetIfModifiedSince(cache_.get(), kAlbumListCacheId);
}

bool CmdGetAlbumList::GetRequestBody(const BYTE** /*data*/, int* /*length*/) { return false; }

HRESULT CmdGetAlbumList::OnResponseHeaders(IHttpReplyHeaders* headers) {
  if (headers == nullptr) return S_OK;
  int status = 0;
  if (FAILED(headers->GetStatusCode(&status))) status = 0;
  if (status == 404) return S_OK;
  if (status == 304) {
    SetStatus(1);
    BlogSession_* session = BlogSession_::Instance();
    bool inMemory = false;
    if (session != nullptr) {
      Hold hold(session->AlbumListLock());
      inMemory = session->FindAlbumList(AnsiToWide(UserId())) != nullptr;
    }
    const int role = GetShareSessionRole();
    if (!inMemory || role == kRoleStandAlone) {
      ReplayCachedCopy();
    } else if (role == kRoleServe) {
      // Unchanged since this process fetched it, but a process that asks may not hold
      // it yet: every process is told the list as this one holds it.
      if (TakeHeldAlbums()) DispatchReply(true);
    }
    return S_OK;
  }
  // Only a successful reply replaces the cached list; an error reply's body is still
  // taken over if it parses, but never cached.
  if (!IsFreshStatus(status)) return S_OK;
  cacheUpdate_ = true;
  SaveLastModified(cache_.get(), headers);
  return S_OK;
}

void CmdGetAlbumList::ReplayCachedCopy() { ReplayCachedReply(cache_.get()); }

bool CmdGetAlbumList::TakeHeldAlbums() {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return false;
  Hold hold(session->AlbumListLock());
  AlbumListInfo* list = session->FindAlbumList(AnsiToWide(UserId()));
  if (list == nullptr) return false;
  replyIds_.clear();
  replyAlbums_.clear();
  int count = 0;
  list->GetAlbumCount(&count);
  for (int i = 0; i < count; ++i) {
    CComPtr<IZQAlbumInfo> album;
    if (FAILED(list->GetAlbum(i, &album)) || !album) return false;
    // The list holds AlbumInfo objects only.
    AlbumInfo* held = static_cast<AlbumInfo*>(album.p);
    int id = 0;
    held->GetId(&id);
    replyIds_.push_back(id);
    replyAlbums_.push_back(held);
  }
  return true;
}

CComPtr<IPackageParser> CmdGetAlbumList::CreateReplyParser() { return CreateXmlReplyParser(); }

HRESULT CmdGetAlbumList::OnReplyPackage(IPackage* package) {
  CComPtr<IXMLPackage> document = XmlDocumentOf(package);
  std::string text;
  if (!SerializeXmlReply(document, kReplyTextLimit, &text)) return E_FAIL;
  const CacheStep cacheStep = WhenToCache(cacheUpdate_);
  cacheUpdate_ = false;
  if (cacheStep == CacheStep::kBeforeApplying) CacheReplyText(cache_.get(), &text);
  const HRESULT applied = Reconcile(document);
  if (cacheStep == CacheStep::kAfterApplying) CacheReplyText(cache_.get(), &text);
  return applied;
}

void CmdGetAlbumList::OnTransportError(int code) {
  TellFailure(code, kOpAlbumList);
}

// ---------------------------------------------------------------- the reconcile

CmdGetAlbumList::AlbumEntry CmdGetAlbumList::ReadAlbumEntry(IXMLNode* category,
                                                            XmlValueReader* reader) {
  AlbumEntry entry;
  entry.id = ParseDecimal(reader->Value(category, "id"));
  entry.categoryType = ParseDecimal(reader->Value(category, "category_type"));
  entry.showStatus = ParseDecimal(reader->Value(category, "show_status")) != 0 ? 1 : 0;
  entry.lastTime = AnsiToWide(reader->Value(category, "last_time"));
  entry.categoryName = Utf8Text(reader->ElementText(category, "category_name"));
  entry.desc = Utf8Text(reader->ElementText(category, "desc"));
  entry.picUrl = AnsiToWide(reader->ElementText(category, "pic_url"));
  CComPtr<IXMLNode> tags = XmlNamedChild(category, "tags", 0);
  entry.tagNum = ParseDecimal(reader->Value(tags, "tag_num"));
  // Tags beyond the album's slots would be dropped by SetTag: they are not read.
  for (int j = 0; j < AlbumInfo::TagsInUse(entry.tagNum); ++j) {
    CComPtr<IXMLNode> tag = XmlNamedChild(tags, "tag", j);
    entry.tags[j] = Utf8Text(reader->Text(tag));
  }
  return entry;
}

HRESULT CmdGetAlbumList::Reconcile(IXMLPackage* document) {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr || document == nullptr) return E_FAIL;
  CComPtr<IXMLNode> root;
  if (FAILED(document->GetRoot(&root)) || !root) return E_FAIL;

  // The reply's albums in order, by id. An album the user's list holds takes none of
  // the reply's values, so only the others are read further.
  struct Category {
    int id;
    CComPtr<IXMLNode> node;
    size_t entry;  // its index in entries below, when read
  };
  std::vector<Category> categories;
  std::unique_ptr<XmlValueReader> reader(new XmlValueReader);
  const int count = XmlChildCount(root, "category");
  categories.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    CComPtr<IXMLNode> category = XmlNamedChild(root, "category", i);
    if (category) {
      categories.push_back(
          Category{ParseDecimal(reader->PeekValue(category, "id")), category, SIZE_MAX});
    }
  }
  const std::wstring uin = AnsiToWide(UserId());

  Hold hold(session->AlbumListLock());
  AlbumListInfo* list = session->FindAlbumList(uin);
  // The list's albums by id; the albums made below join in.
  std::unordered_map<int, AlbumInfo*> held;
  if (list != nullptr) held = list->AlbumsById(categories.size());
  // Every new album is read before the session changes, so a conversion failure
  // leaves the user's list as it was (or absent).
  std::vector<AlbumEntry> entries;
  for (Category& category : categories) {
    if (held.count(category.id) != 0) continue;
    category.entry = entries.size();
    entries.push_back(ReadAlbumEntry(category.node, reader.get()));
  }
  if (list == nullptr) list = session->GetOrCreateAlbumList(uin);
  if (list == nullptr) return E_FAIL;
  replyIds_.clear();
  replyAlbums_.clear();
  for (const Category& category : categories) {
    replyIds_.push_back(category.id);
    AlbumInfo*& album = held[category.id];
    if (album == nullptr) {
      const AlbumEntry& entry = entries[category.entry];
      album = list->NewAlbum();
      if (album == nullptr) return E_OUTOFMEMORY;
      album->SetId(entry.id);
      album->SetCategoryType(entry.categoryType);
      album->SetShowStatus(entry.showStatus);
      album->SetLastTime(entry.lastTime.c_str());
      album->SetCategoryName(entry.categoryName.c_str());
      album->SetDesc(entry.desc.c_str());
      album->SetPicUrl(entry.picUrl.c_str());
      album->SetTagNum(entry.tagNum);
      for (int j = 0; j < AlbumInfo::TagsInUse(entry.tagNum); ++j) {
        album->SetTag(j, entry.tags[j].c_str());
      }
    }
    replyAlbums_.push_back(album);
  }

  // Albums the reply does not name are gone from the server; their content-id pairs go
  // with them, so the index never names an album that is gone.
  session->RemoveAlbumsNotIn(list, std::unordered_set<int>(replyIds_.begin(), replyIds_.end()));

  SetStatus(1);
  DispatchReply(true);
  return S_OK;
}

// ---------------------------------------------------------------- share-session records

std::string CmdGetAlbumList::GetCommandName() { return "GetAlbumList"; }

int CmdGetAlbumList::GetRequestRecordSize() { return UserIdRecordSize(); }

bool CmdGetAlbumList::WriteRequestRecord(IShareSessionMessage* message) {
  return WriteUserIdRecord(message);
}

bool CmdGetAlbumList::ReadRequestRecord(IShareSessionMessage* message) {
  return ReadUserIdRecord(message);
}

int CmdGetAlbumList::GetResultRecordSize() { return kStatusRecordSize; }

bool CmdGetAlbumList::WriteResultRecord(BYTE* payload, int size) {
  return WriteStatusRecord(payload, size);
}

bool CmdGetAlbumList::ReadResultRecord(const BYTE* payload, int size) {
  return ReadStatusRecord(payload, size);
}

std::vector<BYTE> CmdGetAlbumList::BuildChangeRecord() {
  const std::string userId = UserId();
  std::vector<BYTE> payload;
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return payload;
  // The albums belong to the session's list: read them under its lock.
  Hold hold(session->AlbumListLock());
  size_t size = static_cast<size_t>(StringItemSize(userId)) + kIntItemSize;
  for (const CComPtr<AlbumInfo>& album : replyAlbums_) {
    size += static_cast<size_t>(album->RecordSize());
  }
  payload.resize(size);
  RecordWriter writer(payload.data(), payload.size());
  writer.WriteString(userId);
  writer.WriteInt(static_cast<int32_t>(replyAlbums_.size()));
  for (const CComPtr<AlbumInfo>& album : replyAlbums_) album->WriteRecord(writer);
  if (!writer.ok() || writer.written() != payload.size()) payload.clear();
  return payload;
}

int CmdGetAlbumList::GetChangeRecordSize() {
  return static_cast<int>(BuildChangeRecord().size());
}

void CmdGetAlbumList::PublishChange() {
  PublishBuiltChangeRecord(BuildChangeRecord());
}

void CmdGetAlbumList::NotifyChange() {
  PublishNoticeCode(kNoticeAlbumList);
}

// ---------------------------------------------------------------- the result

void CmdGetAlbumList::DeliverResult() {
  // The reply's status and its body may each come to deliver (a status answered at once,
  // then a body that still parses): a command files and announces one result at most.
  DeliverListResultOnce(kOpAlbumList, std::nullopt, &resultDelivered_);
}

}  // namespace ZQBlog
}  // namespace Velmora
