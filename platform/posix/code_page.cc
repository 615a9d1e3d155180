// Code-page conversion with the Win32 rules. UTF-8 is converted by common/Utf8; every
// other code page goes through iconv, with what Windows adds to it (the private-use codes of 936,
// the undefined bytes of 1252). The ANSI and OEM code pages are 936 (GBK).
#include <errno.h>
#include <iconv.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/internal.h"

namespace {

constexpr UINT kAnsiCodePage = 936;
constexpr char kWideCharset[] = "WCHAR_T";

// Bytes of code page 1252 that Windows passes through as C1 controls while iconv has
// no mapping for them.
bool Is1252Passthrough(uint32_t c) {
  return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

// The code page a caller names, with the ANSI aliases resolved; 0 when unsupported.
UINT ResolveCodePage(UINT codePage) {
  switch (codePage) {
    case CP_ACP:
    case CP_OEMCP:
    case CP_THREAD_ACP:
      return kAnsiCodePage;
    case 2:  // CP_MACCP
    case 42:  // CP_SYMBOL
    case 65000:  // CP_UTF7
      return 0;
    default:
      return codePage;
  }
}

std::string CharsetOf(UINT codePage) {
  switch (codePage) {
    case 20127:
      return "ASCII";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 54936:
      return "GB18030";
    case 1200:
      return "UTF-16LE";
    case 1201:
      return "UTF-16BE";
    case 12000:
      return "UTF-32LE";
    case 12001:
      return "UTF-32BE";
    default:
      if (codePage >= 28591 && codePage <= 28599) {
        return "ISO-8859-" + std::to_string(codePage - 28590);
      }
      return "CP" + std::to_string(codePage);
  }
}

// iconv descriptors, opened on first use by each thread and closed at its exit; a
// thread uses few code pages, so a short list looked up by number does.
class IconvCache {
 public:
  ~IconvCache() {
    for (const Entry& entry : entries_) iconv_close(entry.cd);
  }

  // A descriptor between codePage and wide text (toWide: from the code page), reset to
  // its initial state, or (iconv_t)-1 when iconv lacks the pair.
  iconv_t Get(UINT codePage, bool toWide) {
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
    for (const Entry& entry : entries_) {
      if (entry.codePage == codePage && entry.toWide == toWide) cd = entry.cd;
    }
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      const std::string charset = CharsetOf(codePage);
      cd = toWide ? iconv_open(kWideCharset, charset.c_str())
                  : iconv_open(charset.c_str(), kWideCharset);
      if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
      entries_.push_back(Entry{codePage, toWide, cd});
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return cd;
  }

 private:
  struct Entry {
    UINT codePage;
    bool toWide;
    iconv_t cd;
  };
  std::vector<Entry> entries_;
};

thread_local IconvCache t_iconv;

enum class Outcome { kOk, kInvalid };

// Runs cd over the input, appending to out. onInvalid(at, left, out) handles one
// position iconv cannot convert: it appends a replacement to out and returns how many
// input bytes to skip, or 0 to fail the conversion.
template <class Out, class OnInvalid>
Outcome RunIconv(iconv_t cd, const char* input, size_t inputBytes, Out* out,
                 OnInvalid onInvalid) {
  typedef typename Out::value_type Unit;
  char* in = const_cast<char*>(input);
  size_t inLeft = inputBytes;
  // Short texts, most of them, convert through the stack.
  alignas(wchar_t) char small[1024];
  std::vector<char> large;
  char* chunk = small;
  size_t chunkSize = sizeof small;
  const size_t wanted = inputBytes < 16384 ? inputBytes * 4 + 64 : 65536;
  if (wanted > chunkSize) {
    large.resize(wanted);
    chunk = large.data();
    chunkSize = large.size();
  }
  while (inLeft != 0) {
    char* dst = chunk;
    size_t dstLeft = chunkSize;
    size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    int error = errno;
    size_t produced = chunkSize - dstLeft;
    out->append(reinterpret_cast<const Unit*>(chunk), produced / sizeof(Unit));
    if (r != static_cast<size_t>(-1)) continue;
    if (error == E2BIG) {
      if (produced == 0) {
        large.resize(chunkSize * 2);
        chunk = large.data();
        chunkSize = large.size();
      }
      continue;
    }
    if (error != EILSEQ && error != EINVAL) return Outcome::kInvalid;
    size_t skip = onInvalid(in, inLeft, out);
    if (skip == 0 || skip > inLeft) return Outcome::kInvalid;
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Return a stateful encoding to its initial shift state.
  char* dst = chunk;
  size_t dstLeft = chunkSize;
  if (iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) {
    return Outcome::kInvalid;
  }
  out->append(reinterpret_cast<const Unit*>(chunk), (chunkSize - dstLeft) / sizeof(Unit));
  return Outcome::kOk;
}

// A conversion of a resolved code page: utf8() for UTF-8, else viaIconv(cd) with the
// thread's descriptor in that direction. Sets the last error and returns false on
// failure.
template <class Utf8, class Iconv>
bool Convert(UINT codePage, bool toWide, Utf8 utf8, Iconv viaIconv) {
  if (codePage == CP_UTF8) {
    if (!utf8()) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return false;
    }
    return true;
  }
  iconv_t cd = t_iconv.Get(codePage, toWide);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (viaIconv(cd) != Outcome::kOk) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  return true;
}

// Multi-byte text of a resolved code page to wide text. Sets the last error and
// returns false on failure.
bool ToWide(UINT codePage, bool strict, const char* src, size_t length, std::wstring* out) {
  return Convert(
      codePage, true, [&] { return zqplatform::DecodeUtf8(src, length, strict, out); },
      [&](iconv_t cd) {
        return RunIconv(cd, src, length, out,
                        [&](const char* at, size_t left, std::wstring* o) -> size_t {
                          unsigned char b = static_cast<unsigned char>(*at);
                          if (codePage == 936 && left >= 2) {
                            wchar_t code = zqplatform::Cp936PrivateUseOf(
                                b, static_cast<unsigned char>(at[1]));
                            if (code != 0) {
                              o->push_back(code);
                              return 2;
                            }
                          }
                          if (codePage == 1252 && Is1252Passthrough(b)) {
                            o->push_back(static_cast<wchar_t>(b));
                            return 1;
                          }
                          if (strict) return 0;
                          o->push_back(L'\xFFFD');
                          return 1;
                        });
      });
}

// Wide text to multi-byte text of a resolved code page. Characters without a mapping
// become defaultChar. Sets the last error and returns false on failure.
bool FromWide(UINT codePage, bool strict, const wchar_t* src, size_t length, char defaultChar,
              bool* usedDefault, std::string* out) {
  return Convert(
      codePage, false, [&] { return zqplatform::EncodeUtf8(src, length, strict, out); },
      [&](iconv_t cd) {
        return RunIconv(cd, reinterpret_cast<const char*>(src), length * sizeof(wchar_t), out,
                        [&](const char* at, size_t left, std::string* o) -> size_t {
                          if (left < sizeof(wchar_t)) return 0;
                          wchar_t c;
                          std::memcpy(&c, at, sizeof c);
                          unsigned char lead, trail;
                          if (codePage == 936 &&
                              zqplatform::Cp936SequenceOf(c, &lead, &trail)) {
                            o->push_back(static_cast<char>(lead));
                            o->push_back(static_cast<char>(trail));
                          } else if (codePage == 1252 && Is1252Passthrough(c)) {
                            o->push_back(static_cast<char>(c));
                          } else {
                            o->push_back(defaultChar);
                            *usedDefault = true;
                          }
                          return sizeof(wchar_t);
                        });
      });
}

}  // namespace

extern "C" {

UINT GetACP(void) { return kAnsiCodePage; }

UINT GetOEMCP(void) { return kAnsiCodePage; }

UINT ZqGetConversionACP(void) { return kAnsiCodePage; }

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLength, LPWSTR dst,
                        int dstLength) {
  if (src == nullptr || srcLength == 0 || srcLength < -1 || dstLength < 0 ||
      (dst == nullptr && dstLength != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  UINT resolved = ResolveCodePage(codePage);
  if (resolved == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = srcLength == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLength);
  std::wstring wide;
  if (!ToWide(resolved, (flags & MB_ERR_INVALID_CHARS) != 0, src, length, &wide)) return 0;
  if (wide.size() > static_cast<size_t>(INT_MAX)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  int needed = static_cast<int>(wide.size());
  if (dstLength == 0) return needed;
  if (needed > dstLength) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, wide.data(), wide.size() * sizeof(wchar_t));
  return needed;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dst,
                        int dstLength, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  if (src == nullptr || srcLength == 0 || srcLength < -1 || dstLength < 0 ||
      (dst == nullptr && dstLength != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  UINT resolved = ResolveCodePage(codePage);
  if (resolved == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // UTF-8 has no default character.
  if (resolved == CP_UTF8 && (defaultChar != nullptr || usedDefaultChar != nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = srcLength == -1 ? std::wcslen(src) + 1 : static_cast<size_t>(srcLength);
  std::string narrow;
  bool usedDefault = false;
  char replacement = defaultChar != nullptr ? *defaultChar : '?';
  if (!FromWide(resolved, (flags & WC_ERR_INVALID_CHARS) != 0, src, length, replacement,
                &usedDefault, &narrow)) {
    return 0;
  }
  if (narrow.size() > static_cast<size_t>(INT_MAX)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  int needed = static_cast<int>(narrow.size());
  if (dstLength != 0) {
    if (needed > dstLength) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(dst, narrow.data(), narrow.size());
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? TRUE : FALSE;
  return needed;
}

}  // extern "C"
