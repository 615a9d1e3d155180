// The store's checks and canonical forms of the resource fields a collect form carries.
// Shared by the sources of BlogStore only; the text policy itself is BlogStore::CheckText.
#ifndef ZQBLOG_SERVICE_STORECHECKS_H_
#define ZQBLOG_SERVICE_STORECHECKS_H_

#include <optional>
#include <string>

namespace Velmora {
namespace ZQBlog {
namespace Service {

// 40 hexadecimal digits, returned in upper case; nullopt otherwise.
std::optional<std::string> NormalizeContentId(const std::string& text);

// Decimal digits without sign; leading zeros dropped; empty counts as 0. nullopt for
// anything else, and for more than 20 digits.
std::optional<std::string> NormalizeSize(const std::string& text);

// Every byte is printable ASCII other than the space (true for an empty text).
bool IsPrintableAscii(const std::string& text);

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_STORECHECKS_H_
