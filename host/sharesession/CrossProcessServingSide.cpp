#include "host/sharesession/CrossProcessServingSide.h"

#include <utility>
#include <vector>

#include "host/sharesession/ShareSessionRouter.h"

namespace Velmora {
namespace ZQHost {

CrossProcessServingSide::CrossProcessServingSide(CrossProcessWire* wire, uint64_t instance)
    : wire_(wire), instance_(instance) {}

void CrossProcessServingSide::OnFrame(const std::string& peer, const ShareSessionFrame& frame,
                                      CrossProcessClock::time_point now) {
  auto known = forwarders_.find(peer);
  if (known != forwarders_.end()) known->second.heard = now;
  switch (frame.type) {
    case ShareSessionFrame::Type::kHello:
      Join(peer, frame.instance, now);
      return;
    case ShareSessionFrame::Type::kPing:
      Reply(peer, known != forwarders_.end() ? ShareSessionFrame::Type::kPong
                                             : ShareSessionFrame::Type::kReset);
      return;
    case ShareSessionFrame::Type::kOperation: {
      if (known == forwarders_.end()) {
        Reply(peer, ShareSessionFrame::Type::kReset);
        return;
      }
      ShareSessionEvent event;
      event.kind = ShareSessionEvent::Kind::kOperation;
      event.module = frame.module;
      event.from = known->second.participant;
      event.message_id = wire_->Router()->NextMessageId();
      event.name = frame.name;
      event.payload = frame.payload;
      served_[event.message_id] = Served{known->second.participant, frame.message_id};
      wire_->Post(std::move(event));
      return;
    }
    case ShareSessionFrame::Type::kBroadcast: {
      if (known == forwarders_.end()) {
        Reply(peer, ShareSessionFrame::Type::kReset);
        return;
      }
      ShareSessionEvent event;
      event.kind = ShareSessionEvent::Kind::kBroadcast;
      event.module = frame.module;
      event.from = known->second.participant;
      event.has_payload = frame.has_payload;
      event.payload = frame.payload;
      for (int i = 0; i < 4; ++i) event.notice[i] = frame.notice[i];
      wire_->Post(std::move(event));
      return;
    }
    case ShareSessionFrame::Type::kBye:
      if (known != forwarders_.end()) Drop(peer);
      return;
    case ShareSessionFrame::Type::kWelcome:
    case ShareSessionFrame::Type::kResult:
    case ShareSessionFrame::Type::kPong:
    case ShareSessionFrame::Type::kReset:
      break;
  }
  wire_->Log("dropped a " + ShareSessionFrameTypeName(frame.type) +
             " frame from a forwarding process: only a serving process sends those");
}

void CrossProcessServingSide::Join(const std::string& peer, uint64_t instance,
                                   CrossProcessClock::time_point now) {
  // A process that joins again (on this connection or a new one) left its old place.
  std::vector<std::string> stale;
  for (const auto& forwarder : forwarders_) {
    if (forwarder.first == peer || forwarder.second.instance == instance) {
      stale.push_back(forwarder.first);
    }
  }
  for (const std::string& gone : stale) Drop(gone);
  Forwarder forwarder;
  forwarder.participant = wire_->Router()->AddParticipant(0, /*remote=*/true);
  forwarder.instance = instance;
  forwarder.heard = now;
  peers_[forwarder.participant] = peer;
  forwarders_[peer] = forwarder;
  joined_ = static_cast<int>(forwarders_.size());
  Reply(peer, ShareSessionFrame::Type::kWelcome);
}

void CrossProcessServingSide::Drop(std::string peer) {
  auto found = forwarders_.find(peer);
  if (found == forwarders_.end()) return;
  const int participant = found->second.participant;
  forwarders_.erase(found);
  peers_.erase(participant);
  for (auto it = served_.begin(); it != served_.end();) {
    it = it->second.participant == participant ? served_.erase(it) : std::next(it);
  }
  joined_ = static_cast<int>(forwarders_.size());
  wire_->Router()->RemoveParticipant(participant);
}

void CrossProcessServingSide::Reply(const std::string& peer, ShareSessionFrame::Type type) {
  ShareSessionFrame frame;
  frame.type = type;
  frame.instance = instance_;
  if (wire_->Send(peer, frame) == CrossProcessWire::SendResult::kUnreachable) Drop(peer);
}

void CrossProcessServingSide::OnCarry(int to, ShareSessionEvent event,
                                      CrossProcessClock::time_point /*now*/) {
  ShareSessionFrame frame;
  frame.instance = instance_;
  frame.module = std::move(event.module);
  switch (event.kind) {
    case ShareSessionEvent::Kind::kResult: {
      auto served = served_.find(event.message_id);
      if (served == served_.end() || served->second.participant != to) return;
      frame.type = ShareSessionFrame::Type::kResult;
      frame.message_id = served->second.message_id;
      served_.erase(served);
      frame.name = std::move(event.name);
      frame.payload = std::move(event.payload);
      break;
    }
    case ShareSessionEvent::Kind::kBroadcast:
      frame.type = ShareSessionFrame::Type::kBroadcast;
      frame.has_payload = event.has_payload;
      for (int i = 0; i < 4; ++i) frame.notice[i] = event.notice[i];
      frame.payload = std::move(event.payload);
      break;
    case ShareSessionEvent::Kind::kOperation:
      return;  // a forwarding process serves nothing
  }
  auto peer = peers_.find(to);
  if (peer == peers_.end()) return;  // it left meanwhile
  CrossProcessWire::SendResult sent = wire_->Send(peer->second, frame);
  if (sent == CrossProcessWire::SendResult::kTooLarge) {
    wire_->Log("a " + ShareSessionFrameTypeName(frame.type) + " of " +
               std::to_string(frame.payload.size()) + " bytes is too large to send");
    if (frame.type != ShareSessionFrame::Type::kResult) return;
    // The forwarding process still gets an answer: one that says nothing was served.
    frame.payload.clear();
    sent = wire_->Send(peer->second, frame);
  }
  if (sent == CrossProcessWire::SendResult::kUnreachable) Drop(peer->second);
}

void CrossProcessServingSide::OnTick(CrossProcessClock::time_point now) {
  std::vector<std::string> silent;
  for (const auto& forwarder : forwarders_) {
    if (now - forwarder.second.heard > kForwarderSilence) silent.push_back(forwarder.first);
  }
  for (const std::string& peer : silent) Drop(peer);
}

}  // namespace ZQHost
}  // namespace Velmora
