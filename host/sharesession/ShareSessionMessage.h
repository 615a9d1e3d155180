// ShareSessionMessage: the host's IShareSessionMessage: an id, a command name and a
// payload the message owns. Operation messages come from a channel
// (CreateOperationMessage, a fresh id); result messages from a server
// (CreateResultMessage, the request's id) or from the share session itself.
//
// A request delivered to a serving participant also holds that participant's claim on
// the request (ShareSessionServedOperation): whoever keeps the message keeps the
// request open, and the request is answered once the last hold goes (see
// ShareSessionHub.h).
#ifndef ZQBLOG_HOST_SHARESESSION_SHARESESSIONMESSAGE_H_
#define ZQBLOG_HOST_SHARESESSION_SHARESESSIONMESSAGE_H_

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "interfaces/IShareSessionMessage.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class ShareSessionServedOperation;

class ShareSessionMessage : public CComObjectRootEx<CComMultiThreadModel>,
                            public IShareSessionMessage {
 public:
  BEGIN_COM_MAP(ShareSessionMessage)
  COM_INTERFACE_ENTRY(IShareSessionMessage)
  END_COM_MAP()

  // A message with id, name and payload, one reference for the caller (E_OUTOFMEMORY
  // when it cannot be made).
  static HRESULT Create(int id, const std::string& name, std::vector<BYTE> payload,
                        ShareSessionMessage** out);

  // The message behind an interface pointer, or null when it is not one of ours.
  static ShareSessionMessage* FromInterface(IShareSessionMessage* message);

  int id() const { return id_; }
  std::string name() const;
  std::vector<BYTE> payload() const;

  // The served request this message holds open (null for other messages).
  std::shared_ptr<ShareSessionServedOperation> served() const;
  void set_served(std::shared_ptr<ShareSessionServedOperation> served);

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(GetId)(int* id) override;
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(GetName)(char* buffer, int bufferSize) override;
  STDMETHOD(SetName)(LPCSTR name) override;
  STDMETHOD(SetPayloadSize)(int size) override;
  STDMETHOD(GetPayload)(BYTE** payload, int* size) override;

 private:
  int id_ = 0;
  mutable std::mutex mutex_;  // guards the fields below
  std::string name_;
  std::vector<BYTE> payload_;
  std::shared_ptr<ShareSessionServedOperation> served_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_SHARESESSIONMESSAGE_H_
