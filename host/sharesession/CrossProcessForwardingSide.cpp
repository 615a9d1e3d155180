#include "host/sharesession/CrossProcessForwardingSide.h"

#include <climits>
#include <utility>

#include "host/sharesession/ShareSessionLock.h"
#include "host/sharesession/ShareSessionRouter.h"

namespace Velmora {
namespace ZQHost {

CrossProcessForwardingSide::CrossProcessForwardingSide(CrossProcessWire* wire,
                                                       uint64_t instance, std::string module,
                                                       std::string lock_path)
    : wire_(wire),
      instance_(instance),
      module_(std::move(module)),
      lock_path_(std::move(lock_path)) {}

void CrossProcessForwardingSide::Attach() {
  ShareSessionRouter* router = wire_->Router();
  server_ = router->AddParticipant(1, /*remote=*/true);
  router->RegisterModule(server_, module_, INT_MAX);
}

bool CrossProcessForwardingSide::Advance(Input input, uint64_t instance,
                                         CrossProcessClock::time_point now) {
  switch (state_.load()) {
    case State::kSeeking:
      if (input == Input::kTick && now < next_try_) return false;
      if (input != Input::kTick && input != Input::kWanted) return false;
      next_try_ = now + kRetryEvery;
      if (!ShareSessionLock::IsHeld(lock_path_)) return false;  // nobody serves
      join_deadline_ = now + kJoinWait;
      hello_sent_ = false;
      state_ = State::kJoining;
      Advance(Input::kTick, 0, now);  // say hello now if connected
      return false;

    case State::kJoining:
      if (input == Input::kWelcome) {
        server_instance_ = instance;
        heard_ = now;
        next_probe_ = now + kProbeEvery;
        next_ping_ = now + kPingEvery;
        state_ = State::kJoined;
      } else if (input == Input::kTick) {
        if (now >= join_deadline_) {
          state_ = State::kSeeking;
          AnswerWaiting();
        } else if (!hello_sent_) {
          // Until the connection is up a send fails; the next tick tries again.
          hello_sent_ =
              SendBare(ShareSessionFrame::Type::kHello) == CrossProcessWire::SendResult::kSent;
        }
      }
      return false;  // frames of an earlier serving process, or before the welcome

    case State::kJoined:
      switch (input) {
        case Input::kWanted:
          return false;
        case Input::kWelcome:  // an answer to an earlier hello of the same instance
        case Input::kHeard:
          if (instance != server_instance_) break;  // another instance answers: lost
          heard_ = now;
          return input == Input::kHeard;
        case Input::kReset:
        case Input::kSendFailed:
          break;
        case Input::kTick:
          if (now >= next_probe_) {
            next_probe_ = now + kProbeEvery;
            if (!ShareSessionLock::IsHeld(lock_path_)) break;
          }
          if (now - heard_ > kServerSilence) break;
          if (now >= next_ping_) {
            next_ping_ = now + kPingEvery;
            if (SendBare(ShareSessionFrame::Type::kPing) != CrossProcessWire::SendResult::kSent) {
              break;
            }
          }
          return false;
      }
      Lose(now);
      return false;
  }
  return false;
}

void CrossProcessForwardingSide::Lose(CrossProcessClock::time_point now) {
  state_ = State::kSeeking;
  server_instance_ = 0;
  next_try_ = now;  // look for the next serving process at once
  std::map<int32_t, Pending> pending;
  pending.swap(pending_);
  for (const auto& operation : pending) {
    AnswerEmpty(operation.second.participant, operation.second.module, operation.first,
                operation.second.name);
  }
  AnswerWaiting();
}

void CrossProcessForwardingSide::AnswerWaiting() {
  std::vector<ShareSessionEvent> waiting;
  waiting.swap(waiting_);
  for (const ShareSessionEvent& event : waiting) {
    AnswerEmpty(event.from, event.module, event.message_id, event.name);
  }
}

void CrossProcessForwardingSide::AnswerEmpty(int participant, const std::string& module,
                                             int32_t message_id, const std::string& name) {
  ShareSessionEvent event;
  event.kind = ShareSessionEvent::Kind::kResult;
  event.module = module;
  event.from = server_;
  event.to = participant;
  event.message_id = message_id;
  event.name = name;
  ++lost_;  // counted before the answer can end the command that waits for it
  wire_->Post(std::move(event));
}

CrossProcessWire::SendResult CrossProcessForwardingSide::SendBare(ShareSessionFrame::Type type) {
  ShareSessionFrame frame;
  frame.type = type;
  frame.instance = instance_;
  return wire_->Send(std::string(), frame);
}

void CrossProcessForwardingSide::OnFrame(const std::string& /*peer*/,
                                         const ShareSessionFrame& frame,
                                         CrossProcessClock::time_point now) {
  switch (frame.type) {
    case ShareSessionFrame::Type::kWelcome: {
      Advance(Input::kWelcome, frame.instance, now);
      if (state_ != State::kJoined) return;
      std::vector<ShareSessionEvent> waiting;
      waiting.swap(waiting_);
      for (ShareSessionEvent& event : waiting) SendOperation(std::move(event), now);
      return;
    }
    case ShareSessionFrame::Type::kReset:
      // Only the joined instance, or a new one, can take this process's place away.
      if (state_ == State::kJoined) Advance(Input::kReset, frame.instance, now);
      return;
    case ShareSessionFrame::Type::kPong:
      Advance(Input::kHeard, frame.instance, now);
      return;
    case ShareSessionFrame::Type::kResult: {
      if (!Advance(Input::kHeard, frame.instance, now)) return;
      auto found = pending_.find(frame.message_id);
      if (found == pending_.end()) return;  // answered already (a loss came first)
      ShareSessionEvent event;
      event.kind = ShareSessionEvent::Kind::kResult;
      event.module = std::move(found->second.module);
      event.from = server_;
      event.to = found->second.participant;
      event.message_id = frame.message_id;
      event.name = frame.name;
      event.payload = frame.payload;
      pending_.erase(found);
      wire_->Post(std::move(event));
      return;
    }
    case ShareSessionFrame::Type::kBroadcast: {
      if (!Advance(Input::kHeard, frame.instance, now)) return;
      ShareSessionEvent event;
      event.kind = ShareSessionEvent::Kind::kBroadcast;
      event.module = frame.module;
      event.from = server_;
      event.has_payload = frame.has_payload;
      event.payload = frame.payload;
      for (int i = 0; i < 4; ++i) event.notice[i] = frame.notice[i];
      wire_->Post(std::move(event));
      return;
    }
    case ShareSessionFrame::Type::kHello:
    case ShareSessionFrame::Type::kOperation:
    case ShareSessionFrame::Type::kPing:
    case ShareSessionFrame::Type::kBye:
      break;
  }
  wire_->Log("dropped a " + ShareSessionFrameTypeName(frame.type) +
             " frame from the serving process: only a forwarding process sends those");
}

void CrossProcessForwardingSide::OnCarry(int to, ShareSessionEvent event,
                                         CrossProcessClock::time_point now) {
  if (to != server_) return;
  switch (event.kind) {
    case ShareSessionEvent::Kind::kOperation:
      Advance(Input::kWanted, 0, now);
      switch (state_.load()) {
        case State::kJoined:
          SendOperation(std::move(event), now);
          return;
        case State::kJoining:
          waiting_.push_back(std::move(event));
          return;
        case State::kSeeking:
          AnswerEmpty(event.from, event.module, event.message_id, event.name);
          return;
      }
      return;
    case ShareSessionEvent::Kind::kBroadcast: {
      if (state_ != State::kJoined) return;
      ShareSessionFrame frame;
      frame.type = ShareSessionFrame::Type::kBroadcast;
      frame.instance = instance_;
      frame.module = std::move(event.module);
      frame.has_payload = event.has_payload;
      for (int i = 0; i < 4; ++i) frame.notice[i] = event.notice[i];
      frame.payload = std::move(event.payload);
      switch (wire_->Send(std::string(), frame)) {
        case CrossProcessWire::SendResult::kSent:
          return;
        case CrossProcessWire::SendResult::kTooLarge:
          wire_->Log("a broadcast of " + std::to_string(frame.payload.size()) +
                     " bytes is too large to send");
          return;
        case CrossProcessWire::SendResult::kUnreachable:
          Advance(Input::kSendFailed, 0, now);
          return;
      }
      return;
    }
    case ShareSessionEvent::Kind::kResult:
      return;  // the serving process asks nothing of this one
  }
}

void CrossProcessForwardingSide::SendOperation(ShareSessionEvent event,
                                               CrossProcessClock::time_point now) {
  ShareSessionFrame frame;
  frame.type = ShareSessionFrame::Type::kOperation;
  frame.instance = instance_;
  frame.message_id = event.message_id;
  frame.module = event.module;
  frame.name = event.name;
  frame.payload = std::move(event.payload);
  pending_[event.message_id] = Pending{event.from, event.module, event.name};
  switch (wire_->Send(std::string(), frame)) {
    case CrossProcessWire::SendResult::kSent:
      return;
    case CrossProcessWire::SendResult::kTooLarge:
      wire_->Log("an operation of " + std::to_string(frame.payload.size()) +
                 " bytes is too large to send");
      pending_.erase(event.message_id);
      AnswerEmpty(event.from, event.module, event.message_id, event.name);
      return;
    case CrossProcessWire::SendResult::kUnreachable:
      Advance(Input::kSendFailed, 0, now);  // answers it with every other pending one
      return;
  }
}

void CrossProcessForwardingSide::OnTick(CrossProcessClock::time_point now) {
  Advance(Input::kTick, 0, now);
}

void CrossProcessForwardingSide::OnStop() {
  if (state_ == State::kJoined) SendBare(ShareSessionFrame::Type::kBye);
}

}  // namespace ZQHost
}  // namespace Velmora
