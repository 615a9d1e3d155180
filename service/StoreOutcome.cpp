// The reply words of the write outcomes.
#include "StoreOutcome.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

const char* OutcomeWord(Outcome outcome) {
  // No default: a new enumerator without a word is a compiler warning.
  switch (outcome) {
    case Outcome::kSuccess: return "success";
    case Outcome::kFail: return "fail";
    case Outcome::kIllegal: return "illegal";
    case Outcome::kForbidden: return "forbidden";
    case Outcome::kNoExist: return "no_exist";
    case Outcome::kDuplicate: return "duplicate";
    case Outcome::kExcess: return "excess";
    case Outcome::kNoBill: return "no_bill";
    case Outcome::kNoEmpty: return "no_empty";
    case Outcome::kAudit: return "audit";
    case Outcome::kUndone: return "undone";
    case Outcome::kDenied: return "denied";
  }
  return "fail";  // not a value of the enum
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
