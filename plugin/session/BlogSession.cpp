#include "session/BlogSession.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "data/BstrText.h"
#include "data/ResourceInfo.h"
#include "util/SingletonHolder.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

const char kServiceDomain[] = "velmora.cn";

const wchar_t* const kEndpointOperationNames[kEndpointCount] = {
    L"resource_batch_collect", L"resource_batch_remove", L"category_delete",
    L"category_create",        L"category_update",       L"resource_update",
    L"resource_batch_move",
};

int EndpointIndexOf(const std::wstring& operationName) {
  for (int i = 0; i < kEndpointCount; ++i) {
    if (operationName == kEndpointOperationNames[i]) return i;
  }
  return -1;
}

static_assert(sizeof(int) == sizeof(int32_t), "album ids are 32-bit ints");

namespace {

// The cid of resource, or false when it cannot be read.
bool CidOf(IZQResInfo* resource, std::wstring* cid) {
  ScopedBstr text;
  if (FAILED(resource->GetCid(text.Receive()))) return false;
  *cid = text.ToWide();
  return true;
}

// The content id of resource as *cid: a view of wide (ASCII bytes widened there) or of
// *scratch. False when it cannot be read (as with a failing GetCid).
bool CidKeyOf(IZQResInfo* resource, wchar_t (&wide)[64], std::wstring* scratch,
              std::wstring_view* cid) {
  if (resource == nullptr) return false;
  // The plug-in's own resources give their content id without a BSTR copy.
  if (const ResourceInfo* own = dynamic_cast<const ResourceInfo*>(resource)) {
    // A content id kept as the reply's ASCII bytes is widened on the stack.
    std::string_view bytes;
    UINT codePage = 0;
    if (own->TextBytes(ResourceInfo::TextField::kCid, &bytes, &codePage) &&
        bytes.size() <= sizeof(wide) / sizeof(wide[0]) &&
        ConvertsByteForByte(codePage, bytes.data(), bytes.size())) {
      for (size_t i = 0; i < bytes.size(); ++i) wide[i] = static_cast<wchar_t>(bytes[i]);
      *cid = std::wstring_view(wide, bytes.size());
      return true;
    }
    try {
      *scratch = own->Text(ResourceInfo::TextField::kCid);
    } catch (const ConversionError&) {
      return false;
    }
  } else if (!CidOf(resource, scratch)) {
    return false;
  }
  *cid = *scratch;
  return true;
}

// Splits an ANSI URL of the service into host and path (see SplitCidDatUrl).
bool SplitServiceUrl(const std::string& url, std::string* host, std::string* path) {
  size_t domain = url.find(kServiceDomain);
  if (domain == std::string::npos) return false;
  size_t end = domain + std::strlen(kServiceDomain);
  // The host begins after the scheme: "http://" in every URL the directory gives.
  size_t scheme = url.find("://");
  size_t begin = scheme != std::string::npos && scheme < domain ? scheme + 3 : 0;
  std::string hostText = url.substr(begin, end - begin);
  // The domain must be part of the host, not of a path or a query after it.
  if (hostText.find_first_of("/?#") != std::string::npos) return false;
  *host = hostText;
  *path = url.substr(end);
  return true;
}

// Writes albumId in decimal in place of the first "<" ... ">" of path.
bool FillPlaceholder(std::string* path, int albumId) {
  size_t open = path->find('<');
  if (open == std::string::npos) return false;
  size_t close = path->find('>', open + 1);
  if (close == std::string::npos) return false;
  path->replace(open, close - open + 1, std::to_string(albumId));
  return true;
}

// Calls notify(sink) for every sink of the list, in list order, skipping sinks that an
// earlier call removed. The list may change during the calls: a copy (with references,
// so a sink that removes itself lives through its own call) is walked.
template <class Sink, class Notify>
void NotifyEach(const std::vector<CComPtr<Sink>>& live, Notify notify) {
  std::vector<CComPtr<Sink>> snapshot(live);
  for (const CComPtr<Sink>& sink : snapshot) {
    if (std::find(live.begin(), live.end(), sink) == live.end()) continue;
    notify(sink.p);
  }
}

template <class Sink>
bool AddSink(std::vector<CComPtr<Sink>>* sinks, Sink* sink) {
  if (sink == nullptr) return false;
  if (std::find(sinks->begin(), sinks->end(), sink) != sinks->end()) return false;
  sinks->push_back(CComPtr<Sink>(sink));
  return true;
}

template <class Sink>
bool RemoveSink(std::vector<CComPtr<Sink>>* sinks, Sink* sink) {
  if (sink == nullptr) return false;
  auto found = std::find(sinks->begin(), sinks->end(), sink);
  if (found == sinks->end()) return false;
  // Out of the list first, released after: a sink's Release may reach the session.
  CComPtr<Sink> removed(std::move(*found));
  sinks->erase(found);
  return true;
}

}  // namespace

