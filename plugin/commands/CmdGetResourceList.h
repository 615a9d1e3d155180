// CmdGetResourceList ("GetResourceList", operation 3): fetches the resources of one
// album of a user, replaces the album's resources in the blog session with them, keeps
// the session's content-id index up to date and caches the reply per album.
//
// The request is a conditional GET of the user's ResourceListUrl with the album id in
// its placeholder, carrying "If-Modified-Since" from the album's cached copy (or
// "Fri, 1 Jun 1000 01:01:01 GMT"). The reply status decides:
//   404   the album has no resources: when the session has it, its resources are
//         cleared (and, but for the user "www", its content-id entries removed) and
//         marked loaded; Status 1 and the result is delivered (every role)
//   500   Status 0 and the result is delivered (every role)
//   304   Status 1. No album in the session: nothing. Resources never loaded: the cached
//         copy is parsed and applied (even in roles 0 and 1). Loaded and stand-alone
//         (role 2): the same, and a result with Status 1 when the copy gives nothing.
//         Loaded in role 1: the album's resources as the session holds them are
//         broadcast with notice code 3 (so the receiving decoders hold the same
//         resources in the same order) and a process that asked for them is answered
//         with Status 1. Loaded in role 0: nothing.
//   2xx   Status 1; the body is cached (after entity removal) and its "Last-Modified"
//         value stored once the body is
//   other Status 1; the body is applied if it parses but not cached
// A body that comes with a 404 or 500 reply is still applied if it parses; the command
// files and announces one result at most, the first. A command run for another process
// answers that process instead of delivering "in every role" (DeliverOrAnswer).
//
// Reply: the root holds one "resource" element per resource:
//   <resource id cid gcid res_type size format last_time state>   (named values)
//     <res_name/> <url/> <original/> <desc/>                      (UTF-8 texts)
// Named values are ANSI; id and state plain decimal, res_type 0, 1 or 2 for any other
// value. Each value is read into an 8192-byte buffer. The reply document is serialized
// into a buffer of 64 KiB that doubles while too small, up to 512 KiB; a longer reply
// fails the command (nothing cached or applied, no result) and, unless a result came
// with the headers, gives the failure sinks (album id, 3, kFailureReplyTooLarge, 0).
//
// Apply, holding the session's AlbumListLock: the album must be in the session (else
// nothing changes and no result is delivered). But for the user "www", the album's
// content-id entries are removed and its resources cleared. For each "resource" in
// order, a resource the album already holds is kept unchanged; any other id gives a new
// resource at the front of the album (so the album lists new resources in the reverse of
// reply order), filled from the reply with the album id and the user id, and added to
// the content-id index (not for "www"). The album is marked loaded. Then Status 1 and,
// after the lock is released, the result is delivered (roles 0 and 2) or the reply
// resources broadcast with notice code 3 (role 1).
//
// Share-session records: the operation record is the user id (string, read with the
// 50-byte limit) and the album id (int); the result record is Status (int); the change
// record is the user id (string), the album id (int), the number of reply resources
// (int) and each reply resource's record in reply order (ResourceInfo's layout).
//
// A transport error gives the session's failure sinks (album id, 3, 0, 0): the album id
// comes first, the error code is not passed on.
#ifndef ZQBLOG_COMMANDS_CMDGETRESOURCELIST_H_
#define ZQBLOG_COMMANDS_CMDGETRESOURCELIST_H_

#include <memory>
#include <string>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "commands/XmlReply.h"
#include "data/ResourceInfo.h"
#include "interfaces/IXMLNode.h"
#include "interfaces/IXMLPackage.h"
#include "interfaces/IZQResInfo.h"
#include "session/BlogCache.h"

namespace Velmora {
namespace ZQBlog {

class CmdGetResourceList : public BaseBlogCmd {
 public:
  static constexpr unsigned short kServerPort = 80;
  // The serialized reply must stay below this many bytes (the largest buffer tried is
  // half of it).
  static constexpr size_t kReplyTextLimit = 1048576;
  // The user whose albums keep their resources and leave the content-id index alone.
  static const char kKeepingUser[];

  // The album whose resources are fetched; set by the plug-in right after creation.
  void SetAlbumId(int albumId);
  int AlbumId();

