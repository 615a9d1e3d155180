#include "commands/CmdGetResourceList.h"

#include <string_view>
#include <unordered_map>
#include <utility>

#include "commands/XmlReply.h"
#include "data/AlbumInfo.h"
#include "data/ResourceInfo.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

const char CmdGetResourceList::kKeepingUser[] = "www";

namespace {

bool IsFreshStatus(int status) { return status >= 200 && status <= 299; }

// resource as a ResourceInfo to write its record: the object itself when it is one,
// else a copy made through its interface; null when no copy can be made.
CComPtr<ResourceInfo> RecordSource(IZQResInfo* resource) {
  CComPtr<ResourceInfo> source(dynamic_cast<ResourceInfo*>(resource));
  if (source || resource == nullptr) return source;
  CComObject<ResourceInfo>* copy = nullptr;
  if (SUCCEEDED(CComObject<ResourceInfo>::CreateInstance(&copy)) && copy != nullptr) {
    source = copy;
    source->CopyFrom(resource);
  }
  return source;
}

}  // namespace

CmdGetResourceList::CmdGetResourceList() : port_(kServerPort), cache_(new BlogCache()) {}

CmdGetResourceList::~CmdGetResourceList() = default;

void CmdGetResourceList::SetAlbumId(int albumId) {
  CmdLock hold(*this);
  albumId_ = albumId;
}

int CmdGetResourceList::AlbumId() {
  CmdLock hold(*this);
  return albumId_;
}

void CmdGetResourceList::UseCache(std::unique_ptr<BlogCache> cache) {
  CmdLock hold(*this);
  if (cache) cache_ = std::move(cache);
}

bool CmdGetResourceList::IsKeepingUser() { return UserId() == kKeepingUser; }

// ---------------------------------------------------------------- HTTP hooks

void CmdGetResourceList::GetServer(const char** host, unsigned short* port) {
  host_.clear();
  path_.clear();
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) {
    session->SplitResourceListUrl(AnsiToWide(UserId()), albumId_, &host_, &path_);
  }
  *host = host_.c_str();
  *port = port_;
}

bool CmdGetResourceList::GetConnectionParameter(ConnectionParameter* /*block*/) {
  return false;
}

void CmdGetResourceList::GetRequestLine(int* method, std::string* path) {
  *method = kMethodGet;
  *path = path_;
  SetIfModifiedSince(cache_.get(), albumId_);
}

bool CmdGetResourceList::GetRequestBody(const BYTE** /*data*/, int* /*length*/) {
  return false;
}

HRESULT CmdGetResourceList::OnResponseHeaders(IHttpReplyHeaders* headers) {
  if (headers == nullptr) return S_OK;
  int status = 0;
  if (FAILED(headers->GetStatusCode(&status))) status = 0;
  switch (status) {
    case 404:
      EmptyAlbum();
      return S_OK;
    case 500:
      SetStatus(0);
      DeliverOrAnswer();
      return S_OK;
    case 304: {
      SetStatus(1);
      BlogSession_* session = BlogSession_::Instance();
      if (session == nullptr) return S_OK;
      bool found = false;
      bool loaded = false;
      {
        Hold hold(session->AlbumListLock());
        AlbumInfo* album = session->FindAlbum(AnsiToWide(UserId()), albumId_);
        found = album != nullptr;
        loaded = found && album->ResourcesLoaded();
      }
      if (!found) return S_OK;
      const int role = loaded ? GetShareSessionRole() : kRoleStandAlone;
      if (!loaded) {
        ReplayCachedCopy();
      } else if (role == kRoleStandAlone) {
        if (!ReplayCachedCopy()) DeliverOrAnswer();
      } else if (role == kRoleServe) {
        // Unchanged since this process fetched them, but a process that asks may not
        // hold them yet: every process is told them as this one holds them.
        if (TakeHeldResources()) DispatchReply(true);
      }
      return S_OK;
    }
    default:
      break;
  }
  SetStatus(1);
  // Only a successful reply replaces the cached list; another status's body is still
  // applied if it parses, but never cached.
  if (!IsFreshStatus(status)) return S_OK;
  cacheUpdate_ = true;
  SaveLastModified(cache_.get(), headers);
  return S_OK;
}

