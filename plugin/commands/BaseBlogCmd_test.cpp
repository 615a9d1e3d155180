#include "commands/BaseBlogCmd.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "common/Md5.h"
#include "test/CommandTestSupport.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using commands_testing::FakeMessage;
using commands_testing::FakePlatform;
using commands_testing::HostPlatformScope;
using commands_testing::Record;
using commands_testing::TestBlogCmd;

typedef CComObject<TestBlogCmd> BlogCmd;

CComPtr<BlogCmd> NewBlogCmd() {
  BlogCmd* created = nullptr;
  EXPECT_EQ(S_OK, BlogCmd::CreateInstance(&created));
  return CComPtr<BlogCmd>(created);
}

std::wstring Wide(const std::string& ansi) { return AnsiToWide(ansi); }

// ---------------------------------------------------------------- UrlEscape

TEST(BaseBlogCmdTextTest, UrlEscapeReplacesExactlyTheTenMarks) {
  EXPECT_EQ("a%20b%26c%3Dd%2Fe%3Ff%5Cg%2Bh%25i",
            BaseBlogCmd::UrlEscape("a b&c=d/e?f\\g+h%i"));
  EXPECT_EQ("x%0D%0Ay", BaseBlogCmd::UrlEscape("x\r\ny"));
  // '#', '"' and bytes above 0x7F go out as they are.
  const std::string untouched = "#\"\xb0\xa1\x80\xff~!*'()";
  EXPECT_EQ(untouched, BaseBlogCmd::UrlEscape(untouched));
  EXPECT_EQ("%25252", BaseBlogCmd::UrlEscape("%252")) << "escapes are not recognised";
  EXPECT_EQ("", BaseBlogCmd::UrlEscape(""));
}

TEST(BaseBlogCmdTextTest, UrlEscapeStopsAtTheFirstNul) {
  EXPECT_EQ("a%20b", BaseBlogCmd::UrlEscape(std::string("a b\0c d", 7)));
  EXPECT_EQ("", BaseBlogCmd::UrlEscape(std::string("\0x", 2)));
}

// ---------------------------------------------------------------- conversions

TEST(BaseBlogCmdTextTest, AnsiToUtf8ConvertsCodePage936Text) {
  // "专辑 A&B" in code page 936.
  const std::string ansi = "\xd7\xa8\xbc\xad A&B";
  EXPECT_EQ(std::string(u8"专辑 A&B"), BaseBlogCmd::AnsiToUtf8(ansi));
  EXPECT_EQ("plain", BaseBlogCmd::AnsiToUtf8("plain"));
  EXPECT_EQ("", BaseBlogCmd::AnsiToUtf8(""));
  // The whole length is converted, NULs included.
  EXPECT_EQ(std::string("a\0b", 3), BaseBlogCmd::AnsiToUtf8(std::string("a\0b", 3)));
  // Escaping first, then conversion: the escapes stay ASCII, the text becomes UTF-8.
  EXPECT_EQ(std::string(u8"专辑%20A%26B"),
            BaseBlogCmd::AnsiToUtf8(BaseBlogCmd::UrlEscape(ansi)));
}

TEST(BaseBlogCmdTextTest, Utf8ToWideTakesTheGivenLength) {
  const std::string utf8 = u8"资源 list";
  EXPECT_EQ(L"资源 list", BaseBlogCmd::Utf8ToWide(utf8.data(), static_cast<int>(utf8.size())));
  EXPECT_EQ(L"资源", BaseBlogCmd::Utf8ToWide(utf8.data(), 6));
  EXPECT_EQ(L"", BaseBlogCmd::Utf8ToWide(nullptr, 4));
  EXPECT_EQ(L"", BaseBlogCmd::Utf8ToWide(utf8.data(), 0));
  EXPECT_EQ(L"", BaseBlogCmd::Utf8ToWide(utf8.data(), -1));
}