  // Replaces the command's blog cache (the host's settings store and user path) by
  // cache, for other hosts and tests. REQUIRES: called before Start; cache not null.
  void UseCache(std::unique_ptr<BlogCache> cache);

  // BaseBlogCmd
  std::string GetCommandName() override;
  // 4 + the user id's length + 4.
  int GetRequestRecordSize() ZQ_REQUIRES(CommandLock()) override;
  bool WriteRequestRecord(IShareSessionMessage* message) ZQ_REQUIRES(CommandLock()) override;
  // Reads the user id (50-byte limit) and the album id; false, both unchanged, when
  // either is refused or missing.
  bool ReadRequestRecord(IShareSessionMessage* message) ZQ_REQUIRES(CommandLock()) override;
  void PublishChange() ZQ_REQUIRES(CommandLock()) override;
  int GetChangeRecordSize() ZQ_REQUIRES(CommandLock()) override;
  void NotifyChange() ZQ_REQUIRES(CommandLock()) override;
  int GetResultRecordSize() ZQ_REQUIRES(CommandLock()) override;
  bool WriteResultRecord(BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) override;
  bool ReadResultRecord(const BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) override;
  // A ResultOnAlbum (user id, operation 3 and its title, Status, the album id as
  // category id) filed under the command id, then the result event (command id, 0).
  // Only the first call files and announces; later calls do nothing.
  void DeliverResult() ZQ_REQUIRES(CommandLock()) override;

 protected:
  CmdGetResourceList();
  ~CmdGetResourceList() override;

  // BaseHttpCmd hooks.
  void GetServer(const char** host, unsigned short* port) ZQ_REQUIRES(CommandLock()) override;
  bool GetConnectionParameter(ConnectionParameter* block) ZQ_REQUIRES(CommandLock()) override;
  void GetRequestLine(int* method, std::string* path) ZQ_REQUIRES(CommandLock()) override;
  bool GetRequestBody(const BYTE** data, int* length) ZQ_REQUIRES(CommandLock()) override;
  HRESULT OnResponseHeaders(IHttpReplyHeaders* headers) ZQ_REQUIRES(CommandLock()) override;
  HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) override;
  CComPtr<IPackageParser> CreateReplyParser() ZQ_REQUIRES(CommandLock()) override;
  void OnTransportError(int code) ZQ_REQUIRES(CommandLock()) override;

 private:
  // The values of one "resource" of the reply as the document's bytes, back to back.
  struct ReplyValues;

  // Reads the values of node through reader into *values (its storage reused from entry
  // to entry).
  static void ReadReplyValues(IXMLNode* node, XmlValueReader* reader, ReplyValues* values);
  // A new resource, in no album, filled from values with the album id and the user id
  // (ANSI); null when none can be created.
  static CComPtr<ResourceInfo> MakeResource(const ReplyValues& values, int albumId,
                                            const std::string& uin);
  bool IsKeepingUser();
  // The 404 answer: the album emptied and marked loaded (and, serving, broadcast empty).
  void EmptyAlbum() ZQ_REQUIRES(CommandLock());
  // The 304 answer: the cached copy parsed and applied as a reply. False when the copy
  // gives no package.
  bool ReplayCachedCopy() ZQ_REQUIRES(CommandLock());
  // The 304 answer of a serving process whose album's resources are loaded: the
  // album's resources as the session holds them, last first, become the reply
  // resources that PublishChange broadcasts, and the album's content-id pairs are
  // rebuilt from them as every receiving decoder does. False, nothing taken, when the
  // album has gone.
  bool TakeHeldResources();
  // Applies the reply in document to the album and dispatches by role; false when the
  // album is not in the session.
  bool Apply(IXMLPackage* document) ZQ_REQUIRES(CommandLock());
  std::vector<BYTE> BuildChangeRecord();

  int albumId_ = 0;
  std::string host_;
  std::string path_;
  const unsigned short port_;
  std::unique_ptr<BlogCache> cache_;
  bool cacheUpdate_ = false;
  bool resultDelivered_ = false;
  std::vector<CComPtr<IZQResInfo>> replyResources_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDGETRESOURCELIST_H_
