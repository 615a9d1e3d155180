// Text helpers of the command-line host: the plug-in speaks wide strings (UTF-32 here),
// the terminal and JSON speak UTF-8, and tables align by display columns (a CJK
// character takes two).
#ifndef ZQBLOG_CLI_UTF8TEXT_H_
#define ZQBLOG_CLI_UTF8TEXT_H_

#include <string>

#include "platform/platform.h"

namespace Velmora {
namespace ZQCli {

// UTF-8 of a wide string; characters that are not Unicode scalar values become U+FFFD.
std::string WideToUtf8(const std::wstring& text);
// The wide string of UTF-8 text; false (out unchanged) when text is not valid UTF-8.
// Both as common/Utf8.h converts, the strict way in.
bool Utf8ToWide(const std::string& text, std::wstring* out);
// UTF-8 of a BSTR (null is empty); the BSTR stays the caller's.
std::string BstrToUtf8(BSTR text);
// UTF-8 of a BSTR the callee allocated; frees it.
std::string TakeBstrUtf8(BSTR text);

// Terminal columns the UTF-8 text takes (East Asian wide characters 2, combining marks
// 0, others 1; invalid bytes count 1 each).
size_t DisplayWidth(const std::string& text);
// text cut to at most columns display columns, with "…" at the end when cut.
std::string FitWidth(const std::string& text, size_t columns);

// ASCII lower case.
std::string LowerAscii(const std::string& text);

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_UTF8TEXT_H_
