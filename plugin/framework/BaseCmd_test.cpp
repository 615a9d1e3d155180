#include "framework/BaseCmd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "test/FrameworkTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using framework_testing::ModuleLockWatch;
using framework_testing::RecordingSink;
using framework_testing::RefCount;

// The smallest command: Start registers its own sink, as every real command does.
class TestCmd : public BaseCmd {
 public:
  BEGIN_COM_MAP(TestCmd)
  COM_INTERFACE_ENTRY(IWorkshopCmd)
  END_COM_MAP()

  ~TestCmd() override {
    if (destroyed != nullptr) *destroyed = true;
  }

  STDMETHOD(Start)() override { return AddEventSink(SelfSink()); }
  STDMETHOD(Step)() override { return S_OK; }
  STDMETHOD(Reserved3)() override { return S_OK; }
  STDMETHOD(Reserved4)() override { return E_FAIL; }
  void ReleaseConnection() override { ++releaseConnectionCalls; }

  using BaseCmd::AddDescriptionLine;
  using BaseCmd::SelfSink;

  std::atomic<int> releaseConnectionCalls{0};
  bool* destroyed = nullptr;
};

// A new command held by the test (one reference).
CComPtr<CComObject<TestCmd>> NewCmd() {
  CComObject<TestCmd>* created = nullptr;
  EXPECT_EQ(S_OK, CComObject<TestCmd>::CreateInstance(&created));
  return CComPtr<CComObject<TestCmd>>(created);
}

int StateOf(IWorkshopCmd* command) {
  int state = -1;
  EXPECT_EQ(S_OK, command->GetState(&state));
  return state;
}

std::wstring DescriptionOf(IWorkshopCmd* command) {
  BSTR text = nullptr;
  EXPECT_EQ(S_OK, command->GetDescription(&text));
  EXPECT_NE(nullptr, text) << "the description is never a null BSTR";
  std::wstring result = text != nullptr ? std::wstring(text, SysStringLen(text)) : L"<null>";
  SysFreeString(text);
  return result;
}

TEST(BaseCmdTest, FreshCommandAnswersItsBookkeepingSlots) {
  auto cmd = NewCmd();
  EXPECT_EQ(0, StateOf(cmd));
  EXPECT_EQ(E_FAIL, cmd->Reserved1());
  EXPECT_EQ(E_FAIL, cmd->Reserved2(cmd.p));
  EXPECT_EQ(L"", DescriptionOf(cmd));
  EXPECT_EQ(E_POINTER, cmd->GetState(nullptr));
  EXPECT_EQ(E_POINTER, cmd->GetDescription(nullptr));
  EXPECT_EQ(E_POINTER, cmd->AddEventSink(nullptr));

  // The command's ICmdEvent is reached only as a raw pointer.
  void* sink = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, cmd->QueryInterface(IidOf<ICmdEvent>(), &sink));
  EXPECT_EQ(nullptr, sink);
  CComPtr<IWorkshopCmd> workshopCmd;
  EXPECT_EQ(S_OK, cmd.QueryInterface(&workshopCmd));
  EXPECT_EQ(static_cast<IWorkshopCmd*>(cmd.p), workshopCmd.p);
}

TEST(BaseCmdTest, DescriptionEndsEveryLineWithCrLf) {
  auto cmd = NewCmd();
  cmd->AddDescriptionLine(L"first");
  cmd->AddDescriptionLine(L"");
  cmd->AddDescriptionLine(L"third line");
  EXPECT_EQ(L"first\r\n\r\nthird line\r\n", DescriptionOf(cmd));
}

TEST(BaseCmdTest, AddEventSinkHoldsOneReferenceAndRefusesDuplicates) {
  auto cmd = NewCmd();
  CComPtr<RecordingSink> sink(new RecordingSink);
  ASSERT_EQ(1u, RefCount(sink));

  EXPECT_EQ(S_OK, cmd->AddEventSink(sink));
  EXPECT_EQ(2u, RefCount(sink));
  EXPECT_EQ(S_FALSE, cmd->AddEventSink(sink));
  EXPECT_EQ(2u, RefCount(sink)) << "a duplicate takes no reference";

  int old = -1;
  EXPECT_EQ(S_OK, cmd->SetState(2, &old));
  EXPECT_EQ(S_OK, cmd->SetState(3, &old));
  EXPECT_EQ((std::vector<int>{2, 3}), sink->newStates()) << "told once per change";
}

