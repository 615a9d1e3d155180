// Helpers shared by the files of libzqplatform.so; not part of the platform contract.
#ifndef ZQBLOG_PLATFORM_POSIX_INTERNAL_H_
#define ZQBLOG_PLATFORM_POSIX_INTERNAL_H_

#include <cstddef>
#include <string>

#include "common/Utf8.h"
#include "platform/posix/platform_posix.h"

namespace zqplatform {

// UTF-8 and wide text, strict or lenient (common/Utf8.h); the lenient whole-text forms
// serve paths and registry text.
using Velmora::Common::DecodeUtf8;
using Velmora::Common::EncodeUtf8;
using Velmora::Common::Utf8ToWide;
using Velmora::Common::WideToUtf8;

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
