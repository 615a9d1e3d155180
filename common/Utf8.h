// UTF-8 and wide text (wchar_t of 32 bits: one character a unit), written once for the
// host, the service, the command line and the platform layer of Linux.
#ifndef ZQBLOG_COMMON_UTF8_H_
#define ZQBLOG_COMMON_UTF8_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace Velmora {
namespace Common {

// Appends the characters of length bytes of UTF-8 at text to *out. Strict: false at the
// first byte of no well-formed sequence (an overlong form, a surrogate, a code point
// above U+10FFFF, a stray or missing continuation byte), *out then holding what came
// before it. Lenient: each maximal part of an ill-formed sequence becomes U+FFFD, and
// the result is always true.
bool DecodeUtf8(const char* text, size_t length, bool strict, std::wstring* out);
// Appends the UTF-8 of length characters at text to *out. A unit that is no Unicode
// scalar value (a surrogate, anything above U+10FFFF) fails a strict encoding and
// becomes U+FFFD in a lenient one.
bool EncodeUtf8(const wchar_t* text, size_t length, bool strict, std::string* out);

// Lenient conversions of whole texts.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
// Strict: false (out unchanged) when text is not well-formed UTF-8.
bool Utf8ToWideStrict(std::string_view text, std::wstring* out);

// The well-formed sequence that starts at text[at]: its length (1 to 4), its code point
// in *cp; 0 (*cp unspecified) when none starts there. REQUIRES: at < text.size().
size_t ReadUtf8Sequence(std::string_view text, size_t at, char32_t* cp);
// Whether text is well-formed UTF-8 throughout.
bool IsValidUtf8(std::string_view text);

}  // namespace Common
}  // namespace Velmora

#endif  // ZQBLOG_COMMON_UTF8_H_
