#include "host/sharesession/ShareSessionRouter.h"

#include <algorithm>
#include <utility>

#include "host/sharesession/ShareSessionChannel.h"
#include "host/sharesession/ShareSessionMessage.h"
#include "host/sharesession/ShareSessionServer.h"

namespace Velmora {
namespace ZQHost {

namespace {

// The request being handed to a serving handler on this thread.
struct DeliveryContext {
  std::shared_ptr<ShareSessionServedOperation> operation;
  ShareSessionMessage* message;
};
thread_local DeliveryContext* t_delivery = nullptr;
thread_local ShareSessionRouter::WorkState t_work;

std::vector<BYTE> StatusRecord(int status) {
  std::vector<BYTE> record(static_cast<size_t>(kStatusResultRecordSize), 0);
  uint32_t value = static_cast<uint32_t>(status);
  for (int i = 0; i < 4; ++i) record[static_cast<size_t>(i)] = static_cast<BYTE>(value >> (8 * i));
  return record;
}

}  // namespace

// ---------------------------------------------------------------- served operation

ShareSessionServedOperation::ShareSessionServedOperation(std::weak_ptr<ShareSessionRouter> router,
                                                         std::string module, int requester,
                                                         int server, int message_id,
                                                         std::string name)
    : router_(std::move(router)),
      module_(std::move(module)),
      requester_(requester),
      server_(server),
      message_id_(message_id),
      name_(std::move(name)) {}

ShareSessionServedOperation::~ShareSessionServedOperation() {
  CComPtr<ShareSessionMessage> answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answer = std::move(answer_);
  }
  std::shared_ptr<ShareSessionRouter> router = router_.lock();
  if (router == nullptr) return;
  try {
    router->AnswerServed(this, answer);
  } catch (...) {
    // Out of memory while answering: the requester hears nothing, the process goes on.
  }
}

void ShareSessionServedOperation::SetAnswer(ShareSessionMessage* answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answer_ = answer;
}

// ---------------------------------------------------------------- router

struct ShareSessionRouter::Participant {
  int role = 0;
  bool remote = false;
  std::map<std::string, CComPtr<ShareSessionChannel>> channels;
  std::map<std::string, CComPtr<ShareSessionServer>> servers;
};

ShareSessionRouter::ShareSessionRouter(std::unique_ptr<ShareSessionTransport> transport)
    : transport_(std::move(transport)) {}

ShareSessionRouter::~ShareSessionRouter() { transport_->Stop(); }

std::shared_ptr<ShareSessionRouter> ShareSessionRouter::Create(
    std::unique_ptr<ShareSessionTransport> transport) {
  std::shared_ptr<ShareSessionRouter> router(new ShareSessionRouter(std::move(transport)));
  std::weak_ptr<ShareSessionRouter> weak = router;
  router->transport_->Start(
      [weak](ShareSessionEvent& event) {
        std::shared_ptr<ShareSessionRouter> live = weak.lock();
        if (live != nullptr) live->Deliver(event);
      },
      router.get());
  return router;
}

int ShareSessionRouter::AddParticipant(int role, bool remote) {
  std::lock_guard<std::mutex> lock(mutex_);
  int id = ++next_participant_;
  participants_[id] = std::make_unique<Participant>();
  participants_[id]->role = role;
  participants_[id]->remote = remote;
  return id;
}

void ShareSessionRouter::ObserveChanges(int participant, ChangeObserver observer) {
  ChangeObserver old;
  std::lock_guard<std::mutex> lock(mutex_);
  old.swap(observer_);
  observer_ = std::move(observer);
  observed_ = participant;
}

void ShareSessionRouter::RemoveParticipant(int participant) {
  std::unique_ptr<Participant> gone;  // released after the lock: releases reach sinks
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = participants_.find(participant);
    if (found != participants_.end()) {
      gone = std::move(found->second);
      participants_.erase(found);
    }
    for (auto& module : modules_) {
      std::vector<Registration>& list = module.second;
      list.erase(std::remove_if(list.begin(), list.end(),
                                [&](const Registration& r) {
                                  return r.participant == participant;
                                }),
                 list.end());
    }
  }
  if (gone != nullptr) {
    for (auto& channel : gone->channels) channel.second->DetachAll();
    for (auto& server : gone->servers) server.second->DetachAll();
  }
}

