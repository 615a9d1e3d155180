// Entity removal on a serialized list reply before it is cached: the XML serializer
// writes line feeds and tabs inside values as "&#10;" and "&#09;", and the service
// writes non-breaking spaces in texts as "&amp;nbsp;"; the cached copy drops all three.
//
// Removal is defined as repeated search from the beginning: while the text holds the
// pattern, its first occurrence is cut out, so an occurrence that a removal forms by
// joining the text before and after it ("&#1&#10;0;" -> "&#10;" -> "") goes too. Both
// functions give exactly that result in time linear in the length of the text.
#ifndef ZQBLOG_COMMANDS_ENTITYREMOVAL_H_
#define ZQBLOG_COMMANDS_ENTITYREMOVAL_H_

#include <cstddef>
#include <string>

namespace Velmora {
namespace ZQBlog {

// Cuts out of *text, while there is one, the first occurrence of pattern[0, length),
// searching again from the beginning after each cut. An empty pattern changes nothing.
// Linear in text->size(): one pass that keeps the kept text in place and, after each
// occurrence of the pattern's last character, checks whether the kept text now ends
// with the pattern.
void RemoveEveryOccurrence(std::string* text, const char* pattern, size_t length);

// Removes from *text every "&#10;", then every "&#09;", then every "&amp;nbsp;", each
// with RemoveEveryOccurrence. The three passes run in this order: a "&#10;" that only
// appears once a "&#09;" is gone stays.
void RemoveReplyEntities(std::string* text);

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_ENTITYREMOVAL_H_
