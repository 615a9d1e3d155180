// Album writes over HTTP (create, update, delete), with every word each can answer,
// reached through the condition that causes it.
#include <gtest/gtest.h>

#include "HttpDate.h"
#include "service/test/ServiceTestFixture.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {
namespace {

class AlbumWritesTest : public ServiceTest {
 protected:
  void Configure(ServiceOptions& options) override {
    options.max_albums_per_user = 3;
    options.album_create_cost = 10;
    options.initial_wealth = 25;
  }
  void SetUp() override {
    ServiceTest::SetUp();
    store().AddUser(kUin);
  }

  // Album ids in the user's album list, in list order.
  std::vector<std::string> AlbumNames() {
    pugi::xml_document doc;
    std::vector<std::string> names;
    const ClientReply reply = client().Get(std::string("/blog/") + kUin + "/albums.xml");
    if (reply.status != 200) return names;
    for (const pugi::xml_node album : ParseXml(reply, doc).children("category")) {
      names.push_back(album.child("category_name").text().get());
    }
    return names;
  }

  static AlbumFields Album(const std::string& name) {
    AlbumFields album;
    album.name = name;
    album.desc = "desc";
    album.pic_url = "http://pic.velmora.cn/p.jpg";
    album.show_status = 1;
    return album;
  }