HRESULT ShareSessionRouter::RegisterModule(int participant, const std::string& module,
                                           int priority) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (participants_.count(participant) == 0) return E_UNEXPECTED;
  std::vector<Registration>& list = modules_[module];
  bool known = !list.empty();
  for (Registration& r : list) {
    if (r.participant == participant) {
      r.priority = priority;
      return S_FALSE;
    }
  }
  list.push_back(Registration{participant, priority});
  return known ? S_FALSE : S_OK;
}

int ShareSessionRouter::ServingParticipantLocked(const std::string& module) const {
  auto found = modules_.find(module);
  if (found == modules_.end()) return -1;
  int best = -1;
  int best_priority = 0;
  for (const Registration& r : found->second) {  // registration order: earliest first
    if (best == -1 || r.priority > best_priority) {
      best = r.participant;
      best_priority = r.priority;
    }
  }
  return best;
}

HRESULT ShareSessionRouter::GetServer(int participant, const std::string& module, int priority,
                                      ShareSessionServer** out) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto owner = participants_.find(participant);
  if (owner == participants_.end()) return E_UNEXPECTED;
  auto registrations = modules_.find(module);
  if (registrations == modules_.end()) return E_FAIL;
  const Registration* mine = nullptr;
  for (const Registration& r : registrations->second) {
    if (r.participant == participant) mine = &r;
  }
  if (mine == nullptr) return E_FAIL;
  if (priority != 0 && priority != mine->priority) return E_INVALIDARG;
  CComPtr<ShareSessionServer>& server = owner->second->servers[module];
  if (!server) {
    HRESULT hr = ShareSessionServer::Create(weak_from_this(), participant, module, &server);
    if (FAILED(hr)) {
      owner->second->servers.erase(module);
      return hr;
    }
  }
  return server.CopyTo(out);
}

HRESULT ShareSessionRouter::GetChannel(int participant, const std::string& module,
                                       ShareSessionChannel** out) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto owner = participants_.find(participant);
  if (owner == participants_.end()) return E_UNEXPECTED;
  CComPtr<ShareSessionChannel>& channel = owner->second->channels[module];
  if (!channel) {
    HRESULT hr = ShareSessionChannel::Create(weak_from_this(), participant, module, &channel);
    if (FAILED(hr)) {
      owner->second->channels.erase(module);
      return hr;
    }
  }
  return channel.CopyTo(out);
}

int ShareSessionRouter::NextMessageId() {
  int id = ++next_message_id_;
  while (id == 0) id = ++next_message_id_;  // after wrapping around
  return id;
}

bool ShareSessionRouter::SendOperation(int from, const std::string& module, int message_id,
                                       std::string name, std::vector<BYTE> payload) {
  ShareSessionEvent event;
  event.kind = ShareSessionEvent::Kind::kOperation;
  event.module = module;
  event.from = from;
  event.message_id = message_id;
  event.name = std::move(name);
  event.payload = std::move(payload);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return false;
  }
  return transport_->Post(std::move(event));
}

bool ShareSessionRouter::Publish(int from, const std::string& module, bool has_payload,
                                 std::vector<BYTE> payload, const int notice[4]) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return false;
  }
  Attribute(from, module);
  ShareSessionEvent event;
  event.kind = ShareSessionEvent::Kind::kBroadcast;
  event.module = module;
  event.from = from;
  event.has_payload = has_payload;
  event.payload = std::move(payload);
  std::copy(notice, notice + 4, event.notice);
  return transport_->Post(std::move(event));
}

