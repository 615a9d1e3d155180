// Text conversion between the process ANSI code page (ZqGetConversionACP), other code
// pages and wide strings. Failures raise ConversionError (ATL's CAtlException) carrying
// an HRESULT: E_OUTOFMEMORY when a buffer cannot be had, otherwise the system's last
// error as an HRESULT (E_FAIL when it is 0).
#ifndef ZQBLOG_UTIL_STRINGCONVERSION_H_
#define ZQBLOG_UTIL_STRINGCONVERSION_H_

#include <cstddef>
#include <string>

#include "platform/atlconv.h"

namespace Velmora {
namespace ZQBlog {

typedef ATL::CAtlException ConversionError;

// ANSI (process code page) <-> wide. The whole string is converted, NULs included;
// an empty string gives an empty string.
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

// Any code page <-> wide, for callers that name one (CP_UTF8, 936, ...). length counts
// bytes (characters for wide text), NULs included; a length of 0 gives an empty
// string. Text that does not fit the system's int length fails with
// HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER).
// REQUIRES: text is not null when length is not 0.
std::wstring MultiByteToWide(UINT codePage, const char* text, size_t length);
// Whether every byte of text converts in codePage to the character of the same value
// (plain ASCII in UTF-8 or an ANSI code page), so that it can be widened directly.
bool ConvertsByteForByte(UINT codePage, const char* text, size_t length);
// The same conversion appended to *out. On failure *out is as it was.
void AppendMultiByteToWide(UINT codePage, const char* text, size_t length, std::wstring* out);
std::string WideToMultiByte(UINT codePage, const wchar_t* text, size_t length);

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_UTIL_STRINGCONVERSION_H_
