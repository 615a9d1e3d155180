#include "session/BlogShareSessionDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "module/HostPlatform.h"
#include "module/ZQBlogPlugin.h"
#include "test/SessionTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using session_testing::FakeChannel;
using session_testing::FakeManager;
using session_testing::FakePlatform;
using session_testing::Payload;
using session_testing::TestDecoder;
using session_testing::TestSession;

typedef std::vector<std::string> Log;

Payload Directory(const std::string& uin, uint8_t opened, const std::string& cidDat,
                  const std::string& albums, const std::string& resources) {
  Payload payload;
  payload.Text(uin).Byte(opened).Int(11).Text(cidDat).Int(22).Text(albums).Int(33).Text(resources);
  return payload;
}

// Whether another thread can take lock right now.
bool FreeForOtherThreads(TAVO::System::Thread::CriticalSection& lock) {
  bool taken = false;
  std::thread other([&] {
    taken = lock.TryLock();
    if (taken) lock.Unlock();
  });
  other.join();
  return taken;
}

class DecoderTest : public ::testing::Test {
 protected:
  DecoderTest() : manager_(&channel_), platform_(&manager_, nullptr), decoder_(&session_) {}
  void SetUp() override {
    ZQCP::SetHostPlatform(&platform_);
    session_.SetCurrentUin(L"me");
  }
  void TearDown() override {
    ZQCP::SetHostPlatform(nullptr);
    EXPECT_EQ(0u, channel_.refs()) << "the channel reference is released";
    EXPECT_FALSE(channel_.reading) << "every access is ended";
  }

  ServerDirectoryRecord* Entry(const std::wstring& uin) {
    Hold hold(session_.ServerLock());
    return session_.FindServerEntry(uin);
  }

  FakeChannel channel_;
  FakeManager manager_;
  FakePlatform platform_;
  TestSession session_;
  TestDecoder decoder_;
};

TEST_F(DecoderTest, DirectoryNoticeFilesTheRecordOfThePayloadsUser) {
  channel_.payload = Directory("friend", 1, "http://d.velmora.cn/c.dat",
                               "http://b.velmora.cn/a.xml", "http://b.velmora.cn/<id>.xml")
                         .bytes();
  EXPECT_TRUE(decoder_.DecodeMessage(kNoticeServerDirectory, 0, 0));
  EXPECT_EQ((Log{"Begin", "GetPayload", "End"}), channel_.log);
  EXPECT_EQ((Log{"ZQBlog/0"}), manager_.channelRequests);
  ServerDirectoryRecord* record = Entry(L"friend");
  ASSERT_NE(nullptr, record);
  EXPECT_TRUE(record->Opened);
  EXPECT_EQ(11, record->CidDatNumber);
  EXPECT_EQ(L"http://d.velmora.cn/c.dat", record->CidDatUrl);
  EXPECT_EQ(22, record->AlbumListNumber);
  EXPECT_EQ(L"http://b.velmora.cn/a.xml", record->AlbumListUrl);
  EXPECT_EQ(33, record->ResourceListNumber);
  EXPECT_EQ(L"http://b.velmora.cn/<id>.xml", record->ResourceListUrl);
  EXPECT_EQ(nullptr, Entry(L"me"));
  // The stored record serves the commands' URL splits.
  std::string host;
  std::string path;
  ASSERT_TRUE(session_.SplitResourceListUrl(L"friend", 4, &host, &path));
  EXPECT_EQ("b.velmora.cn", host);
  EXPECT_EQ("/4.xml", path);
}

TEST_F(DecoderTest, DirectoryNoticeReplacesAnExistingRecord) {
  channel_.payload = Directory("me", 1, "c1", "a1", "r1").bytes();
  ASSERT_TRUE(decoder_.DecodeMessage(0, 0, 0));
  channel_.payload = Directory("me", 0, "c2", "a2", "").bytes();
  ASSERT_TRUE(decoder_.DecodeMessage(0, 0, 0));
  ServerDirectoryRecord* record = Entry(L"me");
  ASSERT_NE(nullptr, record);
  EXPECT_FALSE(record->Opened);
  EXPECT_EQ(L"c2", record->CidDatUrl);
  EXPECT_EQ(L"a2", record->AlbumListUrl);
  EXPECT_EQ(L"", record->ResourceListUrl);
  // Any non-zero byte means open.
  channel_.payload = Directory("me", 2, "c3", "a3", "r3").bytes();
  ASSERT_TRUE(decoder_.DecodeMessage(0, 0, 0));
  EXPECT_TRUE(Entry(L"me")->Opened);
}

