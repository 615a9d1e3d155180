#include "framework/ShareSessionCmd.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "interfaces/IHttpConnectionClientEvents.h"
#include "test/CommandTestSupport.h"
#include "test/FrameworkTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using commands_testing::FakeChannel;
using commands_testing::FakeMessage;
using commands_testing::FakePlatform;
using commands_testing::HostPlatformScope;
using commands_testing::Record;
using commands_testing::TestBlogCmd;
using framework_testing::ModuleLockWatch;
using framework_testing::RecordingSink;
using framework_testing::RefCount;

typedef CComObject<ShareSessionCmd<TestBlogCmd>> Command;

CComPtr<Command> NewCommand() {
  Command* created = nullptr;
  EXPECT_EQ(S_OK, CreateTypedShareSessionCmd<TestBlogCmd>(&created));
  return CComPtr<Command>(created);
}

int StateOf(IWorkshopCmd* command) {
  int state = -1;
  command->GetState(&state);
  return state;
}

IOnRecvShareSessionOperationEvent* ResultSinkOf(Command* cmd) {
  return static_cast<IOnRecvShareSessionOperationEvent*>(cmd);
}

// ---------------------------------------------------------------- identity and factories

TEST(ShareSessionCmdTest, AnswersExactlyItsThreeInterfaces) {
  CComPtr<Command> cmd = NewCommand();
  IWorkshopCmd* primary = static_cast<IWorkshopCmd*>(cmd.p);
  void* out = nullptr;
  ASSERT_EQ(S_OK, primary->QueryInterface(IID_IUnknown, &out));
  EXPECT_EQ(static_cast<IUnknown*>(primary), out);
  static_cast<IUnknown*>(out)->Release();
  ASSERT_EQ(S_OK, primary->QueryInterface(IID_IWorkshopCmd, &out));
  EXPECT_EQ(primary, out);
  static_cast<IUnknown*>(out)->Release();
  ASSERT_EQ(S_OK, primary->QueryInterface(IID_IBaseShareSessionCmd, &out));
  EXPECT_EQ(static_cast<IBaseShareSessionCmd*>(cmd.p), out);
  static_cast<IUnknown*>(out)->Release();
  // The same identity from the other interfaces.
  ASSERT_EQ(S_OK, static_cast<IBaseShareSessionCmd*>(cmd.p)->QueryInterface(IID_IUnknown, &out));
  EXPECT_EQ(static_cast<IUnknown*>(primary), out);
  static_cast<IUnknown*>(out)->Release();
  ASSERT_EQ(S_OK, ResultSinkOf(cmd)->QueryInterface(IID_IWorkshopCmd, &out));
  static_cast<IUnknown*>(out)->Release();

  for (const IID* other : {&IID_IOnRecvShareSessionOperationEvent, &IID_ICmdEvent,
                           &IID_IHttpConnectionClientEvents, &IID_IShareSessionMessage}) {
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(E_NOINTERFACE, primary->QueryInterface(*other, &out));
    EXPECT_EQ(nullptr, out);
  }
  EXPECT_EQ(1u, RefCount(primary));
}

TEST(ShareSessionCmdTest, FactoryMakesAnUnreferencedCommand) {
  ModuleLockWatch locks;
  EXPECT_EQ(E_POINTER, CreateShareSessionCmd<TestBlogCmd>(nullptr));
  EXPECT_EQ(E_POINTER, CreateTypedShareSessionCmd<TestBlogCmd>(nullptr));
  IWorkshopCmd* command = nullptr;
  ASSERT_EQ(S_OK, CreateShareSessionCmd<TestBlogCmd>(&command));
  ASSERT_NE(nullptr, command);
  EXPECT_EQ(1, locks.Delta()) << "a live command counts in the module lock";
  EXPECT_EQ(1u, command->AddRef()) << "handed out with a count of 0";
  EXPECT_NE(nullptr, dynamic_cast<Command*>(command));
  EXPECT_EQ(0, StateOf(command));
  command->Release();
  EXPECT_EQ(0, locks.Delta());
}

// ---------------------------------------------------------------- Start by role

class ShareSessionCmdRoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cmd = NewCommand();
    cmd->SetUserId(L"10001");
    cmd->SetHttpFactory(platform->factory);
    ASSERT_EQ(S_OK, cmd->AddEventSink(workshop));
  }
  void TearDown() override {
    if (cmd != nullptr && !BaseCmd::IsTerminalState(StateOf(cmd))) cmd->SetState(8, nullptr);
  }
  FakeChannel* channel() { return platform->manager->channel; }
  // A result message for the forwarded message (or another id), carrying status.
  CComPtr<FakeMessage> Answer(int status, int idOffset = 0) {
    auto sent = channel()->sent();
    int id = 0;
    if (!sent.empty()) sent.back()->GetId(&id);
    CComPtr<FakeMessage> answer(new FakeMessage(id + idOffset));
    answer->payload = Record().Int(status).Int(0).Int(0).bytes();
    return answer;
  }

  CComPtr<FakePlatform> platform{new FakePlatform};
  HostPlatformScope scope{platform};
  CComPtr<RecordingSink> workshop{new RecordingSink};
  CComPtr<Command> cmd;
};

TEST_F(ShareSessionCmdRoleTest, ServeRunsHereWithOneOwnSink) {
  platform->manager->role = BaseBlogCmd::kRoleServe;
  EXPECT_EQ(S_OK, cmd->Start());
  EXPECT_EQ(2, StateOf(cmd));
  EXPECT_EQ(1, platform->factory->connectionsCreated);
  // The test's, the own sink's (registered once although asked twice), the connection's.
  EXPECT_EQ(3u, RefCount(static_cast<IWorkshopCmd*>(cmd.p)));
  EXPECT_TRUE(channel()->log().empty());
  cmd->SetState(6, nullptr);
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p))) << "the own reference is dropped";
}

TEST_F(ShareSessionCmdRoleTest, StandAloneRunsHere) {
  platform->manager->role = BaseBlogCmd::kRoleStandAlone;
  EXPECT_EQ(S_OK, cmd->Start());
  EXPECT_EQ(2, StateOf(cmd));
  EXPECT_EQ(1, platform->factory->connectionsCreated);
  EXPECT_EQ(3u, RefCount(static_cast<IWorkshopCmd*>(cmd.p)));
  EXPECT_TRUE(channel()->log().empty());
  EXPECT_EQ(E_FAIL, cmd->Start()) << "a running command is not started again";
  EXPECT_EQ(1, platform->factory->connectionsCreated);
}

TEST_F(ShareSessionCmdRoleTest, ServeFailingToConnectLeavesNoOwnReference) {
  platform->manager->role = BaseBlogCmd::kRoleServe;
  platform->factory->connectionResult = E_FAIL;
  EXPECT_EQ(E_FAIL, cmd->Start());
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p)));
}

TEST_F(ShareSessionCmdRoleTest, UnknownRoleFailsAndChangesNothing) {
  for (int role : {3, -1, 100}) {
    platform->manager->role = role;
    EXPECT_EQ(E_FAIL, cmd->Start());
    EXPECT_EQ(0, StateOf(cmd));
  }
  EXPECT_TRUE(workshop->newStates().empty());
  EXPECT_EQ(0, platform->factory->connectionsCreated);
  EXPECT_TRUE(channel()->log().empty());
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p))) << "only the test holds it";
}

TEST(ShareSessionCmdNoHostTest, WithoutHostPlatformStartFailsCleanly) {
  CComPtr<FakePlatform> platform(new FakePlatform);
  CComPtr<Command> cmd = NewCommand();
  cmd->SetHttpFactory(platform->factory);
  CComPtr<RecordingSink> workshop(new RecordingSink);
  cmd->AddEventSink(workshop);
  EXPECT_EQ(E_FAIL, cmd->Start());
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{6}), workshop->newStates());
  EXPECT_EQ(0, platform->factory->connectionsCreated);
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p)));
}

// ---------------------------------------------------------------- forwarding