TEST(BaseBlogCmdTextTest, BytesToHexIsUpperCaseTwoDigitsPerByte) {
  const BYTE bytes[] = {0x00, 0x0F, 0xAB, 0xFF, 0x10};
  EXPECT_EQ(L"000FABFF10", BaseBlogCmd::BytesToHex(bytes, 5));
  EXPECT_EQ(L"00", BaseBlogCmd::BytesToHex(bytes, 1));
  EXPECT_EQ(L"", BaseBlogCmd::BytesToHex(nullptr, 5));
  EXPECT_EQ(L"", BaseBlogCmd::BytesToHex(bytes, 0));
}

// ---------------------------------------------------------------- cookie

// HMAC-MD5 written out from RFC 2104, independently of the library's HmacMd5.
std::string ReferenceHmacMd5Hex(const std::string& key, const std::string& message) {
  std::string block = key;  // the cookie key is shorter than the 64-byte block
  block.resize(Common::kMd5BlockSize, '\0');
  std::string inner(Common::kMd5BlockSize, '\0');
  std::string outer(Common::kMd5BlockSize, '\0');
  for (size_t i = 0; i < Common::kMd5BlockSize; ++i) {
    inner[i] = static_cast<char>(block[i] ^ 0x36);
    outer[i] = static_cast<char>(block[i] ^ 0x5c);
  }
  uint8_t innerDigest[Common::kMd5DigestSize];
  std::string innerMessage = inner + message;
  Common::Md5(innerMessage.data(), innerMessage.size(), innerDigest);
  std::string outerMessage = outer + std::string(reinterpret_cast<char*>(innerDigest),
                                                 Common::kMd5DigestSize);
  uint8_t digest[Common::kMd5DigestSize];
  Common::Md5(outerMessage.data(), outerMessage.size(), digest);
  std::string hex;
  for (uint8_t byte : digest) {
    char two[3];
    std::snprintf(two, sizeof(two), "%02x", byte);
    hex += two;
  }
  return hex;
}

TEST(BaseBlogCmdCookieTest, ReferenceHmacMatchesRfc2202) {
  EXPECT_EQ("9294727a3638bb1c13f48ef8158bfc9d",
            ReferenceHmacMd5Hex(std::string(16, '\x0b'), "Hi There"));
  EXPECT_EQ("750c783e6ab0b503eaa86e310a5db738",
            ReferenceHmacMd5Hex("Jefe", "what do ya want for nothing?"));
}

TEST(BaseBlogCmdCookieTest, CookieIsSignedWithTheLoginTime) {
  const std::regex shape("login_name=(.*); login_time=([0-9]{14}); key=([0-9a-f]{32})");
  for (const std::string& userId : {std::string("10001"), std::string("a b;c=d"),
                                   std::string("\xd3\xc3\xbb\xa7"), std::string()}) {
    const std::time_t before = std::time(nullptr);
    const std::string cookie = BaseBlogCmd::BuildCookie(userId);
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(cookie, parts, shape)) << cookie;
    EXPECT_EQ(userId, parts[1].str()) << "the user id goes in unescaped";
    const std::string loginTime = parts[2].str();
    EXPECT_EQ(ReferenceHmacMd5Hex(BaseBlogCmd::kCookieKey, userId + loginTime), parts[3].str());

    // The login time is the local time of the call.
    std::tm local = {};
    std::time_t when = before;
#if defined(_WIN32)
    local = *std::localtime(&when);
#else
    localtime_r(&when, &local);
#endif
    char expected[48];
    std::snprintf(expected, sizeof(expected), "%04d%02d%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday);
    // The date part; the seconds may have moved on (midnight aside, the date has not).
    if (local.tm_hour != 23 || local.tm_min != 59) {
      EXPECT_EQ(std::string(expected), loginTime.substr(0, 8));
    }
  }
  EXPECT_EQ(14u, std::string(BaseBlogCmd::kCookieKey).size());
  EXPECT_EQ("?T#(W]~=K!+*QX", std::string(BaseBlogCmd::kCookieKey));
}

