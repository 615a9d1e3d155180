// HostPlatform: the host's platform object (IZQCPPlatform), handed to the plug-in
// through Initialize. It holds the host's services, as the embedder configured them,
// and hands each out with one reference; a service that was not configured answers
// E_NOTIMPL with a null object. Immutable once made, so any thread may call it.
//
// Example:
//   HostPlatformConfig config;
//   config.data_root = L"/var/lib/zqblog/";
//   http.GetFactory(&config.http_factory);
//   workshop.GetInterface(&config.workshop);
//   config.xml_parser_factory = [](IPackageParser** out) { return CreateXmlPackageParser(out); };
//   CComPtr<HostPlatform> platform;
//   HostPlatform::Create(config, &platform);
#ifndef ZQBLOG_HOST_WORKSHOP_HOSTPLATFORM_H_
#define ZQBLOG_HOST_WORKSHOP_HOSTPLATFORM_H_

#include <functional>
#include <string>

#include "interfaces/IPackageParser.h"
#include "interfaces/IZQCPPlatform.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

struct HostPlatformConfig {
  // The host's data folder (user folders, settings database, registry file).
  std::wstring data_root;
  CComPtr<IZQCPPluginRegistry> plugin_registry;   // null: the platform makes its own
  CComPtr<IZQCPCommandWorkshop> workshop;
  CComPtr<IHttpConnectionFactory> http_factory;
  CComPtr<IShareSessionManager> share_session_manager;
  CComPtr<ISettingsStore> settings_store;
  // Makes a new XML reply parser (one reference for the caller) for
  // CreateObjectByName(L"IXMLPackageParser"); empty: that name is not available.
  std::function<HRESULT(IPackageParser** out)> xml_parser_factory;
};

class HostPlatform : public CComObjectRootEx<CComMultiThreadModel>, public IZQCPPlatform {
 public:
  BEGIN_COM_MAP(HostPlatform)
  COM_INTERFACE_ENTRY(IZQCPPlatform)
  END_COM_MAP()

  // The name CreateObjectByName answers.
  static constexpr const wchar_t* kXmlPackageParserName = L"IXMLPackageParser";

  // A platform over config's services, one reference for the caller. Without a plug-in
  // registry in config, it makes a PluginRegistry of its own.
  static HRESULT Create(const HostPlatformConfig& config, HostPlatform** out);

  // IZQCPPlatform
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(GetPluginRegistry)(IZQCPPluginRegistry** registry) override;
  STDMETHOD(GetCommandWorkshop)(IZQCPCommandWorkshop** workshop) override;
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved8)() override { return E_NOTIMPL; }
  STDMETHOD(GetHttpConnectionFactory)(IHttpConnectionFactory** factory) override;
  STDMETHOD(GetShareSessionManager)(IShareSessionManager** manager) override;
  STDMETHOD(Reserved11)() override { return E_NOTIMPL; }
  STDMETHOD(GetSettingsStore)(ISettingsStore** store) override;
  // "IXMLPackageParser" (exact): a new parser from the configured factory, as the
  //  IUnknown of its IPackageParser (the same pointer, so both QueryInterface and a
  //  plain cast reach the parser). Any other name, or no factory:
  //  CLASS_E_CLASSNOTAVAILABLE and null. reserved is not read. E_POINTER for a null
  //  name or object.
  STDMETHOD(CreateObjectByName)(LPCWSTR name, int reserved, IUnknown** object) override;

  const std::wstring& DataRoot() const { return config_.data_root; }
  // The registry the plug-in registers with (borrowed); PluginRegistry::FromInterface
  // reaches the host's own registry behind it.
  IZQCPPluginRegistry* PluginRegistryObject() const { return config_.plugin_registry; }

 private:
  template <class T>
  static HRESULT Hand(T* service, T** out);

  HostPlatformConfig config_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_WORKSHOP_HOSTPLATFORM_H_
