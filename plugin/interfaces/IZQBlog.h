// IZQBlog: the plug-in's primary interface. It answers questions from what the plug-in
// already holds (albums, resources, the server directory, results of finished commands)
// and manages the signed-in user and the host's sinks; it never starts network work.
// Slots 1 to 3 are IZQCPPlugin's; this interface's own slots follow from 4.
// Queries that need a signed-in user give E_FAIL before SetCurrentUser.
#ifndef ZQBLOG_INTERFACES_IZQBLOG_H_
#define ZQBLOG_INTERFACES_IZQBLOG_H_

#include "interfaces/ICommonResult.h"
#include "interfaces/IZQAlbumInfo.h"
#include "interfaces/IZQAlbumListInfo.h"
#include "interfaces/IZQBlogFailureSink.h"
#include "interfaces/IZQBlogResultSink.h"
#include "interfaces/IZQCPPlugin.h"
#include "interfaces/IZQResInfo.h"
#include "platform/platform.h"

struct IZQBlog : public IZQCPPlugin {
  // 4. The user's album with that id, one reference added; E_FAIL and null when unknown.
  STDMETHOD(GetAlbumInfo)(LPCWSTR userId, int albumId, IZQAlbumInfo** album) = 0;
  // 5. The first resource with that id in the user's albums, one reference added; E_FAIL
  //    and null when none.
  STDMETHOD(GetResourceInfo)(LPCWSTR userId, int resourceId, IZQResInfo** resource) = 0;
  // 6. The user's album list, one reference added; E_FAIL when none was fetched.
  STDMETHOD(GetAlbumListInfo)(LPCWSTR userId, IZQAlbumListInfo** list) = 0;
  // 7. Whether the album's resources were fetched; *loaded untouched (S_OK) when the
  //    list has no such album, E_FAIL when the user has no list.
  STDMETHOD(IsResourceListLoaded)(LPCWSTR userId, int albumId, bool* loaded) = 0;
  // 8. Whether the user has a blog, from the user's server directory; E_FAIL when none.
  STDMETHOD(IsBlogOpened)(LPCWSTR userId, bool* opened) = 0;
  // 9. Frees the BSTR *url holds (if any) and stores a new one with the user's content-id
  //    data URL; E_FAIL when the user has no server directory.
  STDMETHOD(GetCidDatUrl)(LPCWSTR userId, BSTR* url) = 0;
  // 10. The ids of the albums holding cid: with *count too small, E_OUTOFMEMORY and the
  //     needed count in *count; E_FAIL when the index is empty.
  STDMETHOD(GetAlbumsByCid)(LPCWSTR cid, int* albumIds, int* count) = 0;
  // 11. The result object filed under commandId, one reference added; E_FAIL when none.
  STDMETHOD(GetCommandResult)(int commandId, ICommonResult** result) = 0;
  // 12. The integer the host's settings store holds under name in the user's "CID"
  //     section (non-numeric text gives 0); E_FAIL when it cannot be read.
  STDMETHOD(GetCidValue)(LPCWSTR name, int* value) = 0;
  // 13. Signs userId in (lower-cased); S_OK. E_INVALIDARG, nobody changed, for an id
  //     that cannot go into a cookie or a request path as it is (a control character, a
  //     space, ";" or "/"); E_OUTOFMEMORY when it cannot be copied.
  STDMETHOD(SetCurrentUser)(LPCWSTR userId) = 0;
  // 14. Forgets every album list, directory, content-id entry and result, and restarts
  //     command ids at 1; the user and the sinks stay. S_OK.
  STDMETHOD(ClearSession)() = 0;
  // 15. Adds a result sink (one reference; once only). S_OK.
  STDMETHOD(AdviseResultSink)(IZQBlogResultSink* sink) = 0;
  // 16. Removes a result sink and releases it; an unknown sink is ignored. S_OK.
  STDMETHOD(UnadviseResultSink)(IZQBlogResultSink* sink) = 0;
  // 17. Adds a failure sink (one reference; once only). S_OK.
  STDMETHOD(AdviseFailureSink)(IZQBlogFailureSink* sink) = 0;
  // 18. Removes a failure sink and releases it; an unknown sink is ignored. S_OK.
  STDMETHOD(UnadviseFailureSink)(IZQBlogFailureSink* sink) = 0;
};

// {6A0B4876-C06E-445C-B91D-8509E09D7F42}
ZQ_DEFINE_IID(IZQBlog, 0x6A0B4876, 0xC06E, 0x445C, 0xB9, 0x1D, 0x85, 0x09, 0xE0, 0x9D, 0x7F,
              0x42)

#endif  // ZQBLOG_INTERFACES_IZQBLOG_H_