TEST_F(DecoderTest, NobodySignedInReadsNothing) {
  session_.SetCurrentUin(L"");
  channel_.payload = Directory("me", 1, "c", "a", "r").bytes();
  EXPECT_FALSE(decoder_.DecodeMessage(0, 0, 0));
  EXPECT_TRUE(channel_.log.empty());
  EXPECT_TRUE(manager_.channelRequests.empty());
  EXPECT_EQ(nullptr, Entry(L"me"));
}

// Every cut of a good payload is refused and changes nothing; the reads stay inside
// the payload (the address sanitizer checks the fake's exact-size buffer).
TEST_F(DecoderTest, TruncatedPayloadsAreRefusedWithoutChange) {
  channel_.payload = Directory("me", 1, "old", "old", "old").bytes();
  ASSERT_TRUE(decoder_.DecodeMessage(0, 0, 0));
  std::vector<uint8_t> good = Directory("me", 0, "new-c", "new-a", "new-r").bytes();
  for (size_t cut = 0; cut < good.size(); ++cut) {
    channel_.payload.assign(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_FALSE(decoder_.DecodeMessage(0, 0, 0)) << "cut at " << cut;
    ASSERT_NE(nullptr, Entry(L"me"));
    EXPECT_EQ(L"old", Entry(L"me")->AlbumListUrl) << "cut at " << cut;
    EXPECT_TRUE(Entry(L"me")->Opened);
  }
  // A channel that reports fewer bytes than it holds is read only as far as it says.
  channel_.payload = good;
  channel_.reportedLength = static_cast<int>(good.size()) - 1;
  EXPECT_FALSE(decoder_.DecodeMessage(0, 0, 0));
  channel_.reportedLength = -5;
  EXPECT_FALSE(decoder_.DecodeMessage(0, 0, 0));
  channel_.reportedLength = FakeChannel::kRealLength;
  EXPECT_TRUE(decoder_.DecodeMessage(0, 0, 0));
  EXPECT_EQ(L"new-a", Entry(L"me")->AlbumListUrl);
  // Trailing bytes after the record are not part of it.
  Payload longer = Directory("me", 1, "c", "a", "r");
  longer.Int(77);
  channel_.payload = longer.bytes();
  EXPECT_TRUE(decoder_.DecodeMessage(0, 0, 0));
}

TEST_F(DecoderTest, LyingAndOverlongItemsAreRefused) {
  // A string whose length runs past the end of the payload.
  Payload lying;
  lying.Int(1000).Byte('x');
  channel_.payload = lying.bytes();
  EXPECT_FALSE(decoder_.DecodeMessage(0, 0, 0));
  // A negative length.
  Payload negative;
  negative.Text("me").Byte(1).Int(1).Int(-1);
  channel_.payload = negative.bytes();
  EXPECT_FALSE(decoder_.DecodeMessage(0, 0, 0));
  // An empty user id names nobody.
  channel_.payload = Directory("", 1, "c", "a", "r").bytes();
  EXPECT_FALSE(decoder_.DecodeMessage(0, 0, 0));
  EXPECT_EQ(nullptr, Entry(L""));

  // Every text is taken up to the largest record item, as the serving process stores
  // it: a 200-byte content-id URL and a 47-byte user id, but not a 65537-byte URL.
  channel_.payload = Directory(std::string(47, 'u'), 1, std::string(200, 'c'), "a", "r").bytes();
  EXPECT_TRUE(decoder_.DecodeMessage(0, 0, 0));
  ASSERT_NE(nullptr, Entry(std::wstring(47, L'u')));
  EXPECT_EQ(std::wstring(200, L'c'), Entry(std::wstring(47, L'u'))->CidDatUrl);
  channel_.payload = Directory("w", 1, "c", "a", std::string(65537, 'r')).bytes();
  EXPECT_FALSE(decoder_.DecodeMessage(0, 0, 0));
  EXPECT_EQ(nullptr, Entry(L"w"));
}

// A payload of another kind: every other code refuses it and changes nothing, and codes
// without a handler (12, -1) refuse any payload; the message is opened and closed all
// the same.
TEST_F(DecoderTest, APayloadOfAnotherKindIsRefusedByEveryOtherCodeAndTheMessageClosed) {
  channel_.payload = Directory("me", 1, "c", "a", "r").bytes();
  for (int code : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, -1}) {
    channel_.log.clear();
    EXPECT_FALSE(decoder_.DecodeMessage(code, 0, 0)) << code;
    EXPECT_EQ((Log{"Begin", "GetPayload", "End"}), channel_.log) << code;
  }
  EXPECT_EQ(nullptr, Entry(L"me"));
  Hold hold(session_.AlbumListLock());
  EXPECT_EQ(nullptr, session_.FindAlbumList(L"me"));
}