void ShareSessionRouter::Attribute(int from, const std::string& module) {
  if (t_work.set) {
    ShareSessionServedOperation* operation = t_work.operation;
    if (operation != nullptr && operation->server() == from && operation->module() == module) {
      operation->MarkPublished();
    }
    return;
  }
  // No work scope on this thread: the broadcast belongs to the one open request of
  // this server and module, if there is exactly one; with several it is not known which.
  // Every operation locked here stays in live until the lock is gone: one of them may
  // be released meanwhile by its holder, and its answer must not be sent (it takes
  // mutex_) while this thread holds mutex_.
  std::vector<std::shared_ptr<ShareSessionServedOperation>> live;
  std::vector<ShareSessionServedOperation*> candidates;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::weak_ptr<ShareSessionServedOperation>& weak : open_) {
      std::shared_ptr<ShareSessionServedOperation> operation = weak.lock();
      if (operation == nullptr) continue;
      live.push_back(operation);
      if (operation->claimed()) continue;
      if (operation->server() != from || operation->module() != module) continue;
      candidates.push_back(operation.get());
    }
  }
  if (candidates.size() == 1) candidates[0]->MarkPublished();
}

void ShareSessionRouter::AnswerServed(ShareSessionServedOperation* operation,
                                      ShareSessionMessage* answer) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(std::remove_if(open_.begin(), open_.end(),
                               [](const std::weak_ptr<ShareSessionServedOperation>& weak) {
                                 return weak.expired();
                               }),
                open_.end());
    if (stopped_) return;
  }
  ShareSessionEvent event;
  event.kind = ShareSessionEvent::Kind::kResult;
  event.module = operation->module();
  event.from = operation->server();
  event.to = operation->requester();
  event.message_id = operation->message_id();
  event.name = operation->name();
  std::vector<BYTE> payload = answer != nullptr ? answer->payload() : std::vector<BYTE>();
  if (!payload.empty()) {
    std::string name = answer->name();
    if (!name.empty()) event.name = std::move(name);
    event.payload = std::move(payload);
  } else {
    event.payload = StatusRecord(operation->published() ? 1 : 0);
  }
  transport_->Post(std::move(event));
}

void ShareSessionRouter::Deliver(ShareSessionEvent& event) {
  switch (event.kind) {
    case ShareSessionEvent::Kind::kOperation:
      DeliverOperation(event);
      break;
    case ShareSessionEvent::Kind::kResult:
      DeliverResult(event);
      break;
    case ShareSessionEvent::Kind::kBroadcast:
      DeliverBroadcast(event);
      break;
  }
}

void ShareSessionRouter::DeliverOperation(ShareSessionEvent& event) {
  CComPtr<ShareSessionServer> server;
  int serving = -1;
  bool remote = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    serving = ServingParticipantLocked(event.module);
    auto owner = participants_.find(serving);
    if (owner != participants_.end()) {
      remote = owner->second->remote;
      auto found = owner->second->servers.find(event.module);
      if (found != owner->second->servers.end()) server = found->second;
    }
  }
  if (remote) {
    // Another process serves it; the answer comes back from there (or from the
    // transport, when that process goes away).
    transport_->Carry(serving, std::move(event));
    return;
  }
  CComPtr<IOnRecvShareSessionOperationEvent> handler;
  if (server) handler = server->handler();
  auto operation = std::make_shared<ShareSessionServedOperation>(
      weak_from_this(), event.module, event.from, serving, event.message_id, event.name);
  CComPtr<ShareSessionMessage> request;
  if (!handler ||
      FAILED(ShareSessionMessage::Create(event.message_id, event.name, std::move(event.payload),
                                         &request))) {
    return;  // nobody serves it: operation's destructor answers with status 0 now
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.push_back(operation);
  }
  request->set_served(operation);
  DeliveryContext context{operation, request};
  DeliveryContext* previous = t_delivery;
  t_delivery = &context;
  handler->OnRecvOperation(request);
  t_delivery = previous;
  // Drop the router's holds; what the handler kept keeps the request open.
  context.operation.reset();
  request.Release();
  operation.reset();
}

