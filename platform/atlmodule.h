// The DLL module class of our ATL: the COM server entry points over an object map and
// a registry script.
//
// T supplies (static members):
//   static HRESULT UpdateRegistryAppId(bool doRegister): runs the module's registry
//   script in registration or removal mode.
// The object map of our modules is empty (the library has no creatable class) and no
// type library resource is carried, so class and type-library (un)registration has
// nothing to do and succeeds.
#ifndef ZQBLOG_PLATFORM_ATLMODULE_H_
#define ZQBLOG_PLATFORM_ATLMODULE_H_

#include "platform/atl.h"

namespace ATL {

template <class T>
class CAtlDllModuleT : public CAtlModule {
 public:
  // S_OK when no object of the module is alive (lock count 0), else S_FALSE.
  HRESULT DllCanUnloadNow() { return GetLockCount() == 0 ? S_OK : S_FALSE; }

  // Looks the class up in the (empty) object map: always CLASS_E_CLASSNOTAVAILABLE,
  // with a null output; E_POINTER for a null output pointer.
  HRESULT DllGetClassObject(REFCLSID /*clsid*/, REFIID /*iid*/, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }

  // The module's script in registration mode, then the classes and type library.
  HRESULT DllRegisterServer(bool /*registerTypeLib*/ = true) {
    HRESULT hr = T::UpdateRegistryAppId(true);
    if (FAILED(hr)) return hr;
    return RegisterClassesAndTypeLib();
  }

  // The classes and type library, then the module's script in removal mode.
  HRESULT DllUnregisterServer(bool /*unregisterTypeLib*/ = true) {
    HRESULT hr = UnregisterClassesAndTypeLib();
    if (FAILED(hr)) return hr;
    return T::UpdateRegistryAppId(false);
  }

 private:
  // Empty object map, no type library resource: nothing to write or remove.
  static HRESULT RegisterClassesAndTypeLib() { return S_OK; }
  static HRESULT UnregisterClassesAndTypeLib() { return S_OK; }
};

}  // namespace ATL

#endif  // ZQBLOG_PLATFORM_ATLMODULE_H_
