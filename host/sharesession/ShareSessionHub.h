// ShareSessionHub: one logical share session inside the host process. It joins
// participants, each one plug-in instance's view of the session: an
// IShareSessionManager with its own role (0 forward, 1 serve, 2 stand-alone), made by
// CreateShareSessionManager. Every message is delivered on the hub's delivery thread,
// in the order it was sent, never inside the sender's call (senders may hold locks).
//
// What goes where:
// - A module's serving participant is the one that registered it (RegisterModule)
//   with the highest priority, the earliest on ties. Its module server
//   (GetModuleServer) takes the handler that receives the operation messages.
// - An operation message sent on a channel (SendOperationMessage) reaches the serving
//   participant's handler (OnRecvOperation) as a message of its own with the same id,
//   name and payload.
// - A change broadcast (PublishData, then PublishNotice on the module server) reaches
//   every OTHER participant's channel of the module: the payload becomes the channel's
//   latest broadcast and the notice goes to its message sink, which reads the payload
//   during the call. The publishing participant does not get its own broadcast: the
//   serving process applies a change while handling the reply and broadcasts it for
//   the forwarding processes; hearing it again would apply it twice.
//
// Result messages. The plug-in never builds a result record in the serving process: a
// served command finishes by broadcasting its change and delivers nothing. The hub
// therefore answers every operation message itself, on the requester's channel (to
// every result sink attached there; each forwarded command keeps only the answer with
// its own message id):
// - When: once the serving participant is done with the request. The request it got
//   is held open by every reference to it (the command made for it keeps the message
//   until it is destroyed, after its terminal state) and by every token taken with
//   ClaimServedOperation; the answer goes when the last one is released. A request
//   that nobody keeps (no serving participant, no handler, an unknown command name) is
//   answered as soon as the handler returns. Broadcasts the serving command published
//   were sent before, so the requester applies the change before its command ends.
// - What: the result message the serving participant made for the request with
//   CreateResultMessage, when it gave it a payload (its name, or the request's when it
//   set none). Otherwise a status-only record of kStatusResultRecordSize bytes: the
//   status as a 4-byte little-endian int, then zero bytes (every result layout then
//   reads empty texts and zero counts). The status is 1 when the serving participant
//   published a change notice for this request, else 0: in the serving role a blog
//   command broadcasts exactly when its reply was accepted.
// - Which broadcast belongs to which request: inside a WorkScope, the scope's
//   operation (or none); outside any scope, the serving participant's only open,
//   unclaimed request of that module, and no request when several are open. A host
//   workshop that runs served commands makes this exact: it takes the token with
//   ClaimServedOperation while it accepts the command (the command is submitted inside
//   the handler's call, on the delivery thread), wraps every Start and Step of that
//   command in a WorkScope with the token (and every other command's in a WorkScope
//   with null), and drops the token when the command reaches a terminal state.
//
// The transport is replaceable (ShareSessionTransport.h); by default the participants
// share one in-process queue and thread. With CrossProcessTransport.h the session spans
// the processes of a host: each other process is a remote participant, and everything
// above holds across them.
#ifndef ZQBLOG_HOST_SHARESESSION_SHARESESSIONHUB_H_
#define ZQBLOG_HOST_SHARESESSION_SHARESESSIONHUB_H_

#include <functional>
#include <memory>

#include "host/sharesession/ShareSessionChange.h"
#include "host/sharesession/ShareSessionTransport.h"
#include "interfaces/IShareSessionManager.h"
#include "platform/platform.h"

namespace Velmora {
namespace ZQHost {

class ShareSessionRouter;
class ShareSessionServedOperation;

class ShareSessionHub {
 public:
  // A session delivering through the in-process transport.
  ShareSessionHub();
  // A session delivering through transport (null: the in-process one).
  // REQUIRES: transport not started.
  explicit ShareSessionHub(std::unique_ptr<ShareSessionTransport> transport);
  // Shuts the session down. Managers made from it stay valid objects; their sends
  // then fail with E_UNEXPECTED.
  ~ShareSessionHub();
  ShareSessionHub(const ShareSessionHub&) = delete;
  ShareSessionHub& operator=(const ShareSessionHub&) = delete;

  // Blocks until every message sent so far has been delivered, including the answers
  // and broadcasts those deliveries sent. REQUIRES: not on the delivery thread.
  void WaitIdle();
  // Stops delivery (queued messages are dropped) and releases every sink and handler.
  void Shutdown();
  // True on the hub's delivery thread.
  bool IsDeliveryThread() const;

  // Calls observer on the delivery thread for every change broadcast that participant
  // (a manager made from this hub) publishes, and for every one its channel receives,
  // after its message sink returned (see ShareSessionChange). One observer per hub; a
  // later call replaces it, an empty one stops it. E_INVALIDARG when participant is not
  // a manager of this hub.
  HRESULT ObserveChanges(IShareSessionManager* participant,
                         std::function<void(const ShareSessionChange&)> observer);

  // The token of the operation request being handed to a serving handler on this
  // thread, or null. Taking it moves the decision of when the request is done from the
  // request message to the token: the answer goes once every token (and nothing else)
  // is released.
  static std::shared_ptr<ShareSessionServedOperation> ClaimServedOperation();

  // While alive, change notices published on this thread belong to operation (null:
  // to no request). Scopes nest.
  class WorkScope {
   public:
    explicit WorkScope(const std::shared_ptr<ShareSessionServedOperation>& operation);
    ~WorkScope();
    WorkScope(const WorkScope&) = delete;
    WorkScope& operator=(const WorkScope&) = delete;

   private:
    bool previous_set_;
    ShareSessionServedOperation* previous_;
  };

  // Internal: the session state the managers share.
  const std::shared_ptr<ShareSessionRouter>& router() const { return router_; }

 private:
  std::shared_ptr<ShareSessionRouter> router_;
};

// A new participant of hub with role (any value is kept and reported by GetRole; the
// hub itself routes by registration, not by role). REQUIRES: hub not null
// (E_INVALIDARG), out not null (E_POINTER). On success *out holds one reference.
HRESULT CreateShareSessionManager(ShareSessionHub* hub, int role, IShareSessionManager** out);

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_SHARESESSIONHUB_H_