void ShareSessionRouter::DeliverResult(ShareSessionEvent& event) {
  CComPtr<ShareSessionChannel> channel;
  bool remote = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto owner = participants_.find(event.to);
    if (owner == participants_.end()) return;
    remote = owner->second->remote;
    if (!remote) {
      auto found = owner->second->channels.find(event.module);
      if (found == owner->second->channels.end()) return;
      channel = found->second;
    }
  }
  if (remote) {
    const int to = event.to;
    transport_->Carry(to, std::move(event));
    return;
  }
  CComPtr<ShareSessionMessage> result;
  if (FAILED(ShareSessionMessage::Create(event.message_id, event.name, std::move(event.payload),
                                         &result))) {
    return;
  }
  channel->DeliverResult(result);
}

void ShareSessionRouter::DeliverBroadcast(ShareSessionEvent& event) {
  std::vector<std::pair<int, CComPtr<ShareSessionChannel>>> receivers;
  std::vector<int> remote;
  ChangeObserver observer;
  int observed = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& participant : participants_) {
      if (participant.first == event.from) continue;  // the publisher applied it already
      if (participant.second->remote) {
        remote.push_back(participant.first);
        continue;
      }
      auto found = participant.second->channels.find(event.module);
      if (found != participant.second->channels.end()) {
        receivers.emplace_back(participant.first, found->second);
      }
    }
    if (observer_) {
      observer = observer_;
      observed = observed_;
    }
  }
  for (int to : remote) transport_->Carry(to, event);
  std::shared_ptr<const std::vector<BYTE>> payload;
  if (event.has_payload) {
    payload = std::make_shared<const std::vector<BYTE>>(std::move(event.payload));
  }
  if (observer && observed == event.from) {
    observer(ShareSessionChange::Of(payload.get(), event.notice, true, true));
  }
  for (auto& receiver : receivers) {
    HRESULT hr = receiver.second->DeliverBroadcast(payload, event.notice);
    if (observer && observed == receiver.first) {
      observer(ShareSessionChange::Of(payload.get(), event.notice, false, hr == S_OK));
    }
  }
}

void ShareSessionRouter::WaitIdle() { transport_->WaitIdle(); }

void ShareSessionRouter::Shutdown() {
  std::vector<CComPtr<ShareSessionChannel>> channels;
  std::vector<CComPtr<ShareSessionServer>> servers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    for (auto& participant : participants_) {
      for (auto& channel : participant.second->channels) channels.push_back(channel.second);
      for (auto& server : participant.second->servers) servers.push_back(server.second);
    }
  }
  transport_->Stop();
  for (CComPtr<ShareSessionChannel>& channel : channels) channel->DetachAll();
  for (CComPtr<ShareSessionServer>& server : servers) server->DetachAll();
}

bool ShareSessionRouter::OnDeliveryThread() const { return transport_->OnDeliveryThread(); }

std::shared_ptr<ShareSessionServedOperation> ShareSessionRouter::ClaimDelivered() {
  if (t_delivery == nullptr || t_delivery->operation == nullptr) return nullptr;
  std::shared_ptr<ShareSessionServedOperation> operation = t_delivery->operation;
  if (!operation->claimed()) {
    operation->MarkClaimed();
    // The token decides from now on when the request is done, not the message.
    t_delivery->message->set_served(nullptr);
  }
  return operation;
}

ShareSessionRouter::WorkState ShareSessionRouter::EnterWork(
    ShareSessionServedOperation* operation) {
  WorkState previous = t_work;
  t_work.set = true;
  t_work.operation = operation;
  return previous;
}

void ShareSessionRouter::LeaveWork(const WorkState& previous) { t_work = previous; }

}  // namespace ZQHost
}  // namespace Velmora
