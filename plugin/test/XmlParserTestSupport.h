// A small XML reader and writer standing in for the host's "IXMLPackageParser" (named
// values are attributes, element texts the text of the first child element of a name),
// and reply headers with a status and named fields. Only the host's interfaces: the
// plug-in's tests and the Windows test host both use it.
#ifndef ZQBLOG_TEST_XMLPARSERTESTSUPPORT_H_
#define ZQBLOG_TEST_XMLPARSERTESTSUPPORT_H_

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "interfaces/IHttpReplyHeaders.h"
#include "interfaces/IPackageParser.h"
#include "interfaces/IStringSetter.h"
#include "interfaces/IXMLNode.h"
#include "interfaces/IXMLPackage.h"
#include "platform/atl.h"
#include "test/ComTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace xml_testing {

using com_testing::Fake;

// ---------------------------------------------------------------- the document

struct Element {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string text;  // the element's own text pieces, joined
  std::vector<std::shared_ptr<Element>> children;

  // Builders for the tests.
  Element& Attr(const std::string& key, const std::string& value) {
    attributes.emplace_back(key, value);
    return *this;
  }
  Element& Add(const std::shared_ptr<Element>& child) {
    children.push_back(child);
    return *this;
  }
  Element& Child(const std::string& childName, const std::string& childText);
};
typedef std::shared_ptr<Element> ElementPtr;

ElementPtr MakeElement(const std::string& name);

// Appends c as UTF-8.
void AppendUtf8(uint32_t c, std::string* out);

// A strict reader of the XML the tests write: an optional declaration, comments, one
// root element, attributes in single or double quotes, texts with the five named
// entities and character references. Null for anything else.
class XmlReader {
 public:
  static ElementPtr Parse(const std::string& text);

 private:
  explicit XmlReader(const std::string& text) : s_(text) {}

  bool StartsWith(const char* prefix) const;
  void SkipSpace();
  // White space, the declaration and comments.
  void SkipMisc();
  static bool IsNameChar(char c);
  bool ReadName(std::string* name);
  // Decodes the entity at at_ ('&') onto out.
  bool ReadEntity(std::string* out);
  bool ReadAttributeValue(std::string* value);
  ElementPtr ReadElement();

  const std::string& s_;
  size_t at_ = 0;
};

// Writes an element the way the host's serializer does: line feeds, carriage returns
// and tabs in attribute values as "&#10;", "&#13;" and "&#09;".
void WriteXml(const Element& element, std::string* out);

std::string XmlText(const Element& root);

// ---------------------------------------------------------------- the host's objects

// Copies text into buffer[0, size) cut to size - 1 bytes; S_OK, or S_FALSE and "" when
// absent.
HRESULT CopyOut(const std::string* text, char* buffer, int size);

const std::string* AttributeOf(const Element& element, const char* name);

const Element* NamedChildOf(const Element& element, const char* name, int index);

class FakeXmlNode : public Fake<IXMLNode> {
 public:
  // root keeps the document alive; element lies inside it.
  FakeXmlNode(ElementPtr root, const Element* element)
      : root_(std::move(root)), element_(element) {}

  STDMETHOD(GetValue)(LPCSTR name, char* buffer, int size) override;
  STDMETHOD(GetElementText)(LPCSTR name, char* buffer, int size) override;
  STDMETHOD(GetText)(char* buffer, int size) override;
  STDMETHOD(GetChildCount)(LPCSTR name, int* count) override;
  STDMETHOD(GetChild)(int index, IXMLNode** child) override;
  STDMETHOD(GetNamedChild)(LPCSTR name, int index, IXMLNode** child) override;

 private:
  HRESULT Hand(const Element* element, IXMLNode** out);

  ElementPtr root_;
  const Element* element_;
};

class FakeXmlPackage : public Fake<IXMLPackage> {
 public:
  STDMETHOD(SetData)(const BYTE* data, int length, int* storedLength) override;
  STDMETHOD(GetRoot)(IXMLNode** root) override;
  STDMETHOD(Serialize)(char* buffer, int* size) override;
  STDMETHOD(GetValue)(LPCSTR name, char* buffer, int size) override;
  STDMETHOD(GetElementText)(LPCSTR name, char* buffer, int size) override;
  STDMETHOD(GetItemCount)(int* count) override;
  STDMETHOD(GetItem)(int index, IXMLNode** item) override;

  std::atomic<int> serializeCalls{0};
  std::vector<int> capacities;  // the buffer size of each Serialize call

 private:
  ElementPtr root_;
  std::string serialized_;  // made on the first Serialize
};

// "IXMLPackageParser": one package per body that parses, none otherwise.
class FakeXmlParser : public Fake<IPackageParser> {
 public:
  STDMETHOD(Reset)() override;
  STDMETHOD(Parse)(const BYTE* data, int length) override;
  STDMETHOD(GetPackageCount)(int* count) override;
  STDMETHOD(GetPackage)(IPackage** package) override;

  CComPtr<FakeXmlPackage> package() const { return package_; }
  std::string parsed;

 private:
  CComPtr<FakeXmlPackage> package_;
};

// Reply headers: a status and named fields (names compared without regard to case).
class FakeHeaders : public Fake<IHttpReplyHeaders> {
 public:
  explicit FakeHeaders(int status) : status_(status) {}
  FakeHeaders& Field(const std::string& name, const std::string& value) {
    fields_.emplace_back(name, value);
    return *this;
  }

  STDMETHOD(GetStatusCode)(int* status) override;
  STDMETHOD(GetHeader)(LPCSTR name, IStringSetter* value) override;

  std::vector<std::string> requested;

 private:
  static bool SameName(const std::string& a, const std::string& b);

  int status_;
  std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace xml_testing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_TEST_XMLPARSERTESTSUPPORT_H_
