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

// The named value name of node (its attribute), as the document's bytes; "" when node
// is null, the value is absent or the host fails.
std::string ReadXmlValue(IXMLNode* node, const char* name);
// The text of node's first child element named name; "" as above.
std::string ReadXmlElementText(IXMLNode* node, const char* name);
// node's own text; "" as above.
std::string ReadXmlText(IXMLNode* node);

// The same reads without a copy: a view of this thread's read buffer, valid until the
// next read on this thread. For the dozen values of each entry of a long list.
std::string_view PeekXmlValue(IXMLNode* node, const char* name);
std::string_view PeekXmlElementText(IXMLNode* node, const char* name);

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
