// ShareSessionRouter: the state of one share session and the routing of its events.
// It knows the participants (each with its role, its module channels and its module
// servers), which participant serves each module, and the operation requests being
// served. The transport carries the events; the router turns each delivered event
// into calls on the receiving participant's objects, on the delivery thread, with no
// lock of its own held during those calls. A remote participant (another process of
// the session, added by a transport between processes) has no objects here: the router
// hands the events meant for it to the transport (ShareSessionTransport::Carry).
//
// Internal to the host: the host and the plug-in reach it through ShareSessionHub and
// the COM objects of IShareSessionManager.
#ifndef ZQBLOG_HOST_SHARESESSION_SHARESESSIONROUTER_H_
#define ZQBLOG_HOST_SHARESESSION_SHARESESSIONROUTER_H_

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/sharesession/ShareSessionChange.h"
#include "host/sharesession/ShareSessionTransport.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class ShareSessionChannel;
class ShareSessionMessage;
class ShareSessionRouter;
class ShareSessionServer;

// The size of the status-only result record: the status as a 4-byte little-endian int,
// then zero bytes, so that every result record layout reads empty texts and zero
// counts after the status.
inline constexpr int kStatusResultRecordSize = 32;

// One operation request handed to a serving participant, open until the last hold on
// it is released; then the requester's channel gets the answer (see ShareSessionHub.h).
// Holds: the request message the serving participant got (and whoever keeps it), and
// every token handed out by ShareSessionHub::ClaimServedOperation.
class ShareSessionServedOperation {
 public:
  ShareSessionServedOperation(std::weak_ptr<ShareSessionRouter> router, std::string module,
                              int requester, int server, int message_id, std::string name);
  ~ShareSessionServedOperation();  // sends the answer
  ShareSessionServedOperation(const ShareSessionServedOperation&) = delete;
  ShareSessionServedOperation& operator=(const ShareSessionServedOperation&) = delete;

  const std::string& module() const { return module_; }
  int requester() const { return requester_; }
  int server() const { return server_; }
  int message_id() const { return message_id_; }
  const std::string& name() const { return name_; }

  // The serving participant broadcast a change for this request.
  void MarkPublished() { published_ = true; }
  bool published() const { return published_; }
  // A host workshop took a token: only work scopes attribute broadcasts to it now.
  void MarkClaimed() { claimed_ = true; }
  bool claimed() const { return claimed_; }
  // The result message the serving participant made for this request; sent instead of
  // the status-only record when its payload is not empty.
  void SetAnswer(ShareSessionMessage* answer);

 private:
  std::weak_ptr<ShareSessionRouter> router_;
  std::string module_;
  int requester_;
  int server_;
  int message_id_;
  std::string name_;
  std::atomic<bool> published_{false};
  std::atomic<bool> claimed_{false};
  std::mutex mutex_;  // guards answer_
  CComPtr<ShareSessionMessage> answer_;
};

class ShareSessionRouter : public std::enable_shared_from_this<ShareSessionRouter> {
 public:
  // A router delivering through transport (started here).
  static std::shared_ptr<ShareSessionRouter> Create(
      std::unique_ptr<ShareSessionTransport> transport);
  ~ShareSessionRouter();
  ShareSessionRouter(const ShareSessionRouter&) = delete;
  ShareSessionRouter& operator=(const ShareSessionRouter&) = delete;

  // Participants. AddParticipant returns the new participant's id. remote: the
  // participant is another process, reached through the transport (it has no channels
  // or servers here). Safe on any thread.
  int AddParticipant(int role, bool remote = false);
  void RemoveParticipant(int participant);

  // Calls observer on the delivery thread for every change broadcast that participant
  // publishes (served, applied) and, after its channel's message sink returned, for
  // every one its channel receives (applied: the sink answered S_OK). One observer per
  // router; an empty one stops observing.
  using ChangeObserver = std::function<void(const ShareSessionChange&)>;
  void ObserveChanges(int participant, ChangeObserver observer);

  // S_OK, or S_FALSE when the module was registered before (by any participant; this
  // one is then a candidate should the serving one leave). The serving participant of
  // a module is the one registered with the highest priority, the earliest on ties.
  HRESULT RegisterModule(int participant, const std::string& module, int priority);
  // The participant's serving side of module (one object per participant and module),
  // one reference for the caller.
  // E_FAIL when the participant did not register module; E_INVALIDARG when priority is
  // neither 0 nor the registered one.
  HRESULT GetServer(int participant, const std::string& module, int priority,
                    ShareSessionServer** out);
  // The participant's channel of module (one object per participant and module), one
  // reference for the caller.
  HRESULT GetChannel(int participant, const std::string& module,
                     ShareSessionChannel** out);

  // A fresh message id (never 0).
  int NextMessageId();

  // Sending; delivery happens later on the transport's thread. False when stopped.
  bool SendOperation(int from, const std::string& module, int message_id, std::string name,
                     std::vector<BYTE> payload);
  bool Publish(int from, const std::string& module, bool has_payload, std::vector<BYTE> payload,
               const int notice[4]);
  // Called by a served operation whose last hold went.
  void AnswerServed(ShareSessionServedOperation* operation, ShareSessionMessage* answer);

  void WaitIdle();
  // Stops delivery and detaches every sink and handler; later sends fail.
  void Shutdown();
  bool OnDeliveryThread() const;

  // The served operation being handed to a handler on this thread, claimed by the
  // caller (null when none). See ShareSessionHub::ClaimServedOperation.
  static std::shared_ptr<ShareSessionServedOperation> ClaimDelivered();
  // Work scopes (ShareSessionHub::WorkScope): which served operation, if any, this
  // thread's broadcasts belong to.
  struct WorkState {
    bool set = false;
    ShareSessionServedOperation* operation = nullptr;
  };
  static WorkState EnterWork(ShareSessionServedOperation* operation);
  static void LeaveWork(const WorkState& previous);

 private:
  struct Participant;
  struct Registration {
    int participant;
    int priority;
  };

  explicit ShareSessionRouter(std::unique_ptr<ShareSessionTransport> transport);

  void Deliver(ShareSessionEvent& event);
  void DeliverOperation(ShareSessionEvent& event);
  void DeliverResult(ShareSessionEvent& event);
  void DeliverBroadcast(ShareSessionEvent& event);
  // The serving participant of module, or -1. REQUIRES: mutex_ held.
  int ServingParticipantLocked(const std::string& module) const;
  void Attribute(int from, const std::string& module);

  std::unique_ptr<ShareSessionTransport> transport_;
  std::atomic<int> next_message_id_{0};
  mutable std::mutex mutex_;  // guards everything below
  bool stopped_ = false;
  int next_participant_ = 0;
  std::map<int, std::unique_ptr<Participant>> participants_;
  std::map<std::string, std::vector<Registration>> modules_;
  std::vector<std::weak_ptr<ShareSessionServedOperation>> open_;
  int observed_ = 0;
  ChangeObserver observer_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_SHARESESSIONROUTER_H_
