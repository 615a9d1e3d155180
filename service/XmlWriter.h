// A small writer of UTF-8 XML documents: elements, attributes and text, escaped as XML
// 1.0 requires. Characters XML cannot carry (control characters other than tab, CR and
// LF, and bytes that are not UTF-8) are replaced, so the output always parses.
#ifndef ZQBLOG_SERVICE_XMLWRITER_H_
#define ZQBLOG_SERVICE_XMLWRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora {
namespace ZQBlog {
namespace Service {

class XmlWriter {
 public:
  // Starts the document with the XML declaration (encoding utf-8).
  XmlWriter();

  // Opens an element; attributes may follow until the first child or text.
  void Open(std::string_view name);
  // REQUIRES: directly after Open.
  void Attribute(std::string_view name, std::string_view value);
  void Attribute(std::string_view name, int64_t value);
  // Adds escaped text to the open element.
  void Text(std::string_view text);
  // Closes the innermost open element (as <x/> when it has no content).
  void Close();
  // Open, Text, Close in one call.
  void Element(std::string_view name, std::string_view text);

  // Closes what is still open and returns the document.
  std::string Finish();

 private:
  void EndStartTag();
  void AppendEscaped(std::string_view text, bool attribute);

  std::string out_;
  std::vector<std::string> open_;
  bool in_start_tag_ = false;
};

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_XMLWRITER_H_
