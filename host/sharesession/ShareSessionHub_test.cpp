#include "host/sharesession/ShareSessionHub.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/sharesession/ShareSessionRouter.h"
#include "interfaces/IShareSessionManager.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {
namespace {

const char kModule[] = "ZQBlog";

std::vector<BYTE> Bytes(const std::string& text) {
  return std::vector<BYTE>(text.begin(), text.end());
}

int ReadInt(const std::vector<BYTE>& bytes) {
  if (bytes.size() < 4) return -1;
  return static_cast<int>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                          (static_cast<uint32_t>(bytes[3]) << 24));
}

// What a sink saw of one message.
struct Seen {
  int id = 0;
  std::string name;
  std::vector<BYTE> payload;
  std::thread::id thread;
};

Seen Describe(IShareSessionMessage* message) {
  Seen seen;
  message->GetId(&seen.id);
  char name[260];
  if (message->GetName(name, sizeof name) == S_OK) seen.name = name;
  BYTE* data = nullptr;
  int size = 0;
  message->GetPayload(&data, &size);
  if (data != nullptr) seen.payload.assign(data, data + size);
  seen.thread = std::this_thread::get_id();
  return seen;
}

// A serving handler or a forwarded command's result sink, recording what arrives.
class Recorder : public CComObjectRootEx<CComMultiThreadModel>,
                 public IOnRecvShareSessionOperationEvent {
 public:
  BEGIN_COM_MAP(Recorder)
  COM_INTERFACE_ENTRY(IOnRecvShareSessionOperationEvent)
  END_COM_MAP()

  static CComPtr<Recorder> Make() {
    CComObject<Recorder>* object = nullptr;
    CComObject<Recorder>::CreateInstance(&object);
    return CComPtr<Recorder>(object);
  }

  STDMETHOD(OnRecvOperation)(IShareSessionMessage* request) override {
    Seen seen = Describe(request);
    if (on_operation) on_operation(request);
    std::lock_guard<std::mutex> lock(mutex);
    operations.push_back(seen);
    if (keep_requests) kept.emplace_back(request);
    return S_OK;
  }
  STDMETHOD(OnRecvOperationResult)(IShareSessionMessage* result) override {
    Seen seen = Describe(result);
    if (on_result) on_result(result);
    std::lock_guard<std::mutex> lock(mutex);
    results.push_back(seen);
    return S_OK;
  }

  std::vector<Seen> Operations() {
    std::lock_guard<std::mutex> lock(mutex);
    return operations;
  }
  std::vector<Seen> Results() {
    std::lock_guard<std::mutex> lock(mutex);
    return results;
  }
  // Releases the kept requests, as a served command does when it is destroyed.
  void DropKept() {
    std::vector<CComPtr<IShareSessionMessage>> gone;
    std::lock_guard<std::mutex> lock(mutex);
    gone.swap(kept);
  }

  std::mutex mutex;
  std::vector<Seen> operations;
  std::vector<Seen> results;
  bool keep_requests = false;
  std::vector<CComPtr<IShareSessionMessage>> kept;
  std::function<void(IShareSessionMessage*)> on_operation;  // runs on the delivery thread
  std::function<void(IShareSessionMessage*)> on_result;
};

// A forwarding participant's message sink; it reads the payload during the call.
class NoticeSink : public CComObjectRootEx<CComMultiThreadModel>, public IOnRecvShareSessionMsg {
 public:
  BEGIN_COM_MAP(NoticeSink)
  COM_INTERFACE_ENTRY(IOnRecvShareSessionMsg)
  END_COM_MAP()

  struct Notice {
    int first, type, value1, value2;
    HRESULT payload_result;
    std::vector<BYTE> payload;
    std::thread::id thread;
  };

  static CComPtr<NoticeSink> Make(IShareSessionChannel* channel) {
    CComObject<NoticeSink>* object = nullptr;
    CComObject<NoticeSink>::CreateInstance(&object);
    object->channel = channel;  // not owned: the channel owns the sink
    return CComPtr<NoticeSink>(object);
  }

  STDMETHOD(OnRecvShareSessionMsg)(int first, int type, int value1, int value2) override {
    Notice notice{first, type, value1, value2, E_FAIL, {}, std::this_thread::get_id()};
    channel->BeginReadMessage();
    const BYTE* data = nullptr;
    int length = -1;
    notice.payload_result = channel->GetMessagePayload(&data, &length);
    if (data != nullptr) notice.payload.assign(data, data + length);
    channel->EndReadMessage();
    if (on_notice) on_notice();
    std::lock_guard<std::mutex> lock(mutex);
    notices.push_back(notice);
    return S_OK;
  }

