// The share session between processes, with each "process" played by a hub of its own
// in this test program, joined over the session's local socket in a temporary folder.
// The suites are named CrossProcess*: ZeroMQ's threads are not instrumented for
// ThreadSanitizer, so these tests stay out of its run.
#include "host/sharesession/CrossProcessTransport.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <zmq.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/sharesession/ShareSessionEndpoint.h"
#include "host/sharesession/ShareSessionFrame.h"
#include "host/sharesession/ShareSessionHub.h"
#include "interfaces/IShareSessionManager.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {
namespace {

const char kModule[] = "ZQBlog";
const char kUser[] = "10001";
using Side = CrossProcessTransport::Side;

// Waits (generously) until done() holds; false if it never does.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto give_up = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string Text(const BYTE* data, int size) {
  return data == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(data), size);
}

// A change record as the serving side publishes it: the user id as a string item first.
std::string ChangeRecord(const std::string& uin, const std::string& rest) {
  std::string record(4, '\0');
  record[0] = static_cast<char>(uin.size());
  return record + uin + rest;
}

// Everything one participant hears, in arrival order: operation requests (serving),
// answers and change notices (forwarding).
class Ear : public CComObjectRootEx<CComMultiThreadModel>,
            public IOnRecvShareSessionOperationEvent,
            public IOnRecvShareSessionMsg {
 public:
  BEGIN_COM_MAP(Ear)
  COM_INTERFACE_ENTRY(IOnRecvShareSessionOperationEvent)
  COM_INTERFACE_ENTRY(IOnRecvShareSessionMsg)
  END_COM_MAP()

  struct Heard {
    char kind;  // 'o' operation, 'r' result, 'n' notice
    int id;     // message id, or notice code
    std::string name;
    std::string payload;
  };

  static CComPtr<CComObject<Ear>> Make() {
    CComObject<Ear>* ear = nullptr;
    CComObject<Ear>::CreateInstance(&ear);
    return CComPtr<CComObject<Ear>>(ear);
  }

  STDMETHOD(OnRecvOperation)(IShareSessionMessage* request) override {
    Heard heard = Describe('o', request);
    std::lock_guard<std::mutex> lock(mutex);
    heard_.push_back(heard);
    if (keep) {
      kept.emplace_back(request);
    } else if (server != nullptr) {
      Answer(request, "served:" + heard.payload);
    }
    return S_OK;
  }
  STDMETHOD(OnRecvOperationResult)(IShareSessionMessage* result) override {
    Heard heard = Describe('r', result);
    std::lock_guard<std::mutex> lock(mutex);
    heard_.push_back(heard);
    return S_OK;
  }
  STDMETHOD(OnRecvShareSessionMsg)(int, int type, int, int) override {
    channel->BeginReadMessage();
    const BYTE* data = nullptr;
    int length = 0;
    channel->GetMessagePayload(&data, &length);
    Heard heard{'n', type, std::string(), Text(data, length)};
    channel->EndReadMessage();
    std::lock_guard<std::mutex> lock(mutex);
    heard_.push_back(heard);
    return S_OK;
  }

  // The serving side's answer to request: a result message with payload.
  void Answer(IShareSessionMessage* request, const std::string& payload) {
    CComPtr<IShareSessionMessage> result;
    ASSERT_EQ(S_OK, server->CreateResultMessage(request, &result));
    ASSERT_EQ(S_OK, result->SetPayloadSize(static_cast<int>(payload.size())));
    BYTE* data = nullptr;
    int size = 0;
    ASSERT_EQ(S_OK, result->GetPayload(&data, &size));
    if (size > 0) std::memcpy(data, payload.data(), payload.size());
  }

  // From now on requests are kept unanswered in `kept`.
  void KeepRequests() {
    std::lock_guard<std::mutex> lock(mutex);
    keep = true;
  }

  std::vector<Heard> All() {
    std::lock_guard<std::mutex> lock(mutex);
    return heard_;
  }
  std::vector<Heard> Of(char kind) {
    std::vector<Heard> out;
    for (const Heard& heard : All()) {
      if (heard.kind == kind) out.push_back(heard);
    }
    return out;
  }
  bool WaitFor(char kind, size_t count) {
    return ZQHost::WaitFor([&] { return Of(kind).size() >= count; });
  }

  std::mutex mutex;
  bool keep = false;  // serving: keep requests unanswered in `kept`
  std::vector<CComPtr<IShareSessionMessage>> kept;
  IShareSessionServer* server = nullptr;    // serving: answers with it (not owned)
  IShareSessionChannel* channel = nullptr;  // forwarding: reads payloads (not owned)

 private:
  static Heard Describe(char kind, IShareSessionMessage* message) {
    Heard heard{kind, 0, std::string(), std::string()};
    message->GetId(&heard.id);
    char name[256];
    if (message->GetName(name, sizeof name) == S_OK) heard.name = name;
    BYTE* data = nullptr;
    int size = 0;
    message->GetPayload(&data, &size);
    heard.payload = Text(data, size);
    return heard;
  }

  std::vector<Heard> heard_;
};

