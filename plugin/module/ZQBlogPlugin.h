// ZQBlogPlugin_: the one plug-in object the host obtains through GetPluginObject. It
// offers, as four sub-objects in this order, IZQBlog (primary; begins with IZQCPPlugin),
// IZQBlogOperation (also begins with IZQCPPlugin), IOnRecvShareSessionMsg and ICmdEvent.
//
// Identity: QueryInterface on any of them answers exactly IZQBlog's and
// IZQBlogOperation's ids (not even IUnknown's), without adding a reference. The
// reference count is a plain counter (the host calls AddRef and Release from one
// thread); it does not take part in the module lock. The object is never destroyed
// while the library is loaded, even when the host drives the count to zero, so a later
// GetPluginObject still hands out a working object.
#ifndef ZQBLOG_MODULE_ZQBLOGPLUGIN_H_
#define ZQBLOG_MODULE_ZQBLOGPLUGIN_H_

#include <string>

#include "interfaces/ICmdEvent.h"
#include "interfaces/IOnRecvShareSessionMsg.h"
#include "interfaces/IZQBlog.h"
#include "interfaces/IZQBlogOperation.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

// The share-session module name and priority of the library.
extern const char kModuleName[];
constexpr int kModulePriority = 10;
// What GetPluginName returns.
extern const wchar_t kPluginName[];

class ZQBlogPlugin_ : public IZQBlog,
                      public IZQBlogOperation,
                      public IOnRecvShareSessionMsg,
                      public ICmdEvent {
 public:
  // The process-wide instance, created by the first call (double-checked under its own
  // critical section). Null only once the library is being unloaded.
  static ZQBlogPlugin_* Instance();

  // The next command id: an interlocked increment of the process-wide counter, so the
  // first command after construction or ClearSession gets 1.
  static int NextCommandId();

  // IUnknown, shared by the four sub-objects.
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  // IZQCPPlugin, shared by IZQBlog and IZQBlogOperation.
  // Start-up with the host's platform object: records the host program's folder,
  // keeps the platform, registers the plug-in with the host's plug-in registry and joins
  // the share session by role (0: message sink on the module channel; 1: the module is
  // registered and its command parser attached to the module server; others: nothing).
  // Results of the host are not checked; S_OK, or E_OUTOFMEMORY when an allocation
  // failed on the way (no exception leaves the call).
  STDMETHOD(Initialize)(IUnknown* platform) override;
  // Does nothing; S_OK.
  STDMETHOD(Uninitialize)(void* unused) override;
  // "Velmora.Community.ZQBlog" in a new BSTR.
  STDMETHOD(GetPluginName)(BSTR* name) override;

  // IZQBlog queries: answered from the blog session.
  STDMETHOD(GetAlbumInfo)(LPCWSTR userId, int albumId, IZQAlbumInfo** album) override;
  STDMETHOD(GetResourceInfo)(LPCWSTR userId, int resourceId, IZQResInfo** resource) override;
  STDMETHOD(GetAlbumListInfo)(LPCWSTR userId, IZQAlbumListInfo** list) override;
  STDMETHOD(IsResourceListLoaded)(LPCWSTR userId, int albumId, bool* loaded) override;
  STDMETHOD(IsBlogOpened)(LPCWSTR userId, bool* opened) override;
  STDMETHOD(GetCidDatUrl)(LPCWSTR userId, BSTR* url) override;
  STDMETHOD(GetAlbumsByCid)(LPCWSTR cid, int* albumIds, int* count) override;
  STDMETHOD(GetCommandResult)(int commandId, ICommonResult** result) override;
  STDMETHOD(GetCidValue)(LPCWSTR name, int* value) override;
  STDMETHOD(SetCurrentUser)(LPCWSTR userId) override;
  STDMETHOD(ClearSession)() override;
  STDMETHOD(AdviseResultSink)(IZQBlogResultSink* sink) override;
  STDMETHOD(UnadviseResultSink)(IZQBlogResultSink* sink) override;
  STDMETHOD(AdviseFailureSink)(IZQBlogFailureSink* sink) override;
  STDMETHOD(UnadviseFailureSink)(IZQBlogFailureSink* sink) override;

  // IZQBlogOperation: each creates one blog command and submits it to the workshop.
  STDMETHOD(RefreshBlogServerInfo)(LPCWSTR userId, int contextValue, ICmdEvent* sink,
                                   IWorkshopCmd** command) override;
  STDMETHOD(GetCidDat)(LPCWSTR userId, void* unused, IWorkshopCmd** command) override;
  STDMETHOD(GetAlbumList)(LPCWSTR userId, void* unused, IWorkshopCmd** command) override;
  STDMETHOD(GetResourceList)(LPCWSTR userId, int categoryId, void* unused,
                             IWorkshopCmd** command) override;
  STDMETHOD(BatchCollect)(int categoryId, IZQResInfo** items, int count, void* unused,
                          IWorkshopCmd** command) override;
  STDMETHOD(BatchRemove)(int categoryId, int count, const int* resourceIds, void* unused,
                         IWorkshopCmd** command) override;
  STDMETHOD(CreateAlbum)(IZQAlbumInfo* album, void* unused, IWorkshopCmd** command) override;
  STDMETHOD(ModifyAlbum)(IZQAlbumInfo* album, void* unused, IWorkshopCmd** command) override;
  STDMETHOD(ModifyResource)(int sourceCategoryId, int targetCategoryId, int resourceId,
                            LPCWSTR name, LPCWSTR description, void* unused,
                            IWorkshopCmd** command) override;
  STDMETHOD(MoveResource)(int sourceCategoryId, int targetCategoryId, bool choice, int count,
                          const int* resourceIds, void* unused,
                          IWorkshopCmd** command) override;
  STDMETHOD(CopyResource)(int sourceCategoryId, int targetCategoryId, bool choice, int count,
                          const int* resourceIds, void* unused,
                          IWorkshopCmd** command) override;
  STDMETHOD(RemoveAlbum)(int categoryId, void* unused, IWorkshopCmd** command) override;
  STDMETHOD(RefreshResComment)(LPCWSTR resourceKey, int requestNumber, void* unused,
                               IWorkshopCmd** command) override;

  // IOnRecvShareSessionMsg: a change notice (type, value1, value2) for the blog
  // session's decoder; the first argument is ignored. S_OK when handled, else E_FAIL.
  STDMETHOD(OnRecvShareSessionMsg)(int first, int type, int value1, int value2) override;

  // ICmdEvent: registered nowhere; S_OK, does nothing.
  STDMETHOD(OnStateChanged)(IWorkshopCmd* command, int oldState, int newState) override;

  // The current user id (lower-cased by SetCurrentUser); empty when nobody is signed in.
  const std::wstring& CurrentUser() const { return currentUser_; }
  // The plain reference count.
  LONG RefCount() const { return refCount_; }

 protected:
  ZQBlogPlugin_();
  virtual ~ZQBlogPlugin_();

 private:
  // Initialize's work; may throw std::bad_alloc.
  HRESULT JoinHost(IUnknown* platform);

  LONG refCount_ = 0;
  std::wstring currentUser_;
  CComCriticalSection lock_;  // the ATL root's lock: initialised here, deleted at the end
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_MODULE_ZQBLOGPLUGIN_H_