  std::vector<Notice> Notices() {
    std::lock_guard<std::mutex> lock(mutex);
    return notices;
  }

  IShareSessionChannel* channel = nullptr;
  std::function<void()> on_notice;
  std::mutex mutex;
  std::vector<Notice> notices;
};

// Polls for mutex until timeout; true once it is held.
bool TakeWithin(std::mutex* mutex, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!mutex->try_lock()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class ShareSessionHubTest : public ::testing::Test {
 protected:
  CComPtr<IShareSessionManager> Join(int role) {
    CComPtr<IShareSessionManager> manager;
    EXPECT_EQ(S_OK, CreateShareSessionManager(&hub_, role, &manager));
    return manager;
  }
  static CComPtr<IShareSessionChannel> Channel(IShareSessionManager* manager) {
    CComPtr<IShareSessionChannel> channel;
    EXPECT_EQ(S_OK, manager->GetModuleChannel(kModule, 0, &channel));
    return channel;
  }
  static CComPtr<IShareSessionServer> Serve(IShareSessionManager* manager,
                                            IOnRecvShareSessionOperationEvent* handler) {
    manager->RegisterModule(kModule, 10);
    CComPtr<IShareSessionServer> server;
    EXPECT_EQ(S_OK, manager->GetModuleServer(kModule, 10, &server));
    if (server) {
      EXPECT_EQ(S_OK, server->AttachOperationHandler(handler));
    }
    return server;
  }
  // An operation message named name with payload, sent on channel; returns its id.
  static int Send(IShareSessionChannel* channel, const char* name, const std::string& payload) {
    CComPtr<IShareSessionMessage> message;
    EXPECT_EQ(S_OK, channel->CreateOperationMessage(&message));
    if (!message) return 0;
    EXPECT_EQ(S_OK, message->SetName(name));
    EXPECT_EQ(S_OK, message->SetPayloadSize(static_cast<int>(payload.size())));
    BYTE* data = nullptr;
    int size = 0;
    EXPECT_EQ(S_OK, message->GetPayload(&data, &size));
    if (!payload.empty()) std::memcpy(data, payload.data(), payload.size());
    EXPECT_EQ(S_OK, channel->SendOperationMessage(message));
    int id = 0;
    message->GetId(&id);
    return id;
  }
  static void Publish(IShareSessionServer* server, const std::string& payload, int code) {
    EXPECT_EQ(S_OK, server->PublishData(reinterpret_cast<const BYTE*>(payload.data()),
                                        static_cast<int>(payload.size())));
    EXPECT_EQ(S_OK, server->PublishNotice(0, code, 0, 0));
  }

  ShareSessionHub hub_;
};

TEST_F(ShareSessionHubTest, ParticipantsKeepTheirRoles) {
  for (int role : {0, 1, 2, 7}) {
    CComPtr<IShareSessionManager> manager = Join(role);
    ASSERT_TRUE(manager);
    int got = -1;
    EXPECT_EQ(S_OK, manager->GetRole(&got));
    EXPECT_EQ(role, got);
    EXPECT_EQ(E_NOTIMPL, manager->Reserved1());
    EXPECT_EQ(E_NOTIMPL, manager->Reserved6());
  }
  CComPtr<IShareSessionManager> none;
  EXPECT_EQ(E_INVALIDARG, CreateShareSessionManager(nullptr, 0, &none));
  EXPECT_EQ(E_POINTER, CreateShareSessionManager(&hub_, 0, nullptr));
}

TEST_F(ShareSessionHubTest, ModulesServersAndChannels) {
  CComPtr<IShareSessionManager> server = Join(1);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionServer> none;
  EXPECT_EQ(E_FAIL, server->GetModuleServer(kModule, 10, &none));  // not registered yet
  EXPECT_EQ(S_OK, server->RegisterModule(kModule, 10));
  EXPECT_EQ(S_FALSE, server->RegisterModule(kModule, 10));
  EXPECT_EQ(S_FALSE, forwarder->RegisterModule(kModule, 1));  // known already
  EXPECT_EQ(E_INVALIDARG, server->RegisterModule("", 10));
  EXPECT_EQ(E_POINTER, server->RegisterModule(nullptr, 10));

  CComPtr<IShareSessionServer> a, b;
  EXPECT_EQ(S_OK, server->GetModuleServer(kModule, 10, &a));
  EXPECT_EQ(S_OK, server->GetModuleServer(kModule, 0, &b));  // 0: any priority
  EXPECT_EQ(a.p, b.p);
  EXPECT_EQ(E_INVALIDARG, server->GetModuleServer(kModule, 3, &none));
  EXPECT_EQ(E_FAIL, server->GetModuleServer("Other", 0, &none));
  EXPECT_EQ(E_NOTIMPL, a->Reserved1());
  EXPECT_EQ(E_NOTIMPL, a->Reserved5());

  CComPtr<IShareSessionChannel> c1, c2, other;
  EXPECT_EQ(S_OK, forwarder->GetModuleChannel(kModule, 0, &c1));
  EXPECT_EQ(S_OK, forwarder->GetModuleChannel(kModule, 0, &c2));
  EXPECT_EQ(c1.p, c2.p);  // one channel per participant and module
  EXPECT_EQ(S_OK, server->GetModuleChannel(kModule, 0, &other));
  EXPECT_NE(c1.p, other.p);
  EXPECT_EQ(E_NOTIMPL, c1->Reserved7());
}

TEST_F(ShareSessionHubTest, MessagesHoldIdNameAndPayload) {
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<IShareSessionMessage> first, second;
  ASSERT_EQ(S_OK, channel->CreateOperationMessage(&first));
  ASSERT_EQ(S_OK, channel->CreateOperationMessage(&second));
  int id1 = 0, id2 = 0;
  first->GetId(&id1);
  second->GetId(&id2);
  EXPECT_NE(0, id1);
  EXPECT_NE(id1, id2);

  char name[16];
  EXPECT_EQ(S_OK, first->GetName(name, sizeof name));
  EXPECT_STREQ("", name);
  EXPECT_EQ(S_OK, first->SetName("RefreshBlogServerInfo"));  // 21 characters
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), first->GetName(name, sizeof name));
  EXPECT_STREQ("", name);
  char exact[22];
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), first->GetName(exact, 21));
  EXPECT_EQ(S_OK, first->GetName(exact, 22));
  EXPECT_STREQ("RefreshBlogServerInfo", exact);
  EXPECT_EQ(E_POINTER, first->SetName(nullptr));

  BYTE* data = reinterpret_cast<BYTE*>(1);
  int size = -1;
  EXPECT_EQ(S_OK, first->GetPayload(&data, &size));
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(0, size);
  EXPECT_EQ(E_INVALIDARG, first->SetPayloadSize(-1));
  EXPECT_EQ(S_OK, first->SetPayloadSize(12));
  EXPECT_EQ(S_OK, first->GetPayload(&data, &size));
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(12, size);
  EXPECT_EQ(std::vector<BYTE>(12, 0), std::vector<BYTE>(data, data + 12));
  EXPECT_EQ(E_NOTIMPL, first->Reserved1());
  EXPECT_EQ(E_NOTIMPL, first->Reserved4());
}

