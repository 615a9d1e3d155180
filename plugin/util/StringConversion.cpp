#include "util/StringConversion.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

namespace Velmora {
namespace ZQBlog {

namespace {

[[noreturn]] void ThrowInvalidLength() {
  AtlThrow(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER));
}

// Whether the code page gives every byte below 0x80 the character of the same value:
// UTF-8, and the ANSI code pages (all of them supersets of ASCII).
bool KeepsAscii(UINT codePage) {
  return codePage == CP_UTF8 || codePage == CP_ACP || codePage == ZqGetConversionACP();
}

bool IsAscii(const char* text, size_t length) {
  size_t i = 0;
  // Eight bytes at a time: a byte from 0x80 on has its top bit set.
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, text + i, 8);
    if (word & 0x8080808080808080ull) return false;
  }
  for (; i < length; ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  }
  return true;
}

}  // namespace

bool ConvertsByteForByte(UINT codePage, const char* text, size_t length) {
  return KeepsAscii(codePage) && IsAscii(text, length);
}

void AppendMultiByteToWide(UINT codePage, const char* text, size_t length, std::wstring* out) {
  if (length == 0) return;
  if (text == nullptr || length > static_cast<size_t>(INT_MAX)) ThrowInvalidLength();
  const size_t start = out->size();
  try {
    // Most texts of the replies (ids, content ids, sizes, URLs) are plain ASCII: each
    // byte is its character, no system call needed.
    if (ConvertsByteForByte(codePage, text, length)) {
      out->resize(start + length);
      wchar_t* to = &(*out)[start];
      for (size_t i = 0; i < length; ++i) to[i] = static_cast<wchar_t>(text[i]);
      return;
    }
    // No code page makes more characters than bytes, so one call with room for length
    // characters converts the text; the two-call form is the fallback.
    out->resize(start + length);
  } catch (const std::bad_alloc&) {
    out->resize(start);
    AtlThrow(E_OUTOFMEMORY);
  }
  int source = static_cast<int>(length);
  int written = MultiByteToWideChar(codePage, 0, text, source, &(*out)[start], source);
  if (written > 0) {
    out->resize(start + static_cast<size_t>(written));
    return;
  }
  out->resize(start);
  int needed = MultiByteToWideChar(codePage, 0, text, source, nullptr, 0);
  if (needed == 0) AtlThrowLastWin32();
  try {
    out->resize(start + static_cast<size_t>(needed));
  } catch (const std::bad_alloc&) {
    out->resize(start);
    AtlThrow(E_OUTOFMEMORY);
  }
  if (MultiByteToWideChar(codePage, 0, text, source, &(*out)[start], needed) == 0) {
    out->resize(start);
    AtlThrowLastWin32();
  }
}

std::wstring MultiByteToWide(UINT codePage, const char* text, size_t length) {
  std::wstring result;
  AppendMultiByteToWide(codePage, text, length, &result);
  return result;
}

std::string WideToMultiByte(UINT codePage, const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  if (text == nullptr || length > static_cast<size_t>(INT_MAX)) ThrowInvalidLength();
  int source = static_cast<int>(length);
  std::string result;
  // One call with room for the longest a character can get converts the text: UTF-8
  // takes up to three bytes a UTF-16 unit (four a UTF-32 one), the double-byte ANSI code
  // pages two. The two-call form (size, then text) is the fallback for the others.
  const size_t perCharacter = codePage == CP_UTF8 ? (sizeof(wchar_t) == 2 ? 3 : 4) : 2;
  if (length <= static_cast<size_t>(INT_MAX) / perCharacter) {
    try {
      result.resize(perCharacter * length);
    } catch (const std::bad_alloc&) {
      AtlThrow(E_OUTOFMEMORY);
    }
    const int written = WideCharToMultiByte(codePage, 0, text, source, &result[0],
                                            static_cast<int>(result.size()), nullptr, nullptr);
    if (written > 0) {
      result.resize(static_cast<size_t>(written));
      return result;
    }
  }
  int needed = WideCharToMultiByte(codePage, 0, text, source, nullptr, 0, nullptr, nullptr);
  if (needed == 0) AtlThrowLastWin32();
  try {
    result.resize(static_cast<size_t>(needed));
  } catch (const std::bad_alloc&) {
    AtlThrow(E_OUTOFMEMORY);
  }
  if (WideCharToMultiByte(codePage, 0, text, source, &result[0], needed, nullptr, nullptr) ==
      0) {
    AtlThrowLastWin32();
  }
  return result;
}

std::wstring AnsiToWide(const std::string& text) {
  return MultiByteToWide(ZqGetConversionACP(), text.data(), text.size());
}

std::string WideToAnsi(const std::wstring& text) {
  return WideToMultiByte(ZqGetConversionACP(), text.data(), text.size());
}

}  // namespace ZQBlog
}  // namespace Velmora
