// Text conversion between the process ANSI code page (ZqGetConversionACP), UTF-8 and
// wide strings. Failures raise ConversionError carrying an HRESULT: E_OUTOFMEMORY when
// a buffer cannot be had, otherwise the system's last error as an HRESULT.
#ifndef ZQBLOG_UTIL_STRINGCONVERSION_H_
#define ZQBLOG_UTIL_STRINGCONVERSION_H_

#include <string>

#include "platform/atlconv.h"

namespace Velmora {
namespace ZQBlog {

// ANSI (process code page) <-> wide. The whole string is converted, NULs included.
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

// Any code page <-> wide, for callers that name one (CP_UTF8, 936, ...).
std::wstring MultiByteToWide(UINT codePage, const char* text, size_t length);
std::string WideToMultiByte(UINT codePage, const wchar_t* text, size_t length);

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_UTIL_STRINGCONVERSION_H_
