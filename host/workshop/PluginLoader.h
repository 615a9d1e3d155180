// PluginLoader: loads the plug-in library the way the host application does: first
// the host's helper library (which the plug-in finds already loaded, and which is told
// the data root), then the plug-in library, whose GetPluginObject export hands out the
// one plug-in object; Initialize starts it with the host's platform object. Unload asks
// DllCanUnloadNow and frees the library only when it agrees. Linux (dlopen) only.
//
// The plug-in's reference count is a plain counter and its QueryInterface adds no
// reference: the loader holds the plug-in's pointers without references and never
// releases them. Not thread-safe: one thread loads, starts and unloads.
#ifndef ZQBLOG_HOST_WORKSHOP_PLUGINLOADER_H_
#define ZQBLOG_HOST_WORKSHOP_PLUGINLOADER_H_

#include <string>

#include "interfaces/IZQBlog.h"
#include "interfaces/IZQBlogOperation.h"
#include "platform/platform.h"

namespace Velmora {
namespace ZQHost {

class PluginLoader {
 public:
  PluginLoader() = default;
  // Unload(); a library that refuses to unload stays loaded (so does the helper then).
  ~PluginLoader();
  PluginLoader(const PluginLoader&) = delete;
  PluginLoader& operator=(const PluginLoader&) = delete;

  // Loads the helper library at path and keeps it loaded until the loader goes; when
  // it exports ZQ_SetDataRoot, calls it with dataRoot. E_UNEXPECTED when a helper is
  // loaded already, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when it cannot be loaded.
  HRESULT LoadHelper(const std::string& path, const std::wstring& dataRoot);

  // Loads the plug-in library at path and gets its IZQBlog and IZQBlogOperation.
  // E_UNEXPECTED when a plug-in is loaded already; HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)
  // when the library cannot be loaded, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) when it
  // has no GetPluginObject (the library is freed again); the export's failure, or
  // E_NOINTERFACE when the object does not answer IZQBlogOperation.
  HRESULT Load(const std::string& path);

  // Starts the plug-in: IZQCPPlugin::Initialize(platform) through IZQBlog, whose first
  // slots are IZQCPPlugin's. Returns Initialize's answer. REQUIRES: Load succeeded
  // (E_UNEXPECTED otherwise); platform not null (E_POINTER).
  HRESULT Initialize(IUnknown* platform);

  // The plug-in's interfaces, borrowed (no reference); null until Load succeeds.
  IZQBlog* Blog() const { return blog_; }
  IZQBlogOperation* Operation() const { return operation_; }
  bool IsLoaded() const { return plugin_ != nullptr; }

  // Calls Uninitialize when the plug-in was started, then DllCanUnloadNow: S_OK frees the
  // library (S_OK); S_FALSE keeps it loaded and usable (S_FALSE). S_OK when nothing is
  // loaded. REQUIRES: the host holds no reference into the library any more (clear the
  // plug-in registry first: its entry refers to the plug-in object).
  HRESULT Unload();

  // The loader's message for its last failure ("" after a success).
  const std::string& LastError() const { return last_error_; }

 private:
  void* helper_ = nullptr;
  void* plugin_ = nullptr;
  IZQBlog* blog_ = nullptr;
  IZQBlogOperation* operation_ = nullptr;
  bool initialized_ = false;
  std::string last_error_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_WORKSHOP_PLUGINLOADER_H_