// ---------------------------------------------------------------- titles and words

TEST(BaseBlogCmdTextTest, OperationTitles) {
  const wchar_t* const expected[] = {
      L"获取服务器信息", L"获取Cid.dat文件信息", L"获取专辑列表信息", L"获取资源列表信息",
      L"收藏资源",       L"删除资源",            L"创建专辑",         L"修改专辑",
      L"删除专辑",       L"修改资源",            L"移动资源",         L"复制资源",
  };
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(expected[i], Wide(BaseBlogCmd::MakeOperationTitle(i))) << i;
  }
  for (int wrong : {12, -1, 13, 1000, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(L"错误的命令标识", Wide(BaseBlogCmd::MakeOperationTitle(wrong))) << wrong;
  }
  // Stored as code page 936 bytes.
  EXPECT_EQ("\xd2\xc6\xb6\xaf\xd7\xca\xd4\xb4", BaseBlogCmd::MakeOperationTitle(10));
}

struct WordCase {
  const char* word;
  const wchar_t* text;
};

TEST(BaseBlogCmdTextTest, ServerWordsOfMoveAndCopy) {
  auto cmd = NewBlogCmd();
  const WordCase table[] = {
      {"excess", L"目标专辑装不下更多的资源"},
      {"duplicate", L"目标专辑已经收藏过该资源"},
      {"undone", L"\r\n下载未完成的资源不允许移动复制到专辑"},
      {"audit", L"审核中不允许移动复制"},
      {"fail", L"目标专辑满"},
      {"no_exist", L"目标专辑不存在"},
      {"denied", L"cookie验证错误"},
      {"forbidden", L""},
      {"illegal", L""},
      {"no_empty", L""},
      {"no_bill", L""},
      {"success", L""},
  };
  for (int index : {10, 11}) {
    for (const WordCase& c : table) {
      EXPECT_EQ(c.text, Wide(cmd->TranslateServerMessage(c.word, index))) << c.word << index;
    }
  }
}

TEST(BaseBlogCmdTextTest, ServerWordsOfEveryOtherOperation) {
  auto cmd = NewBlogCmd();
  const WordCase table[] = {
      {"fail", L"数据库错误"},
      {"denied", L"cookie验证错误"},
      {"forbidden", L"已被加入黑名单, 禁止操作"},
      {"illegal", L"敏感词"},
      {"duplicate", L"存在同名专辑"},
      {"no_empty", L"专辑不为空"},
      {"no_exist", L"专辑不存在"},
      {"no_bill", L"财富积分不足"},
      {"excess", L"专辑数达到上限"},
      {"undone", L""},
      {"audit", L""},
      {"success", L""},
  };
  for (int index : {-1, 0, 4, 6, 9, 12}) {
    for (const WordCase& c : table) {
      EXPECT_EQ(c.text, Wide(cmd->TranslateServerMessage(c.word, index))) << c.word << index;
    }
  }
}

TEST(BaseBlogCmdTextTest, ServerWordsAreWholeAndCaseSensitive) {
  auto cmd = NewBlogCmd();
  for (int index = -1; index <= 12; ++index) {
    EXPECT_EQ("", cmd->TranslateServerMessage("FAIL", index));
    EXPECT_EQ("", cmd->TranslateServerMessage("fail ", index));
    EXPECT_EQ("", cmd->TranslateServerMessage("", index));
    EXPECT_EQ("", cmd->TranslateServerMessage("nonsense", index));
  }
  EXPECT_EQ(L"目标专辑满", Wide(cmd->TranslateServerMessage("fail", 10)));
  EXPECT_EQ(L"数据库错误", Wide(cmd->TranslateServerMessage("fail", 6)));
}

// ---------------------------------------------------------------- fields and records

