#include "host/workshop/HostPlatform.h"

#include <cwchar>
#include <new>

#include "host/workshop/PluginRegistry.h"

namespace Velmora {
namespace ZQHost {

HRESULT HostPlatform::Create(const HostPlatformConfig& config, HostPlatform** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  CComObject<HostPlatform>* platform = nullptr;
  HRESULT hr = CComObject<HostPlatform>::CreateInstance(&platform);
  if (FAILED(hr)) return hr;
  CComPtr<IZQCPPlatform> holder(platform);
  try {
    platform->config_ = config;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!platform->config_.plugin_registry) {
    PluginRegistry* registry = nullptr;
    hr = PluginRegistry::Create(&registry);
    if (FAILED(hr)) return hr;
    platform->config_.plugin_registry.Attach(registry);
  }
  holder.Detach();
  *out = platform;
  return S_OK;
}

template <class T>
HRESULT HostPlatform::Hand(T* service, T** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (service == nullptr) return E_NOTIMPL;
  service->AddRef();
  *out = service;
  return S_OK;
}

STDMETHODIMP HostPlatform::GetPluginRegistry(IZQCPPluginRegistry** registry) {
  return Hand<IZQCPPluginRegistry>(config_.plugin_registry, registry);
}

STDMETHODIMP HostPlatform::GetCommandWorkshop(IZQCPCommandWorkshop** workshop) {
  return Hand<IZQCPCommandWorkshop>(config_.workshop, workshop);
}

STDMETHODIMP HostPlatform::GetHttpConnectionFactory(IHttpConnectionFactory** factory) {
  return Hand<IHttpConnectionFactory>(config_.http_factory, factory);
}

STDMETHODIMP HostPlatform::GetShareSessionManager(IShareSessionManager** manager) {
  return Hand<IShareSessionManager>(config_.share_session_manager, manager);
}

STDMETHODIMP HostPlatform::GetSettingsStore(ISettingsStore** store) {
  return Hand<ISettingsStore>(config_.settings_store, store);
}

STDMETHODIMP HostPlatform::CreateObjectByName(LPCWSTR name, int /*reserved*/,
                                              IUnknown** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (name == nullptr) return E_POINTER;
  if (std::wcscmp(name, kXmlPackageParserName) != 0 || !config_.xml_parser_factory) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  IPackageParser* parser = nullptr;
  HRESULT hr;
  try {
    hr = config_.xml_parser_factory(&parser);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (FAILED(hr)) {
    if (parser != nullptr) parser->Release();
    return hr;
  }
  if (parser == nullptr) return E_FAIL;
  *object = parser;  // IPackageParser's first base is IUnknown: one pointer serves both
  return S_OK;
}

}  // namespace ZQHost
}  // namespace Velmora
