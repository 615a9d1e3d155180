// CrossProcessServingSide: the serving process's side of the share session between
// processes. Each forwarding process that says hello becomes a remote participant of
// role 0 in the local router, until it says bye, stops being reachable, or stays
// silent for kForwarderSilence. Its operation messages are posted under a fresh
// message id of this process; the answer the router hands back goes out under the
// forwarding process's own id. A frame from a process that did not say hello is
// answered with a reset, so that process knows to join again.
#ifndef ZQBLOG_HOST_SHARESESSION_CROSSPROCESSSERVINGSIDE_H_
#define ZQBLOG_HOST_SHARESESSION_CROSSPROCESSSERVINGSIDE_H_

#include <atomic>
#include <map>
#include <string>

#include "host/sharesession/CrossProcessSide.h"

namespace Velmora {
namespace ZQHost {

class CrossProcessServingSide : public CrossProcessSide {
 public:
  // A forwarding process pings several times a second; one silent this long is gone.
  static constexpr std::chrono::milliseconds kForwarderSilence{10000};

  // instance: this process's instance id, sent in every frame. REQUIRES: wire outlives
  // this side.
  CrossProcessServingSide(CrossProcessWire* wire, uint64_t instance);

  void Attach() override {}
  void OnFrame(const std::string& peer, const ShareSessionFrame& frame,
               CrossProcessClock::time_point now) override;
  void OnCarry(int to, ShareSessionEvent event, CrossProcessClock::time_point now) override;
  void OnTick(CrossProcessClock::time_point now) override;
  void OnStop() override {}

  uint64_t LostOperations() const override { return 0; }
  int JoinedPeers() const override { return joined_.load(); }

 private:
  struct Forwarder {
    int participant = 0;
    uint64_t instance = 0;
    CrossProcessClock::time_point heard;
  };
  // An operation request being served for a forwarding process.
  struct Served {
    int participant = 0;
    int32_t message_id = 0;  // the forwarding process's id
  };

  void Join(const std::string& peer, uint64_t instance, CrossProcessClock::time_point now);
  void Drop(std::string peer);
  void Reply(const std::string& peer, ShareSessionFrame::Type type);

  CrossProcessWire* wire_;
  uint64_t instance_;
  std::map<std::string, Forwarder> forwarders_;  // by routing id
  std::map<int, std::string> peers_;             // participant -> routing id
  std::map<int, Served> served_;                 // by this process's message id
  std::atomic<int> joined_{0};
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_CROSSPROCESSSERVINGSIDE_H_
