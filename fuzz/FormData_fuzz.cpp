// The reference service's form parser (service/FormData.h) from arbitrary bytes, and
// against the client's escaping.
//
// Checks:
//   - a raw body: one field per non-empty '&' piece (trailing NULs ignored), each
//     named by the text before its first '=' and %XX-decoded as the decoding rule says
//     (a malformed escape stays as it is, '+' stays '+');
//   - the fields of the body the client sends: texts escaped by the plug-in
//     (BaseBlogCmd::UrlEscape) and joined with '=' and '&' read back as exactly those
//     texts, the first of a name winning, and GetInt agrees with the integer rule;
//   - ParseInt32 takes exactly an optional sign and one or more digits in the int32
//     range.
// Input: the raw body. Split at NUL bytes, the pieces are also the client's texts,
// alternately names and values (a NUL ends a text the plug-in escapes).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "fuzz/FuzzSupport.h"
#include "service/FormData.h"

namespace {

using Velmora::ZQBlog::BaseBlogCmd;
using Velmora::ZQBlog::Service::FormData;
using Velmora::ZQBlog::Service::ParseInt32;

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The decoding rule, written from the left with an output cursor.
std::string Decoded(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '%' && text.size() - i >= 3 && Hex(text[i + 1]) >= 0 &&
        Hex(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2])));
      i += 3;
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

// The integer rule: [+-]?[0-9]+ within int32.
bool IntegerOf(const std::string& text, int32_t* value) {
  size_t digits = text.empty() ? 0 : (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (digits == text.size()) return false;
  long long magnitude = 0;
  for (size_t i = digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    if (magnitude <= 2147483648LL) magnitude = magnitude * 10 + (text[i] - '0');
  }
  const long long signed_value = text[0] == '-' ? -magnitude : magnitude;
  if (signed_value < -2147483648LL || signed_value > 2147483647LL) return false;
  *value = static_cast<int32_t>(signed_value);
  return true;
}

void CheckInteger(const std::string& text) {
  int32_t expected = 0, got = 0;
  const bool valid = IntegerOf(text, &expected);
  ZQ_FUZZ_CHECK(ParseInt32(text, &got) == valid);
  if (valid) ZQ_FUZZ_CHECK(got == expected);
}

// The fields the client's pairs give: each name's first value.
void CheckClientForm(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string body;
  for (const auto& pair : pairs) {
    if (!body.empty()) body += '&';
    body += BaseBlogCmd::UrlEscape(pair.first) + "=" + BaseBlogCmd::UrlEscape(pair.second);
  }
  const FormData form = FormData::Parse(body);
  // A pair is left out only when it is empty: an empty name with an empty value still
  // writes "=".
  ZQ_FUZZ_CHECK(form.size() == pairs.size());
  for (size_t i = 0; i < pairs.size(); ++i) {
    size_t first = 0;
    while (pairs[first].first != pairs[i].first) ++first;
    const std::string* value = form.Find(pairs[i].first);
    ZQ_FUZZ_CHECK(value != nullptr && *value == pairs[first].second);
    int32_t expected = 0, got = 0;
    const bool valid = IntegerOf(pairs[first].second, &expected);
    ZQ_FUZZ_CHECK(form.GetInt(pairs[i].first, &got) == valid);
    if (valid) ZQ_FUZZ_CHECK(got == expected);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // The raw body.
  std::string_view body = input;
  while (!body.empty() && body.back() == '\0') body.remove_suffix(1);
  const FormData raw = FormData::Parse(input);
  size_t pieces = 0;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view piece = body.substr(start, end - start);
    if (!piece.empty()) {
      ++pieces;
      const size_t eq = piece.find('=');
      const std::string name = Decoded(piece.substr(0, eq));
      const std::string* value = raw.Find(name);
      ZQ_FUZZ_CHECK(value != nullptr);
      ZQ_FUZZ_CHECK(FormData::Decode(piece) == Decoded(piece));
    }
    start = end + 1;
  }
  ZQ_FUZZ_CHECK(raw.size() == pieces);
  ZQ_FUZZ_CHECK(FormData::Decode(input) == Decoded(input));

  // The client's texts.
  std::vector<std::string> texts;
  size_t at = 0;
  for (size_t nul = input.find('\0'); ; nul = input.find('\0', at)) {
    texts.emplace_back(input.substr(at, nul == std::string_view::npos ? nul : nul - at));
    CheckInteger(texts.back());
    if (nul == std::string_view::npos) break;
    at = nul + 1;
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  for (size_t i = 0; i + 1 < texts.size(); i += 2) pairs.emplace_back(texts[i], texts[i + 1]);
  CheckClientForm(pairs);
  return 0;
}
