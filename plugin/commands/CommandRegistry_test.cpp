#include "commands/CommandRegistry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "commands/BaseBlogCmd.h"
#include "commands/CmdRefreshBlogServerInfo.h"
#include "framework/ShareSessionCmd.h"
#include "framework/ShareSessionCmdParserManager.h"
#include "module/ZQBlogPlugin.h"
#include "test/CommandTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using commands_testing::FakeMessage;
using commands_testing::FakePlatform;
using commands_testing::HostPlatformScope;
using commands_testing::Record;

ShareSessionCmdParser* BlogParser() {
  return ShareSessionCmdParserManager_::Instance()->GetParser(kModuleName);
}

TEST(CommandRegistryTest, EveryRowIsRegisteredOnceUnderItsCommandName) {
  ASSERT_TRUE(RegisterBlogCommands());
  ASSERT_TRUE(RegisterBlogCommands()) << "a second run is harmless";
  size_t count = 0;
  const BlogCommandRegistration* table = BlogCommandTable(&count);
  ASSERT_GE(count, 1u);
  std::set<std::string> names;
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(table[i].name);
    EXPECT_TRUE(names.insert(table[i].name).second) << "names are unique";
    if (i > 0) {
      EXPECT_LT(std::strcmp(table[i - 1].name, table[i].name), 0) << "the table's order";
    }
    EXPECT_EQ(table[i].factory, BlogParser()->Find(table[i].name));
    EXPECT_FALSE(BlogParser()->Register(table[i].name, nullptr)) << "the first factory stays";

    // The factory makes the command of that name.
    IWorkshopCmd* created = nullptr;
    ASSERT_EQ(S_OK, table[i].factory(&created));
    CComPtr<IWorkshopCmd> command(created);
    auto* blog = dynamic_cast<BaseBlogCmd*>(created);
    ASSERT_NE(nullptr, blog);
    EXPECT_EQ(table[i].name, blog->GetCommandName());
    CComPtr<IBaseShareSessionCmd> shareable;
    EXPECT_EQ(S_OK, command.QueryInterface(&shareable));
  }
  EXPECT_EQ(static_cast<CommandFactory>(&CreateShareSessionCmd<CmdRefreshBlogServerInfo>),
            BlogParser()->Find("RefreshBlogServerInfo"));
  EXPECT_EQ(nullptr, BlogParser()->Find("refreshblogserverinfo")) << "names are exact";
}

TEST(CommandRegistryTest, AForwardedDirectoryRequestIsServedHere) {
  ASSERT_TRUE(RegisterBlogCommands());
  CComPtr<FakePlatform> platform(new FakePlatform);
  HostPlatformScope scope(platform);
  platform->manager->role = BaseBlogCmd::kRoleServe;
  platform->workshop->startOnAdd = true;

  CComPtr<FakeMessage> request(new FakeMessage(77));
  request->name = "RefreshBlogServerInfo";
  request->payload = Record().Text("40004").bytes();
  EXPECT_EQ(S_OK, BlogParser()->OnRecvOperation(request));

  ASSERT_EQ(1u, platform->workshop->added.size());
  IWorkshopCmd* command = platform->workshop->added[0];
  auto* served = dynamic_cast<CComObject<ShareSessionCmd<CmdRefreshBlogServerInfo>>*>(command);
  ASSERT_NE(nullptr, served);
  EXPECT_EQ("40004", served->UserId());
  EXPECT_EQ(static_cast<IShareSessionMessage*>(request.p), served->OperationMessage());
  EXPECT_EQ((std::vector<HRESULT>{S_OK}), platform->workshop->startResults);
  int state = -1;
  command->GetState(&state);
  EXPECT_EQ(2, state) << "running over HTTP in the serving process";
  ASSERT_NE(nullptr, platform->factory->connection->events().p);
  EXPECT_EQ("SetServer blog.velmora.cn:80", platform->factory->connection->log().front());
  command->SetState(8, nullptr);

  // An unknown name creates nothing.
  CComPtr<FakeMessage> unknown(new FakeMessage(78));
  unknown->name = "refreshBlogServerInfo";
  EXPECT_EQ(S_OK, BlogParser()->OnRecvOperation(unknown));
  EXPECT_EQ(1u, platform->workshop->added.size());
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
