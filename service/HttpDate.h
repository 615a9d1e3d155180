// HTTP dates for Last-Modified and If-Modified-Since, at second resolution.
#ifndef ZQBLOG_SERVICE_HTTPDATE_H_
#define ZQBLOG_SERVICE_HTTPDATE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace Velmora {
namespace ZQBlog {
namespace Service {

// RFC 1123 form, "Sun, 06 Nov 1994 08:49:37 GMT", for seconds since 1970 (UTC).
std::string FormatHttpDate(int64_t seconds);

// Reads an RFC 1123 date (a one-digit day is accepted, as is a missing weekday), an
// RFC 850 date ("Sunday, 06-Nov-94 08:49:37 GMT") or an asctime date ("Sun Nov  6
// 08:49:37 1994"). Years before 1970 give negative seconds. False when text is none
// of these.
bool ParseHttpDate(std::string_view text, int64_t* seconds);

// "YYYY-MM-DD HH:MM:SS" in the server's local time, the form of the last_time values.
std::string FormatLocalTime(int64_t seconds);

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_HTTPDATE_H_
