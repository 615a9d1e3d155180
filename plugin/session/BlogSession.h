// BlogSession_: the one process-wide object that holds what the plug-in knows between
// commands: the signed-in user, every fetched album list, the server directory of each
// user and the seven write endpoints, the content-id index, the results waiting for the
// host, and the host's result and failure sinks. It does no I/O.
//
// Locks. Six re-entrant locks, each guarding one kind of data:
//   AlbumListLock    the album lists and every album and resource inside them
//   ServerLock       the server directory records and the write endpoints
//   ResultSinkLock   the result sinks
//   FailureSinkLock  the failure sinks
//   ResultLock       the filed results
//   CidLock          the content-id index
// A thread that needs two takes ServerLock or AlbumListLock first, then ResultLock, then
// ResultSinkLock (or FailureSinkLock), and CidLock last; CidLock is never held while
// another session lock is taken. Each operation below says which lock the caller must
// hold (ZQ_REQUIRES(X), which clang checks; callers name it as
// ZQ_REQUIRES(session->AlbumListLock())) or that it takes its lock itself ("Takes X");
// the latter may also be called with that lock already held. Operations that hand out
// borrowed pointers always need the caller to hold the lock for as long as the pointer
// is used.
//
// The signed-in user id has a small lock of its own (a leaf: nothing is taken under it),
// because the share-session thread reads it while the host may set it.
#ifndef ZQBLOG_SESSION_BLOGSESSION_H_
#define ZQBLOG_SESSION_BLOGSESSION_H_

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/ThreadSafety.h"
#include "data/AlbumInfo.h"
#include "data/AlbumListInfo.h"
#include "interfaces/ICommonResult.h"
#include "interfaces/IZQBlogFailureSink.h"
#include "interfaces/IZQBlogResultSink.h"
#include "interfaces/IZQResInfo.h"
#include "platform/atl.h"
#include "session/CidIndex.h"
#include "util/CriticalSection.h"

namespace Velmora {
namespace ZQBlog {

// The domain name of the blog service (ten characters). The URLs of the server
// directory name hosts in it; the host of such a URL runs up to the end of the domain.
extern const char kServiceDomain[];

// What the server directory says about one user's blog.
struct ServerDirectoryRecord {
  // False when the directory answered "404" (the user has no blog).
  bool Opened = false;
  int CidDatNumber = 0;
  // Absolute URL of the user's content-id table.
  std::wstring CidDatUrl;
  int AlbumListNumber = 0;
  // Absolute URL of the user's album list.
  std::wstring AlbumListUrl;
  int ResourceListNumber = 0;
  // Absolute URL template of an album's resource list, with one placeholder written
  // between "<" and ">" that stands for the album id.
  std::wstring ResourceListUrl;
};

// Host and path of one write operation of the blog service.
struct OperationEndpoint {
  std::wstring Host;
  std::wstring Path;
};

// The index of a write operation in the session's endpoint table.
enum EndpointIndex {
  kEndpointBatchCollect = 0,    // "resource_batch_collect"
  kEndpointBatchRemove = 1,     // "resource_batch_remove"
  kEndpointRemoveAlbum = 2,     // "category_delete"
  kEndpointCreateAlbum = 3,     // "category_create"
  kEndpointModifyAlbum = 4,     // "category_update"
  kEndpointModifyResource = 5,  // "resource_update"
  kEndpointMoveResource = 6,    // "resource_batch_move" (move and copy)
};
constexpr int kEndpointCount = 7;

// The name under which the directory reply lists each endpoint, by EndpointIndex.
extern const wchar_t* const kEndpointOperationNames[kEndpointCount];

// The EndpointIndex of an operation name of the directory reply, compared whole and
// case-sensitively; -1 for any other name.
int EndpointIndexOf(const std::wstring& operationName);

class BlogSession_ {
 public:
  typedef TAVO::System::Thread::CriticalSection Lock;