// One process of the session: a hub over the transport between processes, with one
// participant (role 1 serving the module, or role 0 forwarding) and its ear.
struct Process {
  CrossProcessTransport* link = nullptr;
  std::unique_ptr<ShareSessionHub> hub;
  CComPtr<IShareSessionManager> manager;
  CComPtr<IShareSessionServer> server;
  CComPtr<IShareSessionChannel> channel;
  CComPtr<CComObject<Ear>> ear = Ear::Make();
  std::mutex changes_mutex;
  std::vector<ShareSessionChange> changes;

  ~Process() {
    hub->Shutdown();
    {
      std::lock_guard<std::mutex> lock(ear->mutex);
      ear->kept.clear();
    }
    server.Release();
    channel.Release();
    manager.Release();
  }

  // Another forwarding participant of this process, with its own ear.
  CComPtr<IShareSessionChannel> Join(CComPtr<IShareSessionManager>& manager_out,
                                     CComObject<Ear>* other) {
    EXPECT_EQ(S_OK, CreateShareSessionManager(hub.get(), 0, &manager_out));
    CComPtr<IShareSessionChannel> other_channel;
    EXPECT_EQ(S_OK, manager_out->GetModuleChannel(kModule, 0, &other_channel));
    other_channel->AttachResultSink(other);
    return other_channel;
  }

  // Sends an operation message on channel (this participant's by default); its id.
  int Send(const std::string& name, const std::string& payload,
           IShareSessionChannel* on = nullptr) {
    IShareSessionChannel* target = on != nullptr ? on : channel.p;
    CComPtr<IShareSessionMessage> message;
    EXPECT_EQ(S_OK, target->CreateOperationMessage(&message));
    message->SetName(name.c_str());
    message->SetPayloadSize(static_cast<int>(payload.size()));
    BYTE* data = nullptr;
    int size = 0;
    message->GetPayload(&data, &size);
    if (size > 0) std::memcpy(data, payload.data(), payload.size());
    EXPECT_EQ(S_OK, target->SendOperationMessage(message));
    int id = 0;
    message->GetId(&id);
    return id;
  }

  void Publish(const std::string& payload, int notice) {
    ASSERT_EQ(S_OK, server->PublishData(reinterpret_cast<const BYTE*>(payload.data()),
                                        static_cast<int>(payload.size())));
    ASSERT_EQ(S_OK, server->PublishNotice(0, notice, 0, 0));
  }

  std::vector<ShareSessionChange> Changes() {
    std::lock_guard<std::mutex> lock(changes_mutex);
    return changes;
  }
};

class CrossProcessSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zqss-XXXXXX";  // short: socket paths are limited
    const char* made = mkdtemp(pattern);
    ASSERT_NE(nullptr, made);
    data_ = made;
  }
  void TearDown() override { std::filesystem::remove_all(data_); }

  // A process of side in the session of (data_, kUser); null with *error when refused.
  std::unique_ptr<Process> Start(Side side, std::string* error = nullptr) {
    CrossProcessTransport::Options options;
    options.data_root = data_;
    options.user = kUser;
    options.side = side;
    std::string problem;
    std::unique_ptr<CrossProcessTransport> link = CrossProcessTransport::Create(options, &problem);
    if (error != nullptr) *error = problem;
    if (link == nullptr) return nullptr;
    auto process = std::make_unique<Process>();
    process->link = link.get();
    process->hub = std::make_unique<ShareSessionHub>(std::move(link));
    Process* raw = process.get();
    if (side == Side::kServe) {
      EXPECT_EQ(S_OK, CreateShareSessionManager(raw->hub.get(), 1, &raw->manager));
      raw->manager->RegisterModule(kModule, 10);
      EXPECT_EQ(S_OK, raw->manager->GetModuleServer(kModule, 10, &raw->server));
      // Set before the handler can be called: its thread sees it through the attach.
      raw->ear->server = raw->server;
      raw->server->AttachOperationHandler(raw->ear);
    } else {
      EXPECT_EQ(S_OK, CreateShareSessionManager(raw->hub.get(), 0, &raw->manager));
      EXPECT_EQ(S_OK, raw->manager->GetModuleChannel(kModule, 0, &raw->channel));
      raw->ear->channel = raw->channel;
      raw->channel->AttachResultSink(raw->ear);
      raw->channel->AttachMessageSink(raw->ear);
    }
    raw->hub->ObserveChanges(raw->manager, [raw](const ShareSessionChange& change) {
      std::lock_guard<std::mutex> lock(raw->changes_mutex);
      raw->changes.push_back(change);
    });
    return process;
  }

  // Waits until the forwarders are joined to server.
  static bool Joined(Process* server, const std::vector<Process*>& forwarders) {
    return WaitFor([&] {
      for (Process* forwarder : forwarders) {
        if (forwarder->link->JoinedPeers() != 1) return false;
      }
      return server->link->JoinedPeers() == static_cast<int>(forwarders.size());
    });
  }

  std::string data_;
};

TEST_F(CrossProcessSessionTest, OperationIsServedInTheServingProcessAndAnsweredToItsSender) {
  std::unique_ptr<Process> server = Start(Side::kServe);
  std::unique_ptr<Process> forwarder = Start(Side::kForward);
  ASSERT_TRUE(server && forwarder);
  // A second participant in the forwarding process: answers go to the sender only.
  CComPtr<IShareSessionManager> other_manager;
  CComPtr<CComObject<Ear>> other = Ear::Make();
  CComPtr<IShareSessionChannel> other_channel = forwarder->Join(other_manager, other);

  // Sent at once: they wait for the forwarding process to finish joining.
  const std::string request("\x05\x00\x00\x00" "10001\xFF", 10);
  const int first = forwarder->Send("GetAlbumList", request);
  const int second = forwarder->Send("CreateAlbum", "album", other_channel);
  ASSERT_TRUE(forwarder->ear->WaitFor('r', 1));
  ASSERT_TRUE(other->WaitFor('r', 1));

  std::vector<Ear::Heard> served = server->ear->Of('o');
  ASSERT_EQ(2u, served.size());
  EXPECT_EQ("GetAlbumList", served[0].name);
  EXPECT_EQ(request, served[0].payload);
  EXPECT_EQ("CreateAlbum", served[1].name);
  std::vector<Ear::Heard> mine = forwarder->ear->Of('r');
  ASSERT_EQ(1u, mine.size());
  EXPECT_EQ(first, mine[0].id);
  EXPECT_EQ("GetAlbumList", mine[0].name);
  EXPECT_EQ("served:" + request, mine[0].payload);
  std::vector<Ear::Heard> theirs = other->Of('r');
  ASSERT_EQ(1u, theirs.size());
  EXPECT_EQ(second, theirs[0].id);
  EXPECT_EQ("served:album", theirs[0].payload);
  EXPECT_EQ(0u, forwarder->link->LostOperations());

  // A forwarding process that leaves is no longer a participant of the serving one.
  other_channel.Release();
  other_manager.Release();
  forwarder.reset();
  EXPECT_TRUE(WaitFor([&] { return server->link->JoinedPeers() == 0; }));
}