TEST_F(ShareSessionHubTest, OperationReachesTheServingHandlerIntact) {
  CComPtr<Recorder> handler = Recorder::Make();
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  std::atomic<bool> on_hub_thread{false};
  handler->on_operation = [&](IShareSessionMessage*) { on_hub_thread = hub_.IsDeliveryThread(); };

  const std::string payload("\x05\x00\x00\x00" "10001\xFF", 10);
  int id = Send(channel, "GetAlbumList", payload);
  hub_.WaitIdle();
  std::vector<Seen> operations = handler->Operations();
  ASSERT_EQ(1u, operations.size());
  EXPECT_EQ(id, operations[0].id);
  EXPECT_EQ("GetAlbumList", operations[0].name);
  EXPECT_EQ(Bytes(payload), operations[0].payload);
  EXPECT_NE(std::this_thread::get_id(), operations[0].thread);
  EXPECT_TRUE(on_hub_thread);
  EXPECT_FALSE(hub_.IsDeliveryThread());
}

TEST_F(ShareSessionHubTest, UnkeptRequestIsAnsweredToItsOwnChannelOnly) {
  CComPtr<Recorder> handler = Recorder::Make();
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionManager> bystander = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<IShareSessionChannel> other = Channel(bystander);
  CComPtr<IShareSessionChannel> servingChannel = Channel(serving);
  CComPtr<Recorder> mine = Recorder::Make(), theirs = Recorder::Make(), own = Recorder::Make();
  EXPECT_EQ(S_OK, channel->AttachResultSink(mine));
  EXPECT_EQ(S_FALSE, channel->AttachResultSink(mine));
  EXPECT_EQ(S_OK, other->AttachResultSink(theirs));
  EXPECT_EQ(S_OK, servingChannel->AttachResultSink(own));

  int id = Send(channel, "BatchRemove", "payload");
  hub_.WaitIdle();
  ASSERT_EQ(1u, handler->Operations().size());
  std::vector<Seen> results = mine->Results();
  ASSERT_EQ(1u, results.size());  // once, although attached twice
  EXPECT_EQ(id, results[0].id);
  EXPECT_EQ("BatchRemove", results[0].name);
  ASSERT_EQ(static_cast<size_t>(kStatusResultRecordSize), results[0].payload.size());
  EXPECT_EQ(0, ReadInt(results[0].payload));  // nothing was published for it
  EXPECT_EQ(std::vector<BYTE>(kStatusResultRecordSize, 0), results[0].payload);
  EXPECT_NE(std::this_thread::get_id(), results[0].thread);
  EXPECT_TRUE(theirs->Results().empty());
  EXPECT_TRUE(own->Results().empty());
}

