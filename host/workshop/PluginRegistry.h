// PluginRegistry: the host's list of started plug-ins (IZQCPPluginRegistry). A plug-in
// registers itself under its interface id during Initialize; the host looks it up from
// C++. Thread-safe.
#ifndef ZQBLOG_HOST_WORKSHOP_PLUGINREGISTRY_H_
#define ZQBLOG_HOST_WORKSHOP_PLUGINREGISTRY_H_

#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

#include "interfaces/IZQCPPluginRegistry.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

// Answered by QueryInterface only on the host's own registry (FromInterface).
// {3C9E5A17-8D2B-4F61-A0E4-7B1D92C6F385}
inline constexpr IID kPluginRegistryImplIid = {
    0x3C9E5A17, 0x8D2B, 0x4F61, {0xA0, 0xE4, 0x7B, 0x1D, 0x92, 0xC6, 0xF3, 0x85}};

class PluginRegistry : public CComObjectRootEx<CComMultiThreadModel>,
                       public IZQCPPluginRegistry {
 public:
  BEGIN_COM_MAP(PluginRegistry)
  COM_INTERFACE_ENTRY(IZQCPPluginRegistry)
  COM_INTERFACE_ENTRY_IID(kPluginRegistryImplIid, IZQCPPluginRegistry)
  END_COM_MAP()

  // A new, empty registry, one reference for the caller.
  static HRESULT Create(PluginRegistry** out);

  // The host's registry behind registry, or null when registry is another object.
  // Borrowed: valid while the caller holds registry.
  static PluginRegistry* FromInterface(IZQCPPluginRegistry* registry);

  // Drops every registration (releasing what they hold, outside the lock).
  void FinalRelease() { Clear(); }

  // IZQCPPluginRegistry
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  // Keeps plugin (one reference) under iid: S_OK; S_FALSE, keeping the first one, when
  // iid is registered already; E_POINTER for a null plugin.
  STDMETHOD(RegisterPlugin)(REFIID iid, IUnknown* plugin) override;

  // The plug-in registered under iid, without a reference added (it stays valid while
  // registered), or null.
  IUnknown* Find(REFIID iid) const;
  // How many plug-ins are registered.
  size_t Count() const;
  // Forgets every registration and releases the plug-ins.
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<IID, CComPtr<IUnknown>>> plugins_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_WORKSHOP_PLUGINREGISTRY_H_