TEST(BaseBlogCmdTest, SetUserIdStoresTheAnsiText) {
  auto cmd = NewBlogCmd();
  EXPECT_EQ("", cmd->UserId());
  EXPECT_EQ(0, cmd->Status());
  EXPECT_EQ(0, cmd->CommandId());
  cmd->SetUserId(L"用户7");
  EXPECT_EQ("\xd3\xc3\xbb\xa7" "7", cmd->UserId());
  cmd->SetUserId(nullptr);
  EXPECT_EQ("", cmd->UserId());
  cmd->SetCommandId(42);
  EXPECT_EQ(42, cmd->CommandId());
}

// A message whose payload is sized for the command's request record.
CComPtr<FakeMessage> RequestOf(BlogCmd* cmd) {
  CComPtr<FakeMessage> message(new FakeMessage(1));
  EXPECT_EQ(S_OK, message->SetPayloadSize(cmd->GetRequestRecordSize()));
  return message;
}

TEST(BaseBlogCmdTest, UserIdRecordOf46BytesRoundTripsAnd47IsRefused) {
  const std::string id46(46, 'u');
  auto writer = NewBlogCmd();
  writer->SetUserId(std::wstring(id46.begin(), id46.end()).c_str());
  EXPECT_EQ(50, writer->GetRequestRecordSize());
  CComPtr<FakeMessage> message = RequestOf(writer);
  ASSERT_TRUE(writer->WriteRequestRecord(message));
  EXPECT_EQ(Record().Text(id46).bytes(), message->payload);

  auto reader = NewBlogCmd();
  ASSERT_TRUE(reader->ReadRequestRecord(message));
  EXPECT_EQ(id46, reader->UserId());

  const std::string id47(47, 'v');
  auto longWriter = NewBlogCmd();
  longWriter->SetUserId(std::wstring(id47.begin(), id47.end()).c_str());
  EXPECT_EQ(51, longWriter->GetRequestRecordSize());
  CComPtr<FakeMessage> longMessage = RequestOf(longWriter);
  ASSERT_TRUE(longWriter->WriteRequestRecord(longMessage)) << "writing has no limit";
  EXPECT_FALSE(reader->ReadRequestRecord(longMessage));
  EXPECT_EQ(id46, reader->UserId()) << "a refused id leaves the field as it was";
}

TEST(BaseBlogCmdTest, UserIdRecordRefusesBadLengths) {
  auto reader = NewBlogCmd();
  reader->SetUserId(L"kept");
  const std::vector<std::vector<BYTE>> bad = {
      Record().Int(-1).bytes(),                           // negative
      Record().Int(65537).bytes(),                        // above every limit
      Record().Int(10).Byte('a').bytes(),                 // runs past the end
      Record().Byte(3).Byte(0).bytes(),                   // no whole length field
      {},                                                 // nothing at all
  };
  for (const auto& payload : bad) {
    CComPtr<FakeMessage> message(new FakeMessage(1));
    message->payload = payload;
    EXPECT_FALSE(reader->ReadRequestRecord(message));
    EXPECT_EQ("kept", reader->UserId());
  }
  CComPtr<FakeMessage> unreadable(new FakeMessage(1));
  unreadable->payload = Record().Text("x").bytes();
  unreadable->failGetPayload = true;
  EXPECT_FALSE(reader->ReadRequestRecord(unreadable));
  EXPECT_FALSE(reader->ReadRequestRecord(nullptr));
  EXPECT_EQ("kept", reader->UserId());
}

TEST(BaseBlogCmdTest, UserIdRecordDoesNotOverrunAShortPayload) {
  auto writer = NewBlogCmd();
  writer->SetUserId(L"10001");
  CComPtr<FakeMessage> message(new FakeMessage(1));
  message->payload.assign(6, 0);  // room for the length and 2 of 5 bytes
  EXPECT_FALSE(writer->WriteRequestRecord(message));
}