TEST_F(ShareSessionHubTest, KeptRequestIsAnsweredAfterItsBroadcast) {
  CComPtr<Recorder> handler = Recorder::Make();
  handler->keep_requests = true;
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionManager> standalone = Join(2);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<IShareSessionChannel> servingChannel = Channel(serving);
  CComPtr<IShareSessionChannel> standaloneChannel = Channel(standalone);
  CComPtr<Recorder> results = Recorder::Make();
  ASSERT_EQ(S_OK, channel->AttachResultSink(results));
  CComPtr<NoticeSink> notices = NoticeSink::Make(channel);
  CComPtr<NoticeSink> servingNotices = NoticeSink::Make(servingChannel);
  CComPtr<NoticeSink> standaloneNotices = NoticeSink::Make(standaloneChannel);
  ASSERT_EQ(S_OK, channel->AttachMessageSink(notices));
  ASSERT_EQ(S_OK, servingChannel->AttachMessageSink(servingNotices));
  ASSERT_EQ(S_OK, standaloneChannel->AttachMessageSink(standaloneNotices));
  // The result must come after the notice: record the order.
  std::mutex order_mutex;
  std::vector<std::string> order;
  notices->on_notice = [&] {
    std::lock_guard<std::mutex> lock(order_mutex);
    order.push_back("notice");
  };
  results->on_result = [&](IShareSessionMessage*) {
    std::lock_guard<std::mutex> lock(order_mutex);
    order.push_back("result");
  };

  int id = Send(channel, "CreateAlbum", "request");
  hub_.WaitIdle();
  ASSERT_EQ(1u, handler->Operations().size());
  EXPECT_TRUE(results->Results().empty());  // still held by the serving side

  // The serving command finishes on another thread: broadcast, then let go.
  std::thread worker([&] {
    Publish(server, "change-record", 5);
    handler->DropKept();
  });
  worker.join();
  hub_.WaitIdle();

  std::vector<NoticeSink::Notice> got = notices->Notices();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(5, got[0].type);
  EXPECT_EQ(S_OK, got[0].payload_result);
  EXPECT_EQ(Bytes("change-record"), got[0].payload);
  EXPECT_NE(std::this_thread::get_id(), got[0].thread);
  EXPECT_EQ(1u, standaloneNotices->Notices().size());  // every other participant
  EXPECT_TRUE(servingNotices->Notices().empty());      // not the publisher itself

  std::vector<Seen> answers = results->Results();
  ASSERT_EQ(1u, answers.size());
  EXPECT_EQ(id, answers[0].id);
  EXPECT_EQ("CreateAlbum", answers[0].name);
  EXPECT_EQ(1, ReadInt(answers[0].payload));
  EXPECT_EQ((std::vector<std::string>{"notice", "result"}), order);
}

