// The library's exports and its static initialisation.
//
// Static initialisation runs in this order: the host-platform pointer is null (constant
// initialisation, before anything dynamic), then the module object below is built, then
// the command factories are registered.
#include <new>

#include "commands/CommandRegistry.h"
#include "interfaces/IZQBlog.h"
#include "module/CZQBlogModule.h"
#include "module/ZQBlogPlugin.h"

#if defined(_WIN32)
#define ZQBLOG_EXPORT extern "C"
#define ZQBLOG_CALL STDAPICALLTYPE
#else
#define ZQBLOG_EXPORT extern "C" __attribute__((visibility("default")))
#define ZQBLOG_CALL
#endif

namespace {
Velmora::ZQBlog::CZQBlogModule _AtlModule;
// After the module object: the commands' factories under the module name "ZQBlog".
[[maybe_unused]] const bool g_blogCommandsRegistered = Velmora::ZQBlog::RegisterBlogCommands();
}  // namespace

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    Velmora::ZQBlog::CZQBlogModule::SetInstance(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
#endif

// Ordinal 1. S_OK when no command or data object of the library is alive, else S_FALSE.
ZQBLOG_EXPORT HRESULT ZQBLOG_CALL DllCanUnloadNow() { return _AtlModule.DllCanUnloadNow(); }

// Ordinal 2. The library has no creatable class: always CLASS_E_CLASSNOTAVAILABLE.
ZQBLOG_EXPORT HRESULT ZQBLOG_CALL DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv) {
  return _AtlModule.DllGetClassObject(clsid, iid, ppv);
}

// Ordinal 3. Registers the AppID, then the (absent) classes and type library.
ZQBLOG_EXPORT HRESULT ZQBLOG_CALL DllRegisterServer() { return _AtlModule.DllRegisterServer(); }

// Ordinal 4. Unregisters the (absent) classes and type library, then the AppID entries.
ZQBLOG_EXPORT HRESULT ZQBLOG_CALL DllUnregisterServer() {
  return _AtlModule.DllUnregisterServer();
}

// Ordinal 5. Writes the plug-in's IZQBlog (no reference added) and returns S_OK.
// E_POINTER for a null output; E_OUTOFMEMORY, null written, when the object cannot be
// made (no exception leaves the library).
ZQBLOG_EXPORT HRESULT ZQBLOG_CALL GetPluginObject(void** plugin) {
  if (plugin == nullptr) return E_POINTER;
  *plugin = nullptr;
  try {
    *plugin = static_cast<IZQBlog*>(Velmora::ZQBlog::ZQBlogPlugin_::Instance());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return *plugin != nullptr ? S_OK : E_FAIL;
}