void CmdGetResourceList::EmptyAlbum() {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return;
  // The album belongs to the session's lists: it is changed under their lock, and the
  // result is delivered inside it (ResultLock after AlbumListLock).
  Hold hold(session->AlbumListLock());
  AlbumInfo* album = session->FindAlbum(AnsiToWide(UserId()), albumId_);
  if (album != nullptr) {
    // The index must not keep naming this album for resources it no longer holds.
    if (!IsKeepingUser()) session->RemoveCidEntriesOfAlbum(albumId_, album);
    album->ClearResources();
    album->SetResourcesLoaded(true);
  }
  SetStatus(1);
  // An emptied album goes out as a list of no resources, which empties it everywhere.
  replyResources_.clear();
  if (album != nullptr) {
    DeliverOrAnswerChange();
  } else {
    DeliverOrAnswer();
  }
}

bool CmdGetResourceList::ReplayCachedCopy() { return ReplayCachedReply(cache_.get()); }

bool CmdGetResourceList::TakeHeldResources() {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return false;
  Hold hold(session->AlbumListLock());
  AlbumInfo* album = session->FindAlbum(AnsiToWide(UserId()), albumId_);
  if (album == nullptr) return false;
  int count = 0;
  if (FAILED(album->GetResourceCount(&count))) count = 0;
  replyResources_.clear();
  replyResources_.reserve(static_cast<size_t>(count));
  // A receiving decoder puts each new resource at the front of the album: the last
  // one first keeps the album's order there.
  for (int i = count - 1; i >= 0; --i) {
    CComPtr<IZQResInfo> resource;
    if (FAILED(album->GetResource(i, &resource)) || !resource) return false;
    replyResources_.push_back(resource);
  }
  // A receiving decoder rebuilds the album's content-id pairs from the broadcast, one
  // per resource; this process does the same, so the indexes stay equal.
  if (!IsKeepingUser()) {
    session->RemoveCidEntriesOfAlbum(albumId_, album);
    for (const CComPtr<IZQResInfo>& resource : replyResources_) {
      session->AddCidEntryOf(resource, albumId_);
    }
  }
  return true;
}

CComPtr<IPackageParser> CmdGetResourceList::CreateReplyParser() { return CreateXmlReplyParser(); }

HRESULT CmdGetResourceList::OnReplyPackage(IPackage* package) {
  CComPtr<IXMLPackage> document = XmlDocumentOf(package);
  std::string text;
  bool tooLarge = false;
  if (!SerializeXmlReply(document, kReplyTextLimit, &text, &tooLarge)) {
    // Nothing is applied: unless a result came with the headers, the host hears why.
    if (tooLarge && !resultDelivered_) {
      TellFailure(albumId_, kOpResourceList, kFailureReplyTooLarge);
    }
    return E_FAIL;
  }
  const CacheStep cacheStep = WhenToCache(cacheUpdate_);
  cacheUpdate_ = false;
  if (cacheStep == CacheStep::kBeforeApplying) CacheReplyText(cache_.get(), &text);
  // An album the session does not know takes nothing, but the reply itself was fine.
  Apply(document);
  if (cacheStep == CacheStep::kAfterApplying) CacheReplyText(cache_.get(), &text);
  return S_OK;
}

void CmdGetResourceList::OnTransportError(int /*code*/) {
  TellFailure(albumId_, kOpResourceList);
}

// ---------------------------------------------------------------- the apply

namespace {

// The values of a "resource", in the order they are read, and how: a named value of the
// node (ANSI) or the text of its first child element of that name (UTF-8).
enum ReplyValue {
  kValueId, kValueCid, kValueGcid, kValueResType, kValueSize, kValueFormat, kValueLastTime,
  kValueState, kValueResName, kValueUrl, kValueOriginal, kValueDesc, kValueCount
};

struct ReplyValueSpec {
  const char* name;
  bool elementText;
};

const ReplyValueSpec kReplyValues[kValueCount] = {
    {"id", false},       {"cid", false},      {"gcid", false},      {"res_type", false},
    {"size", false},     {"format", false},   {"last_time", false}, {"state", false},
    {"res_name", true},  {"url", true},       {"original", true},   {"desc", true},
};

}  // namespace

