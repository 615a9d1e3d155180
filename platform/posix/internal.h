// Helpers shared by the files of libzqplatform.so; not part of the platform contract.
#ifndef ZQBLOG_PLATFORM_POSIX_INTERNAL_H_
#define ZQBLOG_PLATFORM_POSIX_INTERNAL_H_

#include <cstddef>
#include <string>

#include "platform/posix/platform_posix.h"

namespace zqplatform {

// UTF-8 bytes to wide text. Each ill-formed sequence (its longest valid beginning) is
// one U+FFFD, or the conversion fails when strict. Returns false only when strict.
bool DecodeUtf8(const char* text, size_t length, bool strict, std::wstring* out);

// Wide text to UTF-8. A surrogate or a value above U+10FFFF becomes U+FFFD, or the
// conversion fails when strict. Returns false only when strict.
bool EncodeUtf8(const wchar_t* text, size_t length, bool strict, std::string* out);

// Lenient conversions for paths and registry text.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// Code page 936's user-defined areas and unassigned codes, which Windows maps to the
// Private Use Area (U+E000 to U+E864) and iconv refuses. Cp936PrivateUseOf gives the code
// of a two-byte sequence, or 0 when it has none there; Cp936SequenceOf is its inverse and
// returns false for a code outside that range.
wchar_t Cp936PrivateUseOf(unsigned char lead, unsigned char trail);
bool Cp936SequenceOf(wchar_t code, unsigned char* lead, unsigned char* trail);

// The Win32 error code closest to an errno value.
DWORD Win32ErrorFromErrno(int error);

}  // namespace zqplatform

#endif  // ZQBLOG_PLATFORM_POSIX_INTERNAL_H_
