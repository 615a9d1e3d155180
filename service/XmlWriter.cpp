#include "XmlWriter.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  size_t extra;
  uint32_t code;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    extra = 1;
    code = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    extra = 2;
    code = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    extra = 3;
    code = c & 0x07;
  } else {
    return 0;
  }
  if (i + extra >= text.size()) return 0;
  for (size_t k = 1; k <= extra; ++k) {
    const unsigned char d = static_cast<unsigned char>(text[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    code = (code << 6) | (d & 0x3F);
  }
  if ((extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000) || code > 0x10FFFF ||
      (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF) {
    return 0;
  }
  return extra + 1;
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
    const size_t length = Utf8SequenceLength(text, i);
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