TEST_F(CrossProcessSessionTest, BroadcastsReachEveryForwarderInOrderAndBeforeTheirAnswer) {
  std::unique_ptr<Process> server = Start(Side::kServe);
  std::unique_ptr<Process> first = Start(Side::kForward);
  std::unique_ptr<Process> second = Start(Side::kForward);
  ASSERT_TRUE(server && first && second);
  ASSERT_TRUE(Joined(server.get(), {first.get(), second.get()}));
  server->ear->KeepRequests();
  const int id = first->Send("BatchCollect", "items");
  ASSERT_TRUE(server->ear->WaitFor('o', 1));

  const int kChanges = 25;
  for (int i = 0; i < kChanges; ++i) {
    ASSERT_NO_FATAL_FAILURE(server->Publish(ChangeRecord(kUser, std::to_string(i)), 10 + i));
  }
  {
    std::lock_guard<std::mutex> lock(server->ear->mutex);
    ASSERT_EQ(1u, server->ear->kept.size());
    server->ear->Answer(server->ear->kept[0], "collected");
    server->ear->kept.clear();  // the answer goes once the request is let go
  }
  ASSERT_TRUE(first->ear->WaitFor('r', 1));
  ASSERT_TRUE(second->ear->WaitFor('n', kChanges));

  for (Process* forwarder : {first.get(), second.get()}) {
    std::vector<Ear::Heard> notices = forwarder->ear->Of('n');
    ASSERT_EQ(static_cast<size_t>(kChanges), notices.size());
    for (int i = 0; i < kChanges; ++i) {
      EXPECT_EQ(10 + i, notices[i].id);
      EXPECT_EQ(ChangeRecord(kUser, std::to_string(i)), notices[i].payload);
    }
    std::vector<ShareSessionChange> changes = forwarder->Changes();
    ASSERT_EQ(static_cast<size_t>(kChanges), changes.size());
    EXPECT_EQ(10, changes[0].notice);
    EXPECT_EQ(kUser, changes[0].uin);
    EXPECT_EQ(ChangeRecord(kUser, "0").size(), changes[0].payload_size);
    EXPECT_TRUE(changes[0].applied);  // the sink answered S_OK
    EXPECT_FALSE(changes[0].served);
  }
  // The answer came after every broadcast the serving process sent before it.
  std::vector<Ear::Heard> heard = first->ear->All();
  ASSERT_EQ(static_cast<size_t>(kChanges + 1), heard.size());
  EXPECT_EQ('r', heard.back().kind);
  EXPECT_EQ(id, heard.back().id);
  EXPECT_EQ("collected", heard.back().payload);
  EXPECT_TRUE(second->ear->Of('r').empty());
  // The serving process saw its own broadcasts as served changes.
  std::vector<ShareSessionChange> published = server->Changes();
  ASSERT_EQ(static_cast<size_t>(kChanges), published.size());
  EXPECT_TRUE(published.back().served);
  EXPECT_TRUE(published.back().applied);
  EXPECT_EQ(10 + kChanges - 1, published.back().notice);
}

TEST_F(CrossProcessSessionTest, OneProcessServesASession) {
  EXPECT_FALSE(CrossProcessTransport::IsServed(data_, kUser));
  std::unique_ptr<Process> server = Start(Side::kServe);
  ASSERT_TRUE(server);
  EXPECT_TRUE(CrossProcessTransport::IsServed(data_, kUser));
  EXPECT_FALSE(CrossProcessTransport::IsServed(data_, "10002"));

  std::string error;
  EXPECT_EQ(nullptr, Start(Side::kServe, &error));
  EXPECT_EQ("another process already serves the share session of 10001 in " + data_, error);
  EXPECT_TRUE(CrossProcessTransport::IsServed(data_, kUser));  // the refused one took nothing

  server.reset();
  EXPECT_FALSE(CrossProcessTransport::IsServed(data_, kUser));
  server = Start(Side::kServe, &error);
  EXPECT_TRUE(server) << error;

  CrossProcessTransport::Options options;
  options.data_root = data_ + "/" + std::string(100, 'x');
  options.user = kUser;
  EXPECT_EQ(nullptr, CrossProcessTransport::Create(options, &error));
  EXPECT_NE(std::string::npos, error.find("bytes long")) << error;
}

