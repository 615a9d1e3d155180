#include "XmlWriter.h"

#include "common/Utf8.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

namespace {

// Length of the UTF-8 sequence at text[i] when it is well-formed and a character XML
// allows (not U+FFFE or U+FFFF), else 0.
size_t XmlCharacterLength(std::string_view text, size_t i) {
  char32_t c = 0;
  const size_t length = Common::ReadUtf8Sequence(text, i, &c);
  if (length == 0 || c == 0xFFFE || c == 0xFFFF) return 0;
  return length;
}

}  // namespace

XmlWriter::XmlWriter() : out_("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n") {}

void XmlWriter::EndStartTag() {
  if (in_start_tag_) {
    out_ += '>';
    in_start_tag_ = false;
  }
}

void XmlWriter::Open(std::string_view name) {
  EndStartTag();
  out_ += '<';
  out_ += name;
  open_.emplace_back(name);
  in_start_tag_ = true;
}

void XmlWriter::Attribute(std::string_view name, std::string_view value) {
  out_ += ' ';
  out_ += name;
  out_ += "=\"";
  AppendEscaped(value, true);
  out_ += '"';
}

void XmlWriter::Attribute(std::string_view name, int64_t value) {
  Attribute(name, std::to_string(value));
}

void XmlWriter::Text(std::string_view text) {
  EndStartTag();
  AppendEscaped(text, false);
}

void XmlWriter::Close() {
  if (open_.empty()) return;
  if (in_start_tag_) {
    out_ += "/>";
    in_start_tag_ = false;
  } else {
    out_ += "</";
    out_ += open_.back();
    out_ += '>';
  }
  open_.pop_back();
}

void XmlWriter::Element(std::string_view name, std::string_view text) {
  Open(name);
  Text(text);
  Close();
}

std::string XmlWriter::Finish() {
  while (!open_.empty()) Close();
  out_ += '\n';
  return std::move(out_);
}

void XmlWriter::AppendEscaped(std::string_view text, bool attribute) {
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    switch (c) {
      case '&': out_ += "&amp;"; ++i; continue;
      case '<': out_ += "&lt;"; ++i; continue;
      case '>': out_ += "&gt;"; ++i; continue;
      case '"':
        out_ += attribute ? "&quot;" : "\"";
        ++i;
        continue;
      case '\r': out_ += "&#13;"; ++i; continue;
      case '\n': out_ += attribute ? "&#10;" : "\n"; ++i; continue;
      case '\t': out_ += attribute ? "&#9;" : "\t"; ++i; continue;
      default: break;
    }
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      out_ += '?';
      ++i;
      continue;
    }
    const size_t length = XmlCharacterLength(text, i);
    if (length == 0) {
      out_ += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
      ++i;
      continue;
    }
    out_.append(text.data() + i, length);
    i += length;
  }
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
