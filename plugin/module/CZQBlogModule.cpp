#include "module/CZQBlogModule.h"

#include "module/resource.h"
#include "platform/atlregistrar.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

const wchar_t kAppIdText[] = L"{BB667777-FF8C-4506-9C69-8CB46480C1C1}";
const GUID kZQBlogLibId = {0xCD44241E, 0x2229, 0x4606,
                           {0x92, 0x14, 0xC9, 0x3E, 0xF1, 0x1A, 0x3A, 0x0C}};

#if !defined(_WIN32)
// Generated at build time from ZQBlog.rgs.
extern const char kRegistryScriptText[];
#endif

namespace {
HINSTANCE g_instance = nullptr;
}  // namespace

void CZQBlogModule::SetInstance(HINSTANCE instance) { g_instance = instance; }

bool CZQBlogModule::LoadRegistryScript(std::wstring* script) {
  const char* text = nullptr;
  size_t length = 0;
#if defined(_WIN32)
  HRSRC resource = FindResourceW(g_instance, MAKEINTRESOURCEW(IDR_ZQBLOG), L"REGISTRY");
  if (resource == nullptr) return false;
  HGLOBAL loaded = LoadResource(g_instance, resource);
  if (loaded == nullptr) return false;
  text = static_cast<const char*>(LockResource(loaded));
  length = SizeofResource(g_instance, resource);
  if (text == nullptr) return false;
#else
  text = kRegistryScriptText;
  length = std::char_traits<char>::length(text);
#endif
  try {
    *script = MultiByteToWide(CP_ACP, text, length);
  } catch (...) {
    return false;
  }
  return true;
}

HRESULT CZQBlogModule::UpdateRegistryAppId(bool doRegister) {
  std::wstring script;
  if (!LoadRegistryScript(&script)) return E_FAIL;
  CRegObject registrar;
  HRESULT hr = registrar.AddReplacement(L"APPID", kAppIdText);
  if (FAILED(hr)) return hr;
  return doRegister ? registrar.StringRegister(script.c_str())
                    : registrar.StringUnregister(script.c_str());
}

}  // namespace ZQBlog
}  // namespace Velmora
