// CZQBlogModule: the library's DLL module object. One static instance, built during the
// library's static initialisation; every live command and data object counts in its lock
// count, which DllCanUnloadNow reports. It carries the registry script that registers
// the library's AppID.
#ifndef ZQBLOG_MODULE_CZQBLOGMODULE_H_
#define ZQBLOG_MODULE_CZQBLOGMODULE_H_

#include <string>

#include "platform/atlmodule.h"

namespace Velmora {
namespace ZQBlog {

// The AppID of the library, put where the registry script says "%APPID%".
extern const wchar_t kAppIdText[];
// The type library id of the module.
extern const GUID kZQBlogLibId;

class CZQBlogModule : public CAtlDllModuleT<CZQBlogModule> {
 public:
  // Runs the registry script (resource "REGISTRY" 101) in registration or removal mode
  // with the replacement "APPID" = the library's AppID.
  static HRESULT UpdateRegistryAppId(bool doRegister);

  // The registry script's text: on Windows read from this DLL's resources, elsewhere
  // compiled in. False when it cannot be had.
  static bool LoadRegistryScript(std::wstring* script);

  // The DLL's instance handle (Windows; DllMain records it). Null elsewhere.
  static void SetInstance(HINSTANCE instance);
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_MODULE_CZQBLOGMODULE_H_
