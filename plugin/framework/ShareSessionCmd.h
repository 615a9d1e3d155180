// ShareSessionCmd<T>: the wrapper that makes a blog command T (a class derived from
// BaseBlogCmd) shareable between the processes of the host's share session.
//
// At Start it asks the host for this process's role:
//   1 (serve)        the command registers its own sink and runs over HTTP here;
//   2 (stand-alone)  the command runs over HTTP here;
//   0 (forward)      the command attaches itself as a result sink to the module
//                    channel, builds its operation message (name and parameters), keeps
//                    it and sends it to the serving process; it stays in state 0 until
//                    the result message with the same id arrives (OnRecvOperationResult),
//                    which ends it in 5 or 6 and detaches the sink;
//   any other        E_FAIL, the state unchanged.
// Before the host platform exists (before the plug-in's Initialize) Start ends the
// command in state 6 with E_FAIL; so does a forward that cannot be sent.
//
// In the serving process the command parser creates the command for a forwarded
// request and hands it over with SetOperationMessage, which reads the parameters and
// submits the command to the host's workshop; the command answers the request with its
// result record at the end of its reply (BaseBlogCmd::DispatchReply).
//
// CComObject<ShareSessionCmd<T>> answers QueryInterface for exactly IUnknown and
// IWorkshopCmd (the primary interface) and IBaseShareSessionCmd.
#ifndef ZQBLOG_FRAMEWORK_SHARESESSIONCMD_H_
#define ZQBLOG_FRAMEWORK_SHARESESSIONCMD_H_

#include <exception>
#include <string_view>

#include "framework/BaseCmd.h"
#include "framework/BaseHttpCmd.h"
#include "interfaces/IBaseShareSessionCmd.h"
#include "interfaces/IOnRecvShareSessionOperationEvent.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionMessage.h"
#include "interfaces/IWorkshopCmd.h"
#include "module/HostPlatform.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

