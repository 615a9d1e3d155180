// The entity removal applied to list replies before they are cached, against its
// definition: while the text holds the pattern, cut its first occurrence and search
// again from the beginning.
//
// Input: one byte; when its low four bits are 0 the rest is a reply text for
// RemoveReplyEntities (the three passes: "&#10;", "&#09;", "&amp;nbsp;"). Otherwise they
// are the length of a pattern taken from the next bytes, and the rest is the text for
// RemoveEveryOccurrence. Both must give what the definition gives, byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "commands/EntityRemoval.h"
#include "fuzz/FuzzSupport.h"

namespace {

// The definition, quadratic and obviously right.
std::string RemoveByDefinition(std::string text, const std::string& pattern) {
  if (pattern.empty()) return text;
  for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern)) {
    text.erase(at, pattern.size());
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using Velmora::ZQBlog::RemoveEveryOccurrence;
  using Velmora::ZQBlog::RemoveReplyEntities;
  if (size == 0) return 0;
  const size_t length = data[0] & 15;
  if (length == 0) {
    const std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string expected = RemoveByDefinition(reply, "&#10;");
    expected = RemoveByDefinition(expected, "&#09;");
    expected = RemoveByDefinition(expected, "&amp;nbsp;");
    std::string text = reply;
    RemoveReplyEntities(&text);
    ZQ_FUZZ_CHECK(text == expected);
    return 0;
  }
  if (size < 1 + length) return 0;
  const std::string pattern(reinterpret_cast<const char*>(data + 1), length);
  const std::string original(reinterpret_cast<const char*>(data + 1 + length),
                             size - 1 - length);
  std::string text = original;
  RemoveEveryOccurrence(&text, pattern.data(), pattern.size());
  ZQ_FUZZ_CHECK(text == RemoveByDefinition(original, pattern));
  return 0;
}
