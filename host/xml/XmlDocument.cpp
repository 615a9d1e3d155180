#include "host/xml/XmlDocument.h"

#include <cstring>
#include <string_view>
#include <unordered_set>

namespace Velmora {
namespace ZQHost {

namespace {

// Collects what pugixml writes into one string.
class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string* out) : out_(out) {}
  void write(const void* data, size_t size) override {
    out_->append(static_cast<const char*>(data), size);
  }

 private:
  std::string* out_;
};

bool IsText(pugi::xml_node node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// Finds an element that repeats an attribute name (pugixml keeps both; a well-formed
// document has none). Every node of a long reply passes here: pugixml's own walk visits
// them, names are compared only when their first letters agree.
class DuplicateAttributeFinder : public pugi::xml_tree_walker {
 public:
  bool found() const { return found_; }

  bool for_each(pugi::xml_node& node) override {
    pugi::xml_attribute first = node.first_attribute();
    if (!first || !first.next_attribute()) return true;
    // Elements of a reply have a handful of attributes: those are compared pairwise,
    // the rare longer list through a set.
    constexpr int kPairwiseLimit = 16;
    const char* seen[kPairwiseLimit];
    int count = 0;
    bool many = false;
    for (pugi::xml_attribute a = first; a; a = a.next_attribute()) {
      const char* name = a.name();
      if (!many && count == kPairwiseLimit) {
        many = true;
        names_.clear();
        names_.insert(seen, seen + count);
      }
      if (many) {
        if (!names_.insert(name).second) return Found();
        continue;
      }
      for (int i = 0; i < count; ++i) {
        if (seen[i][0] == name[0] && std::strcmp(seen[i], name) == 0) return Found();
      }
      seen[count++] = name;
    }
    return true;
  }

 private:
  bool Found() {
    found_ = true;
    return false;  // stops the walk
  }

  bool found_ = false;
  std::unordered_set<std::string_view> names_;
};

// True when an element at or below root repeats an attribute name.
bool HasDuplicateAttribute(pugi::xml_node root) {
  DuplicateAttributeFinder finder;
  if (!finder.for_each(root)) return true;  // the walk below starts at root's children
  root.traverse(finder);
  return finder.found();
}

}  // namespace

std::shared_ptr<const XmlDocument> XmlDocument::Parse(const void* data, size_t length) {
  if (data == nullptr || length == 0) return nullptr;
  std::shared_ptr<XmlDocument> document(new XmlDocument());
  document->parsed_length_ = length;
  // parse_default keeps CDATA, expands entities and normalises line ends; the
  // declaration and processing instructions are dropped (Serialized writes its own).
  // parse_fragment keeps text outside the root, which the checks below refuse.
  pugi::xml_parse_result result = document->document_.load_buffer(
      data, length, pugi::parse_default | pugi::parse_fragment, pugi::encoding_auto);
  if (result.status != pugi::status_ok) return nullptr;
  // A reply is one element and nothing but markup and white space around it.
  int elements = 0;
  for (pugi::xml_node child = document->document_.first_child(); child;
       child = child.next_sibling()) {
    if (child.type() == pugi::node_element) {
      ++elements;
    } else if (IsText(child)) {
      return nullptr;
    }
  }
  if (elements != 1) return nullptr;
  if (HasDuplicateAttribute(document->Root())) return nullptr;
  return document;
}

const std::string& XmlDocument::Serialized() const {
  std::call_once(serialized_once_, [this] {
    // Grown once instead of doubling its way to the size of a long reply.
    serialized_.reserve(parsed_length_ + parsed_length_ / 8 + 64);
    serialized_ = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    StringWriter writer(&serialized_);
    document_.save(writer, "", pugi::format_raw | pugi::format_no_declaration,
                   pugi::encoding_utf8);
  });
  return serialized_;
}

const std::vector<pugi::xml_node>& XmlDocument::Items() const {
  std::call_once(items_once_, [this] {
    for (pugi::xml_node child = Root().child("resource"); child;
         child = child.next_sibling("resource")) {
      items_.push_back(child);
    }
  });
  return items_;
}

std::string XmlTextContent(pugi::xml_node element, size_t limit) {
  std::string text;
  pugi::xml_node node = element.first_child();
  while (node && text.size() <= limit) {
    if (IsText(node)) text.append(node.value());
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    // Climb until a sibling is found, never above element.
    while (node && node != element && !node.next_sibling()) node = node.parent();
    if (!node || node == element) break;
    node = node.next_sibling();
  }
  return text;
}

void XmlCopyText(const char* text, size_t length, char* buffer, int bufferSize) {
  size_t capacity = static_cast<size_t>(bufferSize) - 1;
  size_t n = length;
  if (n > capacity) {
    n = capacity;
    // text[n] is the first byte left out; if it continues a character, back off to
    // the byte that starts that character.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  if (n > 0) std::memcpy(buffer, text, n);
  buffer[n] = '\0';
}

}  // namespace ZQHost
}  // namespace Velmora