TEST_F(ShareSessionHubTest, ServingSideResultMessageIsSentAsTheAnswer) {
  CComPtr<Recorder> handler = Recorder::Make();
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  handler->on_operation = [&](IShareSessionMessage* request) {
    CComPtr<IShareSessionMessage> result;
    ASSERT_EQ(S_OK, server->CreateResultMessage(request, &result));
    int requestId = 0, resultId = 0;
    request->GetId(&requestId);
    result->GetId(&resultId);
    EXPECT_EQ(requestId, resultId);
    result->SetName("Answer");
    result->SetPayloadSize(8);
    BYTE* data = nullptr;
    int size = 0;
    result->GetPayload(&data, &size);
    data[0] = 1;
    data[4] = 42;
  };
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<Recorder> results = Recorder::Make();
  ASSERT_EQ(S_OK, channel->AttachResultSink(results));
  int id = Send(channel, "ModifyResource", "x");
  hub_.WaitIdle();
  std::vector<Seen> answers = results->Results();
  ASSERT_EQ(1u, answers.size());
  EXPECT_EQ(id, answers[0].id);
  EXPECT_EQ("Answer", answers[0].name);
  EXPECT_EQ((std::vector<BYTE>{1, 0, 0, 0, 42, 0, 0, 0}), answers[0].payload);

  CComPtr<IShareSessionMessage> result;
  EXPECT_EQ(E_POINTER, server->CreateResultMessage(nullptr, &result));
}

TEST_F(ShareSessionHubTest, DetachedSinksHearNothingMore) {
  CComPtr<Recorder> handler = Recorder::Make();
  handler->keep_requests = true;
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<Recorder> stays = Recorder::Make(), leaves = Recorder::Make();
  ASSERT_EQ(S_OK, channel->AttachResultSink(stays));
  ASSERT_EQ(S_OK, channel->AttachResultSink(leaves));
  CComPtr<NoticeSink> notices = NoticeSink::Make(channel);
  ASSERT_EQ(S_OK, channel->AttachMessageSink(notices));

  Send(channel, "RemoveAlbum", "");
  hub_.WaitIdle();
  EXPECT_EQ(S_OK, channel->DetachResultSink(leaves));
  EXPECT_EQ(S_FALSE, channel->DetachResultSink(leaves));
  EXPECT_EQ(S_OK, channel->AttachMessageSink(nullptr));
  Publish(server, "p", 6);
  handler->DropKept();
  hub_.WaitIdle();
  EXPECT_EQ(1u, stays->Results().size());
  EXPECT_TRUE(leaves->Results().empty());
  EXPECT_TRUE(notices->Notices().empty());

  // A sink that detaches another during the same delivery: the other is not called.
  CComPtr<Recorder> first = Recorder::Make(), second = Recorder::Make();
  first->on_result = [&](IShareSessionMessage*) { channel->DetachResultSink(second); };
  ASSERT_EQ(S_OK, channel->DetachResultSink(stays));
  ASSERT_EQ(S_OK, channel->AttachResultSink(first));
  ASSERT_EQ(S_OK, channel->AttachResultSink(second));
  handler->keep_requests = false;
  Send(channel, "RemoveAlbum", "");
  hub_.WaitIdle();
  EXPECT_EQ(1u, first->Results().size());
  EXPECT_TRUE(second->Results().empty());
}

TEST_F(ShareSessionHubTest, BroadcastsArriveInOrderWithTheirOwnPayloads) {
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, nullptr);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<NoticeSink> notices = NoticeSink::Make(channel);
  ASSERT_EQ(S_OK, channel->AttachMessageSink(notices));

  // Two threads publish at once; each notice must come with its own payload, and each
  // thread's notices in its order.
  const int kEach = 200;
  auto publisher = [&](int base) {
    for (int i = 0; i < kEach; ++i) {
      std::string payload = std::to_string(base + i);
      server->PublishData(reinterpret_cast<const BYTE*>(payload.data()),
                          static_cast<int>(payload.size()));
      server->PublishNotice(0, base + i, 0, 0);
    }
  };
  std::thread a(publisher, 1000), b(publisher, 5000);
  a.join();
  b.join();
  // A notice without a payload of its own carries none.
  EXPECT_EQ(S_OK, server->PublishNotice(0, 12, 0, 0));
  hub_.WaitIdle();

  std::vector<NoticeSink::Notice> got = notices->Notices();
  ASSERT_EQ(2u * kEach + 1, got.size());
  int next_a = 1000, next_b = 5000;
  for (size_t i = 0; i + 1 < got.size(); ++i) {
    EXPECT_EQ(Bytes(std::to_string(got[i].type)), got[i].payload);
    if (got[i].type < 5000) {
      EXPECT_EQ(next_a++, got[i].type);
    } else {
      EXPECT_EQ(next_b++, got[i].type);
    }
  }
  EXPECT_EQ(12, got.back().type);
  EXPECT_EQ(S_FALSE, got.back().payload_result);
  EXPECT_TRUE(got.back().payload.empty());
}

