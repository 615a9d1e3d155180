// ShareSessionTransport: how the share session's events travel between participants.
// The router (ShareSessionRouter) decides who gets an event; the transport only queues
// events and hands them back, one at a time and in posting order, on its delivery
// thread, never inside the call that posted them (a sender may hold its own locks).
//
// The in-process transport below keeps one queue and one thread. A transport between
// processes (CrossProcessTransport.h) keeps such a queue too and also carries events to
// and from other processes: each other process is a remote participant of the local
// router, added and removed by the transport; the router hands the transport every
// event meant for a remote participant (Carry), and the transport posts what arrives
// from other processes as events of their remote participants.
#ifndef ZQBLOG_HOST_SHARESESSION_SHARESESSIONTRANSPORT_H_
#define ZQBLOG_HOST_SHARESESSION_SHARESESSIONTRANSPORT_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace Velmora {
namespace ZQHost {

// One event of the share session.
struct ShareSessionEvent {
  enum class Kind {
    kOperation,  // an operation message for the module's serving participant
    kResult,     // a result message for participant `to`'s channel of the module
    kBroadcast,  // a change broadcast for every participant but `from`
  };
  Kind kind = Kind::kOperation;
  std::string module;
  int from = 0;       // the participant that sent the event
  int to = 0;         // kResult only
  int message_id = 0;  // kOperation, kResult
  std::string name;   // kOperation, kResult: the command name
  std::vector<BYTE> payload;
  bool has_payload = false;  // kBroadcast: a payload was published before the notice
  int notice[4] = {0, 0, 0, 0};  // kBroadcast: first, type, value1, value2
};

class ShareSessionRouter;

class ShareSessionTransport {
 public:
  using Receiver = std::function<void(ShareSessionEvent&)>;

  virtual ~ShareSessionTransport() = default;

  // Starts delivering: every event posted from now on is handed to receiver on the
  // delivery thread. session is the router the events are for: a transport between
  // processes adds and removes its remote participants there and takes message ids from
  // it. REQUIRES: called once, before Post; session valid until Stop has returned.
  virtual void Start(Receiver receiver, ShareSessionRouter* session) = 0;
  // Queues event. False (and the event dropped) when not started or stopped.
  virtual bool Post(ShareSessionEvent event) = 0;
  // Carries event to remote participant `to` (one this transport added). Called on the
  // delivery thread, in the order the events are to arrive. A transport without remote
  // participants drops it.
  virtual void Carry(int to, ShareSessionEvent event) {
    (void)to;
    (void)event;
  }
  // Blocks until the queue is empty and no event is being delivered (or the transport
  // stopped). REQUIRES: not called on the delivery thread (it would wait for itself).
  virtual void WaitIdle() = 0;
  // Drops the queued events, waits for the event being delivered and ends the
  // delivery thread. Idempotent. Called on the delivery thread it cannot wait: the
  // thread then ends after the current event.
  virtual void Stop() = 0;
  // True when called on the delivery thread.
  virtual bool OnDeliveryThread() const = 0;
};

// The transport that joins participants inside one process.
std::unique_ptr<ShareSessionTransport> CreateInProcessShareSessionTransport();

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_SHARESESSIONTRANSPORT_H_
