// The "Cookie" header of write requests: "login_name=<uin>; login_time=<14 digits>;
// key=<32 lower-case hex>", where key is the HMAC-MD5 of uin immediately followed by
// login_time, under the client's fixed signing key.
#ifndef ZQBLOG_SERVICE_COOKIECHECK_H_
#define ZQBLOG_SERVICE_COOKIECHECK_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace Velmora {
namespace ZQBlog {
namespace Service {

// The key the client signs its cookies with.
extern const char kCookieSigningKey[];

// The 32 lower-case hex digits of HMAC-MD5(signing key, uin + login_time).
std::string CookieSignature(std::string_view uin, std::string_view login_time);

// A cookie header value exactly as the client builds it.
std::string BuildSignedCookie(std::string_view uin, std::string_view login_time);

// True when header is a well-formed cookie whose login_name equals uin, whose
// login_time is 14 digits and whose key is the signature of the two.
bool CookieIsValid(std::string_view header, std::string_view uin);

// True when header's login_time (14 digits, the client's local time) lies within
// window_seconds of now (seconds since 1970) either way: a captured cookie is good for
// that long only. False for a missing or malformed login_time or a negative window.
bool CookieIsFresh(std::string_view header, int64_t now, int64_t window_seconds);

// seconds (since 1970) as a login_time: "YYYYMMDDhhmmss" in the local time, as the
// client signs it.
std::string LoginTimeText(int64_t seconds);

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_COOKIECHECK_H_
