// CmdGetAlbumList ("GetAlbumList", operation 2): fetches the list of a user's albums
// ("category" entries) from the user's blog server, reconciles it with the user's album
// list in the blog session and keeps the reply in the blog cache.
//
// The request is a conditional GET of the user's AlbumListUrl carrying
// "If-Modified-Since": the "Last-Modified" value of the cached copy, or
// "Fri, 1 Jun 1000 01:01:01 GMT" when there is none. The reply status decides:
//   404          nothing is recorded; a body that still comes is reconciled but not
//                cached
//   304          Status 1; when the session has no list for the user, or this process
//                is stand-alone (role 2), the cached copy is parsed and reconciled as a
//                reply. Otherwise the list is in memory: in role 1 the user's albums as
//                the session holds them are broadcast with notice code 2 (the receiving
//                decoders then hold the same list, albums it does not name removed)
//                and a process that asked for them is answered with Status 1; in role 0
//                nothing happens. An empty or missing cached copy gives no result.
//   2xx          the reply is fresh: its body is cached (after entity removal) and its
//                "Last-Modified" value stored once the body is
//   other        the body is reconciled if it parses, but neither it nor its
//                "Last-Modified" value is cached: an error reply never replaces the
//                cached list
//
// Reply: the root holds one "category" element per album:
//   <category id category_type show_status last_time>   (named values)
//     <category_name/> <desc/> <pic_url/> <tags tag_num><tag/>...</tags>
// Numbers are read with the plain decimal conversion ("" and "abc" give 0), show_status
// is 1 when not 0; category_name, desc and the tags are UTF-8, last_time and pic_url
// ANSI. Each value is read into an 8192-byte buffer. tag_num is stored as it is; the
// album keeps at most three tags.
//
// Reconcile, holding the session's AlbumListLock: for each "category" in order, an album
// whose id the user's list already holds is kept unchanged; any other id gives a new
// album, filled from the reply and appended to the list. Albums whose id the reply does
// not name are removed. Then Status 1, and the result is delivered (roles 0 and 2) or the
// reply albums broadcast with notice code 2 (role 1).
//
// Before caching, the reply document is serialized into a buffer of 64 KiB that doubles
// while too small, up to 8 MiB; a longer reply fails the command (nothing cached or
// reconciled, no result).
//
// Share-session records: the operation record is the user id (string, read with the
// 50-byte limit); the result record is Status (int); the change record is the user id
// (string), the number of reply albums (int) and each reply album's record in reply
// order (AlbumInfo's record layout).
//
// A transport error gives the session's failure sinks (code, 2, 0, 0) and no result.
// A command files and announces at most one result.
#ifndef ZQBLOG_COMMANDS_CMDGETALBUMLIST_H_
#define ZQBLOG_COMMANDS_CMDGETALBUMLIST_H_

#include <memory>
#include <string>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "commands/XmlReply.h"
#include "data/AlbumInfo.h"
#include "interfaces/IXMLNode.h"
#include "interfaces/IXMLPackage.h"
#include "session/BlogCache.h"

namespace Velmora {
namespace ZQBlog {

class CmdGetAlbumList : public BaseBlogCmd {
 public:
  static constexpr unsigned short kServerPort = 80;
  // The serialized reply must stay below this many bytes (the largest buffer tried is
  // half of it).
  static constexpr size_t kReplyTextLimit = 10485760;

  // Replaces the command's blog cache (the host's settings store and user path) by
  // cache, for other hosts and tests. REQUIRES: called before Start; cache not null.
  void UseCache(std::unique_ptr<BlogCache> cache);

  // BaseBlogCmd
  std::string GetCommandName() override;
  int GetRequestRecordSize() ZQ_REQUIRES(CommandLock()) override;
  bool WriteRequestRecord(IShareSessionMessage* message) ZQ_REQUIRES(CommandLock()) override;
  bool ReadRequestRecord(IShareSessionMessage* message) ZQ_REQUIRES(CommandLock()) override;
  void PublishChange() ZQ_REQUIRES(CommandLock()) override;
  int GetChangeRecordSize() ZQ_REQUIRES(CommandLock()) override;
  void NotifyChange() ZQ_REQUIRES(CommandLock()) override;
  int GetResultRecordSize() ZQ_REQUIRES(CommandLock()) override;
  bool WriteResultRecord(BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) override;
  bool ReadResultRecord(const BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) override;
  // A ResultOnAlbum (user id, operation 2 and its title, Status) filed under the
  // command id, then the result event (command id, 0). Only the first call files and
  // announces; later calls do nothing.
  void DeliverResult() ZQ_REQUIRES(CommandLock()) override;

 protected:
  CmdGetAlbumList();
  ~CmdGetAlbumList() override;

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
  // One "category" of the reply, as read.
  struct AlbumEntry {
    int id = 0;
    int categoryType = 0;
    int showStatus = 0;
    std::wstring lastTime;
    std::wstring categoryName;
    std::wstring desc;
    std::wstring picUrl;
    int tagNum = 0;
    std::wstring tags[AlbumInfo::kTagSlots];  // those below tag_num
  };

  static AlbumEntry ReadAlbumEntry(IXMLNode* category, XmlValueReader* reader);
  // The 304 answer: the cached copy parsed and reconciled as a reply.
  void ReplayCachedCopy() ZQ_REQUIRES(CommandLock());
  // The 304 answer of a serving process that holds the list: the user's albums as the
  // session holds them, in list order, become the reply albums (and ids) that
  // PublishChange broadcasts. False, nothing taken, when the list has gone.
  bool TakeHeldAlbums();
  // Reconciles the reply in document with the user's list and dispatches by role.
  HRESULT Reconcile(IXMLPackage* document) ZQ_REQUIRES(CommandLock());
  // The change record of the reply albums.
  std::vector<BYTE> BuildChangeRecord();

  std::string host_;
  std::string path_;
  const unsigned short port_;
  std::unique_ptr<BlogCache> cache_;
  bool cacheUpdate_ = false;
  bool resultDelivered_ = false;
  std::vector<int> replyIds_;
  std::vector<CComPtr<AlbumInfo>> replyAlbums_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDGETALBUMLIST_H_
