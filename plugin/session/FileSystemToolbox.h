// The host's folders, asked of the host's helper library "Elvatrix.dll" (libElvatrix.so
// on Linux), which the host loads before the plug-in. ElvatrixWrapper binds the
// library's eleven path exports by name; FileSystemToolbox_ is the process-wide object
// through which the plug-in asks for a path and keeps the answer. The plug-in never
// loads the library itself and only ever asks for the user path (the blog cache lives
// below it).
#ifndef ZQBLOG_SESSION_FILESYSTEMTOOLBOX_H_
#define ZQBLOG_SESSION_FILESYSTEMTOOLBOX_H_

#include <functional>
#include <string>

#include "common/ThreadSafety.h"
#include "interfaces/ElvatrixExports.h"
#include "platform/platform.h"
#include "session/BlogCache.h"

namespace Velmora {
namespace Community {

// The bound exports of the helper library, in the library's order
// (kElvatrixExportNames): a null pointer stands for an export that is not bound.
class ElvatrixWrapper {
 public:
  // Finds an export by name; null when there is none.
  typedef std::function<FARPROC(const char* name)> ExportLookup;

  // The process-wide wrapper: a static object made on first use, destroyed at exit.
  static ElvatrixWrapper* Instance();

  // Every pointer null.
  ElvatrixWrapper() = default;
  virtual ~ElvatrixWrapper() = default;
  ElvatrixWrapper(const ElvatrixWrapper&) = delete;
  ElvatrixWrapper& operator=(const ElvatrixWrapper&) = delete;

  // Looks "Elvatrix.dll" up among the modules already loaded (GetModuleHandleW). When it
  // is not loaded: false, every pointer set to null. Otherwise binds the eleven exports
  // with GetProcAddress in order (a missing one is left null) and returns true only when
  // all eleven were found.
  bool Bind();
  // The same with another source of exports (a loaded module found otherwise, or a
  // table): binds each name in order through lookup; true when all eleven were found.
  bool BindWith(const ExportLookup& lookup);

  // Export i (0 to 10, in kElvatrixExportNames order) or null; null for any other i.
  FARPROC Export(int i) const;
  // Export 1, "ZQ_GetUserPath", or null.
  PFN_ZQ_GetUserPath GetUserPathExport() const;

 private:
  FARPROC exports_[kElvatrixExportCount] = {};
};

// The cached answers of the helper library, one slot per export.
// No lock of its own: its one caller, the blog cache set-up, runs under the cache lock.
class FileSystemToolbox_ {
 public:
  // The process-wide toolbox (created on first use, bound to the process-wide wrapper);
  // null once destroyed (process exit).
  static FileSystemToolbox_* Instance();

  FileSystemToolbox_(const FileSystemToolbox_&) = delete;
  FileSystemToolbox_& operator=(const FileSystemToolbox_&) = delete;

  // The folder of per-user data as the library gives it: an absolute path ending with
  // the path separator. The first non-empty answer is kept for the life of the toolbox;
  // an empty one is not, so the next call asks again. Empty when the library is not
  // loaded or lacks "ZQ_GetUserPath" (the export is looked for again on the next call,
  // in case the host loaded the library meanwhile).
  //
  // The library is asked with a buffer of MAX_PATH (260) characters, as on Windows.
  // Paths may be longer elsewhere and the export cuts an answer to fit: an answer that
  // fills the buffer is asked for again with a buffer twice as large (up to 32768
  // characters), so a cut path is never taken for the folder.
  // The caller serialises calls: the blog cache holds CacheLock.
  std::wstring GetUserPath() ZQ_REQUIRES(ZQBlog::CacheLock());

 protected:
  // Binds the process-wide wrapper (Bind's result is not kept).
  FileSystemToolbox_();
  // Uses wrapper as it is (not bound again); it must outlive the toolbox.
  explicit FileSystemToolbox_(ElvatrixWrapper* wrapper);
  virtual ~FileSystemToolbox_() = default;

 private:
  ElvatrixWrapper* wrapper_;
  std::wstring paths_[kElvatrixExportCount];
};

}  // namespace Community
}  // namespace Velmora

#endif  // ZQBLOG_SESSION_FILESYSTEMTOOLBOX_H_
