#include "FormData.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string FormData::Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

FormData FormData::Parse(std::string_view body) {
  while (!body.empty() && body.back() == '\0') body.remove_suffix(1);
  FormData form;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view pair = body.substr(start, end - start);
    if (!pair.empty()) {
      const size_t eq = pair.find('=');
      if (eq == std::string_view::npos) {
        form.fields_.emplace_back(Decode(pair), std::string());
      } else {
        form.fields_.emplace_back(Decode(pair.substr(0, eq)), Decode(pair.substr(eq + 1)));
      }
      form.index_.emplace(form.fields_.back().first, form.fields_.size() - 1);
    }
    start = end + 1;
  }
  return form;
}

const std::string* FormData::Find(std::string_view key) const {
  const auto it = index_.find(std::string(key));
  return it == index_.end() ? nullptr : &fields_[it->second].second;
}

std::string FormData::Get(std::string_view key, std::string_view fallback) const {
  const std::string* value = Find(key);
  return value != nullptr ? *value : std::string(fallback);
}

bool FormData::GetInt(std::string_view key, int32_t* value) const {
  const std::string* text = Find(key);
  return text != nullptr && ParseInt32(*text, value);
}

bool ParseInt32(std::string_view text, int32_t* value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > 2147483648LL) return false;
  }
  const int64_t result = negative ? -magnitude : magnitude;
  if (result > 2147483647LL) return false;
  *value = static_cast<int32_t>(result);
  return true;
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