TEST_F(DecoderTest, ChannelTroubleGivesFalse) {
  channel_.payload = Directory("me", 1, "c", "a", "r").bytes();
  channel_.beginFails = true;
  EXPECT_FALSE(decoder_.DecodeMessage(0, 0, 0));
  EXPECT_EQ((Log{"Begin"}), channel_.log) << "no access begun: none to end";
  channel_.beginFails = false;
  channel_.log.clear();
  channel_.payload.clear();
  EXPECT_FALSE(decoder_.DecodeMessage(0, 0, 0));
  EXPECT_EQ((Log{"Begin", "GetPayload", "End"}), channel_.log);
  ZQCP::SetHostPlatform(nullptr);
  channel_.payload = Directory("me", 1, "c", "a", "r").bytes();
  EXPECT_FALSE(decoder_.DecodeMessage(0, 0, 0));
  EXPECT_EQ(nullptr, Entry(L"me"));
}

TEST_F(DecoderTest, HoldsTheLockOfTheCodeWhileReading) {
  channel_.payload = Directory("me", 1, "c", "a", "r").bytes();
  bool serverFree = true;
  bool albumListFree = false;
  channel_.onPayload = [&] {
    serverFree = FreeForOtherThreads(session_.ServerLock());
    albumListFree = FreeForOtherThreads(session_.AlbumListLock());
  };
  EXPECT_TRUE(decoder_.DecodeMessage(0, 0, 0));
  EXPECT_FALSE(serverFree);
  EXPECT_TRUE(albumListFree);
  EXPECT_FALSE(decoder_.DecodeMessage(2, 0, 0));
  EXPECT_TRUE(serverFree);
  EXPECT_FALSE(albumListFree);
  channel_.onPayload = nullptr;
  EXPECT_TRUE(FreeForOtherThreads(session_.ServerLock()));
  EXPECT_TRUE(FreeForOtherThreads(session_.AlbumListLock()));
}

// Broadcasts applied on the share-session thread while the host's threads read the
// directory under ServerLock.
TEST_F(DecoderTest, DecodingRacesNothing) {
  channel_.payload = Directory("me", 1, "http://d.velmora.cn/c", "http://b.velmora.cn/a",
                               "http://b.velmora.cn/<id>")
                         .bytes();
  std::thread reader([&] {
    for (int i = 0; i < 300; ++i) {
      std::string host;
      std::string path;
      session_.SplitAlbumListUrl(L"me", &host, &path);
      Hold hold(session_.ServerLock());
      ServerDirectoryRecord* record = session_.FindServerEntry(L"me");
      if (record != nullptr) {
        EXPECT_EQ(11, record->CidDatNumber);
      }
    }
  });
  for (int i = 0; i < 300; ++i) EXPECT_TRUE(decoder_.DecodeMessage(0, 0, 0));
  reader.join();
}

// The plug-in hands its notices to the process-wide decoder, which applies them to the
// process-wide session.
TEST_F(DecoderTest, PluginNoticesReachTheProcessWideSession) {
  ZQBlogPlugin_* plugin = ZQBlogPlugin_::Instance();
  ASSERT_NE(nullptr, plugin);
  BlogSession_* session = BlogSession_::Instance();
  ASSERT_NE(nullptr, session);
  channel_.payload = Directory("pal", 1, "c", "http://b.velmora.cn/pal.xml", "r").bytes();
  ASSERT_EQ(S_OK, plugin->SetCurrentUser(nullptr));
  EXPECT_EQ(L"", session->CurrentUin());
  EXPECT_EQ(E_FAIL, plugin->OnRecvShareSessionMsg(0, 0, 0, 0)) << "nobody signed in";

  ASSERT_EQ(S_OK, plugin->SetCurrentUser(L"MeToo"));
  EXPECT_EQ(L"metoo", session->CurrentUin());
  EXPECT_EQ(S_OK, plugin->OnRecvShareSessionMsg(99, 0, 0, 0));
  std::string host;
  std::string path;
  ASSERT_TRUE(session->SplitAlbumListUrl(L"pal", &host, &path));
  EXPECT_EQ("/pal.xml", path);
  EXPECT_EQ(E_FAIL, plugin->OnRecvShareSessionMsg(0, 5, 0, 0));

  ASSERT_EQ(S_OK, plugin->ClearSession());
  EXPECT_FALSE(session->SplitAlbumListUrl(L"pal", &host, &path));
  EXPECT_EQ(L"metoo", session->CurrentUin()) << "sign-out data only";
  plugin->SetCurrentUser(nullptr);
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
