// The store's checks on user input: user ids, texts, content ids and sizes.
#include "StoreChecks.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "BlogStore.h"
#include "common/Utf8.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

namespace {

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

std::string LowerAscii(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

std::optional<std::string> NormalizeContentId(const std::string& text) {
  if (text.size() != 40) return std::nullopt;
  std::string upper = text;
  for (char& c : upper) {
    if (!IsHexDigit(c)) return std::nullopt;
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return upper;
}

std::optional<std::string> NormalizeSize(const std::string& text) {
  if (text.empty()) return std::string("0");
  if (text.size() > 20) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const size_t first = text.find_first_not_of('0');
  return first == std::string::npos ? std::string("0") : text.substr(first);
}

bool IsPrintableAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

bool BlogStore::IsValidUin(const std::string& uin) {
  if (uin.empty() || uin.size() > 64) return false;
  return std::all_of(uin.begin(), uin.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '@' ||
           c == '-';
  });
}

Outcome BlogStore::CheckText(const std::string& text, bool ascii_only) const {
  if (text.size() > options_.max_text_bytes) return Outcome::kFail;
  if (!Common::IsValidUtf8(text)) return Outcome::kFail;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t' && c != '\r' && c != '\n') || u == 0x7F) return Outcome::kFail;
    if (ascii_only && u >= 0x80) return Outcome::kFail;
  }
  if (ContainsWord(text, options_.sensitive_words)) return Outcome::kIllegal;
  return Outcome::kSuccess;
}

bool BlogStore::ContainsWord(const std::string& text,
                             const std::vector<std::string>& words) const {
  const std::string lower = LowerAscii(text);
  for (const std::string& word : words) {
    if (!word.empty() && lower.find(LowerAscii(word)) != std::string::npos) return true;
  }
  return false;
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