TEST(BaseBlogCmdTest, StatusRecord) {
  auto cmd = NewBlogCmd();
  BYTE payload[12] = {};
  cmd->SetStatus(1);
  ASSERT_TRUE(cmd->WriteResultRecord(payload, sizeof(payload)));
  EXPECT_EQ((std::vector<BYTE>{1, 0, 0, 0}), std::vector<BYTE>(payload, payload + 4));
  EXPECT_FALSE(cmd->WriteResultRecord(payload, 3));

  auto other = NewBlogCmd();
  const BYTE seven[] = {7, 0, 0, 0, 0xEE};
  ASSERT_TRUE(other->ReadResultRecord(seven, 5));
  EXPECT_EQ(7, other->Status());
  EXPECT_FALSE(other->ReadResultRecord(seven, 3));
  EXPECT_FALSE(other->ReadResultRecord(nullptr, 4));
  EXPECT_EQ(7, other->Status());
}

// ---------------------------------------------------------------- the host's share session

class BaseBlogCmdHostTest : public ::testing::Test {
 protected:
  CComPtr<FakePlatform> platform{new FakePlatform};
  HostPlatformScope scope{platform};
  CComPtr<BlogCmd> cmd = NewBlogCmd();
};

TEST(BaseBlogCmdNoHostTest, WithoutPlatformNothingIsReached) {
  auto cmd = NewBlogCmd();
  EXPECT_EQ(BaseBlogCmd::kRoleStandAlone, cmd->GetShareSessionRole());
  EXPECT_EQ(nullptr, cmd->GetShareSessionChannel().p);
  EXPECT_EQ(nullptr, cmd->GetShareSessionServerChannel().p);
  EXPECT_EQ(nullptr, cmd->BuildOperationMessage().p);
  CComPtr<FakeMessage> request(new FakeMessage(3));
  EXPECT_EQ(nullptr, cmd->BuildResultMessage(request).p);
  EXPECT_EQ(nullptr, BaseBlogCmd::CreateXmlReplyParser().p);
  EXPECT_EQ(E_FAIL, cmd->SubmitToHost());
}

TEST_F(BaseBlogCmdHostTest, RoleIsAskedAnewEachTime) {
  for (int role : {0, 1, 2, 5}) {
    platform->manager->role = role;
    EXPECT_EQ(role, cmd->GetShareSessionRole());
  }
  platform->manager->failRole = true;
  EXPECT_EQ(BaseBlogCmd::kRoleStandAlone, cmd->GetShareSessionRole());
  platform->manager.Release();
  EXPECT_EQ(BaseBlogCmd::kRoleStandAlone, cmd->GetShareSessionRole());
}

TEST_F(BaseBlogCmdHostTest, ChannelsOfTheModule) {
  EXPECT_EQ(static_cast<IShareSessionChannel*>(platform->manager->channel.p),
            cmd->GetShareSessionChannel().p);
  EXPECT_EQ(static_cast<IShareSessionServer*>(platform->manager->server.p),
            cmd->GetShareSessionServerChannel().p);
  EXPECT_EQ((std::vector<std::string>{"channel ZQBlog/0", "server ZQBlog/0"}),
            platform->manager->requests());
  platform->manager->channel.Release();
  platform->manager->server.Release();
  EXPECT_EQ(nullptr, cmd->GetShareSessionChannel().p);
  EXPECT_EQ(nullptr, cmd->GetShareSessionServerChannel().p);
}

TEST_F(BaseBlogCmdHostTest, OperationMessageCarriesNameAndParameters) {
  cmd->SetUserId(L"10001");
  CComPtr<IShareSessionMessage> message = cmd->BuildOperationMessage();
  ASSERT_NE(nullptr, message.p);
  auto* fake = static_cast<FakeMessage*>(message.p);
  EXPECT_EQ("TestCommand", fake->name);
  EXPECT_EQ(Record().Text("10001").bytes(), fake->payload);
  EXPECT_EQ((std::vector<std::string>{"CreateOperationMessage"}),
            platform->manager->channel->log());

  platform->manager->channel->failCreate = true;
  EXPECT_EQ(nullptr, cmd->BuildOperationMessage().p);
}

