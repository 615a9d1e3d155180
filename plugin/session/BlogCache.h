// BlogCache: the on-disk copy of the album list and resource list replies, so that a
// conditional fetch answered "not modified" can be served from disk. Each list keeps
// its reply body, byte for byte, in one file of the user's cache folder, and the
// "Last-Modified" value of that reply in the host's settings store, in the section
// named by the user id:
//
//   folder      <user path><user id><sep>BlogCache<sep>   (sep: the system's separator)
//   album list  file "AlbumList_<user id>.xml", key "AlbumList_<user id>_Modified"
//   album A     file "Album_<A>.xml",           key "Album_<A>_Modified"  (A decimal)
//
// The user path is the host's per-user data folder (FileSystemToolbox_::GetUserPath);
// when the host gives none, the folder is relative: "<user id><sep>BlogCache<sep>".
//
// Safety:
// - A user id that could leave its folder or alias another one is refused
//   (IsSafeUserId): the cache then does nothing for it: no folder, no file, no
//   settings section, every read finds nothing and every write reports false.
// - A body is written to a new file beside the cache file and renamed over it, so a
//   cache file always holds a whole reply (the previous one when writing fails). A
//   writer killed mid-write leaves its new file behind: each save removes the list's
//   leftovers older than ten minutes.
// - A "Last-Modified" value is stored only together with its body: SaveLastModified
//   keeps the value until SaveBody has put the body in place, so the stored value never
//   vouches for a body the cache does not hold.
//
// One object per command. Commands hold CacheLock around Init and GetIfModifiedSince
// (both also take it themselves); the rest runs on the command's thread.
#ifndef ZQBLOG_SESSION_BLOGCACHE_H_
#define ZQBLOG_SESSION_BLOGCACHE_H_

#include <string>

#include "interfaces/ISettingsSection.h"
#include "interfaces/ISettingsStore.h"
#include "platform/atl.h"
#include "util/CriticalSection.h"

namespace Velmora {
namespace ZQBlog {

// The process-wide lock around cache set-up and the reading of "Last-Modified" values.
TAVO::System::Thread::CriticalSection& CacheLock();

// The validator sent when the cache has no value: earlier than any real date.
extern const wchar_t kDefaultValidator[];

// The path separator of the system: '\' on Windows, '/' elsewhere.
extern const wchar_t kPathSeparator;

class BlogCache {
 public:
  // Takes the settings store from the host platform and the user path from the
  // file-system toolbox, both at Init.
  BlogCache();
  // Uses store (may be null: no settings) and userPath instead (other hosts, tests).
  BlogCache(ISettingsStore* store, const std::wstring& userPath);
  ~BlogCache() = default;

  BlogCache(const BlogCache&) = delete;
  BlogCache& operator=(const BlogCache&) = delete;

  // Whether userId may name a cache folder: not empty, no path separator ('/', '\'),
  // no "..", no "." alone, no control character, none of : * ? " < > |, no trailing
  // dot or space, no Windows device name (CON, NUL, COM1, ...), and text that survives
  // the round trip through the ANSI code page (the settings keys are ANSI).
  static bool IsSafeUserId(const std::wstring& userId);

  // Sets the cache up for userId: computes the folder, makes sure the settings store
  // has a section named userId (opens it, else creates it with flag 1) and creates the
  // folder when missing. A refused user id sets up nothing. Takes CacheLock.
  void Init(const std::wstring& userId);

  // Selects the list (-1: the album list; any other value: the resource list of that
  // album) and returns the validator to send: when the list's file exists, the stored
  // "Last-Modified" value (empty when none is stored), or kDefaultValidator when the
  // settings section cannot be opened; when the file is missing, creates it empty and
  // returns kDefaultValidator. A refused user id gives kDefaultValidator and creates
  // nothing. Takes CacheLock. REQUIRES: Init was called.
  std::wstring GetIfModifiedSince(int albumId);

  // Reads the selected list's file into *body; false (body empty) when there is no
  // file, it cannot be read, or no list is selected.
  bool LoadBody(std::string* body) const;

  // The "Last-Modified" value of the reply being taken over. It is written to the
  // settings (key, current time, value) once the body is saved (at once if SaveBody
  // succeeded already); a reply whose body is never saved leaves the stored value as it
  // was. False when nothing can be stored (refused user id, no list selected).
  bool SaveLastModified(const std::string& value);

  // Replaces the selected list's file by text's bytes up to its first zero byte, through
  // a temporary file in the same folder; then writes a pending "Last-Modified" value.
  // False, the previous file left whole and no temporary file left behind, when
  // anything fails; false too for a null text, a refused user id or no selected list.
  bool SaveBody(const char* text);

  const std::wstring& UserId() const { return userId_; }
  // The cache folder, ending with the separator; empty for a refused user id.
  const std::wstring& Folder() const { return folder_; }
  // The selected list's file and settings key; empty until a list is selected.
  const std::wstring& FilePath() const { return filePath_; }
  const std::wstring& Key() const { return key_; }

 private:
  // Opens the user's settings section; null when there is no store or it fails.
  CComPtr<ISettingsSection> OpenSection() const;
  bool WriteLastModified(const std::string& value) const;

  bool usesHost_;
  bool usable_ = false;  // Init accepted the user id
  CComPtr<ISettingsStore> store_;
  std::wstring userPath_;
  std::wstring userId_;
  std::wstring folder_;
  std::wstring filePath_;
  std::wstring key_;
  bool bodySaved_ = false;
  bool hasPendingLastModified_ = false;
  std::string pendingLastModified_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SESSION_BLOGCACHE_H_
