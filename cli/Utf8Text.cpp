#include "cli/Utf8Text.h"

#include <cstdint>
#include <vector>

namespace Velmora {
namespace ZQCli {

namespace {

void AppendUtf8(uint32_t c, std::string* out) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
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

// Decodes one character at text[*pos]; false for an invalid sequence (pos moves one byte).
bool DecodeOne(const std::string& text, size_t* pos, uint32_t* c) {
  const unsigned char lead = static_cast<unsigned char>(text[*pos]);
  size_t extra = 0;
  uint32_t value = 0;
  uint32_t minimum = 0;
  if (lead < 0x80) {
    *c = lead;
    ++*pos;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    value = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    value = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    value = lead & 0x07;
    minimum = 0x10000;
  } else {
    ++*pos;
    return false;
  }
  if (*pos + extra >= text.size()) {
    ++*pos;
    return false;
  }
  for (size_t i = 1; i <= extra; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[*pos + i]);
    if ((next & 0xC0) != 0x80) {
      ++*pos;
      return false;
    }
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++*pos;
    return false;
  }
  *pos += extra + 1;
  *c = value;
  return true;
}

int CharWidth(uint32_t c) {
  if (c == 0) return 0;
  if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) ||
      (c >= 0xFE00 && c <= 0xFE0F)) {
    return 0;
  }
  if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
      (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
      (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
      (c >= 0x20000 && c <= 0x3FFFD)) {
    return 2;
  }
  return 1;
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    // UTF-16 pairs, where wchar_t is 16 bits.
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      uint32_t low = static_cast<uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(c, &out);
  }
  return out;
}

bool Utf8ToWide(const std::string& text, std::wstring* out) {
  std::wstring result;
  result.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    uint32_t c = 0;
    if (!DecodeOne(text, &pos, &c)) return false;
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
      c -= 0x10000;
      result.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
      result.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    } else {
      result.push_back(static_cast<wchar_t>(c));
    }
  }
  *out = result;
  return true;
}

std::string BstrToUtf8(BSTR text) {
  if (text == nullptr) return std::string();
  return WideToUtf8(std::wstring(text, SysStringLen(text)));
}

std::string TakeBstrUtf8(BSTR text) {
  std::string out = BstrToUtf8(text);
  SysFreeString(text);
  return out;
}

size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    uint32_t c = 0;
    width += DecodeOne(text, &pos, &c) ? static_cast<size_t>(CharWidth(c)) : 1;
  }
  return width;
}

std::string FitWidth(const std::string& text, size_t columns) {
  if (DisplayWidth(text) <= columns) return text;
  if (columns == 0) return std::string();
  std::string out;
  size_t width = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t start = pos;
    uint32_t c = 0;
    int w = DecodeOne(text, &pos, &c) ? CharWidth(c) : 1;
    if (width + static_cast<size_t>(w) + 1 > columns) break;
    out.append(text, start, pos - start);
    width += static_cast<size_t>(w);
  }
  return out + "\xE2\x80\xA6";  // …
}

std::string LowerAscii(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace ZQCli
}  // namespace Velmora