TEST(BaseCmdTest, SetStateTellsEverySinkInOrderWithOldAndNewState) {
  auto cmd = NewCmd();
  std::vector<std::string> order;
  CComPtr<RecordingSink> first(new RecordingSink);
  CComPtr<RecordingSink> second(new RecordingSink);
  first->onChange = [&](IWorkshopCmd*, int) { order.push_back("first"); };
  second->onChange = [&](IWorkshopCmd*, int) { order.push_back("second"); };
  ASSERT_EQ(S_OK, cmd->AddEventSink(first));
  ASSERT_EQ(S_OK, cmd->AddEventSink(second));

  int old = -1;
  EXPECT_EQ(S_OK, cmd->SetState(2, &old));
  EXPECT_EQ(0, old);
  EXPECT_EQ(S_OK, cmd->SetState(3, &old));
  EXPECT_EQ(2, old);
  EXPECT_EQ(3, StateOf(cmd));
  EXPECT_EQ((std::vector<std::string>{"first", "second", "first", "second"}), order);

  auto changes = second->changes();
  ASSERT_EQ(2u, changes.size());
  EXPECT_EQ(static_cast<IWorkshopCmd*>(cmd.p), changes[0].command);
  EXPECT_EQ(0, changes[0].oldState);
  EXPECT_EQ(2, changes[0].newState);
  EXPECT_EQ(2, changes[1].oldState);
  EXPECT_EQ(3, changes[1].newState);

  // A null out-argument is allowed: the change still happens and is told.
  EXPECT_EQ(S_OK, cmd->SetState(2, nullptr));
  EXPECT_EQ(2, StateOf(cmd));
  EXPECT_EQ(3u, first->changes().size());
}

TEST(BaseCmdTest, SetStateToTheCurrentStateChangesNothingAndTellsNobody) {
  auto cmd = NewCmd();
  CComPtr<RecordingSink> sink(new RecordingSink);
  ASSERT_EQ(S_OK, cmd->AddEventSink(sink));
  int old = -1;
  ASSERT_EQ(S_OK, cmd->SetState(2, &old));

  old = 12345;
  EXPECT_EQ(S_OK, cmd->SetState(2, &old));
  EXPECT_EQ(12345, old) << "the out-argument is left untouched";
  EXPECT_EQ(1u, sink->changes().size());
  EXPECT_EQ(2, StateOf(cmd));
}

TEST(BaseCmdTest, SinkMayCallBackIntoTheCommandOnTheSameThread) {
  auto cmd = NewCmd();
  CComPtr<RecordingSink> sink(new RecordingSink);
  std::vector<int> seen;
  sink->onChange = [&](IWorkshopCmd* command, int newState) {
    int now = -1;
    command->GetState(&now);
    seen.push_back(now);
    if (newState == 3) command->SetState(2, nullptr);  // the lock is re-entrant
  };
  ASSERT_EQ(S_OK, cmd->AddEventSink(sink));
  EXPECT_EQ(S_OK, cmd->SetState(3, nullptr));
  EXPECT_EQ(2, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{3, 2}), seen);
}

// Every terminal state makes the command release its connection and drop its own sink
// (and with it the reference that sink held on the command).
class BaseCmdTerminalTest : public ::testing::TestWithParam<int> {};