TEST_F(ShareSessionHubTest, DeliveryNeverHappensInsideTheSendersCall) {
  std::mutex sender_lock;
  std::atomic<int> blocked{0};
  CComPtr<Recorder> handler = Recorder::Make();
  handler->on_operation = [&](IShareSessionMessage*) {
    // A synchronous delivery would find the sender's lock taken by its own thread.
    if (!TakeWithin(&sender_lock, std::chrono::seconds(5))) {
      ++blocked;
      return;
    }
    sender_lock.unlock();
  };
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<NoticeSink> notices = NoticeSink::Make(channel);
  notices->on_notice = [&] {
    if (!TakeWithin(&sender_lock, std::chrono::seconds(5))) {
      ++blocked;
      return;
    }
    sender_lock.unlock();
  };
  ASSERT_EQ(S_OK, channel->AttachMessageSink(notices));

  {
    std::lock_guard<std::mutex> lock(sender_lock);
    Send(channel, "GetCidDat", "u");
    Publish(server, "record", 1);
    EXPECT_TRUE(handler->Operations().empty());  // not delivered yet: we hold the lock
    EXPECT_TRUE(notices->Notices().empty());
  }
  hub_.WaitIdle();
  EXPECT_EQ(0, blocked.load());
  EXPECT_EQ(1u, handler->Operations().size());
  EXPECT_EQ(1u, notices->Notices().size());
}

TEST_F(ShareSessionHubTest, ClaimedTokensAndWorkScopesAttributeBroadcasts) {
  // Two requests served at once by a workshop that claims tokens: only the one whose
  // work published gets status 1.
  std::mutex tokens_mutex;
  std::vector<std::shared_ptr<ShareSessionServedOperation>> tokens;
  CComPtr<Recorder> handler = Recorder::Make();
  handler->on_operation = [&](IShareSessionMessage*) {
    std::shared_ptr<ShareSessionServedOperation> token = ShareSessionHub::ClaimServedOperation();
    EXPECT_NE(nullptr, token);
    std::lock_guard<std::mutex> lock(tokens_mutex);
    tokens.push_back(token);
  };
  handler->keep_requests = true;  // the commands hold their messages, too
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<Recorder> results = Recorder::Make();
  ASSERT_EQ(S_OK, channel->AttachResultSink(results));
  EXPECT_EQ(nullptr, ShareSessionHub::ClaimServedOperation());  // not inside a delivery

  int accepted = Send(channel, "CreateAlbum", "a");
  int refused = Send(channel, "CreateAlbum", "b");
  hub_.WaitIdle();
  ASSERT_EQ(2u, tokens.size());
  std::thread workshop([&] {
    {
      ShareSessionHub::WorkScope scope(tokens[1]);  // the refused one: no broadcast
    }
    {
      ShareSessionHub::WorkScope scope(nullptr);  // a local command's broadcast
      Publish(server, "local", 2);
    }
    {
      ShareSessionHub::WorkScope scope(tokens[0]);
      Publish(server, "created", 5);
    }
  });
  workshop.join();
  hub_.WaitIdle();
  EXPECT_TRUE(results->Results().empty());  // tokens still held
  handler->DropKept();
  hub_.WaitIdle();
  EXPECT_TRUE(results->Results().empty());  // the tokens decide now, not the messages
  tokens.clear();
  hub_.WaitIdle();
  std::vector<Seen> answers = results->Results();
  ASSERT_EQ(2u, answers.size());
  for (const Seen& answer : answers) {
    if (answer.id == accepted) {
      EXPECT_EQ(1, ReadInt(answer.payload));
    } else {
      EXPECT_EQ(refused, answer.id);
      EXPECT_EQ(0, ReadInt(answer.payload));
    }
  }
}

TEST_F(ShareSessionHubTest, WithoutScopesSeveralOpenRequestsAreNotGuessed) {
  CComPtr<Recorder> handler = Recorder::Make();
  handler->keep_requests = true;
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<Recorder> results = Recorder::Make();
  ASSERT_EQ(S_OK, channel->AttachResultSink(results));
  Send(channel, "GetAlbumList", "a");
  Send(channel, "GetAlbumList", "b");
  hub_.WaitIdle();
  Publish(server, "change", 2);  // which request's? unknown
  handler->DropKept();
  hub_.WaitIdle();
  std::vector<Seen> answers = results->Results();
  ASSERT_EQ(2u, answers.size());
  EXPECT_EQ(0, ReadInt(answers[0].payload));
  EXPECT_EQ(0, ReadInt(answers[1].payload));
}