TEST_F(CrossProcessSessionTest, ServingProcessGoneAnswersPendingWithEmptyPayloadsThenRejoins) {
  std::unique_ptr<Process> server = Start(Side::kServe);
  std::unique_ptr<Process> forwarder = Start(Side::kForward);
  ASSERT_TRUE(server && forwarder);
  ASSERT_TRUE(Joined(server.get(), {forwarder.get()}));
  server->ear->KeepRequests();  // it never answers
  const int id = forwarder->Send("GetCidDat", "u");
  ASSERT_TRUE(server->ear->WaitFor('o', 1));

  server.reset();  // its lock goes as it would when the process is killed
  ASSERT_TRUE(forwarder->ear->WaitFor('r', 1));
  std::vector<Ear::Heard> answers = forwarder->ear->Of('r');
  EXPECT_EQ(id, answers[0].id);
  EXPECT_EQ("GetCidDat", answers[0].name);
  EXPECT_EQ("", answers[0].payload);
  EXPECT_EQ(1u, forwarder->link->LostOperations());
  EXPECT_EQ(0, forwarder->link->JoinedPeers());

  // Nobody serves: answered empty at once.
  const int alone = forwarder->Send("GetAlbumList", "u");
  ASSERT_TRUE(forwarder->ear->WaitFor('r', 2));
  EXPECT_EQ(alone, forwarder->ear->Of('r')[1].id);
  EXPECT_EQ("", forwarder->ear->Of('r')[1].payload);
  EXPECT_EQ(2u, forwarder->link->LostOperations());

  // A serving process comes back: the forwarding one joins it by itself.
  server = Start(Side::kServe);
  ASSERT_TRUE(server);
  ASSERT_TRUE(Joined(server.get(), {forwarder.get()}));
  const int again = forwarder->Send("GetAlbumList", "u");
  ASSERT_TRUE(forwarder->ear->WaitFor('r', 3));
  EXPECT_EQ(again, forwarder->ear->Of('r')[2].id);
  EXPECT_EQ("served:u", forwarder->ear->Of('r')[2].payload);
  EXPECT_EQ(2u, forwarder->link->LostOperations());
}

TEST_F(CrossProcessSessionTest, QuickRestartOfTheServingProcessIsStillALoss) {
  std::unique_ptr<Process> server = Start(Side::kServe);
  std::unique_ptr<Process> forwarder = Start(Side::kForward);
  ASSERT_TRUE(server && forwarder);
  ASSERT_TRUE(Joined(server.get(), {forwarder.get()}));
  server->ear->KeepRequests();
  const int id = forwarder->Send("RemoveAlbum", "u");
  ASSERT_TRUE(server->ear->WaitFor('o', 1));

  server.reset();
  server = Start(Side::kServe);  // a new instance, up before anyone looked
  ASSERT_TRUE(server);
  ASSERT_TRUE(forwarder->ear->WaitFor('r', 1));
  EXPECT_EQ(id, forwarder->ear->Of('r')[0].id);
  EXPECT_EQ("", forwarder->ear->Of('r')[0].payload);
  ASSERT_TRUE(Joined(server.get(), {forwarder.get()}));
  forwarder->Send("RemoveAlbum", "v");
  ASSERT_TRUE(forwarder->ear->WaitFor('r', 2));
  EXPECT_EQ("served:v", forwarder->ear->Of('r')[1].payload);
  EXPECT_TRUE(server->ear->Of('o').size() == 1);  // the new instance never saw the first
}

// ---------------------------------------------------------------- bad frames

struct BadFrame {
  const char* name;
  std::function<std::vector<std::string>()> parts;  // the message a raw socket sends
  const char* logged;                                // in the one line it causes
};

std::string Encoded(const ShareSessionFrame& frame) {
  std::vector<uint8_t> bytes = EncodeShareSessionFrame(frame);
  return std::string(bytes.begin(), bytes.end());
}

ShareSessionFrame AnOperation() {
  ShareSessionFrame frame;
  frame.type = ShareSessionFrame::Type::kOperation;
  frame.instance = 42;
  frame.message_id = 1;
  frame.module = kModule;
  frame.name = "GetAlbumList";
  frame.payload.assign(64, 'p');
  return frame;
}

