// The answers of the blog service's writes, and the word each reply carries for them.
// The store decides with these values only; the reply writes the word ("success",
// "no_exist", ...), which the client turns into a message.
#ifndef ZQBLOG_SERVICE_STOREOUTCOME_H_
#define ZQBLOG_SERVICE_STOREOUTCOME_H_

namespace Velmora {
namespace ZQBlog {
namespace Service {

enum class Outcome {
  kSuccess,    // "success"
  kFail,       // "fail": a malformed request or text, or a database fault
  kIllegal,    // "illegal": a text holds a sensitive word
  kForbidden,  // "forbidden": the user is blacklisted
  kNoExist,    // "no_exist": no blog, or an album or resource that is not the user's
  kDuplicate,  // "duplicate": an album name or a content id the target holds already
  kExcess,     // "excess": the user's album limit or the album's resource limit is reached
  kNoBill,     // "no_bill": the user cannot pay for a new album
  kNoEmpty,    // "no_empty": an album still holds resources
  kAudit,      // "audit": a resource under review cannot be moved or copied
  kUndone,     // "undone": nor can a resource whose download is unfinished
  kDenied,     // "denied": the request's cookie does not sign its user in
};

// The word a reply carries for outcome, exactly as the client expects it.
const char* OutcomeWord(Outcome outcome);

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_STOREOUTCOME_H_