BlogSession_* BlogSession_::Instance() {
  return TAVO::Pattern::SingletonHolder<BlogSession_,
                                        TAVO::System::Thread::CriticalSection>::Instance();
}

BlogSession_::BlogSession_()
    : uinLock_("BlogSession.UinLock"),
      albumListLock_("BlogSession.AlbumListLock"),
      serverLock_("BlogSession.ServerLock"),
      resultSinkLock_("BlogSession.ResultSinkLock"),
      failureSinkLock_("BlogSession.FailureSinkLock"),
      resultLock_("BlogSession.ResultLock"),
      cidLock_("BlogSession.CidLock") {}

BlogSession_::~BlogSession_() = default;

// ---------------------------------------------------------------- identity

void BlogSession_::SetCurrentUin(const std::wstring& uin) {
  std::wstring copy(uin);
  Hold hold(uinLock_);
  currentUin_.swap(copy);
}

std::wstring BlogSession_::CurrentUin() const {
  Hold hold(uinLock_);
  return currentUin_;
}

// ---------------------------------------------------------------- album lists

AlbumListInfo* BlogSession_::FindAlbumList(const std::wstring& uin) const {
  auto found = albumListsByUin_.find(uin);
  return found == albumListsByUin_.end() ? nullptr : found->second.p;
}

AlbumListInfo* BlogSession_::GetOrCreateAlbumList(const std::wstring& uin) {
  AlbumListInfo* list = FindAlbumList(uin);
  if (list != nullptr) return list;
  CComObject<AlbumListInfo>* created = nullptr;
  if (FAILED(CComObject<AlbumListInfo>::CreateInstance(&created)) || created == nullptr) {
    return nullptr;
  }
  CComPtr<AlbumListInfo> held(created);
  albumListsByUin_[uin] = held;
  return created;
}

AlbumInfo* BlogSession_::FindAlbum(const std::wstring& uin, int albumId) const {
  AlbumListInfo* list = FindAlbumList(uin);
  return list == nullptr ? nullptr : list->FindAlbum(albumId);
}

IZQResInfo* BlogSession_::FindResourceInAlbum(const std::wstring& uin, int albumId,
                                              int resourceId) const {
  AlbumInfo* album = FindAlbum(uin, albumId);
  return album == nullptr ? nullptr : album->FindResource(resourceId);
}

// ---------------------------------------------------------------- server directory

ServerDirectoryRecord* BlogSession_::FindServerEntry(const std::wstring& uin) const {
  auto found = serverEntriesByUin_.find(uin);
  return found == serverEntriesByUin_.end() ? nullptr : found->second.get();
}

void BlogSession_::StoreServerEntry(const std::wstring& uin,
                                    std::unique_ptr<ServerDirectoryRecord> record) {
  auto found = serverEntriesByUin_.find(uin);
  if (!record) {
    if (found != serverEntriesByUin_.end()) serverEntriesByUin_.erase(found);
    return;
  }
  if (found == serverEntriesByUin_.end()) {
    serverEntriesByUin_.emplace(uin, std::move(record));
  } else if (found->second.get() == record.get()) {
    record.release();  // already filed: the map owns it
  } else {
    found->second = std::move(record);
  }
}

bool BlogSession_::SetOperationEndpoint(int index, const std::wstring& host,
                                        const std::wstring& path) {
  if (index < 0 || index >= kEndpointCount) return false;
  operationEndpoints_[index].Host = host;
  operationEndpoints_[index].Path = path;
  return true;
}

bool BlogSession_::GetOperationEndpoint(int index, std::string* host, std::string* path) const {
  if (index < 0 || index >= kEndpointCount) return false;
  std::string hostText;
  std::string pathText;
  {
    Hold hold(serverLock_);
    hostText = WideToAnsi(operationEndpoints_[index].Host);
    pathText = WideToAnsi(operationEndpoints_[index].Path);
  }
  *host = hostText;
  *path = pathText;
  return true;
}

bool BlogSession_::SplitUrlOf(const std::wstring& uin,
                              std::wstring ServerDirectoryRecord::*field, std::string* host,
                              std::string* path) const {
  std::string url;
  {
    Hold hold(serverLock_);
    const ServerDirectoryRecord* record = FindServerEntry(uin);
    if (record == nullptr) return false;
    url = WideToAnsi(record->*field);
  }
  return SplitServiceUrl(url, host, path);
}

