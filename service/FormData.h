// The fields of an application/x-www-form-urlencoded request body. Clients of the blog
// service escape only some reserved characters (a '#' or '"' may arrive raw, and bytes
// above 0x7F arrive as raw UTF-8), so the body is read leniently: pairs split at '&',
// each at its first '=', then %XX sequences decoded. A '+' stays a '+' (the client
// writes a space as %20). Malformed escapes are kept as they are.
#ifndef ZQBLOG_SERVICE_FORMDATA_H_
#define ZQBLOG_SERVICE_FORMDATA_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Velmora {
namespace ZQBlog {
namespace Service {

class FormData {
 public:
  // Splits and decodes body. Trailing NUL bytes (a C terminator sent along) are ignored.
  static FormData Parse(std::string_view body);

  // Decodes %XX sequences of text.
  static std::string Decode(std::string_view text);

  // The value of the first field named key, or null.
  const std::string* Find(std::string_view key) const;
  // The value of the first field named key, or fallback.
  std::string Get(std::string_view key, std::string_view fallback = {}) const;
  // Reads the field as a decimal 32-bit int (optional sign, digits only). False when the
  // field is missing, empty, not a number or out of range.
  bool GetInt(std::string_view key, int32_t* value) const;
  size_t size() const { return fields_.size(); }

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
  // Name to the position of its first field, so lookups stay cheap on large forms.
  std::unordered_map<std::string, size_t> index_;
};

// Reads text as a decimal 32-bit int (optional sign, digits only, nothing else).
bool ParseInt32(std::string_view text, int32_t* value);

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_FORMDATA_H_