TEST_P(BaseCmdTerminalTest, ReleasesConnectionAndOwnSinkKeepingEarlierSinks) {
  const int terminal = GetParam();
  auto cmd = NewCmd();
  CComPtr<RecordingSink> host(new RecordingSink);
  ASSERT_EQ(S_OK, cmd->AddEventSink(host));
  ASSERT_EQ(S_OK, cmd->Start());
  EXPECT_EQ(2u, RefCount(static_cast<IWorkshopCmd*>(cmd.p))) << "own sink holds the command";
  ASSERT_EQ(S_OK, cmd->SetState(2, nullptr));
  EXPECT_EQ(0, cmd->releaseConnectionCalls.load());

  int old = -1;
  EXPECT_EQ(S_OK, cmd->SetState(terminal, &old));
  EXPECT_EQ(2, old);
  EXPECT_EQ(terminal, StateOf(cmd));
  EXPECT_EQ(1, cmd->releaseConnectionCalls.load());
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p))) << "own reference dropped";
  EXPECT_EQ((std::vector<int>{2, terminal}), host->newStates()) << "earlier sink told";

  // The own sink is gone from the list: registering it again is a new entry, which
  // hears of the end at once and drops itself again.
  EXPECT_EQ(S_OK, cmd->AddEventSink(cmd->SelfSink()));
  EXPECT_EQ(2, cmd->releaseConnectionCalls.load());
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p)));
  // The earlier sink is still there.
  EXPECT_EQ(S_FALSE, cmd->AddEventSink(host));
  ASSERT_EQ(S_OK, cmd->SetState(1, nullptr));
  EXPECT_EQ(3u, host->changes().size());
  // Registered while not ended, the own sink drops itself at the next end.
  EXPECT_EQ(S_OK, cmd->AddEventSink(cmd->SelfSink()));
  ASSERT_EQ(S_OK, cmd->SetState(terminal, nullptr));
  EXPECT_EQ(3, cmd->releaseConnectionCalls.load());
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p)));
}

INSTANTIATE_TEST_SUITE_P(EveryTerminalState, BaseCmdTerminalTest, ::testing::Values(5, 6, 7, 8));

TEST(BaseCmdTest, SelfWatchIgnoresOtherCommandsAndNonTerminalStates) {
  auto cmd = NewCmd();
  auto other = NewCmd();
  ASSERT_EQ(S_OK, cmd->Start());
  ICmdEvent* self = cmd->SelfSink();

  EXPECT_EQ(S_OK, self->OnStateChanged(other, 2, 5));
  EXPECT_EQ(S_OK, self->OnStateChanged(nullptr, 2, 6));
  for (int state : {0, 1, 2, 3, 4, 9, -1}) {
    EXPECT_EQ(S_OK, self->OnStateChanged(cmd, 0, state));
  }
  EXPECT_EQ(0, cmd->releaseConnectionCalls.load());
  EXPECT_EQ(S_FALSE, cmd->AddEventSink(self)) << "own sink still registered";

  // Ending the other command does not touch this one.
  ASSERT_EQ(S_OK, other->Start());
  ASSERT_EQ(S_OK, other->SetState(6, nullptr));
  EXPECT_EQ(1, other->releaseConnectionCalls.load());
  EXPECT_EQ(0, cmd->releaseConnectionCalls.load());
  ASSERT_EQ(S_OK, cmd->SetState(5, nullptr));  // end it, dropping its self-reference
}

// The own sink removes itself during the terminal change: every sink registered at
// that moment still hears of it, once; a sink a sink registers meanwhile, or that
// comes later, is told of the end when it registers.
TEST(BaseCmdTest, EverySinkHearsOfTheEndWheneverItRegistered) {
  auto cmd = NewCmd();
  CComPtr<RecordingSink> before(new RecordingSink);
  CComPtr<RecordingSink> after(new RecordingSink);
  CComPtr<RecordingSink> during(new RecordingSink);
  CComPtr<RecordingSink> late(new RecordingSink);
  ASSERT_EQ(S_OK, cmd->AddEventSink(before));
  ASSERT_EQ(S_OK, cmd->Start());
  after->onChange = [&during](IWorkshopCmd* command, int newState) {
    if (newState == 6) command->AddEventSink(during);
  };
  ASSERT_EQ(S_OK, cmd->AddEventSink(after));

  ASSERT_EQ(S_OK, cmd->SetState(2, nullptr));
  ASSERT_EQ(S_OK, cmd->SetState(6, nullptr));
  EXPECT_EQ((std::vector<int>{2, 6}), before->newStates());
  EXPECT_EQ((std::vector<int>{2, 6}), after->newStates());
  EXPECT_EQ((std::vector<int>{6}), during->newStates());
  ASSERT_EQ(S_OK, cmd->AddEventSink(late));
  ASSERT_EQ(1u, late->changes().size());
  EXPECT_EQ(2, late->changes()[0].oldState);
  EXPECT_EQ(6, late->changes()[0].newState);
  EXPECT_EQ(static_cast<IWorkshopCmd*>(cmd.p), late->changes()[0].command);
  EXPECT_EQ(S_FALSE, cmd->AddEventSink(late));
  EXPECT_EQ(1u, late->changes().size()) << "told once";
}