TEST_F(ShareSessionCmdRoleTest, ForwardSendsTheOperationAndWaits) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  EXPECT_EQ(S_OK, cmd->Start());
  EXPECT_EQ(0, StateOf(cmd)) << "the state stays 0 until the result arrives";
  EXPECT_EQ((std::vector<std::string>{"AttachResultSink", "CreateOperationMessage",
                                      "SendOperationMessage"}),
            channel()->log());
  EXPECT_EQ((std::vector<IOnRecvShareSessionOperationEvent*>{ResultSinkOf(cmd)}),
            channel()->resultSinks());
  auto sent = channel()->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ("TestCommand", sent[0]->name);
  EXPECT_EQ(Record().Text("10001").bytes(), sent[0]->payload);
  EXPECT_EQ(static_cast<IShareSessionMessage*>(sent[0].p), cmd->OperationMessage());
  EXPECT_EQ(0, platform->factory->connectionsCreated);
  EXPECT_EQ(E_FAIL, cmd->Start()) << "sent already";
  EXPECT_EQ(1u, channel()->sent().size());
}

TEST_F(ShareSessionCmdRoleTest, OnlyTheMatchingResultEndsAForwardedCommand) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  ASSERT_EQ(S_OK, cmd->Start());

  EXPECT_EQ(S_OK, cmd->OnRecvOperationResult(Answer(1, /*idOffset=*/1)));
  EXPECT_EQ(0, StateOf(cmd)) << "another command's result";
  EXPECT_EQ(1u, channel()->resultSinks().size());
  EXPECT_TRUE(cmd->delivered.empty());
  EXPECT_EQ(S_OK, cmd->OnRecvOperation(Answer(1))) << "requests are ignored";
  EXPECT_EQ(0, StateOf(cmd));

  EXPECT_EQ(S_OK, cmd->OnRecvOperationResult(Answer(1)));
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{1}), cmd->delivered);
  EXPECT_EQ((std::vector<int>{5}), workshop->newStates());
  EXPECT_TRUE(channel()->resultSinks().empty()) << "detached";
  EXPECT_EQ("DetachResultSink", channel()->log().back());

  // A late duplicate changes nothing.
  EXPECT_EQ(S_OK, cmd->OnRecvOperationResult(Answer(0)));
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ(1u, cmd->delivered.size());
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p)));
}

TEST_F(ShareSessionCmdRoleTest, AnUnreadableResultEndsTheCommandFailed) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  ASSERT_EQ(S_OK, cmd->Start());
  CComPtr<FakeMessage> answer = Answer(1);
  answer->payload = {1, 0};  // shorter than the status
  EXPECT_EQ(S_OK, cmd->OnRecvOperationResult(answer));
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_TRUE(cmd->delivered.empty());
  EXPECT_TRUE(channel()->resultSinks().empty());
}

TEST_F(ShareSessionCmdRoleTest, ResultsBeforeForwardingAreIgnored) {
  EXPECT_EQ(S_OK, cmd->OnRecvOperationResult(Answer(1)));
  EXPECT_EQ(S_OK, cmd->OnRecvOperationResult(nullptr));
  EXPECT_EQ(0, StateOf(cmd));
  EXPECT_TRUE(cmd->delivered.empty());
}

TEST_F(ShareSessionCmdRoleTest, AResultThatNeverComesKeepsTheSinkAttached) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  ASSERT_EQ(S_OK, cmd->Start());
  EXPECT_EQ(0, StateOf(cmd));
  EXPECT_EQ(1u, channel()->resultSinks().size());
  // The channel's reference keeps the command alive after the caller lets go.
  IWorkshopCmd* raw = cmd;
  cmd.Release();
  EXPECT_EQ(1u, RefCount(raw));
  // Its result, once it comes, ends and frees it.
  CComPtr<FakeMessage> answer = Answer(1);
  static_cast<Command*>(raw)->OnRecvOperationResult(answer);
  EXPECT_TRUE(channel()->resultSinks().empty());
}

TEST_F(ShareSessionCmdRoleTest, ForwardFailuresEndTheCommandFailed) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  channel()->failSend = true;
  EXPECT_EQ(E_FAIL, cmd->Start());
  EXPECT_EQ(6, StateOf(cmd));
  EXPECT_TRUE(channel()->resultSinks().empty()) << "detached again";
  EXPECT_EQ(nullptr, cmd->OperationMessage());
  EXPECT_EQ(1u, RefCount(static_cast<IWorkshopCmd*>(cmd.p)));

  CComPtr<Command> second = NewCommand();
  channel()->failSend = false;
  channel()->failCreate = true;
  EXPECT_EQ(E_FAIL, second->Start());
  EXPECT_EQ(6, StateOf(second));
  EXPECT_TRUE(channel()->resultSinks().empty());

  CComPtr<Command> third = NewCommand();
  channel()->failCreate = false;
  channel()->failAttach = true;
  EXPECT_EQ(E_FAIL, third->Start());
  EXPECT_EQ(6, StateOf(third));
  EXPECT_TRUE(channel()->sent().empty());

  CComPtr<Command> fourth = NewCommand();
  platform->manager->channel.Release();
  EXPECT_EQ(E_FAIL, fourth->Start());
  EXPECT_EQ(6, StateOf(fourth));
}

