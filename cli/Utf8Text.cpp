#include "cli/Utf8Text.h"

#include "common/Utf8.h"

namespace Velmora {
namespace ZQCli {

namespace {

int CharWidth(char32_t c) {
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

std::string WideToUtf8(const std::wstring& text) { return Common::WideToUtf8(text); }

bool Utf8ToWide(const std::string& text, std::wstring* out) {
  return Common::Utf8ToWideStrict(text, out);
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
    char32_t c = 0;
    const size_t taken = Common::ReadUtf8Sequence(text, pos, &c);
    width += taken > 0 ? static_cast<size_t>(CharWidth(c)) : 1;
    pos += taken > 0 ? taken : 1;
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
    char32_t c = 0;
    const size_t taken = Common::ReadUtf8Sequence(text, pos, &c);
    int w = taken > 0 ? CharWidth(c) : 1;
    pos += taken > 0 ? taken : 1;
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
