#include "CookieCheck.h"

#include <cstdint>
#include <ctime>
#include <cstring>
#include <optional>

#include "common/HmacMd5.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

const char kCookieSigningKey[] = "?T#(W]~=K!+*QX";

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The value of the first cookie named name.
std::optional<std::string_view> CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t end = header.find(';');
    const std::string_view pair = Trim(header.substr(0, end));
    const size_t eq = pair.find('=');
    if (eq != std::string_view::npos && Trim(pair.substr(0, eq)) == name) {
      return Trim(pair.substr(eq + 1));
    }
    if (end == std::string_view::npos) break;
    header.remove_prefix(end + 1);
  }
  return std::nullopt;
}

}  // namespace

std::string CookieSignature(std::string_view uin, std::string_view login_time) {
  std::string message(uin);
  message += login_time;
  uint8_t digest[Common::kMd5DigestSize];
  Common::HmacMd5(kCookieSigningKey, std::strlen(kCookieSigningKey), message.data(), message.size(),
          digest);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

std::string BuildSignedCookie(std::string_view uin, std::string_view login_time) {
  std::string cookie = "login_name=";
  cookie += uin;
  cookie += "; login_time=";
  cookie += login_time;
  cookie += "; key=";
  cookie += CookieSignature(uin, login_time);
  return cookie;
}

bool CookieIsValid(std::string_view header, std::string_view uin) {
  const auto name = CookieValue(header, "login_name");
  const auto time = CookieValue(header, "login_time");
  const auto key = CookieValue(header, "key");
  if (!name || !time || !key || uin.empty() || *name != uin) return false;
  if (time->size() != 14) return false;
  for (char c : *time) {
    if (c < '0' || c > '9') return false;
  }
  if (key->size() != 32) return false;
  const std::string expected = CookieSignature(*name, *time);
  // Compare every byte so the time taken does not reveal how much of a guess matched.
  unsigned difference = 0;
  for (size_t i = 0; i < 32; ++i) {
    difference |= static_cast<unsigned char>((*key)[i]) ^ static_cast<unsigned char>(expected[i]);
  }
  return difference == 0;
}

bool CookieIsFresh(std::string_view header, int64_t now, int64_t window_seconds) {
  const auto time = CookieValue(header, "login_time");
  if (!time || time->size() != 14 || window_seconds < 0) return false;
  int fields[6] = {};
  const int widths[6] = {4, 2, 2, 2, 2, 2};
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    for (int k = 0; k < widths[i]; ++k, ++at) {
      const char c = (*time)[at];
      if (c < '0' || c > '9') return false;
      fields[i] = fields[i] * 10 + (c - '0');
    }
  }
  std::tm local{};
  local.tm_year = fields[0] - 1900;
  local.tm_mon = fields[1] - 1;
  local.tm_mday = fields[2];
  local.tm_hour = fields[3];
  local.tm_min = fields[4];
  local.tm_sec = fields[5];
  local.tm_isdst = -1;  // as the local rules say for that day
  const std::time_t login = std::mktime(&local);
  if (login == static_cast<std::time_t>(-1)) return false;
  const int64_t distance = static_cast<int64_t>(login) - now;
  return distance <= window_seconds && -distance <= window_seconds;
}

std::string LoginTimeText(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return "19700101000000";
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
  return text;
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