TEST_F(BaseBlogCmdHostTest, ResultMessageAnswersTheRequest) {
  CComPtr<FakeMessage> request(new FakeMessage(42));
  cmd->SetStatus(1);
  CComPtr<IShareSessionMessage> result = cmd->BuildResultMessage(request);
  ASSERT_NE(nullptr, result.p);
  auto* fake = static_cast<FakeMessage*>(result.p);
  int id = 0;
  fake->GetId(&id);
  EXPECT_EQ(42, id);
  EXPECT_EQ("TestCommand", fake->name);
  EXPECT_EQ((std::vector<BYTE>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), fake->payload)
      << "the status and 8 spare bytes";

  platform->manager->server->failResultPayload = true;
  EXPECT_EQ(nullptr, cmd->BuildResultMessage(request).p);
}

TEST_F(BaseBlogCmdHostTest, ShareSessionResultIsReadThenDelivered) {
  CComPtr<FakeMessage> result(new FakeMessage(1));
  result->payload = Record().Int(1).Int(0).Int(0).bytes();
  EXPECT_EQ(S_OK, cmd->OnShareSessionResult(result));
  EXPECT_EQ(1, cmd->Status());
  EXPECT_EQ((std::vector<int>{1}), cmd->delivered);

  CComPtr<FakeMessage> cut(new FakeMessage(1));
  cut->payload = {1, 0};
  EXPECT_EQ(E_FAIL, cmd->OnShareSessionResult(cut));
  CComPtr<FakeMessage> unreadable(new FakeMessage(1));
  unreadable->payload = Record().Int(0).bytes();
  unreadable->failGetPayload = true;
  EXPECT_EQ(E_FAIL, cmd->OnShareSessionResult(unreadable));
  EXPECT_EQ(1u, cmd->delivered.size()) << "nothing delivered from an unreadable result";
  EXPECT_EQ(1, cmd->Status());
}

TEST_F(BaseBlogCmdHostTest, XmlReplyParserComesFromThePlatform) {
  CComPtr<IPackageParser> parser = BaseBlogCmd::CreateXmlReplyParser();
  EXPECT_EQ(static_cast<IPackageParser*>(platform->xmlParser.p), parser.p);
  EXPECT_EQ((std::vector<std::wstring>{L"IXMLPackageParser/0"}), platform->objectRequests);
  platform->xmlParser.Release();
  EXPECT_EQ(nullptr, BaseBlogCmd::CreateXmlReplyParser().p);
}

TEST_F(BaseBlogCmdHostTest, SubmitHandsTheFactoryAndAddsTheCommand) {
  EXPECT_EQ(S_OK, cmd->SubmitToHost());
  ASSERT_EQ(1u, platform->workshop->added.size());
  EXPECT_EQ(static_cast<IWorkshopCmd*>(cmd.p), platform->workshop->added[0].p);
  // The factory was handed over: starting opens a connection through it.
  EXPECT_EQ(S_OK, cmd->Start());
  EXPECT_EQ(1, platform->factory->connectionsCreated);
  cmd->SetState(8, nullptr);
}

TEST_F(BaseBlogCmdHostTest, SubmitNeedsWorkshopAndFactory) {
  CComPtr<FakePlatform> noFactory(new FakePlatform);
  noFactory->factory.Release();
  {
    HostPlatformScope other(noFactory);
    EXPECT_EQ(E_FAIL, cmd->SubmitToHost());
    EXPECT_TRUE(noFactory->workshop->added.empty());
  }
  CComPtr<FakePlatform> noWorkshop(new FakePlatform);
  noWorkshop->workshop.Release();
  HostPlatformScope other(noWorkshop);
  EXPECT_EQ(E_FAIL, cmd->SubmitToHost());
  EXPECT_EQ(0, noWorkshop->factory->connectionsCreated);
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
