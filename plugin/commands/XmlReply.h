// Reading the XML replies of the list fetches (album list, resource list) through the
// host's XML package: values and texts into bounded buffers, the plain decimal
// conversion of the service's numbers, and the serialization of the reply document to
// the text that is cached.
#ifndef ZQBLOG_COMMANDS_XMLREPLY_H_
#define ZQBLOG_COMMANDS_XMLREPLY_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "interfaces/IPackage.h"
#include "interfaces/IXMLNode.h"
#include "interfaces/IXMLPackage.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

// Every value and text of a list reply is read into a buffer of this many bytes, so it
// holds at most one byte less.
constexpr int kXmlValueBufferSize = 8192;

// The first buffer the reply document is serialized into; it doubles while too small.
constexpr size_t kXmlSerializeFirstBuffer = 65536;

// Reads the values and texts of a list reply, each into a buffer of kXmlValueBufferSize
// bytes that is zero throughout, and takes the text up to the first zero byte, whatever
// the host wrote (the last byte stays zero); "" when node is null, the value is absent
// or the host fails. The buffer is reused and kept zero between reads: each read first
// clears the bytes the previous text took (clearing the whole buffer before each of the
// dozen values of each resource of a long list cost more than reading them).
//
// One reader per reply, owned by the code that reads the reply; a reader is not shared
// between threads. (No per-thread buffer: a library that the host unloads must leave no
// storage behind on the host's threads.)
class XmlValueReader {
 public:
  XmlValueReader() = default;
  XmlValueReader(const XmlValueReader&) = delete;
  XmlValueReader& operator=(const XmlValueReader&) = delete;

  // The named value name of node (its attribute), as the document's bytes.
  std::string Value(IXMLNode* node, const char* name) {
    return std::string(PeekValue(node, name));
  }
  // The text of node's first child element named name.
  std::string ElementText(IXMLNode* node, const char* name) {
    return std::string(PeekElementText(node, name));
  }
  // node's own text.
  std::string Text(IXMLNode* node);

  // The same reads without a copy: a view of the reader's buffer, valid until its next
  // read.
  std::string_view PeekValue(IXMLNode* node, const char* name);
  std::string_view PeekElementText(IXMLNode* node, const char* name);

 private:
  template <class Read>
  std::string_view Peek(Read read);

  char bytes_[kXmlValueBufferSize] = {};
  size_t taken_ = 0;  // the length of the last text; the bytes after it are zero
};

// The child element of node at index among those named name, or null.
CComPtr<IXMLNode> XmlNamedChild(IXMLNode* node, const char* name, int index);
// The number of child elements of node named name; 0 when node is null or the host
// fails, never negative.
int XmlChildCount(IXMLNode* node, const char* name);

// A plain text-to-integer conversion: optional white space, an optional sign, then the
// leading decimal digits; 0 when there are none ("", "abc"); clamped to the int range.
int ParseDecimal(std::string_view text);

// package's XML interface (the reply document), or null when it has none.
CComPtr<IXMLPackage> XmlDocumentOf(IPackage* package);

// document serialized to *text (its bytes up to the terminator). The buffer starts at
// kXmlSerializeFirstBuffer bytes and doubles while the serializer says it is too small,
// as long as the doubled size stays below limit bytes. False, *text empty, when document
// is null, the serializer fails, or the text does not fit in the largest buffer tried;
// *tooLarge (when given) tells whether the last was the cause.
bool SerializeXmlReply(IXMLPackage* document, size_t limit, std::string* text,
                       bool* tooLarge = nullptr);

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_XMLREPLY_H_
