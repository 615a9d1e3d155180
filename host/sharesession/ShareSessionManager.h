// ShareSessionManager: the host's IShareSessionManager, one participant of a share
// session (ShareSessionHub) with the role the host gave it. The participant joins when
// the manager is made and leaves when its last reference goes (its channels and
// servers then stop receiving). Module names must be non-empty. Reserved slots answer
// E_NOTIMPL. Made by CreateShareSessionManager (ShareSessionHub.h).
#ifndef ZQBLOG_HOST_SHARESESSION_SHARESESSIONMANAGER_H_
#define ZQBLOG_HOST_SHARESESSION_SHARESESSIONMANAGER_H_

#include <memory>

#include "interfaces/IShareSessionManager.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class ShareSessionRouter;

class ShareSessionManager : public CComObjectRootEx<CComMultiThreadModel>,
                            public IShareSessionManager {
 public:
  BEGIN_COM_MAP(ShareSessionManager)
  COM_INTERFACE_ENTRY(IShareSessionManager)
  END_COM_MAP()

  ~ShareSessionManager();

  // A new participant of router with role, one reference for the caller.
  static HRESULT Create(std::shared_ptr<ShareSessionRouter> router, int role,
                        IShareSessionManager** out);
  // The manager behind an interface pointer, or null when it is not one of ours.
  static ShareSessionManager* FromInterface(IShareSessionManager* manager);

  // The participant's id in its router, and whether that router is router.
  int participant() const { return participant_; }
  bool BelongsTo(const std::shared_ptr<ShareSessionRouter>& router) const {
    return router_ == router;
  }

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(GetRole)(int* role) override;
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(RegisterModule)(LPCSTR moduleName, int priority) override;
  STDMETHOD(GetModuleServer)(LPCSTR moduleName, int priority,
                             IShareSessionServer** server) override;
  STDMETHOD(GetModuleChannel)(LPCSTR moduleName, int reserved,
                              IShareSessionChannel** channel) override;

 private:
  std::shared_ptr<ShareSessionRouter> router_;
  int participant_ = 0;
  int role_ = 0;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_SHARESESSIONMANAGER_H_
