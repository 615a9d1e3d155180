// CrossProcessForwardingSide: a forwarding process's side of the share session between
// processes. The serving process is one remote participant of the local router that
// serves the module (registered above any local participant). The link to it is a
// small state machine, all of it in Advance:
//
//   kSeeking --(the lock is held)--> kJoining (hello sent as soon as connected)
//   kJoining --(welcome)--> kJoined
//   kJoining --(no welcome within kJoinWait)--> kSeeking
//   kJoined --(lock let go | silence beyond kServerSilence | reset | a frame of another
//              instance | the connection gone)--> kSeeking, every pending operation
//              answered with an empty payload, and a new join at once
//
// An operation carried while nobody holds the lock is answered with an empty payload
// at once; one carried while a join is under way waits for it (at most kJoinWait) and
// is sent once joined, or answered empty when the join fails. Answers are posted as
// result events of the serving participant, under the forwarding process's message id,
// to the participant that sent the request.
#ifndef ZQBLOG_HOST_SHARESESSION_CROSSPROCESSFORWARDINGSIDE_H_
#define ZQBLOG_HOST_SHARESESSION_CROSSPROCESSFORWARDINGSIDE_H_

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "host/sharesession/CrossProcessSide.h"

namespace Velmora {
namespace ZQHost {

class CrossProcessForwardingSide : public CrossProcessSide {
 public:
  static constexpr std::chrono::milliseconds kRetryEvery{100};   // seeking: look and hello
  static constexpr std::chrono::milliseconds kJoinWait{1000};    // joining: wait for welcome
  static constexpr std::chrono::milliseconds kProbeEvery{100};   // joined: look at the lock
  static constexpr std::chrono::milliseconds kPingEvery{250};    // joined: ping
  static constexpr std::chrono::milliseconds kServerSilence{3000};

  // instance: this process's instance id; module: what the serving process serves;
  // lock_path: the session's serving lock. REQUIRES: wire outlives this side.
  CrossProcessForwardingSide(CrossProcessWire* wire, uint64_t instance, std::string module,
                             std::string lock_path);

  void Attach() override;
  void OnFrame(const std::string& peer, const ShareSessionFrame& frame,
               CrossProcessClock::time_point now) override;
  void OnCarry(int to, ShareSessionEvent event, CrossProcessClock::time_point now) override;
  void OnTick(CrossProcessClock::time_point now) override;
  void OnStop() override;

  uint64_t LostOperations() const override { return lost_.load(); }
  int JoinedPeers() const override { return state_ == State::kJoined ? 1 : 0; }

 private:
  enum class State { kSeeking, kJoining, kJoined };
  enum class Input {
    kTick,
    kWanted,      // an operation is to be sent: look for a serving process now
    kWelcome,     // a welcome frame of `instance`
    kHeard,       // any other frame of the serving process, of `instance`
    kReset,       // the serving process `instance` does not know this one
    kSendFailed,  // the connection is gone
  };
  // An operation forwarded and not answered yet.
  struct Pending {
    int participant = 0;
    std::string module;
    std::string name;
  };

  // The link's state machine. For kHeard: true when the frame comes from the joined
  // serving process (and is to be used).
  bool Advance(Input input, uint64_t instance, CrossProcessClock::time_point now);
  // The joined serving process is gone: answer everything pending, look again at once.
  void Lose(CrossProcessClock::time_point now);
  void AnswerEmpty(int participant, const std::string& module, int32_t message_id,
                   const std::string& name);
  CrossProcessWire::SendResult SendBare(ShareSessionFrame::Type type);
  // Sends an operation and keeps it pending; answers it empty when it cannot go.
  void SendOperation(ShareSessionEvent event, CrossProcessClock::time_point now);
  // Answers every operation waiting for a join with an empty payload.
  void AnswerWaiting();

  CrossProcessWire* wire_;
  uint64_t instance_;
  std::string module_;
  std::string lock_path_;
  int server_ = 0;  // the serving process's participant in the local router

  std::atomic<State> state_{State::kSeeking};
  uint64_t server_instance_ = 0;
  CrossProcessClock::time_point next_try_{};
  CrossProcessClock::time_point join_deadline_{};
  CrossProcessClock::time_point next_probe_{};
  CrossProcessClock::time_point next_ping_{};
  CrossProcessClock::time_point heard_{};
  bool hello_sent_ = false;
  std::vector<ShareSessionEvent> waiting_;  // operations waiting for the join
  std::map<int32_t, Pending> pending_;      // sent, by message id
  std::atomic<uint64_t> lost_{0};
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_CROSSPROCESSFORWARDINGSIDE_H_
