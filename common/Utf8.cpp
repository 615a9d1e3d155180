#include "common/Utf8.h"

#include <cstdint>

namespace Velmora {
namespace Common {

namespace {

// The first byte of a sequence: how many continuation bytes follow, the bits it gives,
// and the range its first continuation byte must lie in (which excludes overlong forms,
// surrogates and code points above U+10FFFF). False for a byte no sequence starts with.
bool ReadLead(unsigned char b, int* need, uint32_t* cp, unsigned char* lo, unsigned char* hi) {
  *lo = 0x80;
  *hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    *need = 1;
    *cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    *need = 2;
    *cp = b & 0x0F;
    if (b == 0xE0) *lo = 0xA0;
    if (b == 0xED) *hi = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    *need = 3;
    *cp = b & 0x07;
    if (b == 0xF0) *lo = 0x90;
    if (b == 0xF4) *hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return false;
  }
  return true;
}

// Reads the sequence at s[i]: how many bytes it takes (the maximal part of an ill-formed
// one) and whether it is well-formed, with its code point.
size_t ReadSequence(const unsigned char* s, size_t i, size_t length, bool* ok, uint32_t* cp) {
  const unsigned char b = s[i];
  if (b < 0x80) {
    *ok = true;
    *cp = b;
    return 1;
  }
  int need = 0;
  unsigned char lo, hi;
  if (!ReadLead(b, &need, cp, &lo, &hi)) {
    *ok = false;
    return 1;
  }
  size_t j = i + 1;
  int got = 0;
  while (got < need && j < length) {
    const unsigned char c = s[j];
    if (c < lo || c > hi) break;
    *cp = (*cp << 6) | (c & 0x3F);
    lo = 0x80;
    hi = 0xBF;
    ++j;
    ++got;
  }
  *ok = got == need;
  return j - i;
}

void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

bool DecodeUtf8(const char* text, size_t length, bool strict, std::wstring* out) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < length) {
    bool ok = false;
    uint32_t cp = 0;
    const size_t taken = ReadSequence(s, i, length, &ok, &cp);
    if (!ok && strict) return false;
    out->push_back(ok ? static_cast<wchar_t>(cp) : L'\xFFFD');
    i += taken;
  }
  return true;
}

bool EncodeUtf8(const wchar_t* text, size_t length, bool strict, std::string* out) {
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      if (strict) return false;
      c = 0xFFFD;
    }
    AppendUtf8(c, out);
  }
  return true;
}

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  DecodeUtf8(text.data(), text.size(), false, &out);
  return out;
}

std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  EncodeUtf8(text.data(), text.size(), false, &out);
  return out;
}

bool Utf8ToWideStrict(std::string_view text, std::wstring* out) {
  std::wstring result;
  result.reserve(text.size());
  if (!DecodeUtf8(text.data(), text.size(), true, &result)) return false;
  out->swap(result);
  return true;
}

size_t ReadUtf8Sequence(std::string_view text, size_t at, char32_t* cp) {
  bool ok = false;
  uint32_t code = 0;
  const size_t taken = ReadSequence(reinterpret_cast<const unsigned char*>(text.data()), at,
                                    text.size(), &ok, &code);
  *cp = code;
  return ok ? taken : 0;
}

bool IsValidUtf8(std::string_view text) {
  char32_t cp;
  for (size_t i = 0; i < text.size();) {
    const size_t taken = ReadUtf8Sequence(text, i, &cp);
    if (taken == 0) return false;
    i += taken;
  }
  return true;
}

}  // namespace Common
}  // namespace Velmora