  // The process-wide session, created on first use; null once it has been destroyed
  // (process exit).
  static BlogSession_* Instance();

  BlogSession_(const BlogSession_&) = delete;
  BlogSession_& operator=(const BlogSession_&) = delete;

  // ------------------------------------------------------------------ locks
  Lock& AlbumListLock() ZQ_RETURN_CAPABILITY(albumListLock_) { return albumListLock_; }
  Lock& ServerLock() ZQ_RETURN_CAPABILITY(serverLock_) { return serverLock_; }
  Lock& ResultSinkLock() ZQ_RETURN_CAPABILITY(resultSinkLock_) { return resultSinkLock_; }
  Lock& FailureSinkLock() ZQ_RETURN_CAPABILITY(failureSinkLock_) { return failureSinkLock_; }
  Lock& ResultLock() ZQ_RETURN_CAPABILITY(resultLock_) { return resultLock_; }
  Lock& CidLock() ZQ_RETURN_CAPABILITY(cidLock_) { return cidLock_; }

  // ------------------------------------------------------------------ identity
  // Replaces the signed-in user id (empty: nobody is signed in). Any thread.
  void SetCurrentUin(const std::wstring& uin);
  // A copy of the signed-in user id. Any thread.
  std::wstring CurrentUin() const;

  // ------------------------------------------------------------------ album lists
  // The album list of uin, or null. No reference is added.
  AlbumListInfo* FindAlbumList(const std::wstring& uin) const ZQ_REQUIRES(albumListLock_);
  // The album list of uin; when there is none, a new empty list filed under uin (the
  // session keeps one reference). No reference is added for the caller; null only when
  // a list cannot be created.
  AlbumListInfo* GetOrCreateAlbumList(const std::wstring& uin) ZQ_REQUIRES(albumListLock_);
  // The album albumId of uin's list; null when uin has no list or the list no such
  // album. No reference is added.
  AlbumInfo* FindAlbum(const std::wstring& uin, int albumId) const
      ZQ_REQUIRES(albumListLock_);
  // The resource resourceId of that album, or null. No reference is added.
  IZQResInfo* FindResourceInAlbum(const std::wstring& uin, int albumId, int resourceId) const
      ZQ_REQUIRES(albumListLock_);

  // ------------------------------------------------------------------ server directory
  // The directory record of uin, or null.
  ServerDirectoryRecord* FindServerEntry(const std::wstring& uin) const
      ZQ_REQUIRES(serverLock_);
  // Files record under uin, deleting the record it replaces (filing the record already
  // filed there changes nothing). A null record removes uin's record.
  void StoreServerEntry(const std::wstring& uin, std::unique_ptr<ServerDirectoryRecord> record)
      ZQ_REQUIRES(serverLock_);
  // Sets the host and path of endpoint index (0 to 6); false for any other index.
  bool SetOperationEndpoint(int index, const std::wstring& host, const std::wstring& path)
      ZQ_REQUIRES(serverLock_);
  // For index 0 to 6: *host and *path become the ANSI host and path of that endpoint
  // (empty until the directory named it) and the result is true. Any other index: false,
  // outputs unchanged. Takes ServerLock (commands call it from their GetServer hook).
  bool GetOperationEndpoint(int index, std::string* host, std::string* path) const;

  // The server and path of uin's CidDatUrl, AlbumListUrl or ResourceListUrl, as ANSI
  // text. The host is the URL from just after its scheme ("http://") up to and
  // including the first occurrence of the service domain; the path is everything after
  // that occurrence. SplitResourceListUrl replaces the first "<" ... ">" placeholder of
  // the path by albumId in decimal. False, outputs unchanged, when uin has no record,
  // the URL lacks the domain, the domain is not part of the URL's host (it lies after a
  // '/'), or (resource list) the path has no placeholder. Takes ServerLock.
  bool SplitCidDatUrl(const std::wstring& uin, std::string* host, std::string* path) const;
  bool SplitAlbumListUrl(const std::wstring& uin, std::string* host, std::string* path) const;
  bool SplitResourceListUrl(const std::wstring& uin, int albumId, std::string* host,
                            std::string* path) const;

