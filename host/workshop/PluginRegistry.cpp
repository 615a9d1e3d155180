#include "host/workshop/PluginRegistry.h"

#include <new>

namespace Velmora {
namespace ZQHost {

HRESULT PluginRegistry::Create(PluginRegistry** out) {
  return CreateObjectWithReference<PluginRegistry>(out);
}

PluginRegistry* PluginRegistry::FromInterface(IZQCPPluginRegistry* registry) {
  if (registry == nullptr) return nullptr;
  IUnknown* unknown = nullptr;
  if (FAILED(registry->QueryInterface(kPluginRegistryImplIid,
                                      reinterpret_cast<void**>(&unknown))) ||
      unknown == nullptr) {
    return nullptr;
  }
  PluginRegistry* self =
      static_cast<PluginRegistry*>(static_cast<IZQCPPluginRegistry*>(unknown));
  unknown->Release();
  return self;
}

STDMETHODIMP PluginRegistry::RegisterPlugin(REFIID iid, IUnknown* plugin) {
  if (plugin == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : plugins_) {
    if (IsEqualGUID(entry.first, iid)) return S_FALSE;
  }
  try {
    plugins_.emplace_back(iid, CComPtr<IUnknown>(plugin));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

IUnknown* PluginRegistry::Find(REFIID iid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : plugins_) {
    if (IsEqualGUID(entry.first, iid)) return entry.second;
  }
  return nullptr;
}

size_t PluginRegistry::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return plugins_.size();
}

void PluginRegistry::Clear() {
  std::vector<std::pair<IID, CComPtr<IUnknown>>> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dropped.swap(plugins_);
  }
}

}  // namespace ZQHost
}  // namespace Velmora
