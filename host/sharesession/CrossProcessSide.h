// CrossProcessSide: one side of the share session between processes as the transport
// (CrossProcessTransport) drives it, always on the transport's I/O thread: the serving
// side (CrossProcessServingSide) or the forwarding side (CrossProcessForwardingSide).
// The transport owns the socket and the local delivery queue and lends them through
// CrossProcessWire; a side decides what frames and carried events mean.
#ifndef ZQBLOG_HOST_SHARESESSION_CROSSPROCESSSIDE_H_
#define ZQBLOG_HOST_SHARESESSION_CROSSPROCESSSIDE_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "host/sharesession/ShareSessionFrame.h"
#include "host/sharesession/ShareSessionTransport.h"

namespace Velmora {
namespace ZQHost {

class ShareSessionRouter;

using CrossProcessClock = std::chrono::steady_clock;

// What the transport lends a side.
class CrossProcessWire {
 public:
  enum class SendResult {
    kSent,
    kUnreachable,  // no such peer, or no connection now
    kTooLarge,     // the frame cannot be encoded (a text or the whole frame too long)
  };

  virtual ~CrossProcessWire() = default;
  // Sends frame to peer (the serving side: a forwarding process's routing id; the
  // forwarding side: ignored, the one connection). Never blocks.
  virtual SendResult Send(const std::string& peer, const ShareSessionFrame& frame) = 0;
  // Queues event for the local router's delivery thread.
  virtual bool Post(ShareSessionEvent event) = 0;
  // The local router. REQUIRES: the transport started.
  virtual ShareSessionRouter* Router() = 0;
  // Writes "zqblog host: share session: <text>" as one line on stderr.
  virtual void Log(const std::string& text) = 0;
};

class CrossProcessSide {
 public:
  virtual ~CrossProcessSide() = default;
  // The transport started: the router can be used.
  virtual void Attach() = 0;
  // A well-formed frame arrived from peer.
  virtual void OnFrame(const std::string& peer, const ShareSessionFrame& frame,
                       CrossProcessClock::time_point now) = 0;
  // The router handed over event for remote participant to.
  virtual void OnCarry(int to, ShareSessionEvent event, CrossProcessClock::time_point now) = 0;
  // Called a few times a second, and after every batch of frames and events.
  virtual void OnTick(CrossProcessClock::time_point now) = 0;
  // The transport is stopping; the socket is still open.
  virtual void OnStop() = 0;

  virtual uint64_t LostOperations() const = 0;
  virtual int JoinedPeers() const = 0;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_CROSSPROCESSSIDE_H_