bool BlogSession_::SplitCidDatUrl(const std::wstring& uin, std::string* host,
                                  std::string* path) const {
  return SplitUrlOf(uin, &ServerDirectoryRecord::CidDatUrl, host, path);
}

bool BlogSession_::SplitAlbumListUrl(const std::wstring& uin, std::string* host,
                                     std::string* path) const {
  return SplitUrlOf(uin, &ServerDirectoryRecord::AlbumListUrl, host, path);
}

bool BlogSession_::SplitResourceListUrl(const std::wstring& uin, int albumId, std::string* host,
                                        std::string* path) const {
  std::string hostText;
  std::string pathText;
  if (!SplitUrlOf(uin, &ServerDirectoryRecord::ResourceListUrl, &hostText, &pathText)) {
    return false;
  }
  if (!FillPlaceholder(&pathText, albumId)) return false;
  *host = hostText;
  *path = pathText;
  return true;
}

// ---------------------------------------------------------------- content-id index

void BlogSession_::AddCidEntries(const std::vector<int>& resourceIds, int albumId,
                                 const AlbumInfo* album) {
  if (album == nullptr) return;
  Hold hold(cidLock_);
  std::wstring cid;
  for (int id : resourceIds) AddCidOf(album->FindResource(id), albumId, &cid);
}

void BlogSession_::AddCidEntry(int resourceId, int albumId, const AlbumInfo* album) {
  if (album == nullptr) return;
  Hold hold(cidLock_);
  std::wstring cid;
  AddCidOf(album->FindResource(resourceId), albumId, &cid);
}

void BlogSession_::AddCidEntryOf(IZQResInfo* resource, int albumId) {
  Hold hold(cidLock_);
  std::wstring cid;
  AddCidOf(resource, albumId, &cid);
}

void BlogSession_::AddCidOf(IZQResInfo* resource, int albumId, std::wstring* scratch) {
  wchar_t wide[64];
  std::wstring_view cid;
  if (CidKeyOf(resource, wide, scratch, &cid)) albumsByCid_.Add(cid, albumId);
}

void BlogSession_::RemoveCidEntries(const std::vector<int>& resourceIds, int albumId,
                                    const AlbumInfo* album) {
  if (album == nullptr) return;
  Hold hold(cidLock_);
  std::wstring cid;
  for (int id : resourceIds) {
    IZQResInfo* resource = album->FindResource(id);
    if (resource != nullptr && CidOf(resource, &cid)) albumsByCid_.RemoveFirst(cid, albumId);
  }
}

void BlogSession_::RemoveCidEntry(int resourceId, int albumId, const AlbumInfo* album) {
  RemoveCidEntries(std::vector<int>(1, resourceId), albumId, album);
}

void BlogSession_::RemoveCidEntriesOfAlbum(int albumId, const AlbumInfo* album) {
  Hold hold(cidLock_);
  RemoveCidEntriesOfResources(albumId, album);
  albumsByCid_.RemoveAlbum(albumId);
}

void BlogSession_::RemoveCidEntriesOfResources(int albumId, const AlbumInfo* album) {
  if (album == nullptr) return;
  std::wstring scratch;
  wchar_t wide[64];
  std::wstring_view cid;
  for (const CComPtr<IZQResInfo>& resource : album->Resources()) {
    if (albumsByCid_.CountOfAlbum(albumId) == 0) return;
    if (CidKeyOf(resource, wide, &scratch, &cid)) albumsByCid_.RemoveFirst(cid, albumId);
  }
}

void BlogSession_::RemoveAlbumsNotIn(AlbumListInfo* list, const std::unordered_set<int>& named) {
  if (list == nullptr) return;
  std::unordered_set<int32_t> gone;
  {
    Hold hold(cidLock_);
    int count = 0;
    list->GetAlbumCount(&count);
    for (int i = 0; i < count; ++i) {
      CComPtr<IZQAlbumInfo> album;
      int id = 0;
      if (SUCCEEDED(list->GetAlbum(i, &album)) && album && SUCCEEDED(album->GetId(&id)) &&
          named.count(id) == 0) {
        // The list holds AlbumInfo objects only.
        RemoveCidEntriesOfResources(id, static_cast<AlbumInfo*>(album.p));
        gone.insert(id);
      }
    }
    // What the albums' resources did not account for goes in one scan.
    albumsByCid_.RemoveAlbums(gone);
  }
  if (!gone.empty()) list->RemoveAlbumsNotIn(named);
}

void BlogSession_::RemoveAlbumOfCurrentUser(int albumId) {
  std::wstring uin = CurrentUin();
  Hold hold(albumListLock_);
  AlbumListInfo* list = FindAlbumList(uin);
  if (list == nullptr) return;
  RemoveCidEntriesOfAlbum(albumId, list->FindAlbum(albumId));
  list->RemoveAlbum(albumId);
}

