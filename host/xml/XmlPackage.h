// XmlPackage: the package the host's "IXMLPackageParser" hands out, answering IPackage
// and IXMLPackage. It holds a parsed document (shared with the parser and with every
// node read from it); SetData replaces that document with one parsed from new bytes.
// The package's named values, element texts and items are those of the root element;
// items are the root's "resource" children.
#ifndef ZQBLOG_HOST_XML_XMLPACKAGE_H_
#define ZQBLOG_HOST_XML_XMLPACKAGE_H_

#include <memory>
#include <mutex>

#include "host/xml/XmlDocument.h"
#include "interfaces/IXMLPackage.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class XmlPackage : public CComObjectRootEx<CComMultiThreadModel>, public IXMLPackage {
 public:
  BEGIN_COM_MAP(XmlPackage)
  COM_INTERFACE_ENTRY(IXMLPackage)
  COM_INTERFACE_ENTRY(IPackage)
  END_COM_MAP()

  // A package holding document (null: no document yet), one reference for the caller.
  static HRESULT Create(std::shared_ptr<const XmlDocument> document, IXMLPackage** out);

  // IPackage. A body that is not one well-formed XML document gives
  // HRESULT_FROM_WIN32(ERROR_INVALID_DATA) and keeps the document held before.
  STDMETHOD(SetData)(const BYTE* data, int length, int* storedLength) override;

  // IXMLPackage.
  STDMETHOD(GetRoot)(IXMLNode** root) override;
  STDMETHOD(Serialize)(char* buffer, int* size) override;
  STDMETHOD(GetValue)(LPCSTR name, char* buffer, int bufferSize) override;
  STDMETHOD(GetElementText)(LPCSTR name, char* buffer, int bufferSize) override;
  STDMETHOD(GetItemCount)(int* count) override;
  STDMETHOD(GetItem)(int index, IXMLNode** item) override;

 private:
  std::shared_ptr<const XmlDocument> Document();

  std::mutex mutex_;  // guards document_ (the document itself is immutable)
  std::shared_ptr<const XmlDocument> document_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_XML_XMLPACKAGE_H_