TEST(BaseCmdTest, SelfReferenceKeepsTheCommandAliveUntilItEnds) {
  ModuleLockWatch locks;
  bool destroyed = false;
  CComPtr<RecordingSink> sink(new RecordingSink);
  IWorkshopCmd* raw = nullptr;
  {
    auto cmd = NewCmd();
    cmd->destroyed = &destroyed;
    EXPECT_EQ(1, locks.Delta());
    ASSERT_EQ(S_OK, cmd->AddEventSink(sink));
    ASSERT_EQ(S_OK, cmd->Start());
    raw = cmd;
  }  // the host drops its reference
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(1, locks.Delta());
  EXPECT_EQ(2u, RefCount(sink)) << "the command still holds the sink";

  // The terminal change runs the self-watch inside SetState; the command goes away
  // only once SetState has returned.
  ASSERT_EQ(S_OK, raw->SetState(3, nullptr));
  EXPECT_FALSE(destroyed);
  int old = -1;
  EXPECT_EQ(S_OK, raw->SetState(5, &old));
  EXPECT_EQ(3, old);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(0, locks.Delta());
  EXPECT_EQ(1u, RefCount(sink)) << "destruction released the remaining sink";
  EXPECT_EQ((std::vector<int>{3, 5}), sink->newStates());
}

TEST(BaseCmdTest, DestructionReleasesEverySinkStillRegistered) {
  ModuleLockWatch locks;
  CComPtr<RecordingSink> a(new RecordingSink);
  CComPtr<RecordingSink> b(new RecordingSink);
  bool destroyed = false;
  {
    auto cmd = NewCmd();
    cmd->destroyed = &destroyed;
    ASSERT_EQ(S_OK, cmd->AddEventSink(a));
    ASSERT_EQ(S_OK, cmd->AddEventSink(b));
    cmd->AddDescriptionLine(L"kept until the end");
    EXPECT_EQ(2u, RefCount(a));
  }
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(1u, RefCount(a));
  EXPECT_EQ(1u, RefCount(b));
  EXPECT_EQ(0, locks.Delta());
  EXPECT_TRUE(a->changes().empty()) << "destruction tells nobody";
}

// Several threads change the state and register sinks at once: every change is told
// whole (no sink sees an old state that is not the previous new state).
TEST(BaseCmdTest, ConcurrentChangesAreToldOneAtATime) {
  auto cmd = NewCmd();
  CComPtr<RecordingSink> watcher(new RecordingSink);
  ASSERT_EQ(S_OK, cmd->AddEventSink(watcher));

  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&cmd, t] {
      for (int i = 0; i < kRounds; ++i) cmd->SetState(t == 0 ? 2 : 3, nullptr);
    });
  }
  std::vector<CComPtr<RecordingSink>> late;
  for (int i = 0; i < 50; ++i) late.emplace_back(new RecordingSink);
  threads.emplace_back([&] {
    for (auto& sink : late) cmd->AddEventSink(sink);
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      int state = -1;
      cmd->GetState(&state);
      if (state != 0 && state != 2 && state != 3) ADD_FAILURE() << "state " << state;
    }
  });
  for (auto& thread : threads) thread.join();

  auto changes = watcher->changes();
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(0, changes.front().oldState);
  for (size_t i = 1; i < changes.size(); ++i) {
    ASSERT_EQ(changes[i - 1].newState, changes[i].oldState) << "change " << i;
    ASSERT_NE(changes[i].oldState, changes[i].newState);
  }
  EXPECT_EQ(changes.back().newState, StateOf(cmd));
  for (auto& sink : late) EXPECT_EQ(2u, RefCount(sink));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
