// BlogShareSessionDecoder_: applies the changes that the serving process of a share
// session broadcasts to the blog session of this (forwarding) process. The plug-in's
// IOnRecvShareSessionMsg hands it each notice code; the decoder reads the broadcast
// payload from the module channel of "ZQBlog" and applies it.
//
// Payloads are record items (util/RecordItem.h); every payload begins with the user id
// the data belongs to, string(50). A string(L) item holds at most L - 4 bytes of text.
//
//   code 0  server directory: string(50) uin, byte Opened, int CidDatNumber,
//           string(100) CidDatUrl, int AlbumListNumber, string(100) AlbumListUrl,
//           int ResourceListNumber, string(100) ResourceListUrl
//
// Codes 1 to 11 (content-id data, album list, resource list, album modify, create and
// removal, resource modify, copy, move, batch collect, batch remove) are not applied by
// this decoder yet: they give false ("not handled") after the payload has been opened
// and closed, like codes above 11 and negative codes.
#ifndef ZQBLOG_SESSION_BLOGSHARESESSIONDECODER_H_
#define ZQBLOG_SESSION_BLOGSHARESESSIONDECODER_H_

#include <string>

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
  // Read limits of the payload items, the 4-byte length field included.
  static constexpr int kUinLimit = 50;
  static constexpr int kUrlLimit = 100;

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
  bool ApplyServerDirectory(RecordReader* reader);

  BlogSession_* session_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SESSION_BLOGSHARESESSIONDECODER_H_