  // ------------------------------------------------------------------ content-id index
  // The index keeps (cid, album id) pairs in the order of an ordered multimap: cids in
  // string order, the pairs of one cid in the order they were added; duplicates stay.
  // Every operation here takes CidLock itself. Those that read an album also need the
  // album kept alive and unchanged: they require AlbumListLock.

  // For each id in order: when album holds a resource with that id, adds (its cid,
  // albumId). A null album adds nothing.
  void AddCidEntries(const std::vector<int>& resourceIds, int albumId, const AlbumInfo* album)
      ZQ_REQUIRES(albumListLock_);
  void AddCidEntry(int resourceId, int albumId, const AlbumInfo* album)
      ZQ_REQUIRES(albumListLock_);
  // Adds (resource's cid, albumId); a null resource adds nothing.
  void AddCidEntryOf(IZQResInfo* resource, int albumId);
  // For each id in order: when album holds a resource with that id, removes the first
  // pair (its cid, albumId).
  void RemoveCidEntries(const std::vector<int>& resourceIds, int albumId,
                        const AlbumInfo* album) ZQ_REQUIRES(albumListLock_);
  void RemoveCidEntry(int resourceId, int albumId, const AlbumInfo* album)
      ZQ_REQUIRES(albumListLock_);
  // Removes every pair of albumId. album is the session's album albumId, or null: the
  // pairs of its resources' content ids are removed by their keys first, and the index
  // is scanned only for pairs of albumId left beyond them (none: no scan). The cost of a
  // list's refresh then follows the list, not the index.
  void RemoveCidEntriesOfAlbum(int albumId, const AlbumInfo* album)
      ZQ_REQUIRES(albumListLock_);
  // Removes from list every album whose id is not in named, each with every pair of its
  // id in the index: the albums a new album list no longer has. Nothing of the albums
  // themselves changes (the host may still hold them).
  void RemoveAlbumsNotIn(AlbumListInfo* list, const std::unordered_set<int>& named)
      ZQ_REQUIRES(albumListLock_);
  // When the signed-in user has an album list: removes album albumId from it, then every
  // pair of albumId from the index. Does nothing otherwise. Takes AlbumListLock, then
  // CidLock (callers usually hold AlbumListLock already).
  void RemoveAlbumOfCurrentUser(int albumId);
  // Adds one pair.
  void AddCidPair(const std::wstring& cid, int albumId);
  // Adds count records of a downloaded content-id table in order (their layout is
  // CidIndex::AddRawRecords's). REQUIRES: CidLock held, as a whole merge is.
  void AddCidRecords(const uint8_t* records, size_t count) ZQ_REQUIRES(cidLock_);
  // Makes pairs, in order, the whole index, under one hold of CidLock: a reader sees the
  // old index or the new one, never a part.
  void ReplaceCidPairs(const CidIndex::Batch& pairs);
  // The number of pairs, duplicates counted.
  size_t CidPairCount() const;
  // Calls visit for every pair in the index's order, holding CidLock throughout.
  // REQUIRES: visit takes no other session lock and does not change the index.
  void ForEachCidPair(const std::function<void(const std::wstring&, int)>& visit) const;
  // The albums holding cid. E_FAIL when the index is empty. Otherwise counts the pairs
  // of cid: when *count is smaller, *count becomes that number and the result is
  // E_OUTOFMEMORY; else albumIds[0, n) receives their album ids in the index's order,
  // *count becomes n and the result is S_OK. E_POINTER for a null count, or a null
  // albumIds when there are ids to write.
  HRESULT QueryAlbumsByCid(const std::wstring& cid, int* albumIds, int* count) const;