class CrossProcessBadFrameTest : public CrossProcessSessionTest,
                                 public ::testing::WithParamInterface<BadFrame> {};

TEST_P(CrossProcessBadFrameTest, IsDroppedWithOneLineAndTheSessionGoesOn) {
  std::unique_ptr<Process> server = Start(Side::kServe);
  std::unique_ptr<Process> forwarder = Start(Side::kForward);
  ASSERT_TRUE(server && forwarder);
  ASSERT_TRUE(Joined(server.get(), {forwarder.get()}));

  ShareSessionEndpoint endpoint;
  std::string error;
  ASSERT_TRUE(ShareSessionEndpoint::Resolve(data_, kUser, &endpoint, &error)) << error;
  void* context = zmq_ctx_new();
  void* raw = zmq_socket(context, ZMQ_DEALER);
  const int zero = 0;
  zmq_setsockopt(raw, ZMQ_LINGER, &zero, sizeof(zero));
  ASSERT_EQ(0, zmq_connect(raw, endpoint.Address().c_str()));

  ::testing::internal::CaptureStderr();
  const std::vector<std::string> parts = GetParam().parts();
  for (size_t i = 0; i < parts.size(); ++i) {
    const int more = i + 1 < parts.size() ? ZMQ_SNDMORE : 0;
    ASSERT_EQ(static_cast<int>(parts[i].size()),
              zmq_send(raw, parts[i].data(), parts[i].size(), more));
  }
  // A hello after it on the same connection: once welcomed, the bad one was handled.
  ShareSessionFrame hello;
  hello.type = ShareSessionFrame::Type::kHello;
  hello.instance = 42;
  const std::string hello_bytes = Encoded(hello);
  zmq_send(raw, hello_bytes.data(), hello_bytes.size(), 0);
  char reply[64];
  const int got = zmq_recv(raw, reply, sizeof(reply), 0);
  const std::string logged = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(static_cast<int>(kShareSessionFrameHeaderSize), got);
  EXPECT_EQ(static_cast<uint8_t>(ShareSessionFrame::Type::kWelcome), static_cast<uint8_t>(reply[5]));

  EXPECT_EQ(0u, logged.find("zqblog host: share session: dropped")) << logged;
  EXPECT_EQ(1, std::count(logged.begin(), logged.end(), '\n')) << logged;
  EXPECT_NE(std::string::npos, logged.find(GetParam().logged)) << logged;
  EXPECT_TRUE(server->ear->Of('o').empty());  // nothing reached a participant

  // The session goes on: an operation of the real forwarding process is served.
  forwarder->Send("GetAlbumList", "after");
  ASSERT_TRUE(forwarder->ear->WaitFor('r', 1));
  EXPECT_EQ("served:after", forwarder->ear->Of('r')[0].payload);
  zmq_close(raw);
  zmq_ctx_term(context);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, CrossProcessBadFrameTest,
    ::testing::Values(
        BadFrame{"garbage", [] { return std::vector<std::string>{"hello, anyone there?"}; },
                 "bad magic"},
        BadFrame{"truncated",
                 [] {
                   std::string bytes = Encoded(AnOperation());
                   return std::vector<std::string>{bytes.substr(0, bytes.size() - 10)};
                 },
                 "truncated payload"},
        BadFrame{"foreign_version",
                 [] {
                   std::string bytes = Encoded(AnOperation());
                   bytes[4] = 9;
                   return std::vector<std::string>{bytes};
                 },
                 "version 9"},
        BadFrame{"oversized",
                 [] {
                   std::string bytes = Encoded(AnOperation());
                   bytes.resize(kShareSessionFrameMaxSize + 1, 'x');
                   return std::vector<std::string>{bytes};
                 },
                 "oversized"},
        BadFrame{"two_parts",
                 [] {
                   return std::vector<std::string>{Encoded(AnOperation()), Encoded(AnOperation())};
                 },
                 "2 parts"},
        BadFrame{"serving_only_type",
                 [] {
                   ShareSessionFrame result = AnOperation();
                   result.type = ShareSessionFrame::Type::kResult;
                   return std::vector<std::string>{Encoded(result)};
                 },
                 "result frame"}),
    [](const ::testing::TestParamInfo<BadFrame>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