TEST_F(ShareSessionHubTest, BroadcastsRaceWithRequestsEnding) {
  // Requests released while broadcasts look for their request: every request is still
  // answered exactly once and nothing locks up.
  CComPtr<Recorder> handler = Recorder::Make();
  handler->keep_requests = true;
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<Recorder> results = Recorder::Make();
  ASSERT_EQ(S_OK, channel->AttachResultSink(results));
  const int kRequests = 200;
  for (int i = 0; i < kRequests; ++i) Send(channel, "GetAlbumList", "u");
  hub_.WaitIdle();
  std::vector<CComPtr<IShareSessionMessage>> kept;
  {
    std::lock_guard<std::mutex> lock(handler->mutex);
    kept.swap(handler->kept);
  }
  ASSERT_EQ(static_cast<size_t>(kRequests), kept.size());
  std::atomic<bool> done{false};
  std::thread publisher([&] {
    while (!done) server->PublishNotice(0, 2, 0, 0);
  });
  std::thread dropper([&] {
    for (CComPtr<IShareSessionMessage>& request : kept) request.Release();
  });
  dropper.join();
  done = true;
  publisher.join();
  hub_.WaitIdle();
  std::vector<Seen> answers = results->Results();
  EXPECT_EQ(static_cast<size_t>(kRequests), answers.size());
}

TEST_F(ShareSessionHubTest, RequestsWithoutAServerAreAnsweredAtOnce) {
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<Recorder> results = Recorder::Make();
  ASSERT_EQ(S_OK, channel->AttachResultSink(results));
  int id = Send(channel, "GetAlbumList", "u");
  hub_.WaitIdle();
  std::vector<Seen> answers = results->Results();
  ASSERT_EQ(1u, answers.size());
  EXPECT_EQ(id, answers[0].id);
  EXPECT_EQ(0, ReadInt(answers[0].payload));

  // A server that leaves the session: requests are answered with status 0 again.
  CComPtr<Recorder> handler = Recorder::Make();
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  server.Release();
  serving.Release();  // the participant leaves
  Send(channel, "GetAlbumList", "u");
  hub_.WaitIdle();
  EXPECT_TRUE(handler->Operations().empty());
  EXPECT_EQ(2u, results->Results().size());
}

TEST_F(ShareSessionHubTest, HighestPriorityServes) {
  CComPtr<Recorder> low = Recorder::Make(), high = Recorder::Make();
  CComPtr<IShareSessionManager> first = Join(1), second = Join(1);
  ASSERT_EQ(S_OK, first->RegisterModule(kModule, 5));
  ASSERT_EQ(S_FALSE, second->RegisterModule(kModule, 10));
  CComPtr<IShareSessionServer> lowServer, highServer;
  ASSERT_EQ(S_OK, first->GetModuleServer(kModule, 5, &lowServer));
  ASSERT_EQ(S_OK, second->GetModuleServer(kModule, 10, &highServer));
  lowServer->AttachOperationHandler(low);
  highServer->AttachOperationHandler(high);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  Send(Channel(forwarder), "GetCidDat", "u");
  hub_.WaitIdle();
  EXPECT_TRUE(low->Operations().empty());
  EXPECT_EQ(1u, high->Operations().size());
}

TEST_F(ShareSessionHubTest, PayloadReadsOutsideANotice) {
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  const BYTE* data = reinterpret_cast<const BYTE*>(1);
  int length = -1;
  EXPECT_EQ(E_UNEXPECTED, channel->GetMessagePayload(&data, &length));
  EXPECT_EQ(E_UNEXPECTED, channel->EndReadMessage());
  EXPECT_EQ(S_OK, channel->BeginReadMessage());
  EXPECT_EQ(S_FALSE, channel->GetMessagePayload(&data, &length));  // none received
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(0, length);
  EXPECT_EQ(S_OK, channel->EndReadMessage());

  // The latest payload stays readable until EndReadMessage, whatever arrives meanwhile.
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, nullptr);
  Publish(server, "one", 1);
  hub_.WaitIdle();
  ASSERT_EQ(S_OK, channel->BeginReadMessage());
  Publish(server, "two", 1);
  hub_.WaitIdle();
  ASSERT_EQ(S_OK, channel->GetMessagePayload(&data, &length));
  EXPECT_EQ("one", std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)));
  EXPECT_EQ(S_OK, channel->EndReadMessage());
  ASSERT_EQ(S_OK, channel->BeginReadMessage());
  ASSERT_EQ(S_OK, channel->GetMessagePayload(&data, &length));
  EXPECT_EQ("two", std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)));
  EXPECT_EQ(S_OK, channel->EndReadMessage());
}

