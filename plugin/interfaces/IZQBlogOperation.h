// IZQBlogOperation: the plug-in's interface that starts work. Each operation creates
// one command, hands it its parameters, submits it to the host's command workshop and,
// when command is not null, stores the command there with one reference. The result
// arrives later through the result and failure sinks (IZQBlog).
// Slots 1 to 3 are IZQCPPlugin's; this interface's own slots follow from 4.
// Every operation: E_FAIL with no signed-in user (nothing is created), E_OUTOFMEMORY when
// the command cannot be made, else S_OK. An argument named unused is never read.
// Operations 4 to 7 run for the userId given; the others for the signed-in user.
#ifndef ZQBLOG_INTERFACES_IZQBLOGOPERATION_H_
#define ZQBLOG_INTERFACES_IZQBLOGOPERATION_H_

#include "interfaces/ICmdEvent.h"
#include "interfaces/IWorkshopCmd.h"
#include "interfaces/IZQAlbumInfo.h"
#include "interfaces/IZQCPPlugin.h"
#include "interfaces/IZQResInfo.h"
#include "platform/platform.h"

struct IZQBlogOperation : public IZQCPPlugin {
  // 4. Fetches the user's server directory; contextValue comes back in the result;
  //    sink, when not null, is registered on the command before it is submitted.
  STDMETHOD(RefreshBlogServerInfo)(LPCWSTR userId, int contextValue, ICmdEvent* sink,
                                   IWorkshopCmd** command) = 0;
  // 5. Fetches the user's content-id table.
  STDMETHOD(GetCidDat)(LPCWSTR userId, void* unused, IWorkshopCmd** command) = 0;
  // 6. Fetches the user's album list.
  STDMETHOD(GetAlbumList)(LPCWSTR userId, void* unused, IWorkshopCmd** command) = 0;
  // 7. Fetches the resources of one of the user's albums.
  STDMETHOD(GetResourceList)(LPCWSTR userId, int categoryId, void* unused,
                             IWorkshopCmd** command) = 0;
  // 8. Collects the count resources of items (copied at once) into album categoryId.
  STDMETHOD(BatchCollect)(int categoryId, IZQResInfo** items, int count, void* unused,
                          IWorkshopCmd** command) = 0;
  // 9. Removes the count resources resourceIds[0, count) from album categoryId.
  STDMETHOD(BatchRemove)(int categoryId, int count, const int* resourceIds, void* unused,
                         IWorkshopCmd** command) = 0;
  // 10. Creates an album described by album (copied at once).
  STDMETHOD(CreateAlbum)(IZQAlbumInfo* album, void* unused, IWorkshopCmd** command) = 0;
  // 11. Rewrites the album with album's id using album's values (copied at once).
  STDMETHOD(ModifyAlbum)(IZQAlbumInfo* album, void* unused, IWorkshopCmd** command) = 0;
  // 12. Renames and re-describes a resource, moving it to targetCategoryId when that
  //     differs from sourceCategoryId.
  STDMETHOD(ModifyResource)(int sourceCategoryId, int targetCategoryId, int resourceId,
                            LPCWSTR resourceName, LPCWSTR description, void* unused,
                            IWorkshopCmd** command) = 0;
  // 13. Moves resourceIds[0, count) from one album to another; choice goes out as 0 or 1.
  STDMETHOD(MoveResource)(int sourceCategoryId, int targetCategoryId, bool choice, int count,
                          const int* resourceIds, void* unused, IWorkshopCmd** command) = 0;
  // 14. Copies resourceIds[0, count) from one album to another; choice as for MoveResource.
  STDMETHOD(CopyResource)(int sourceCategoryId, int targetCategoryId, bool choice, int count,
                          const int* resourceIds, void* unused, IWorkshopCmd** command) = 0;
  // 15. Removes album categoryId.
  STDMETHOD(RemoveAlbum)(int categoryId, void* unused, IWorkshopCmd** command) = 0;
  // 16. Fetches the comment count of the resource resourceKey names; requestNumber comes
  //     back unchanged in the result.
  STDMETHOD(RefreshResComment)(LPCWSTR resourceKey, int requestNumber, void* unused,
                               IWorkshopCmd** command) = 0;
};

// {E0A422A1-8F44-4849-8978-4EFB997499E1}
ZQ_DEFINE_IID(IZQBlogOperation, 0xE0A422A1, 0x8F44, 0x4849, 0x89, 0x78, 0x4E, 0xFB, 0x99, 0x74,
              0x99, 0xE1)

#endif  // ZQBLOG_INTERFACES_IZQBLOGOPERATION_H_
