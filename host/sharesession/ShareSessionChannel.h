// ShareSessionChannel: the host's IShareSessionChannel, one participant's client side
// of one module. Operation messages go from here to the module's serving participant;
// their answers come back to the result sinks attached here; change broadcasts of the
// other participants arrive here: the payload is kept as the latest received one and
// the notice goes to the message sink, which reads the payload during the call
// (BeginReadMessage / GetMessagePayload / EndReadMessage).
// Sinks are called on the share session's delivery thread with no lock held, so a sink
// may attach and detach sinks during its call. Reserved slots answer E_NOTIMPL.
#ifndef ZQBLOG_HOST_SHARESESSION_SHARESESSIONCHANNEL_H_
#define ZQBLOG_HOST_SHARESESSION_SHARESESSIONCHANNEL_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "interfaces/IShareSessionChannel.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class ShareSessionMessage;
class ShareSessionRouter;

class ShareSessionChannel : public CComObjectRootEx<CComMultiThreadModel>,
                            public IShareSessionChannel {
 public:
  BEGIN_COM_MAP(ShareSessionChannel)
  COM_INTERFACE_ENTRY(IShareSessionChannel)
  END_COM_MAP()

  static HRESULT Create(std::weak_ptr<ShareSessionRouter> router, int participant,
                        const std::string& module, ShareSessionChannel** out);

  // Router side, on the delivery thread.
  // Keeps payload (null: the broadcast carried none) as the latest received one, then
  // calls the message sink, if any, with the notice. The sink's answer; S_FALSE when no
  // sink is attached.
  HRESULT DeliverBroadcast(std::shared_ptr<const std::vector<BYTE>> payload,
                           const int notice[4]);
  // Calls every result sink attached (and still attached when its turn comes).
  void DeliverResult(ShareSessionMessage* result);
  // Releases every sink (the participant left or the session stopped).
  void DetachAll();

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(BeginReadMessage)() override;
  STDMETHOD(GetMessagePayload)(const BYTE** payload, int* length) override;
  STDMETHOD(EndReadMessage)() override;
  STDMETHOD(AttachMessageSink)(IOnRecvShareSessionMsg* sink) override;
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(AttachResultSink)(IOnRecvShareSessionOperationEvent* sink) override;
  STDMETHOD(DetachResultSink)(IOnRecvShareSessionOperationEvent* sink) override;
  STDMETHOD(CreateOperationMessage)(IShareSessionMessage** message) override;
  STDMETHOD(SendOperationMessage)(IShareSessionMessage* message) override;

 private:
  // One thread's read of the latest broadcast (reads nest; each thread has its own).
  struct Reading {
    std::shared_ptr<const std::vector<BYTE>> payload;
    int depth = 0;
  };

  std::weak_ptr<ShareSessionRouter> router_;
  int participant_ = 0;
  std::string module_;

  std::mutex mutex_;  // guards everything below
  CComPtr<IOnRecvShareSessionMsg> message_sink_;
  std::vector<CComPtr<IOnRecvShareSessionOperationEvent>> result_sinks_;
  std::shared_ptr<const std::vector<BYTE>> latest_;
  std::map<std::thread::id, Reading> readings_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_SHARESESSIONCHANNEL_H_
