// XmlNode: the host's IXMLNode, one element of a parsed XML package. It shares the
// document (the document lives while any node of it does) and answers reads by
// IXMLNode's rules: a named value is an attribute, an element text is the text content
// of the first child element of that name, texts are UTF-8 cut to the buffer.
#ifndef ZQBLOG_HOST_XML_XMLNODE_H_
#define ZQBLOG_HOST_XML_XMLNODE_H_

#include <pugixml.hpp>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/xml/XmlDocument.h"
#include "interfaces/IXMLNode.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class XmlNode : public CComObjectRootEx<CComMultiThreadModel>, public IXMLNode {
 public:
  BEGIN_COM_MAP(XmlNode)
  COM_INTERFACE_ENTRY(IXMLNode)
  END_COM_MAP()

  // A node for element of document, one reference for the caller.
  // REQUIRES: document not null, element belongs to it; out not null.
  static HRESULT Create(std::shared_ptr<const XmlDocument> document, pugi::xml_node element,
                        IXMLNode** out);

  // The reads shared with the package, which answers them for the root element.
  static HRESULT ReadValue(pugi::xml_node element, LPCSTR name, char* buffer, int bufferSize);
  static HRESULT ReadElementText(pugi::xml_node element, LPCSTR name, char* buffer,
                                 int bufferSize);

  STDMETHOD(GetValue)(LPCSTR name, char* buffer, int bufferSize) override;
  STDMETHOD(GetElementText)(LPCSTR name, char* buffer, int bufferSize) override;
  STDMETHOD(GetText)(char* buffer, int bufferSize) override;
  STDMETHOD(GetChildCount)(LPCSTR name, int* count) override;
  STDMETHOD(GetChild)(int index, IXMLNode** child) override;
  STDMETHOD(GetNamedChild)(LPCSTR name, int index, IXMLNode** child) override;

 private:
  // The child elements named name (all of them for null), listed once per name so
  // that reading every child by index stays linear.
  const std::vector<pugi::xml_node>& Children(LPCSTR name);
  // Lists the element's attributes (at most kListedAttributes) for GetValue.
  void ListAttributes();

  // A reader asks for each value of an element by name: the names and values of the
  // attributes are listed when the node is made (it never changes after), and a name
  // is compared in full only when its first letter agrees.
  static constexpr int kListedAttributes = 16;
  struct Attribute {
    const char* name;
    const char* value;
  };

  std::shared_ptr<const XmlDocument> document_;
  pugi::xml_node element_;
  Attribute attributes_[kListedAttributes];
  int attribute_count_ = 0;
  bool attributes_listed_ = false;  // false: too many, the reads ask pugixml
  std::mutex mutex_;  // guards the lists below
  bool all_listed_ = false;
  std::vector<pugi::xml_node> all_children_;
  std::map<std::string, std::vector<pugi::xml_node>> named_children_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_XML_XMLNODE_H_