TEST_F(ShareSessionHubTest, ForeignMessagesAreRefused) {
  class Foreign : public CComObjectRootEx<CComMultiThreadModel>, public IShareSessionMessage {
   public:
    BEGIN_COM_MAP(Foreign)
    COM_INTERFACE_ENTRY(IShareSessionMessage)
    END_COM_MAP()
    STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
    STDMETHOD(GetId)(int* id) override {
      *id = 1;
      return S_OK;
    }
    STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
    STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
    STDMETHOD(GetName)(char* buffer, int) override {
      buffer[0] = '\0';
      return S_OK;
    }
    STDMETHOD(SetName)(LPCSTR) override { return S_OK; }
    STDMETHOD(SetPayloadSize)(int) override { return S_OK; }
    STDMETHOD(GetPayload)(BYTE** payload, int* size) override {
      *payload = nullptr;
      *size = 0;
      return S_OK;
    }
  };
  CComObject<Foreign>* foreign = nullptr;
  ASSERT_EQ(S_OK, CComObject<Foreign>::CreateInstance(&foreign));
  CComPtr<IShareSessionMessage> message(foreign);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  EXPECT_EQ(E_INVALIDARG, channel->SendOperationMessage(message));
  EXPECT_EQ(E_POINTER, channel->SendOperationMessage(nullptr));
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, nullptr);
  CComPtr<IShareSessionMessage> result;
  EXPECT_EQ(E_INVALIDARG, server->CreateResultMessage(message, &result));
}

TEST_F(ShareSessionHubTest, ShutdownReleasesSinksAndRefusesSends) {
  CComPtr<Recorder> handler = Recorder::Make();
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  CComPtr<IShareSessionManager> forwarder = Join(0);
  CComPtr<IShareSessionChannel> channel = Channel(forwarder);
  CComPtr<Recorder> results = Recorder::Make();
  ASSERT_EQ(S_OK, channel->AttachResultSink(results));
  hub_.Shutdown();
  // The session holds no reference on the sinks any more.
  EXPECT_EQ(1u, handler.p->AddRef() - 1);
  handler.p->Release();
  EXPECT_EQ(1u, results.p->AddRef() - 1);
  results.p->Release();
  CComPtr<IShareSessionMessage> message;
  ASSERT_EQ(S_OK, channel->CreateOperationMessage(&message));
  EXPECT_EQ(E_UNEXPECTED, channel->SendOperationMessage(message));
  EXPECT_EQ(E_UNEXPECTED, server->PublishNotice(0, 1, 0, 0));
  hub_.WaitIdle();  // returns at once
}

TEST_F(ShareSessionHubTest, ManyForwardersAtOnce) {
  CComPtr<Recorder> handler = Recorder::Make();
  CComPtr<IShareSessionManager> serving = Join(1);
  CComPtr<IShareSessionServer> server = Serve(serving, handler);
  const int kForwarders = 4, kEach = 50;
  std::vector<CComPtr<IShareSessionManager>> managers;
  std::vector<CComPtr<IShareSessionChannel>> channels;
  std::vector<CComPtr<Recorder>> sinks;
  for (int i = 0; i < kForwarders; ++i) {
    managers.push_back(Join(0));
    channels.push_back(Channel(managers.back()));
    sinks.push_back(Recorder::Make());
    channels.back()->AttachResultSink(sinks.back());
  }
  std::vector<std::thread> threads;
  std::vector<std::vector<int>> sent(kForwarders);
  for (int i = 0; i < kForwarders; ++i) {
    threads.emplace_back([&, i] {
      for (int j = 0; j < kEach; ++j) sent[i].push_back(Send(channels[i], "GetAlbumList", "u"));
    });
  }
  for (std::thread& thread : threads) thread.join();
  hub_.WaitIdle();
  EXPECT_EQ(static_cast<size_t>(kForwarders * kEach), handler->Operations().size());
  for (int i = 0; i < kForwarders; ++i) {
    std::vector<Seen> answers = sinks[i]->Results();
    ASSERT_EQ(static_cast<size_t>(kEach), answers.size());
    for (int j = 0; j < kEach; ++j) EXPECT_EQ(sent[i][j], answers[j].id);  // in send order
  }
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