struct CmdGetResourceList::ReplyValues {
  std::string bytes;
  size_t end[kValueCount] = {};

  std::string_view Get(int value) const {
    const size_t start = value == 0 ? 0 : end[value - 1];
    return std::string_view(bytes).substr(start, end[value] - start);
  }
};

void CmdGetResourceList::ReadReplyValues(IXMLNode* node, XmlValueReader* reader,
                                         ReplyValues* values) {
  values->bytes.clear();
  for (int i = 0; i < kValueCount; ++i) {
    const ReplyValueSpec& spec = kReplyValues[i];
    values->bytes.append(spec.elementText ? reader->PeekElementText(node, spec.name)
                                          : reader->PeekValue(node, spec.name));
    values->end[i] = values->bytes.size();
  }
}

CComPtr<ResourceInfo> CmdGetResourceList::MakeResource(const ReplyValues& values, int albumId,
                                                       const std::string& uin) {
  CComObject<ResourceInfo>* created = nullptr;
  if (FAILED(CComObject<ResourceInfo>::CreateInstance(&created)) || created == nullptr) {
    return nullptr;
  }
  CComPtr<ResourceInfo> resource(created);
  typedef ResourceInfo::TextField Field;
  // The texts are kept as the reply's bytes, in the code page each comes in, and are
  // converted to wide text when read.
  resource->ReserveText(values.bytes.size() + uin.size());
  const UINT ansi = ZqGetConversionACP();
  const auto keep = [&](Field field, int value, UINT codePage) {
    resource->SetTextBytes(field, values.Get(value), codePage);
  };
  resource->SetId(ParseDecimal(values.Get(kValueId)));
  keep(Field::kCid, kValueCid, ansi);
  keep(Field::kGcid, kValueGcid, ansi);
  const int resType = ParseDecimal(values.Get(kValueResType));
  resource->SetResType((resType == 0 || resType == 1) ? resType : 2);
  keep(Field::kSize, kValueSize, ansi);
  keep(Field::kFormat, kValueFormat, ansi);
  keep(Field::kLastTime, kValueLastTime, ansi);
  resource->SetState(ParseDecimal(values.Get(kValueState)));
  keep(Field::kResName, kValueResName, CP_UTF8);
  keep(Field::kUrl, kValueUrl, CP_UTF8);
  keep(Field::kOriginal, kValueOriginal, CP_UTF8);
  keep(Field::kDesc, kValueDesc, CP_UTF8);
  resource->SetCategoryId(albumId);
  resource->SetTextBytes(Field::kUin, uin, ansi);
  return resource;
}

bool CmdGetResourceList::Apply(IXMLPackage* document) {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr || document == nullptr) return false;
  CComPtr<IXMLNode> root;
  if (FAILED(document->GetRoot(&root)) || !root) return false;
  const std::string userId = UserId();
  const std::wstring uin = AnsiToWide(userId);
  const bool keeping = IsKeepingUser();
  const int albumId = albumId_;

  // The reply is read whole, into resources of no album, before the session changes:
  // the lock is held only to link them in.
  std::vector<CComPtr<ResourceInfo>> made;
  const int count = XmlChildCount(root, "resource");
  made.reserve(static_cast<size_t>(count));
  ReplyValues values;
  std::unique_ptr<XmlValueReader> reader(new XmlValueReader);
  for (int i = 0; i < count; ++i) {
    CComPtr<IXMLNode> node = XmlNamedChild(root, "resource", i);
    if (!node) continue;
    ReadReplyValues(node, reader.get(), &values);
    CComPtr<ResourceInfo> resource = MakeResource(values, albumId, userId);
    if (!resource) return false;
    made.push_back(resource);
  }

  {
    Hold hold(session->AlbumListLock());
    AlbumInfo* album = session->FindAlbum(uin, albumId);
    if (album == nullptr) return false;
    if (!keeping) {
      session->RemoveCidEntriesOfAlbum(albumId, album);
      album->ClearResources();
    }
    replyResources_.clear();
    replyResources_.reserve(made.size());
    // The album's resources by id; the resources linked in below join in.
    std::unordered_map<int, IZQResInfo*> held = album->ResourcesById(made.size());
    for (const CComPtr<ResourceInfo>& resource : made) {
      int id = 0;
      resource->GetId(&id);
      auto found = held.find(id);
      if (found != held.end()) {
        replyResources_.push_back(CComPtr<IZQResInfo>(found->second));
        continue;
      }
      // New resources go to the front of the album.
      if (!album->InsertResource(0, resource)) return false;
      if (!keeping) session->AddCidEntry(id, albumId, album);
      held.emplace(id, resource);
      replyResources_.push_back(CComPtr<IZQResInfo>(resource));
    }
    // Marked while the lock is held: the album is the session's.
    album->SetResourcesLoaded(true);
  }

  SetStatus(1);
  DispatchReply(true);
  return true;
}