void BlogSession_::AddCidRecords(const uint8_t* records, size_t count) {
  albumsByCid_.AddRawRecords(records, count);
}

void BlogSession_::AddCidPair(const std::wstring& cid, int albumId) {
  Hold hold(cidLock_);
  albumsByCid_.Add(cid, albumId);
}

void BlogSession_::ReplaceCidPairs(const CidIndex::Batch& pairs) {
  Hold hold(cidLock_);
  albumsByCid_.Clear();
  albumsByCid_.AddBatch(pairs);
}

size_t BlogSession_::CidPairCount() const {
  Hold hold(cidLock_);
  return albumsByCid_.size();
}

void BlogSession_::ForEachCidPair(
    const std::function<void(const std::wstring&, int)>& visit) const {
  Hold hold(cidLock_);
  albumsByCid_.ForEach(visit);
}

HRESULT BlogSession_::QueryAlbumsByCid(const std::wstring& cid, int* albumIds,
                                       int* count) const {
  if (count == nullptr) return E_POINTER;
  Hold hold(cidLock_);
  if (albumsByCid_.empty()) return E_FAIL;
  size_t needed = albumsByCid_.Count(cid);
  // No key holds more pairs than the whole index, whose size a 32-bit count can carry
  // in every real use; clamp anyway rather than wrap.
  int neededCount = needed > static_cast<size_t>(INT32_MAX) ? INT32_MAX
                                                            : static_cast<int>(needed);
  if (*count < neededCount) {
    *count = neededCount;
    return E_OUTOFMEMORY;
  }
  if (needed > 0) {
    if (albumIds == nullptr) return E_POINTER;
    albumsByCid_.CopyAlbumIds(cid, albumIds);
  }
  *count = neededCount;
  return S_OK;
}

// ---------------------------------------------------------------- results

bool BlogSession_::StoreResult(int commandId, ICommonResult* result) {
  if (result == nullptr) return false;
  Hold hold(resultLock_);
  if (resultsByCommandId_.count(commandId) != 0) return false;
  resultsByCommandId_.emplace(commandId, CComPtr<ICommonResult>(result));
  return true;
}

HRESULT BlogSession_::FetchResult(int commandId, ICommonResult** result) const {
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  Hold hold(resultLock_);
  auto found = resultsByCommandId_.find(commandId);
  if (found == resultsByCommandId_.end()) return E_FAIL;
  return found->second.CopyTo(result);
}

// ---------------------------------------------------------------- sinks

bool BlogSession_::AddResultSink(IZQBlogResultSink* sink) {
  Hold hold(resultSinkLock_);
  return AddSink(&resultSinks_, sink);
}

bool BlogSession_::AddFailureSink(IZQBlogFailureSink* sink) {
  Hold hold(failureSinkLock_);
  return AddSink(&failureSinks_, sink);
}

bool BlogSession_::RemoveResultSink(IZQBlogResultSink* sink) {
  Hold hold(resultSinkLock_);
  return RemoveSink(&resultSinks_, sink);
}

bool BlogSession_::RemoveFailureSink(IZQBlogFailureSink* sink) {
  Hold hold(failureSinkLock_);
  return RemoveSink(&failureSinks_, sink);
}

void BlogSession_::NotifyResultReady(int commandId, int resultKind) {
  Hold hold(resultSinkLock_);
  NotifyEach(resultSinks_, [&](IZQBlogResultSink* sink) {
    sink->OnResultReady(commandId, resultKind);
  });
}

void BlogSession_::NotifyFailure(int code, int operationIndex, int value3, int value4) {
  Hold hold(failureSinkLock_);
  NotifyEach(failureSinks_, [&](IZQBlogFailureSink* sink) {
    sink->OnFailure(code, operationIndex, value3, value4);
  });
}

// ---------------------------------------------------------------- sign-out

void BlogSession_::ClearAll() {
  {
    Hold hold(albumListLock_);
    std::map<std::wstring, CComPtr<AlbumListInfo>> lists;
    lists.swap(albumListsByUin_);
    for (auto& entry : lists) entry.second->Clear();
  }
  {
    Hold hold(serverLock_);
    serverEntriesByUin_.clear();
  }
  {
    Hold hold(cidLock_);
    albumsByCid_.Clear();
  }
  {
    Hold hold(resultLock_);
    std::map<int, CComPtr<ICommonResult>> results;
    results.swap(resultsByCommandId_);
  }
}

}  // namespace ZQBlog
}  // namespace Velmora
