// ShareSessionServer: the host's IShareSessionServer, the serving side of one module
// for the participant that registered it. Operation requests for the module go to the
// attached handler (on the share session's delivery thread); PublishData keeps a change
// payload for the calling thread and PublishNotice broadcasts it with the notice to
// every other participant's channel of the module, payload first. Keeping the payload
// per thread pairs each notice with its own payload even when several threads publish
// at once. Reserved slots answer E_NOTIMPL.
#ifndef ZQBLOG_HOST_SHARESESSION_SHARESESSIONSERVER_H_
#define ZQBLOG_HOST_SHARESESSION_SHARESESSIONSERVER_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "interfaces/IShareSessionServer.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class ShareSessionRouter;

class ShareSessionServer : public CComObjectRootEx<CComMultiThreadModel>,
                           public IShareSessionServer {
 public:
  BEGIN_COM_MAP(ShareSessionServer)
  COM_INTERFACE_ENTRY(IShareSessionServer)
  END_COM_MAP()

  static HRESULT Create(std::weak_ptr<ShareSessionRouter> router, int participant,
                        const std::string& module, ShareSessionServer** out);

  // The attached handler (null when none).
  CComPtr<IOnRecvShareSessionOperationEvent> handler();
  // Releases the handler and any kept payload.
  void DetachAll();

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  // Null detaches the handler attached before.
  STDMETHOD(AttachOperationHandler)(IOnRecvShareSessionOperationEvent* handler) override;
  // request must be a message of this share session (E_INVALIDARG otherwise). When it
  // is a request this participant is serving, the new message becomes its answer (see
  // ShareSessionHub.h).
  STDMETHOD(CreateResultMessage)(IShareSessionMessage* request,
                                 IShareSessionMessage** result) override;
  STDMETHOD(PublishData)(const BYTE* payload, int size) override;
  STDMETHOD(PublishNotice)(int first, int type, int value1, int value2) override;

 private:
  std::weak_ptr<ShareSessionRouter> router_;
  int participant_ = 0;
  std::string module_;

  std::mutex mutex_;  // guards the fields below
  CComPtr<IOnRecvShareSessionOperationEvent> handler_;
  std::map<std::thread::id, std::vector<BYTE>> pending_;  // PublishData per thread
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_SHARESESSIONSERVER_H_