// ---------------------------------------------------------------- share-session records

std::string CmdGetResourceList::GetCommandName() { return "GetResourceList"; }

int CmdGetResourceList::GetRequestRecordSize() { return UserIdRecordSize() + kIntItemSize; }

bool CmdGetResourceList::WriteRequestRecord(IShareSessionMessage* message) {
  BYTE* payload = nullptr;
  int size = 0;
  if (!PayloadOf(message, &payload, &size)) return false;
  RecordWriter writer(payload, static_cast<size_t>(size));
  writer.WriteString(UserId());
  writer.WriteInt(AlbumId());
  return writer.ok();
}

bool CmdGetResourceList::ReadRequestRecord(IShareSessionMessage* message) {
  RecordReader reader(nullptr, 0);
  if (!PayloadReader(message, &reader)) return false;
  std::string userId;
  int32_t albumId = 0;
  if (!reader.ReadString(&userId, kRecordStringLimit) || !reader.ReadInt(&albumId)) {
    return false;
  }
  // The record is whole: the user id is taken as its bytes by the common reader.
  if (!ReadUserIdRecord(message)) return false;
  SetAlbumId(albumId);
  return true;
}

int CmdGetResourceList::GetResultRecordSize() { return kStatusRecordSize; }

bool CmdGetResourceList::WriteResultRecord(BYTE* payload, int size) {
  return WriteStatusRecord(payload, size);
}

bool CmdGetResourceList::ReadResultRecord(const BYTE* payload, int size) {
  return ReadStatusRecord(payload, size);
}

std::vector<BYTE> CmdGetResourceList::BuildChangeRecord() {
  const std::string userId = UserId();
  std::vector<BYTE> payload;
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return payload;
  // The resources belong to the session's album: read them under its lock. One pass,
  // each text converted once; a list's records run to a few hundred bytes each.
  Hold hold(session->AlbumListLock());
  payload.reserve(static_cast<size_t>(StringItemSize(userId)) + 2 * kIntItemSize +
                  replyResources_.size() * 512);
  AppendStringItem(&payload, userId);
  AppendIntItem(&payload, albumId_);
  AppendIntItem(&payload, static_cast<int32_t>(replyResources_.size()));
  for (const CComPtr<IZQResInfo>& resource : replyResources_) {
    CComPtr<ResourceInfo> source = RecordSource(resource);
    if (!source) return std::vector<BYTE>();
    source->AppendRecord(&payload);
  }
  return payload;
}

int CmdGetResourceList::GetChangeRecordSize() {
  return static_cast<int>(BuildChangeRecord().size());
}

void CmdGetResourceList::PublishChange() {
  PublishBuiltChangeRecord(BuildChangeRecord());
}

void CmdGetResourceList::NotifyChange() {
  PublishNoticeCode(kNoticeResourceList);
}

// ---------------------------------------------------------------- the result

void CmdGetResourceList::DeliverResult() {
  // The reply's status and its body may each come to deliver (a status answered at once,
  // then a body that still parses): a command files and announces one result at most.
  DeliverListResultOnce(kOpResourceList, AlbumId(), &resultDelivered_);
}

}  // namespace ZQBlog
}  // namespace Velmora
