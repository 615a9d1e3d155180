// XmlDocument: one parsed XML reply body, immutable once parsed and shared by the
// parser that made it, the packages handed out for it and every node read from them
// (each holds a std::shared_ptr, so the document lives while any of them does).
// Reads are thread-safe; the lazily built parts (serialized text, item list) are
// built once under std::call_once.
#ifndef ZQBLOG_HOST_XML_XMLDOCUMENT_H_
#define ZQBLOG_HOST_XML_XMLDOCUMENT_H_

#include <pugixml.hpp>

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Velmora {
namespace ZQHost {

class XmlDocument {
 public:
  // Parses data[0, length) (UTF-8, or UTF-16/32 with a byte-order mark). Null when the
  // bytes are not one well-formed document with exactly one root element and no text
  // outside it. The bytes are copied; the caller keeps its buffer.
  static std::shared_ptr<const XmlDocument> Parse(const void* data, size_t length);

  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // The document element.
  pugi::xml_node Root() const { return document_.document_element(); }

  // The whole document as UTF-8 text: an XML declaration with encoding "utf-8", then
  // the root element without added indentation.
  const std::string& Serialized() const;

  // The root's child elements named "resource", in document order.
  const std::vector<pugi::xml_node>& Items() const;

 private:
  XmlDocument() = default;

  pugi::xml_document document_;
  mutable std::once_flag serialized_once_;
  mutable std::string serialized_;
  size_t parsed_length_ = 0;  // the text parsed: about the size of the serialized one
  mutable std::once_flag items_once_;
  mutable std::vector<pugi::xml_node> items_;
};

// Text helpers shared by the package and the node (they follow IXMLNode's rules).

// The text content of element: the values of every text and CDATA node below it, in
// document order, concatenated; collecting stops once more than limit bytes are held.
// Walks the tree without recursion.
std::string XmlTextContent(pugi::xml_node element, size_t limit);

// Copies text into buffer[0, bufferSize), zero-terminated. Text longer than
// bufferSize - 1 bytes is cut there, moved back to the start of a UTF-8 character so
// that no partial character is written. REQUIRES: buffer not null, bufferSize >= 1.
void XmlCopyText(const char* text, size_t length, char* buffer, int bufferSize);

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_XML_XMLDOCUMENT_H_