  static constexpr const char* kUin = "10001";
};

TEST_F(AlbumWritesTest, CreateStoresEveryFieldAsSent) {
  AlbumFields album;
  album.name = "旅行 a&b c=d?e/f\\g+h%i#\"j\"";
  album.desc = "第一行\r\n第二行";
  album.pic_url = "http://pic.velmora.cn/p.jpg?x=1&y=2";
  album.category_type = 4;
  album.show_status = 2;  // the client sends 0 for anything but 1
  album.tags = {"海 sea", "山&hill", "3"};
  const ClientReply reply = PostWrite("category_create", CreateAlbumForm(kUin, album), kUin);
  ASSERT_EQ(200, reply.status);
  EXPECT_EQ("text/xml; charset=utf-8", reply.Header("Content-Type"));
  pugi::xml_document doc;
  const pugi::xml_node result = ParseXml(reply, doc);
  EXPECT_STREQ("result", result.name());
  EXPECT_STREQ("1", result.attribute("return").value());
  EXPECT_STREQ("success", result.attribute("message").value());
  const int id = result.attribute("category_id").as_int();
  ASSERT_GT(id, 0);

  const auto stored = store().GetAlbum(id);
  ASSERT_TRUE(stored);
  EXPECT_EQ(album.name, stored->fields.name);
  EXPECT_EQ(album.desc, stored->fields.desc);
  EXPECT_EQ(album.pic_url, stored->fields.pic_url);
  EXPECT_EQ(4, stored->fields.category_type);
  EXPECT_EQ(0, stored->fields.show_status);
  EXPECT_EQ(album.tags, stored->fields.tags);
  EXPECT_EQ(std::optional<int64_t>(15), store().GetWealth(kUin)) << "the album cost 10 points";
}

TEST_F(AlbumWritesTest, CreateRefusals) {
  ASSERT_EQ("success", PostForMessage("category_create", CreateAlbumForm(kUin, Album("A")), kUin));
  EXPECT_EQ("duplicate",
            PostForMessage("category_create", CreateAlbumForm(kUin, Album("A")), kUin));
  EXPECT_EQ("illegal",
            PostForMessage("category_create", CreateAlbumForm(kUin, Album("my BadWord")), kUin));
  AlbumFields tagged = Album("B");
  tagged.tags = {"ok", "badword"};
  EXPECT_EQ("illegal", PostForMessage("category_create", CreateAlbumForm(kUin, tagged), kUin));
  AlbumFields described = Album("B");
  described.desc = "...badword...";
  EXPECT_EQ("illegal", PostForMessage("category_create", CreateAlbumForm(kUin, described), kUin));
  EXPECT_EQ("fail", PostForMessage("category_create", CreateAlbumForm(kUin, Album("")), kUin));
  EXPECT_EQ("fail", PostForMessage("category_create",
                                   "encoder=utf-8&uin=10001&category_type=0", kUin));
  EXPECT_EQ("fail", PostForMessage("category_create",
                                   "encoder=utf-8&uin=10001&category_name=C&category_type=x"
                                   "&show_status=1&category_desc=&pic_url=",
                                   kUin));

  // 25 points, 10 per album: the second album is paid, the third is not.
  ASSERT_EQ("success", PostForMessage("category_create", CreateAlbumForm(kUin, Album("B")), kUin));
  EXPECT_EQ("no_bill", PostForMessage("category_create", CreateAlbumForm(kUin, Album("C")), kUin));
  store().SetWealth(kUin, 1000);
  ASSERT_EQ("success", PostForMessage("category_create", CreateAlbumForm(kUin, Album("C")), kUin));
  EXPECT_EQ("excess", PostForMessage("category_create", CreateAlbumForm(kUin, Album("D")), kUin))
      << "three albums is the limit";
  EXPECT_EQ((std::vector<std::string>{"A", "B", "C"}), AlbumNames());

  pugi::xml_document doc;
  const pugi::xml_node refused =
      ParseXml(PostWrite("category_create", CreateAlbumForm(kUin, Album("A")), kUin), doc);
  EXPECT_STREQ("0", refused.attribute("return").value());
  EXPECT_FALSE(refused.attribute("category_id"));
}

TEST_F(AlbumWritesTest, CreateChecksTheCookie) {
  const std::string form = CreateAlbumForm(kUin, Album("A"));
  EXPECT_EQ("denied", PostForMessage("category_create", form, "")) << "no cookie";
  EXPECT_EQ("denied", PostForMessage("category_create", form, "10002")) << "someone else's";
  const ClientReply forged = client().Post(
      "/api/category_create", form,
      "login_name=10001; login_time=20261201100000; key=00000000000000000000000000000000");
  pugi::xml_document doc;
  const pugi::xml_node result = ParseXml(forged, doc);
  EXPECT_STREQ("0", result.attribute("return").value());
  EXPECT_STREQ("denied", result.attribute("message").value());
  EXPECT_TRUE(AlbumNames().empty());
}

TEST_F(AlbumWritesTest, AReplayedCookieIsDeniedOnceItsWindowHasPassed) {
  // A cookie captured now works while the service's clock stays within five minutes of
  // its login time, and is denied after.
  const std::string cookie = TestCookie(kUin, clock_->load());
  auto post = [&](const std::string& name) {
    pugi::xml_document doc;
    return std::string(ParseXml(client().Post("/api/category_create",
                                              CreateAlbumForm(kUin, Album(name)), cookie),
                                doc)
                           .attribute("message")
                           .value());
  };
  clock_->store(clock_->load() + 300);
  EXPECT_EQ("success", post("Within"));
  clock_->store(clock_->load() + 1);
  EXPECT_EQ("denied", post("Replayed"));
  EXPECT_EQ((std::vector<std::string>{"Within"}), AlbumNames());
}

TEST_F(AlbumWritesTest, BlacklistedUsersAreForbiddenEveryWrite) {
  const int album = MakeAlbum(kUin, "A");
  store().SetBlacklisted(kUin, true);
  EXPECT_EQ("forbidden",
            PostForMessage("category_create", CreateAlbumForm(kUin, Album("B")), kUin));
  EXPECT_EQ("forbidden",
            PostForMessage("category_update", ModifyAlbumForm(kUin, album, Album("B")), kUin));
  EXPECT_EQ("forbidden", PostForMessage("category_delete", RemoveAlbumForm(kUin, album), kUin));
  store().SetBlacklisted(kUin, false);
  EXPECT_EQ("success", PostForMessage("category_delete", RemoveAlbumForm(kUin, album), kUin));
}

TEST_F(AlbumWritesTest, TheFirstAlbumOpensABlog) {
  EXPECT_EQ("404", client().Get("/touch3/50005").body);
  EXPECT_EQ("success",
            PostForMessage("category_create", CreateAlbumForm("50005", Album("First")), "50005"));
  EXPECT_NE("404", client().Get("/touch3/50005").body);
}

TEST_F(AlbumWritesTest, DatabaseFaultsAnswerFail) {
  const int album = MakeAlbum(kUin, "A");
  store().SetFaultInjection(true);
  EXPECT_EQ("fail", PostForMessage("category_create", CreateAlbumForm(kUin, Album("B")), kUin));
  EXPECT_EQ("fail",
            PostForMessage("category_update", ModifyAlbumForm(kUin, album, Album("B")), kUin));
  EXPECT_EQ("fail", PostForMessage("category_delete", RemoveAlbumForm(kUin, album), kUin));
  store().SetFaultInjection(false);
  EXPECT_EQ((std::vector<std::string>{"A"}), AlbumNames());
}

TEST_F(AlbumWritesTest, UpdateReplacesTheDescription) {
  const int album = MakeAlbum(kUin, "A");
  MakeAlbum(kUin, "Other");
  AlbumFields changed = Album("A2 新");
  changed.tags = {"x"};
  changed.category_type = 2;
  changed.show_status = 0;
  changed.newly_added_res_num = 5;
  const ClientReply reply =
      PostWrite("category_update", ModifyAlbumForm(kUin, album, changed), kUin);
  pugi::xml_document doc;
  const pugi::xml_node result = ParseXml(reply, doc);
  EXPECT_STREQ("1", result.attribute("return").value());
  EXPECT_STREQ("success", result.attribute("message").value());
  EXPECT_EQ(album, result.attribute("category_id").as_int());
  const auto stored = store().GetAlbum(album);
  ASSERT_TRUE(stored);
  EXPECT_EQ("A2 新", stored->fields.name);
  EXPECT_EQ(std::vector<std::string>{"x"}, stored->fields.tags);
  EXPECT_EQ(2, stored->fields.category_type);
  EXPECT_EQ(0, stored->fields.show_status);
  EXPECT_EQ(5, stored->fields.newly_added_res_num);
  // Keeping its own name is no duplicate.
  EXPECT_EQ("success",
            PostForMessage("category_update", ModifyAlbumForm(kUin, album, changed), kUin));
}

TEST_F(AlbumWritesTest, UpdateRefusals) {
  const int album = MakeAlbum(kUin, "A");
  MakeAlbum(kUin, "Other");
  store().AddUser("10002");
  const int foreign = MakeAlbum("10002", "Theirs");
  EXPECT_EQ("duplicate",
            PostForMessage("category_update", ModifyAlbumForm(kUin, album, Album("Other")), kUin));
  EXPECT_EQ("no_exist",
            PostForMessage("category_update", ModifyAlbumForm(kUin, 9999, Album("Z")), kUin));
  EXPECT_EQ("no_exist",
            PostForMessage("category_update", ModifyAlbumForm(kUin, foreign, Album("Z")), kUin));
  EXPECT_EQ("illegal", PostForMessage("category_update",
                                      ModifyAlbumForm(kUin, album, Album("badword")), kUin));
  EXPECT_EQ("denied",
            PostForMessage("category_update", ModifyAlbumForm(kUin, album, Album("Z")), "10002"));
  EXPECT_EQ("fail", PostForMessage("category_update",
                                   "encoder=utf-8&uin=10001&category_name=Z", kUin))
      << "no category_id";
  EXPECT_EQ("A", store().GetAlbum(album)->fields.name);
  EXPECT_EQ("Theirs", store().GetAlbum(foreign)->fields.name);
}

TEST_F(AlbumWritesTest, DeleteAnswersWithAMessageOnly) {
  const int album = MakeAlbum(kUin, "A");
  const int full = MakeAlbum(kUin, "Full");
  MakeResource(full, 1);
  store().AddUser("10002");
  const int foreign = MakeAlbum("10002", "Theirs");

  pugi::xml_document doc;
  const pugi::xml_node result =
      ParseXml(PostWrite("category_delete", RemoveAlbumForm(kUin, album), kUin), doc);
  EXPECT_STREQ("success", result.attribute("message").value());
  EXPECT_FALSE(result.attribute("return")) << "the client reads only the message here";
  EXPECT_FALSE(store().GetAlbum(album));

  EXPECT_EQ("no_exist", PostForMessage("category_delete", RemoveAlbumForm(kUin, album), kUin));
  EXPECT_EQ("no_exist", PostForMessage("category_delete", RemoveAlbumForm(kUin, foreign), kUin));
  EXPECT_EQ("no_empty", PostForMessage("category_delete", RemoveAlbumForm(kUin, full), kUin));
  EXPECT_EQ("denied", PostForMessage("category_delete", RemoveAlbumForm(kUin, full), "10002"));
  EXPECT_EQ("fail", PostForMessage("category_delete", "uin=10001&category_id=", kUin));
  EXPECT_TRUE(store().GetAlbum(full));
  EXPECT_TRUE(store().GetAlbum(foreign));
}

TEST_F(AlbumWritesTest, EveryAlbumWriteMovesTheAlbumListStamp) {
  // The clock stands still: the stamps must still move within the same second.
  auto stamp = [&] { return client().Get("/blog/10001/albums.xml").Header("Last-Modified"); };
  std::string before = stamp();
  ASSERT_EQ("success", PostForMessage("category_create", CreateAlbumForm(kUin, Album("A")), kUin));
  std::string after = stamp();
  EXPECT_EQ(304, client().Get("/blog/10001/albums.xml", {{"If-Modified-Since", after}}).status);
  EXPECT_EQ(200, client().Get("/blog/10001/albums.xml", {{"If-Modified-Since", before}}).status);
  int64_t t0 = 0, t1 = 0;
  ASSERT_TRUE(ParseHttpDate(before, &t0));
  ASSERT_TRUE(ParseHttpDate(after, &t1));
  EXPECT_GT(t1, t0);

  const int album = store().GetAlbumList(kUin)->albums.front().id;
  before = after;
  ASSERT_EQ("success",
            PostForMessage("category_update", ModifyAlbumForm(kUin, album, Album("B")), kUin));
  after = stamp();
  EXPECT_NE(before, after);
  before = after;
  ASSERT_EQ("success", PostForMessage("category_delete", RemoveAlbumForm(kUin, album), kUin));
  EXPECT_NE(before, stamp());

  // A refused write changes nothing, so the stamp stays.
  before = stamp();
  ASSERT_EQ("no_exist", PostForMessage("category_delete", RemoveAlbumForm(kUin, album), kUin));
  EXPECT_EQ(before, stamp());
}

TEST_F(AlbumWritesTest, StampsFollowTheClockWhenItMoves) {
  const std::string before = client().Get("/blog/10001/albums.xml").Header("Last-Modified");
  clock_->store(clock_->load() + 3600);
  ASSERT_EQ("success", PostForMessage("category_create", CreateAlbumForm(kUin, Album("A")), kUin));
  const std::string after = client().Get("/blog/10001/albums.xml").Header("Last-Modified");
  EXPECT_EQ(FormatHttpDate(clock_->load()), after);
  EXPECT_NE(before, after);
}

}  // namespace
}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
