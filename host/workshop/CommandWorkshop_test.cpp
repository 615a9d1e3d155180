#include "host/workshop/CommandWorkshop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/http/HttpConnectionService.h"
#include "host/test/FakeWorkshopCommand.h"
#include "host/test/TestHttpServer.h"
#include "interfaces/IHttpConnectionClientEvents.h"

namespace Velmora {
namespace ZQHost {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
typedef CComPtr<CComObject<FakeWorkshopCommand>> FakePtr;

constexpr milliseconds kWait = seconds(10);

// Waits until condition holds or timeout passes.
template <class Condition>
bool Eventually(Condition condition, milliseconds timeout = kWait) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return true;
}

int StateOf(IWorkshopCmd* command) {
  int state = -1;
  command->GetState(&state);
  return state;
}

TEST(CommandWorkshopTest, StartsAndStepsOnItsOwnThreadThenLetsGo) {
  CommandWorkshop workshop;
  auto destroyed = std::make_shared<std::atomic<bool>>(false);
  FakePtr command = FakeWorkshopCommand::Create(destroyed);
  command->ScriptSteps({2, 5});
  ASSERT_EQ(S_OK, workshop.AddCommand(command));
  ASSERT_TRUE(Eventually([&]() { return StateOf(command) == 2; }));
  EXPECT_EQ(1, command->StartCalls());

  // Connection events come on another thread; the steps never run there.
  std::thread::id connection_thread;
  std::thread([&]() {
    connection_thread = std::this_thread::get_id();
    command->Fire();
  }).join();
  ASSERT_TRUE(Eventually([&]() { return command->StepCalls() == 1 && StateOf(command) == 2; }));
  std::thread([&]() { command->Fire(); }).join();

  EXPECT_EQ(CommandWorkshop::WaitResult::kFinished, workshop.WaitForCommand(command, kWait));
  EXPECT_EQ(5, StateOf(command));
  EXPECT_EQ(2, command->StepCalls());
  for (std::thread::id thread : command->Threads()) {
    EXPECT_EQ(workshop.ThreadId(), thread);
    EXPECT_NE(connection_thread, thread);
    EXPECT_NE(std::this_thread::get_id(), thread);
  }
  EXPECT_TRUE(workshop.WaitForAll(kWait));
  EXPECT_EQ(0u, workshop.PendingCount());
  // The workshop dropped its reference: ours is the last one.
  command.Release();
  EXPECT_TRUE(destroyed->load());
}

TEST(CommandWorkshopTest, KeepsACommandAliveUntilItEnds) {
  CommandWorkshop workshop;
  auto destroyed = std::make_shared<std::atomic<bool>>(false);
  CComObject<FakeWorkshopCommand>* raw = nullptr;
  {
    FakePtr command = FakeWorkshopCommand::Create(destroyed);
    command->ScriptSteps({6});
    raw = command;
    ASSERT_EQ(S_OK, workshop.AddCommand(command));
    ASSERT_TRUE(Eventually([&]() { return StateOf(command) == 2; }));
  }  // the caller lets go while the command runs
  EXPECT_FALSE(destroyed->load());
  EXPECT_EQ(1u, workshop.PendingCount());
  raw->Fire();  // the workshop's reference keeps raw valid
  ASSERT_TRUE(workshop.WaitForAll(kWait));
  EXPECT_TRUE(Eventually([&]() { return destroyed->load(); }));
}

TEST(CommandWorkshopTest, ForwardedCommandStaysInStateZeroUntilItsResult) {
  CommandWorkshop workshop;
  FakePtr command = FakeWorkshopCommand::Create();
  command->ScriptStart(0, S_OK);
  ASSERT_EQ(S_OK, workshop.AddCommand(command));
  CommandWorkshop::StartInfo info;
  ASSERT_TRUE(workshop.WaitForStart(command, kWait, &info));
  EXPECT_EQ(S_OK, info.result);
  EXPECT_EQ(0, info.state);
  EXPECT_EQ(CommandWorkshop::WaitResult::kTimedOut,
            workshop.WaitForCommand(command, milliseconds(100)));
  EXPECT_EQ(1u, workshop.PendingCount());
  // The result message arrives on the share-session thread and ends the command.
  std::thread([&]() {
    int old = 0;
    command->SetState(5, &old);
  }).join();
  EXPECT_EQ(CommandWorkshop::WaitResult::kFinished, workshop.WaitForCommand(command, kWait));
  EXPECT_EQ(0, command->StepCalls());
  EXPECT_TRUE(workshop.WaitForAll(kWait));
}

TEST(CommandWorkshopTest, CommandWhoseStartFailsIsGivenUpOrFinished) {
  CommandWorkshop workshop;
  auto destroyed = std::make_shared<std::atomic<bool>>(false);
  FakePtr refused = FakeWorkshopCommand::Create(destroyed);
  refused->ScriptStart(0, E_FAIL);  // an unknown role: E_FAIL, state unchanged
  FakePtr failed = FakeWorkshopCommand::Create();
  failed->ScriptStart(6, E_FAIL);  // no connection: state 6
  ASSERT_EQ(S_OK, workshop.AddCommand(refused));
  ASSERT_EQ(S_OK, workshop.AddCommand(failed));
  EXPECT_EQ(CommandWorkshop::WaitResult::kGivenUp, workshop.WaitForCommand(refused, kWait));
  EXPECT_EQ(CommandWorkshop::WaitResult::kFinished, workshop.WaitForCommand(failed, kWait));
  CommandWorkshop::StartInfo info;
  ASSERT_TRUE(workshop.WaitForStart(refused, kWait, &info));
  EXPECT_EQ(E_FAIL, info.result);
  EXPECT_EQ(0, info.state);
  EXPECT_TRUE(workshop.WaitForAll(kWait));  // a given-up command does not hold it up
  refused.Release();
  EXPECT_TRUE(destroyed->load());
}

TEST(CommandWorkshopTest, StateSetFromOutsideEndsTheCommandWithoutAStep) {
  CommandWorkshop workshop;
  FakePtr command = FakeWorkshopCommand::Create();
  ASSERT_EQ(S_OK, workshop.AddCommand(command));
  ASSERT_TRUE(Eventually([&]() { return StateOf(command) == 2; }));
  int old = 0;
  command->SetState(7, &old);
  EXPECT_EQ(CommandWorkshop::WaitResult::kFinished, workshop.WaitForCommand(command, kWait));
  EXPECT_EQ(0, command->StepCalls());
}

TEST(CommandWorkshopTest, AddingTwiceRunsOnceAndRefusalsAreReported) {
  CommandWorkshop workshop;
  FakePtr command = FakeWorkshopCommand::Create();
  command->ScriptStart(0, S_OK);
  ASSERT_EQ(S_OK, workshop.AddCommand(command));
  EXPECT_EQ(S_FALSE, workshop.AddCommand(command));
  ASSERT_TRUE(workshop.WaitForStart(command, kWait, nullptr));
  EXPECT_EQ(1, command->StartCalls());
  EXPECT_EQ(1u, command->SinkCount());
  EXPECT_EQ(E_POINTER, workshop.AddCommand(nullptr));

  FakePtr refusing = FakeWorkshopCommand::Create();
  refusing->RefuseSinks(E_OUTOFMEMORY);
  EXPECT_EQ(E_OUTOFMEMORY, workshop.AddCommand(refusing));
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(0, refusing->StartCalls());
  EXPECT_FALSE(workshop.WaitForStart(refusing, milliseconds(10), nullptr));

  FakePtr stranger = FakeWorkshopCommand::Create();
  EXPECT_EQ(CommandWorkshop::WaitResult::kUnknown,
            workshop.WaitForCommand(stranger, milliseconds(10)));
  int old = 0;
  stranger->SetState(8, &old);
  EXPECT_EQ(CommandWorkshop::WaitResult::kFinished,
            workshop.WaitForCommand(stranger, milliseconds(10)));
  int end = 0;
  command->SetState(5, &end);
}

TEST(CommandWorkshopTest, InterfaceSlotsAndLifeAfterTheWorkshop) {
  CComPtr<IZQCPCommandWorkshop> face;
  FakePtr command = FakeWorkshopCommand::Create();
  command->ScriptStart(2, S_OK);
  {
    CommandWorkshop workshop;
    ASSERT_EQ(S_OK, workshop.GetInterface(&face));
    CComPtr<IZQCPCommandWorkshop> again;
    ASSERT_EQ(S_OK, workshop.GetInterface(&again));
    EXPECT_EQ(face.p, again.p);
    EXPECT_EQ(E_NOTIMPL, face->Reserved1());
    EXPECT_EQ(E_NOTIMPL, face->Reserved2());
    EXPECT_EQ(E_NOTIMPL, face->Reserved3());
    EXPECT_EQ(E_NOTIMPL, face->Reserved4());
    CComPtr<IZQCPCommandWorkshop> queried;
    EXPECT_EQ(S_OK, face.QueryInterface(&queried));
    ASSERT_EQ(S_OK, face->AddCommand(command));
    ASSERT_TRUE(Eventually([&]() { return StateOf(command) == 2; }));
  }  // the workshop goes while the command still runs
  FakePtr late = FakeWorkshopCommand::Create();
  EXPECT_EQ(E_UNEXPECTED, face->AddCommand(late));
  // The command's events reach a sink whose workshop is gone: nothing happens.
  command->Fire();
  EXPECT_EQ(0, command->StepCalls());
  EXPECT_EQ(3, StateOf(command));
}

TEST(CommandWorkshopTest, ManyCommandsFiredFromManyThreadsAllFinish) {
  CommandWorkshop workshop;
  constexpr int kCommands = 16;
  constexpr int kSteps = 20;
  std::vector<FakePtr> commands;
  for (int i = 0; i < kCommands; ++i) {
    commands.push_back(FakeWorkshopCommand::Create());
    std::deque<int> script(kSteps - 1, 2);
    script.push_back(5);
    commands.back()->ScriptSteps(script);
    ASSERT_EQ(S_OK, workshop.AddCommand(commands.back()));
  }
  // Each "connection" fires whenever its command is back in state 2, as events would.
  std::vector<std::thread> connections;
  for (int i = 0; i < kCommands; ++i) {
    connections.emplace_back([&, i]() {
      FakeWorkshopCommand* command = commands[i];
      for (int fired = 0; fired < kSteps;) {
        if (StateOf(command) == 2 && command->StepCalls() == fired) {
          command->Fire();
          fired++;
        } else {
          std::this_thread::yield();
        }
      }
    });
  }
  for (auto& thread : connections) thread.join();
  ASSERT_TRUE(workshop.WaitForAll(seconds(30)));
  for (const auto& command : commands) {
    EXPECT_EQ(5, StateOf(command));
    EXPECT_EQ(kSteps, command->StepCalls());
    for (std::thread::id thread : command->Threads()) EXPECT_EQ(workshop.ThreadId(), thread);
  }
}

// ---------------------------------------------------------------- with real HTTP

// A command that fetches one path over the host's HTTP service the way the plug-in's
// commands do: events record what arrived and ask for a step; Step does the work.
class FetchCommand : public CComObjectRootEx<CComMultiThreadModel>,
                     public IWorkshopCmd,
                     public IHttpConnectionClientEvents {
 public:
  BEGIN_COM_MAP(FetchCommand)
  COM_INTERFACE_ENTRY(IWorkshopCmd)
  END_COM_MAP()

  FetchCommand() { InitializeCriticalSection(&lock_); }
  ~FetchCommand() {
    sinks_.clear();
    DeleteCriticalSection(&lock_);
  }

  void Init(IHttpConnectionFactory* factory, uint16_t port, const char* path) {
    factory_ = factory;
    port_ = port;
    path_ = path;
  }

  // IWorkshopCmd
  STDMETHOD(AddEventSink)(ICmdEvent* sink) override {
    EnterCriticalSection(&lock_);
    sinks_.emplace_back(sink);
    LeaveCriticalSection(&lock_);
    return S_OK;
  }
  STDMETHOD(GetState)(int* state) override {
    *state = state_.load();
    return S_OK;
  }
  STDMETHOD(SetState)(int newState, int* oldState) override {
    EnterCriticalSection(&lock_);
    int current = state_.load();
    if (current != newState) {
      *oldState = current;
      state_ = newState;
      for (size_t i = 0; i < sinks_.size(); ++i) sinks_[i]->OnStateChanged(this, current, newState);
    }
    LeaveCriticalSection(&lock_);
    return S_OK;
  }
  STDMETHOD(Reserved1)() override { return E_FAIL; }
  STDMETHOD(Reserved2)(void*) override { return E_FAIL; }
  STDMETHOD(Start)() override {
    EnterCriticalSection(&lock_);
    int old = 0;
    if (FAILED(factory_->CreateConnection(0, nullptr, &connection_))) {
      SetState(6, &old);
      LeaveCriticalSection(&lock_);
      return E_FAIL;
    }
    connection_->SetServer(MakeCountedString("blog.velmora.cn"), port_);
    connection_->Advise(this);
    connection_->Open();
    SetState(2, &old);
    LeaveCriticalSection(&lock_);
    return S_OK;
  }
  STDMETHOD(Step)() override {
    EnterCriticalSection(&lock_);
    RecordThread(&step_threads_);
    int old = 0;
    switch (phase_.load()) {
      case 1: {
        CComPtr<IHttpRequest> request;
        factory_->CreateRequest(&request, MakeCountedString("GET"),
                                MakeCountedString(path_.c_str()),
                                MakeCountedString("1.1"));
        connection_->Send(request, nullptr);
        SetState(2, &old);
        break;
      }
      case 2:
        connection_->Continue();
        SetState(2, &old);
        break;
      case 3:
        End(5);
        break;
      case 4:
        End(6);
        break;
    }
    LeaveCriticalSection(&lock_);
    return S_OK;
  }
  STDMETHOD(Reserved3)() override { return S_OK; }
  STDMETHOD(Reserved4)() override { return E_FAIL; }
  STDMETHOD(GetDescription)(BSTR* description) override {
    *description = SysAllocString(L"");
    return S_OK;
  }

  // IHttpConnectionClientEvents (reached through the advised pointer only)
  STDMETHOD(OnConnect)(int error, void*) override { return Event(error == 0 ? 1 : 4); }
  STDMETHOD(OnSendComplete)(int error, void*) override { return Event(error == 0 ? 2 : 4); }
  STDMETHOD(OnHeaders)(IHttpReplyHeaders*, void*) override { return Event(2); }
  STDMETHOD(OnData)(IHttpBuffer* body, void*) override {
    Append(body);
    return Event(2);
  }
  STDMETHOD(OnComplete)(int error, IHttpReplyHeaders*, IHttpBuffer* body, void*) override {
    if (error == 0) Append(body);
    return Event(error == 0 ? 3 : 4);
  }

  std::string Body() {
    std::lock_guard<std::mutex> guard(mutex_);
    return body_;
  }
  std::vector<std::thread::id> StepThreads() {
    std::lock_guard<std::mutex> guard(mutex_);
    return step_threads_;
  }
  std::vector<std::thread::id> EventThreads() {
    std::lock_guard<std::mutex> guard(mutex_);
    return event_threads_;
  }

 private:
  HRESULT Event(int phase) {
    RecordThread(&event_threads_);
    phase_ = phase;
    int old = 0;
    SetState(3, &old);
    return S_OK;
  }
  void Append(IHttpBuffer* body) {
    if (body == nullptr) return;
    BYTE* data = nullptr;
    int length = 0;
    body->GetData(&data, &length);
    std::lock_guard<std::mutex> guard(mutex_);
    body_.append(reinterpret_cast<char*>(data), static_cast<size_t>(length));
  }
  void RecordThread(std::vector<std::thread::id>* threads) {
    std::lock_guard<std::mutex> guard(mutex_);
    threads->push_back(std::this_thread::get_id());
  }
  void End(int state) {
    connection_->Unadvise(this);
    connection_->Close();
    connection_.Release();
    int old = 0;
    SetState(state, &old);
  }

  CRITICAL_SECTION lock_;
  std::vector<CComPtr<ICmdEvent>> sinks_;
  std::atomic<int> state_{0};
  std::atomic<int> phase_{0};
  CComPtr<IHttpConnectionFactory> factory_;
  CComPtr<IHttpConnection> connection_;
  uint16_t port_ = 80;
  std::string path_;
  std::mutex mutex_;
  std::string body_;
  std::vector<std::thread::id> step_threads_;
  std::vector<std::thread::id> event_threads_;
};

TEST(CommandWorkshopTest, RunsAnHttpExchangeStepOnTheWorkshopEventsOnTheConnection) {
  TestHttpServer server([](TestHttpServer::Exchange& exchange) {
    exchange.WriteRaw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    for (int i = 0; i < 3; ++i) {
      exchange.WriteRaw("5\r\npart" + std::to_string(i) + "\r\n");
      std::this_thread::sleep_for(milliseconds(20));
    }
    exchange.WriteRaw("0\r\n\r\n");
  });
  HttpConnectionService http;
  http.SetReadPieceBytes(4);
  http.ResolverTable().Map("blog.velmora.cn", 80, {"127.0.0.1", server.Port()});
  CComPtr<IHttpConnectionFactory> factory;
  ASSERT_EQ(S_OK, http.GetFactory(&factory));
  CommandWorkshop workshop;

  CComObject<FetchCommand>* object = nullptr;
  CComObject<FetchCommand>::CreateInstance(&object);
  CComPtr<IWorkshopCmd> command(object);
  object->Init(factory, 80, "/albums.xml");
  ASSERT_EQ(S_OK, workshop.AddCommand(command));
  ASSERT_EQ(CommandWorkshop::WaitResult::kFinished, workshop.WaitForCommand(command, kWait));
  EXPECT_EQ(5, StateOf(command));
  EXPECT_EQ("part0part1part2", object->Body());
  auto steps = object->StepThreads();
  auto events = object->EventThreads();
  EXPECT_GE(steps.size(), 5u);  // connect, sent, headers, pieces..., complete
  EXPECT_EQ(steps.size(), events.size());  // one step per event
  for (auto thread : steps) EXPECT_EQ(workshop.ThreadId(), thread);
  for (auto thread : events) EXPECT_EQ(http.ConnectionThreadId(), thread);
  EXPECT_NE(workshop.ThreadId(), http.ConnectionThreadId());
  ASSERT_EQ(1u, server.Requests().size());
  EXPECT_EQ("/albums.xml", server.Requests()[0].target());
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
