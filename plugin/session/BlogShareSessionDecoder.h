// BlogShareSessionDecoder_: applies the changes that the serving process of a share
// session broadcasts to the blog session of this (forwarding) process. The plug-in's
// IOnRecvShareSessionMsg hands it each notice code; the decoder reads the broadcast
// payload from the module channel of "ZQBlog" and applies it.
//
// Payloads are record items (util/RecordItem.h); every payload begins with the user id
// the data belongs to. Every text item of every code is read with kTextLimit, the
// largest string item a reader takes: the serving process stores and broadcasts texts
// of any length up to it (a user id, a directory URL, a server word, album and resource
// texts, content ids, refusal messages), and a narrower limit here would leave this
// process without what the serving process holds. Below, "string" is such an item.
//
//   code 0  server directory: string uin, byte Opened, int CidDatNumber, string
//           CidDatUrl, int AlbumListNumber, string AlbumListUrl, int ResourceListNumber,
//           string ResourceListUrl
//   code 1  content-id data: string uin, int N, N pairs of string cid and int album id;
//           the pairs replace the index (see ApplyCidData)
//
//   code 2  album list: string uin, int N, then N album records (int id,
//           CategoryName, int ShowStatus, int CategoryType, Desc, LastTime, PicUrl,
//           int TagNum, one tag per slot in use). The record carries the serving
//           process's whole list after its reconcile: each album is found by id or
//           appended, its fields overwritten by the record (tags beyond TagNum are
//           emptied), and albums of the user's list the record does not name are
//           removed, as the serving process removed them.
//   code 3  resource list: string uin, int album id, int N, then N resource
//           records (int id, Cid, Gcid, ResName, Format, Size, LastTime, Url, Original,
//           Refer, Desc, int ResType, int State, int CategoryId, Uin). The album must be
//           in the session (else false). As in the serving process: but for the user
//           "www", the album's content-id entries are removed and its resources
//           cleared; each resource is found by id or made at the front of the album, its
//           fields overwritten by the record, and (not for "www") a new one is added to
//           the content-id index; the album is marked loaded.
//   A payload of code 2 or 3 that ends early, lies about a length or names an empty
//   user id changes nothing and gives false.
//
//   codes 4 to 6, the album writes: string uin, string word; a word other than
//   "success" gives true and changes nothing. After "success":
//   code 4  album modify: an album record (as in code 2), int NewlyAddedResNum. The
//           user's album with the record's id must be in the session (else false); it
//           takes the record's id, name, show status, type, description, picture URL,
//           tag count and the tags in use, and the new-resource count. Its last time
//           stays: the serving process copied the same fields into its own album.
//   code 5  album create: an album record. A new album is appended to the user's list
//           (made when the user has none) and takes the fields of code 4; an album of
//           the record's id that the list holds already takes them instead.
//   code 6  album removal: int album id. The user's list must be in the session (else
//           false); every content-id entry of the album is removed, as the serving
//           process removed them, then the album; false when the list lacks it.
//   The album records of codes 4 and 5 are read as in code 2. A payload that ends
//   early, lies about a length or names an empty user id changes nothing and gives
//   false.
//
//   codes 7 and 10, the resource writes: string uin, string word; a word other
//   than "success" gives true and changes nothing. After "success":
//   code 7  resource modify: int source album, int target album, int resource id,
//           name, description. The resource must be in the user's source album, and
//           for a move the target album must be in the session too (else false,
//           nothing changed). Same album: name, description and album id set. Another
//           album: the album id becomes the target's, the resource's content-id pair
//           moves from the source to the target album, the resource is appended to the
//           target album and removed from the source album, and takes the name and
//           description.
//   code 10 batch collect: int album id, int N, N resource records (as in code 3),
//           int M, M refusals (int id, string message) that are read past. The
//           album must be in the session (else false). Each resource is made with the
//           record's fields, its (cid, album id) pair added to the content-id index,
//           and it is appended to the album only when the album's resources are loaded,
//           as in the serving process.
//   Each payload is read whole before anything changes: one that ends early, lies
//   about a length or names an empty user id changes nothing and gives false.
//
//   codes 8, 9 and 11 (copy, move, batch remove): see ApplyCopyResource,
//   ApplyMoveResource and ApplyBatchRemove; they change the albums through the
//   functions the serving process used (commands/ResourceTransfer.h).
// Codes above 11 and negative codes have no handler: false after the payload has been
// opened and closed.
#ifndef ZQBLOG_SESSION_BLOGSHARESESSIONDECODER_H_
#define ZQBLOG_SESSION_BLOGSHARESESSIONDECODER_H_

#include <string>

#include "common/ThreadSafety.h"
#include "session/BlogSession.h"
#include "util/RecordItem.h"

namespace Velmora {
namespace ZQBlog {

// The notice codes of change broadcasts.
enum NoticeCode {
  kNoticeServerDirectory = 0,
  kNoticeCidData = 1,
  kNoticeAlbumList = 2,
  kNoticeResourceList = 3,
  kNoticeModifyAlbum = 4,
  kNoticeCreateAlbum = 5,
  kNoticeRemoveAlbum = 6,
  kNoticeModifyResource = 7,
  kNoticeCopyResource = 8,
  kNoticeMoveResource = 9,
  kNoticeBatchCollect = 10,
  kNoticeBatchRemove = 11,
};

class BlogShareSessionDecoder_ {
 public:
  // The read limit of every text item of a payload, the 4-byte length field included:
  // the largest string item a reader takes (see above).
  static constexpr int kTextLimit = kMaxStringItemLength + kIntItemSize;

  // The process-wide decoder, bound to the process-wide session; null once destroyed.
  static BlogShareSessionDecoder_* Instance();

  BlogShareSessionDecoder_(const BlogShareSessionDecoder_&) = delete;
  BlogShareSessionDecoder_& operator=(const BlogShareSessionDecoder_&) = delete;

  // Applies the broadcast of noticeCode (value1 and value2 are not used). False,
  // nothing read, when nobody is signed in. Otherwise takes the session lock of the
  // code (ServerLock for code 0, AlbumListLock for every other code) for the whole
  // decoding, gets the module channel through the host platform, reads the payload
  // between BeginReadMessage and EndReadMessage, and returns what the code's handler
  // returns; false without a handler, without a host platform or channel, or when the
  // channel has no payload. The lock is released and the channel access ended also
  // when a conversion error leaves the handler.
  // REQUIRES: the caller holds no blog session lock taken after the code's lock.
  bool DecodeMessage(int noticeCode, int value1, int value2);

 protected:
  BlogShareSessionDecoder_();
  // Applies changes to session (which must outlive the decoder) instead.
  explicit BlogShareSessionDecoder_(BlogSession_* session);
  virtual ~BlogShareSessionDecoder_() = default;

 private:
  // Applies the payload of noticeCode read by reader to the session; the caller holds
  // the code's lock. Code 0 files a new ServerDirectoryRecord under the payload's user
  // id, deleting the one it replaces; a payload that ends early, lies about a string's
  // length, exceeds a read limit or names an empty user id changes nothing and gives
  // false. Other codes: false, nothing read.
  bool ApplyNotice(int noticeCode, RecordReader* reader);
  bool ApplyServerDirectory(RecordReader* reader) ZQ_REQUIRES(session_->ServerLock());

  BlogSession_* session_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SESSION_BLOGSHARESESSIONDECODER_H_
