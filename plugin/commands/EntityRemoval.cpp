#include "commands/EntityRemoval.h"

#include <cstring>

namespace Velmora {
namespace ZQBlog {

// Why one pass gives the result of searching again from the beginning after every cut:
// the kept text (text[0, kept)) never holds the pattern. It holds none at the start;
// appending one character can only form an occurrence that ends at that character, and
// cutting that occurrence leaves a prefix of the kept text as it was before, which held
// none. So at every step the text "kept + unread rest" has its occurrences only where
// they end in the unread rest, and since all occurrences have the same length, the
// first of them (the one a search from the beginning finds) is the one that ends first,
// which is exactly the one the pass meets first when it appends characters. Cutting it
// is the same cut; by induction both give the same text.
//
// Only appending the pattern's last character can complete an occurrence, so the pass
// jumps from one such character to the next (memchr) and moves the text between them in
// one piece; before the first cut the kept text is the text itself and nothing moves.
void RemoveEveryOccurrence(std::string* text, const char* pattern, size_t length) {
  if (text == nullptr || pattern == nullptr || length == 0 || text->size() < length) return;
  char* data = &(*text)[0];
  const size_t size = text->size();
  const char last = pattern[length - 1];
  size_t kept = 0;  // text[0, kept) is the kept text; kept <= read always
  size_t read = 0;  // text[read, size) is the unread rest
  while (read < size) {
    const void* found = std::memchr(data + read, last, size - read);
    const size_t end = found == nullptr ? size : static_cast<size_t>(
                                                     static_cast<const char*>(found) - data) + 1;
    if (kept != read) std::memmove(data + kept, data + read, end - read);
    kept += end - read;
    read = end;
    if (found != nullptr && kept >= length &&
        std::memcmp(data + kept - length, pattern, length) == 0) {
      kept -= length;
    }
  }
  text->resize(kept);
}

void RemoveReplyEntities(std::string* text) {
  static const char kLineFeed[] = "&#10;";
  static const char kTab[] = "&#09;";
  static const char kNbsp[] = "&amp;nbsp;";
  RemoveEveryOccurrence(text, kLineFeed, sizeof(kLineFeed) - 1);
  RemoveEveryOccurrence(text, kTab, sizeof(kTab) - 1);
  RemoveEveryOccurrence(text, kNbsp, sizeof(kNbsp) - 1);
}

}  // namespace ZQBlog
}  // namespace Velmora
