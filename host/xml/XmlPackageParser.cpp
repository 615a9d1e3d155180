#include "host/xml/XmlPackageParser.h"

#include <memory>
#include <mutex>
#include <utility>

#include "host/xml/XmlDocument.h"
#include "host/xml/XmlPackage.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

namespace {

class XmlPackageParser : public CComObjectRootEx<CComMultiThreadModel>, public IPackageParser {
 public:
  BEGIN_COM_MAP(XmlPackageParser)
  COM_INTERFACE_ENTRY(IPackageParser)
  END_COM_MAP()

  STDMETHOD(Reset)() override {
    std::lock_guard<std::mutex> lock(mutex_);
    document_.reset();
    return S_OK;
  }

  STDMETHOD(Parse)(const BYTE* data, int length) override {
    if (length < 0) return E_INVALIDARG;
    if (data == nullptr && length > 0) return E_POINTER;
    std::shared_ptr<const XmlDocument> parsed =
        XmlDocument::Parse(data, static_cast<size_t>(length));
    std::lock_guard<std::mutex> lock(mutex_);
    document_ = std::move(parsed);
    return document_ != nullptr ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  }

  STDMETHOD(GetPackageCount)(int* count) override {
    if (count == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *count = document_ != nullptr ? 1 : 0;
    return S_OK;
  }

  STDMETHOD(GetPackage)(IPackage** package) override {
    if (package == nullptr) return E_POINTER;
    *package = nullptr;
    std::shared_ptr<const XmlDocument> document;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      document = document_;
    }
    if (document == nullptr) return E_FAIL;
    CComPtr<IXMLPackage> xml;
    HRESULT hr = XmlPackage::Create(std::move(document), &xml);
    if (FAILED(hr)) return hr;
    *package = xml.Detach();  // IXMLPackage derives from IPackage
    return S_OK;
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<const XmlDocument> document_;
};

}  // namespace

HRESULT CreateXmlPackageParser(IPackageParser** out) {
  return CreateObjectWithReference<XmlPackageParser>(out);
}

}  // namespace ZQHost
}  // namespace Velmora