TEST_F(ShareSessionCmdRoleTest, ResultFromTheShareSessionThread) {
  platform->manager->role = BaseBlogCmd::kRoleForward;
  ASSERT_EQ(S_OK, cmd->Start());
  CComPtr<FakeMessage> other = Answer(1, 7);
  CComPtr<FakeMessage> answer = Answer(1);
  std::thread delivery([&] {
    cmd->OnRecvOperationResult(other);
    cmd->OnRecvOperationResult(answer);
  });
  // The caller's thread reads the command meanwhile.
  for (int i = 0; i < 1000 && StateOf(cmd) == 0; ++i) {
    EXPECT_EQ("10001", cmd->UserId());
    std::this_thread::yield();
  }
  delivery.join();
  EXPECT_EQ(5, StateOf(cmd));
  EXPECT_EQ((std::vector<int>{1}), cmd->delivered);
  EXPECT_EQ((std::vector<int>{5}), workshop->newStates());
}

// ---------------------------------------------------------------- the serving side

TEST_F(ShareSessionCmdRoleTest, OperationMessageIsReadAndSubmitted) {
  CComPtr<Command> served = NewCommand();
  CComPtr<FakeMessage> request(new FakeMessage(9));
  request->name = "TestCommand";
  request->payload = Record().Text("30003").bytes();
  EXPECT_EQ(S_OK, served->SetOperationMessage(request));
  EXPECT_EQ("30003", served->UserId());
  EXPECT_EQ(static_cast<IShareSessionMessage*>(request.p), served->OperationMessage());
  EXPECT_EQ(2u, RefCount(request)) << "the test's and the command's";
  ASSERT_EQ(1u, platform->workshop->added.size());
  EXPECT_EQ(static_cast<IWorkshopCmd*>(served.p), platform->workshop->added[0].p);

  // Run as the workshop would, serving: over HTTP with the platform's factory.
  platform->manager->role = BaseBlogCmd::kRoleServe;
  EXPECT_EQ(S_OK, served->Start());
  EXPECT_EQ(2, StateOf(served));
  EXPECT_EQ(1, platform->factory->connectionsCreated);
  served->SetState(8, nullptr);
  platform->workshop->added.clear();
  served.Release();
  EXPECT_EQ(1u, RefCount(request)) << "released with the command";
}

TEST_F(ShareSessionCmdRoleTest, ARefusedOperationMessageIsNotSubmitted) {
  CComPtr<Command> served = NewCommand();
  CComPtr<FakeMessage> request(new FakeMessage(9));
  request->payload = Record().Text(std::string(47, 'x')).bytes();
  EXPECT_EQ(E_FAIL, served->SetOperationMessage(request));
  EXPECT_EQ("", served->UserId());
  EXPECT_TRUE(platform->workshop->added.empty());
  EXPECT_EQ(E_POINTER, served->SetOperationMessage(nullptr));
  // A user id that would change the cookie or the request path is refused.
  CComPtr<Command> unsafe = NewCommand();
  CComPtr<FakeMessage> injected(new FakeMessage(11));
  injected->payload = Record().Text("a; key=x").bytes();
  EXPECT_EQ(E_INVALIDARG, unsafe->SetOperationMessage(injected));
  EXPECT_TRUE(platform->workshop->added.empty());

  CComPtr<Command> orphan = NewCommand();
  CComPtr<FakeMessage> good(new FakeMessage(10));
  good->payload = Record().Text("30003").bytes();
  platform->workshop.Release();
  EXPECT_EQ(E_FAIL, orphan->SetOperationMessage(good)) << "no workshop to run it";
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