template <class T>
class ShareSessionCmd : public T,
                        public IBaseShareSessionCmd,
                        public IOnRecvShareSessionOperationEvent {
 public:
  // The interface map's lookup lives in a base that depends on T.
  using ATL::CComObjectRootBase::InternalQueryInterface;

  BEGIN_COM_MAP(ShareSessionCmd)
  COM_INTERFACE_ENTRY(IWorkshopCmd)
  COM_INTERFACE_ENTRY(IBaseShareSessionCmd)
  END_COM_MAP()

  ShareSessionCmd() = default;
  // Releases the operation message.
  ~ShareSessionCmd() override = default;
  ShareSessionCmd(const ShareSessionCmd&) = delete;
  ShareSessionCmd& operator=(const ShareSessionCmd&) = delete;

  // IWorkshopCmd: starts the command by role (see above). A command that has left
  // state 0, or that has already been forwarded, is not started again: E_FAIL, nothing
  // changes.
  STDMETHOD(Start)() override {
    BaseCmd::CmdLock hold(*this);
    if (this->CurrentState() != BaseCmd::kStateCreated) return E_FAIL;
    if (ZQCP::GetHostPlatform() == nullptr) return Fail();
    switch (this->GetShareSessionRole()) {
      case T::kRoleServe:
        // Registered here and again by BaseHttpCmd's Start, which the list refuses
        // (S_FALSE): one entry, one reference.
        this->AddEventSink(this->SelfSink());
        return BaseHttpCmd::Start();
      case T::kRoleStandAlone:
        return BaseHttpCmd::Start();
      case T::kRoleForward:
        return Forward();
      default:
        return E_FAIL;
    }
  }

  // IBaseShareSessionCmd: keeps request (one reference, until the command is
  // destroyed), reads the parameters from it, makes the command one that answers
  // request with its result record and has a command id of its own
  // (ServeForwardedRequest), and submits it to the host's workshop. S_OK once
  // submitted; E_POINTER for a null request; E_FAIL, nothing submitted, when the
  // parameters are refused or the host cannot take the command; E_INVALIDARG, nothing
  // submitted, for a user id that cannot go into a cookie or a path (IsUsableUserId).
  STDMETHOD(SetOperationMessage)(IShareSessionMessage* request) override {
    if (request == nullptr) return E_POINTER;
    {
      BaseCmd::CmdLock hold(*this);
      bool read = false;
      try {
        read = this->ReadRequestRecord(request);
      } catch (const std::exception&) {
        read = false;
      }
      if (!read) return E_FAIL;
      // A user id from another process goes into the cookie and the path as it is.
      if (!T::IsUsableUserId(std::string_view(this->UserId()))) return E_INVALIDARG;
      // The command keeps the request there (its one reference) and answers it.
      this->ServeForwardedRequest(request);
    }
    return this->SubmitToHost();
  }

  // IOnRecvShareSessionOperationEvent: requests are the parser's business.
  STDMETHOD(OnRecvOperation)(IShareSessionMessage* /*request*/) override { return S_OK; }

  // The answer to a forwarded command. A result whose id differs from the command's
  // own message (or any result before the command was forwarded) is ignored. The
  // matching one is read (OnShareSessionResult) and ends the command in 5, or 6 when
  // it cannot be read; a command that has already ended only detaches. Then the
  // command's result sink is detached from the module channel. Always S_OK.
  STDMETHOD(OnRecvOperationResult)(IShareSessionMessage* result) override {
    if (result == nullptr) return S_OK;
    // Detaching drops the channel's reference, possibly the last but this one.
    CComPtr<IWorkshopCmd> keepAlive(static_cast<IWorkshopCmd*>(this));
    {
      BaseCmd::CmdLock hold(*this);
      if (!operationMessage_) return S_OK;
      int resultId = 0;
      int ownId = 0;
      if (FAILED(result->GetId(&resultId)) || FAILED(operationMessage_->GetId(&ownId)) ||
          resultId != ownId) {
        return S_OK;
      }
      if (!BaseCmd::IsTerminalState(this->CurrentState())) {
        HRESULT hr = E_FAIL;
        try {
          hr = this->OnShareSessionResult(result);
        } catch (const std::exception&) {
          hr = E_FAIL;
        }
        this->SetState(FAILED(hr) ? BaseCmd::kStateFailed : BaseCmd::kStateSucceeded, nullptr);
      }
    }
    CComPtr<IShareSessionChannel> channel = this->GetShareSessionChannel();
    if (channel) channel->DetachResultSink(ResultSink());
    return S_OK;
  }

  // The operation message: the one sent (forwarding process) or received (serving
  // process); null before. A borrowed pointer.
  IShareSessionMessage* OperationMessage() {
    BaseCmd::CmdLock hold(*this);
    return operationMessage_ ? operationMessage_.p : this->ForwardedRequest();
  }

 private:
  IOnRecvShareSessionOperationEvent* ResultSink() {
    return static_cast<IOnRecvShareSessionOperationEvent*>(this);
  }

  // Ends the command: state 6, E_FAIL.
  HRESULT Fail() ZQ_REQUIRES(this->CommandLock()) {
    this->SetState(BaseCmd::kStateFailed, nullptr);
    return E_FAIL;
  }

  // Role 0. REQUIRES: state 0.
  HRESULT Forward() ZQ_REQUIRES(this->CommandLock()) {
    if (operationMessage_) return E_FAIL;  // sent already; its result is awaited
    CComPtr<IShareSessionChannel> channel = this->GetShareSessionChannel();
    if (!channel) return Fail();
    if (FAILED(channel->AttachResultSink(ResultSink()))) return Fail();
    CComPtr<IShareSessionMessage> message;
    try {
      message = this->BuildOperationMessage();
    } catch (const std::exception&) {
      message.Release();
    }
    if (message) {
      operationMessage_ = message;
      if (SUCCEEDED(channel->SendOperationMessage(message))) return S_OK;
      operationMessage_.Release();
    }
    channel->DetachResultSink(ResultSink());
    return Fail();
  }

  // The message this command sent (role 0); a received request is kept by BaseBlogCmd.
  CComPtr<IShareSessionMessage> operationMessage_ ZQ_GUARDED_BY(this->CommandLock());
};

// A command factory (CommandFactory of the command parser): a new
// CComObject<ShareSessionCmd<T>> as its IWorkshopCmd, reference count 0. E_POINTER for
// a null out; E_OUTOFMEMORY and null when the command cannot be made.
template <class T>
HRESULT CreateShareSessionCmd(IWorkshopCmd** command) {
  if (command == nullptr) return E_POINTER;
  *command = nullptr;
  CComObject<ShareSessionCmd<T>>* created = nullptr;
  if (FAILED(CComObject<ShareSessionCmd<T>>::CreateInstance(&created)) || created == nullptr) {
    return E_OUTOFMEMORY;
  }
  *command = static_cast<IWorkshopCmd*>(created);
  return S_OK;
}

// The same for the plug-in's operations, which set the command's parameters through
// its class: the new object itself, reference count 0.
template <class T>
HRESULT CreateTypedShareSessionCmd(CComObject<ShareSessionCmd<T>>** command) {
  if (command == nullptr) return E_POINTER;
  *command = nullptr;
  CComObject<ShareSessionCmd<T>>* created = nullptr;
  if (FAILED(CComObject<ShareSessionCmd<T>>::CreateInstance(&created)) || created == nullptr) {
    return E_OUTOFMEMORY;
  }
  *command = created;
  return S_OK;
}

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_FRAMEWORK_SHARESESSIONCMD_H_