  // ------------------------------------------------------------------ results
  // Files result under commandId (one reference kept). An id already filed keeps its
  // first object; false then, or for a null result. Takes ResultLock (result delivery
  // holds it already, so that NotifyResultReady follows under the same lock).
  bool StoreResult(int commandId, ICommonResult* result);
  // The result filed under commandId with one reference added for the caller, S_OK; the
  // entry stays filed. E_FAIL (and null) for an unknown id; E_POINTER for a null out.
  // Takes ResultLock.
  HRESULT FetchResult(int commandId, ICommonResult** result) const;

  // ------------------------------------------------------------------ sinks
  // Appends sink with one reference; false (nothing added) for a null sink or one
  // already in the list. Take ResultSinkLock / FailureSinkLock.
  bool AddResultSink(IZQBlogResultSink* sink);
  bool AddFailureSink(IZQBlogFailureSink* sink);
  // Removes and releases the first entry equal to sink; false for an unknown sink.
  // Take ResultSinkLock / FailureSinkLock.
  bool RemoveResultSink(IZQBlogResultSink* sink);
  bool RemoveFailureSink(IZQBlogFailureSink* sink);
  // Calls OnResultReady(commandId, resultKind) / OnFailure(code, operationIndex, value3,
  // value4) on every sink in list order, holding ResultSinkLock / FailureSinkLock. A
  // sink may add or remove sinks from inside the call: a sink removed meanwhile is not
  // called any more, one added meanwhile is called from the next notice on.
  void NotifyResultReady(int commandId, int resultKind);
  void NotifyFailure(int code, int operationIndex, int value3, int value4);

  // ------------------------------------------------------------------ sign-out
  // Empties, each under its own lock in this order, the album lists (each list is
  // cleared, its albums emptied), the directory records, the content-id index and the
  // results. The signed-in user, the endpoints and both sink lists stay.
  // REQUIRES: the caller holds no session lock but possibly all of them in the
  // documented order.
  void ClearAll();

 protected:
  // Every map and list empty, nobody signed in, the six locks ready.
  BlogSession_();
  virtual ~BlogSession_();

 private:
  // Removes the pair (cid, albumId) of each resource of album (null: none) while the
  // index holds pairs of albumId.
  void RemoveCidEntriesOfResources(int albumId, const AlbumInfo* album)
      ZQ_REQUIRES(albumListLock_, cidLock_);
  // Adds (resource's cid, albumId) when resource is not null; scratch holds the cid of
  // a resource that is not the plug-in's own.
  void AddCidOf(IZQResInfo* resource, int albumId, std::wstring* scratch)
      ZQ_REQUIRES(cidLock_);
  bool SplitUrlOf(const std::wstring& uin, std::wstring ServerDirectoryRecord::*field,
                  std::string* host, std::string* path) const;

  mutable Lock uinLock_;
  std::wstring currentUin_ ZQ_GUARDED_BY(uinLock_);
  std::map<std::wstring, CComPtr<AlbumListInfo>> albumListsByUin_
      ZQ_GUARDED_BY(albumListLock_);
  std::map<std::wstring, std::unique_ptr<ServerDirectoryRecord>> serverEntriesByUin_
      ZQ_GUARDED_BY(serverLock_);
  CidIndex albumsByCid_ ZQ_GUARDED_BY(cidLock_);
  OperationEndpoint operationEndpoints_[kEndpointCount] ZQ_GUARDED_BY(serverLock_);
  std::vector<CComPtr<IZQBlogResultSink>> resultSinks_ ZQ_GUARDED_BY(resultSinkLock_);
  std::vector<CComPtr<IZQBlogFailureSink>> failureSinks_ ZQ_GUARDED_BY(failureSinkLock_);
  std::map<int, CComPtr<ICommonResult>> resultsByCommandId_ ZQ_GUARDED_BY(resultLock_);

  mutable Lock albumListLock_;
  mutable Lock serverLock_;
  mutable Lock resultSinkLock_;
  mutable Lock failureSinkLock_;
  mutable Lock resultLock_;
  mutable Lock cidLock_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SESSION_BLOGSESSION_H_
