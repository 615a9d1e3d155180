// IZQCPPlatform: the host's platform object, handed to the plug-in once through
// IZQCPPlugin::Initialize (as IUnknown: it answers QueryInterface for this interface);
// every host service is reached from it. Objects come back with one reference for the
// caller.
// Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_IZQCPPLATFORM_H_
#define ZQBLOG_INTERFACES_IZQCPPLATFORM_H_

#include "interfaces/IHttpConnectionFactory.h"
#include "interfaces/ISettingsStore.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IZQCPCommandWorkshop.h"
#include "interfaces/IZQCPPluginRegistry.h"
#include "platform/platform.h"

struct IZQCPPlatform : public IUnknown {
  // 1. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved1)() = 0;
  // 2. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved2)() = 0;
  // 3. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved3)() = 0;
  // 4. The plug-in registry.
  STDMETHOD(GetPluginRegistry)(IZQCPPluginRegistry** registry) = 0;
  // 5. The command workshop.
  STDMETHOD(GetCommandWorkshop)(IZQCPCommandWorkshop** workshop) = 0;
  // 6. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved6)() = 0;
  // 7. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved7)() = 0;
  // 8. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved8)() = 0;
  // 9. The HTTP connection factory.
  STDMETHOD(GetHttpConnectionFactory)(IHttpConnectionFactory** factory) = 0;
  // 10. The share-session manager.
  STDMETHOD(GetShareSessionManager)(IShareSessionManager** manager) = 0;
  // 11. Reserved: the host answers E_NOTIMPL; the plug-in never calls it.
  STDMETHOD(Reserved11)() = 0;
  // 12. The settings store.
  STDMETHOD(GetSettingsStore)(ISettingsStore** store) = 0;
  // 13. A new object by interface name; reserved is 0. "IXMLPackageParser" gives the XML
  //     reply parser: an IPackageParser whose packages answer IXMLPackage.
  //     CLASS_E_CLASSNOTAVAILABLE and null for an unknown name.
  STDMETHOD(CreateObjectByName)(LPCWSTR name, int reserved, IUnknown** object) = 0;
};

// {7CF10EF2-E367-4F50-ACFA-5CCA487ADC3D}
ZQ_DEFINE_IID(IZQCPPlatform, 0x7CF10EF2, 0xE367, 0x4F50, 0xAC, 0xFA, 0x5C, 0xCA, 0x48, 0x7A,
              0xDC, 0x3D)

#endif  // ZQBLOG_INTERFACES_IZQCPPLATFORM_H_
