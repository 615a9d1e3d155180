#include "host/workshop/PluginLoader.h"

#include <dlfcn.h>

namespace Velmora {
namespace ZQHost {

namespace {

typedef HRESULT (*GetPluginObjectFunction)(void** plugin);
typedef HRESULT (*DllCanUnloadNowFunction)();
typedef void (*SetDataRootFunction)(const wchar_t* root);

std::string DlError() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown dynamic loader error";
}

}  // namespace

PluginLoader::~PluginLoader() {
  if (Unload() != S_OK) return;  // the plug-in may still use the helper
  if (helper_ != nullptr) dlclose(helper_);
}

HRESULT PluginLoader::LoadHelper(const std::string& path, const std::wstring& dataRoot) {
  last_error_.clear();
  if (helper_ != nullptr) {
    last_error_ = "a helper library is loaded already";
    return E_UNEXPECTED;
  }
  void* helper = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (helper == nullptr) {
    last_error_ = DlError();
    return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  }
  helper_ = helper;
  auto set_data_root = reinterpret_cast<SetDataRootFunction>(dlsym(helper, "ZQ_SetDataRoot"));
  if (set_data_root != nullptr) set_data_root(dataRoot.c_str());
  return S_OK;
}

HRESULT PluginLoader::Load(const std::string& path) {
  last_error_.clear();
  if (plugin_ != nullptr) {
    last_error_ = "a plug-in library is loaded already";
    return E_UNEXPECTED;
  }
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    last_error_ = DlError();
    return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  }
  auto get_plugin_object =
      reinterpret_cast<GetPluginObjectFunction>(dlsym(library, "GetPluginObject"));
  if (get_plugin_object == nullptr) {
    last_error_ = path + " exports no GetPluginObject";
    dlclose(library);
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }
  void* object = nullptr;
  HRESULT hr = get_plugin_object(&object);
  if (FAILED(hr) || object == nullptr) {
    last_error_ = "GetPluginObject gave no plug-in";
    dlclose(library);
    return FAILED(hr) ? hr : E_FAIL;
  }
  IZQBlog* blog = static_cast<IZQBlog*>(object);
  void* operation = nullptr;
  hr = blog->QueryInterface(IID_IZQBlogOperation, &operation);
  if (FAILED(hr) || operation == nullptr) {
    last_error_ = "the plug-in does not answer IZQBlogOperation";
    // Nothing of the library is held: it can go again.
    dlclose(library);
    return FAILED(hr) ? hr : E_NOINTERFACE;
  }
  plugin_ = library;
  blog_ = blog;
  operation_ = static_cast<IZQBlogOperation*>(operation);
  initialized_ = false;
  return S_OK;
}

HRESULT PluginLoader::Initialize(IUnknown* platform) {
  last_error_.clear();
  if (platform == nullptr) return E_POINTER;
  if (blog_ == nullptr) {
    last_error_ = "no plug-in is loaded";
    return E_UNEXPECTED;
  }
  HRESULT hr = blog_->Initialize(platform);
  initialized_ = true;
  return hr;
}

HRESULT PluginLoader::Unload() {
  last_error_.clear();
  if (plugin_ == nullptr) return S_OK;
  if (initialized_ && blog_ != nullptr) {
    blog_->Uninitialize(nullptr);
    initialized_ = false;
  }
  auto can_unload =
      reinterpret_cast<DllCanUnloadNowFunction>(dlsym(plugin_, "DllCanUnloadNow"));
  if (can_unload != nullptr && can_unload() != S_OK) {
    last_error_ = "the plug-in library still has live objects";
    return S_FALSE;
  }
  blog_ = nullptr;
  operation_ = nullptr;
  void* library = plugin_;
  plugin_ = nullptr;
  dlclose(library);
  return S_OK;
}

}  // namespace ZQHost
}  // namespace Velmora
