// The fetches of the blog service over real loopback HTTP: server directory, album and
// resource lists with their conditional replies, Cid.dat and comment counts.
#include <gtest/gtest.h>

#include "BlogHandler.h"
#include "HttpDate.h"
#include "service/test/ServiceTestFixture.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {
namespace {

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

class ReadEndpointsTest : public ServiceTest {};

TEST_F(ReadEndpointsTest, DirectoryOfAUserWithABlog) {
  store().AddUser("10001");
  const int album = MakeAlbum("10001", "a");
  MakeResource(album, 1);
  MakeResource(album, 2);
  MakeAlbum("10001", "b");

  const ClientReply reply = client().Get("/touch3/10001");
  ASSERT_EQ(200, reply.status);
  EXPECT_EQ(0u, reply.body.find("200\r\n")) << "lines joined by CR LF";
  for (size_t i = 0; i < reply.body.size(); ++i) {
    if (reply.body[i] == '\n') {
      ASSERT_TRUE(i > 0 && reply.body[i - 1] == '\r') << i;
    }
    if (reply.body[i] == '\r') {
      ASSERT_EQ('\n', reply.body[i + 1]) << i;
    }
  }
  const std::vector<std::string> lines = SplitCrLf(reply.body);
  ASSERT_EQ(28u, lines.size());
  EXPECT_EQ("200", lines[0]);
  EXPECT_EQ("2", lines[1]);
  EXPECT_EQ("http://data.velmora.cn/cid/10001/Cid.dat", lines[2]);
  EXPECT_EQ("2", lines[3]);
  EXPECT_EQ("http://data.velmora.cn/blog/10001/albums.xml", lines[4]);
  EXPECT_EQ("2", lines[5]);
  EXPECT_EQ("http://data.velmora.cn/blog/10001/album/<id>.xml", lines[6]);
  const char* names[] = {"resource_batch_collect", "resource_batch_remove", "category_delete",
                         "category_create",        "category_update",       "resource_update",
                         "resource_batch_move"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(names[i], lines[7 + 3 * i]);
    EXPECT_EQ("post.velmora.cn", lines[8 + 3 * i]);
    EXPECT_EQ(std::string("/api/") + names[i], lines[9 + 3 * i]);
  }
  // The earlier client's path gives the same directory.
  EXPECT_EQ(reply.body, client().Get("/touch/10001").body);
}

TEST_F(ReadEndpointsTest, EveryAnnouncedUrlIsServed) {
  store().AddUser("10001");
  const int album = MakeAlbum("10001", "a");
  MakeResource(album, 1);
  const std::vector<std::string> lines = SplitCrLf(client().Get("/touch3/10001").body);
  ASSERT_EQ(28u, lines.size());
  auto path_of = [](const std::string& url) {
    return url.substr(url.find("velmora.cn") + std::string("velmora.cn").size());
  };
  EXPECT_EQ(200, client().Get(path_of(lines[2])).status);
  EXPECT_EQ(200, client().Get(path_of(lines[4])).status);
  std::string resources = path_of(lines[6]);
  resources.replace(resources.find('<'), resources.find('>') - resources.find('<') + 1,
                    std::to_string(album));
  EXPECT_EQ(200, client().Get(resources).status);
  // Absolute-form targets and any Host are served alike.
  EXPECT_EQ(200, client().Get(lines[4]).status);
  EXPECT_EQ(200, client().Get(path_of(lines[4]), {{"Host", "elsewhere.example"}}).status);
}

TEST_F(ReadEndpointsTest, DirectoryOfAUserWithoutABlog) {
  ClientReply reply = client().Get("/touch3/20002");
  EXPECT_EQ(200, reply.status);
  EXPECT_EQ("404", reply.body);
  store().AddUser("20003", false);
  EXPECT_EQ("404", client().Get("/touch3/20003").body);
  EXPECT_EQ("404", client().Get("/touch3/bad%20uin").body);
  EXPECT_EQ(404, client().Get("/touch3/10001/extra").status);
}

class OpenBlogsTest : public ServiceTest {
  void Configure(ServiceOptions& options) override { options.open_blogs_on_demand = true; }
};

TEST_F(OpenBlogsTest, UnknownUsersGetABlogButClosedOnesDoNot) {
  const std::vector<std::string> lines = SplitCrLf(client().Get("/touch3/30003").body);
  ASSERT_EQ(28u, lines.size());
  EXPECT_EQ("200", lines[0]);
  EXPECT_EQ("0", lines[3]);
  EXPECT_EQ(200, client().Get("/blog/30003/albums.xml").status);
  store().AddUser("30004", false);
  EXPECT_EQ("404", client().Get("/touch3/30004").body);
}

TEST_F(ReadEndpointsTest, AlbumListShape) {
  store().AddUser("10001");
  AlbumFields travel;
  travel.name = "旅行 & <Trips>";
  travel.desc = "海边\r\n山里";
  travel.pic_url = "http://pic.velmora.cn/12 图.jpg";
  travel.category_type = 3;
  travel.show_status = 7;
  travel.tags = {"海", "山"};
  const int first = store().AddAlbum("10001", travel);
  const int second = MakeAlbum("10001", "Plain");

  const ClientReply reply = client().Get("/blog/10001/albums.xml");
  ASSERT_EQ(200, reply.status);
  EXPECT_EQ("text/xml; charset=utf-8", reply.Header("Content-Type"));
  int64_t modified = 0;
  EXPECT_TRUE(ParseHttpDate(reply.Header("Last-Modified"), &modified));
  pugi::xml_document doc;
  const pugi::xml_node root = ParseXml(reply, doc);
  EXPECT_STREQ("categories", root.name());
  ASSERT_EQ(2, std::distance(root.children("category").begin(), root.children("category").end()));
  const pugi::xml_node a = root.child("category");
  EXPECT_EQ(first, a.attribute("id").as_int());
  EXPECT_EQ(3, a.attribute("category_type").as_int());
  EXPECT_EQ(7, a.attribute("show_status").as_int());
  const std::string last_time = a.attribute("last_time").value();
  EXPECT_EQ(FormatLocalTime(clock_->load()), last_time);
  EXPECT_EQ(travel.name, a.child("category_name").text().get());
  EXPECT_EQ(travel.desc, a.child("desc").text().get());
  // The client reads pic_url in its ANSI code page: only ASCII goes out.
  EXPECT_STREQ("http://pic.velmora.cn/12%20%E5%9B%BE.jpg", a.child("pic_url").text().get());
  EXPECT_EQ(2, a.child("tags").attribute("tag_num").as_int());
  EXPECT_STREQ("海", a.child("tags").child("tag").text().get());
  EXPECT_STREQ("山", a.child("tags").child("tag").next_sibling("tag").text().get());
  const pugi::xml_node b = a.next_sibling("category");
  EXPECT_EQ(second, b.attribute("id").as_int());
  EXPECT_EQ(0, b.child("tags").attribute("tag_num").as_int());
  EXPECT_TRUE(b.child("pic_url"));
}

TEST_F(ReadEndpointsTest, AlbumListIsConditional) {
  store().AddUser("10001");
  MakeAlbum("10001", "a");
  const ClientReply first = client().Get("/blog/10001/albums.xml");
  ASSERT_EQ(200, first.status);
  const std::string stamp = first.Header("Last-Modified");
  ASSERT_FALSE(stamp.empty());

  const ClientReply same = client().Get("/blog/10001/albums.xml", {{"If-Modified-Since", stamp}});
  EXPECT_EQ(304, same.status);
  EXPECT_EQ("", same.body);
  EXPECT_EQ("", same.Header("Content-Length"));
  EXPECT_EQ(stamp, same.Header("Last-Modified"));
  EXPECT_TRUE(same.keep_alive);
  int64_t seconds = 0;
  ASSERT_TRUE(ParseHttpDate(stamp, &seconds));
  EXPECT_EQ(304, client()
                     .Get("/blog/10001/albums.xml",
                          {{"If-Modified-Since", FormatHttpDate(seconds + 60)}})
                     .status);
  EXPECT_EQ(200, client()
                     .Get("/blog/10001/albums.xml",
                          {{"If-Modified-Since", FormatHttpDate(seconds - 1)}})
                     .status);
  // What the client sends with an empty cache, and a stamp that is no date.
  EXPECT_EQ(200, client()
                     .Get("/blog/10001/albums.xml",
                          {{"If-Modified-Since", "Fri, 1 Jun 1000 01:01:01 GMT"}})
                     .status);
  EXPECT_EQ(200,
            client().Get("/blog/10001/albums.xml", {{"If-Modified-Since", "garbage"}}).status);
}

TEST_F(ReadEndpointsTest, AlbumListOfAnUnknownUserIs404) {
  const ClientReply reply = client().Get("/blog/40004/albums.xml");
  EXPECT_EQ(404, reply.status);
  EXPECT_EQ("", reply.body);
  store().AddUser("10001");
  pugi::xml_document doc;
  const ClientReply empty = client().Get("/blog/10001/albums.xml");
  ASSERT_EQ(200, empty.status);
  EXPECT_STREQ("categories", ParseXml(empty, doc).name());
  EXPECT_FALSE(doc.document_element().first_child());
}

TEST_F(ReadEndpointsTest, ResourceListShape) {
  store().AddUser("10001");
  const int album = MakeAlbum("10001", "a");
  ResourceFields fields;
  fields.cid = "00aaff" + TestCid(1).substr(6);
  fields.gcid = TestCid(2);
  fields.name = "夜曲 & <live>.mp3";
  fields.format = "mp3";
  fields.size = "0004718592";
  fields.url = "http://dl.velmora.cn/夜曲.mp3";
  fields.original = "http://www.velmora.cn/o?a=1&b=2";
  fields.desc = "line1\nline2";
  fields.res_type = 5;
  const int id = store().AddResource(album, fields);
  const int undone = MakeResource(album, 3, true);
  const int review = MakeResource(album, 4, false, true);

  const ClientReply reply = client().Get("/blog/10001/album/" + std::to_string(album) + ".xml");
  ASSERT_EQ(200, reply.status);
  EXPECT_FALSE(reply.Header("Last-Modified").empty());
  pugi::xml_document doc;
  const pugi::xml_node root = ParseXml(reply, doc);
  EXPECT_STREQ("resources", root.name());
  const pugi::xml_node r = root.find_child_by_attribute("resource", "id",
                                                         std::to_string(id).c_str());
  ASSERT_TRUE(r);
  EXPECT_EQ("00AAFF" + TestCid(1).substr(6), r.attribute("cid").value()) << "upper case";
  EXPECT_EQ(TestCid(2), r.attribute("gcid").value());
  EXPECT_EQ(5, r.attribute("res_type").as_int());
  EXPECT_STREQ("4718592", r.attribute("size").value());
  EXPECT_STREQ("mp3", r.attribute("format").value());
  EXPECT_EQ(FormatLocalTime(clock_->load()), r.attribute("last_time").value());
  EXPECT_EQ(0, r.attribute("state").as_int());
  EXPECT_EQ(fields.name, r.child("res_name").text().get());
  EXPECT_EQ(fields.url, r.child("url").text().get());
  EXPECT_EQ(fields.original, r.child("original").text().get());
  EXPECT_EQ(fields.desc, r.child("desc").text().get());
  EXPECT_EQ(1, root.find_child_by_attribute("resource", "id", std::to_string(undone).c_str())
                   .attribute("state")
                   .as_int());
  EXPECT_EQ(2, root.find_child_by_attribute("resource", "id", std::to_string(review).c_str())
                   .attribute("state")
                   .as_int());
}

TEST_F(ReadEndpointsTest, ResourceListAnswers404And304And500) {
  store().AddUser("10001");
  store().AddUser("10002");
  const int album = MakeAlbum("10001", "a");
  const int empty = MakeAlbum("10001", "empty");
  const int foreign = MakeAlbum("10002", "theirs");
  MakeResource(album, 1);
  MakeResource(foreign, 2);
  const std::string path = "/blog/10001/album/" + std::to_string(album) + ".xml";

  EXPECT_EQ(404, client().Get("/blog/10001/album/99999.xml").status) << "unknown album";
  EXPECT_EQ(404, client().Get("/blog/10001/album/" + std::to_string(foreign) + ".xml").status)
      << "another user's album";
  const ClientReply none = client().Get("/blog/10001/album/" + std::to_string(empty) + ".xml");
  EXPECT_EQ(404, none.status) << "empty album";
  EXPECT_EQ("", none.body);
  EXPECT_EQ(404, client().Get("/blog/10001/album/x1.xml").status);

  const ClientReply full = client().Get(path);
  ASSERT_EQ(200, full.status);
  EXPECT_EQ(304, client().Get(path, {{"If-Modified-Since", full.Header("Last-Modified")}}).status);

  store().SetFaultInjection(true);
  const ClientReply fault = client().Get(path);
  EXPECT_EQ(500, fault.status);
  EXPECT_EQ("", fault.body);
  store().SetFaultInjection(false);
  EXPECT_EQ(200, client().Get(path).status);
}

TEST_F(ReadEndpointsTest, CidDatRecords) {
  store().AddUser("10001");
  const int a = MakeAlbum("10001", "a");
  const int b = MakeAlbum("10001", "b");
  ResourceFields fields;
  fields.name = "x";
  fields.cid = "000AFF" + TestCid(7).substr(6);
  store().AddResource(b, fields);
  MakeResource(a, 8);
  const int big = MakeAlbum("10001", "c");
  MakeResource(big, 9);

  const ClientReply reply = client().Get("/cid/10001/Cid.dat");
  ASSERT_EQ(200, reply.status);
  EXPECT_EQ("application/octet-stream", reply.Header("Content-Type"));
  ASSERT_EQ(72u, reply.body.size());
  auto album_of = [&](size_t record) {
    const auto* p = reinterpret_cast<const unsigned char*>(reply.body.data() + record * 24 + 20);
    return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
  };
  auto cid_of = [&](size_t record) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (size_t i = 0; i < 20; ++i) {
      const unsigned char byte = static_cast<unsigned char>(reply.body[record * 24 + i]);
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 0xF];
    }
    return hex;
  };
  // Ordered by album, little-endian album ids, raw content-id bytes.
  EXPECT_EQ(a, album_of(0));
  EXPECT_EQ(TestCid(8), cid_of(0));
  EXPECT_EQ(b, album_of(1));
  EXPECT_EQ("000AFF" + TestCid(7).substr(6), cid_of(1));
  EXPECT_EQ(big, album_of(2));

  EXPECT_EQ(404, client().Get("/cid/10002/Cid.dat").status) << "unknown user";
  store().AddUser("10003");
  MakeAlbum("10003", "empty");
  EXPECT_EQ(404, client().Get("/cid/10003/Cid.dat").status) << "user without resources";
}

TEST_F(ReadEndpointsTest, CidDatCarriesLargeAlbumIdsLittleEndian) {
  store().AddUser("10001");
  // Push the album id counter past one byte so every byte of the id is exercised.
  for (int i = 0; i < 260; ++i) MakeAlbum("10001", "album" + std::to_string(i));
  const int album = MakeAlbum("10001", "last");
  MakeResource(album, 1);
  const ClientReply reply = client().Get("/cid/10001/Cid.dat");
  ASSERT_EQ(24u, reply.body.size());
  EXPECT_EQ(static_cast<char>(album & 0xFF), reply.body[20]);
  EXPECT_EQ(static_cast<char>((album >> 8) & 0xFF), reply.body[21]);
  EXPECT_EQ(0, reply.body[22]);
  EXPECT_EQ(0, reply.body[23]);
}

TEST_F(ReadEndpointsTest, CommentCount) {
  store().SetCommentCount("KEY1", 12);
  ClientReply reply = client().Get("/comment/KEY1", {{"Connection", "Close"}});
  EXPECT_EQ(200, reply.status);
  EXPECT_EQ("12", reply.body);
  EXPECT_FALSE(reply.keep_alive) << "the client asks to close after the reply";
  EXPECT_EQ("0", client().Get("/comment/unknown").body);
  store().SetCommentCount("KEY1", 13);
  EXPECT_EQ("13", client().Get("/comment/KEY1").body);
}

TEST_F(ReadEndpointsTest, UnknownPathsAndMethods) {
  EXPECT_EQ(404, client().Get("/").status);
  EXPECT_EQ(404, client().Get("/blog/10001").status);
  EXPECT_EQ(404, client().Get("/blog/10001/other.xml").status);
  EXPECT_EQ(405, client().Get("/api/category_create").status);
  EXPECT_EQ(404, client().Post("/api/category_explode", "uin=1", TestCookie("1", clock_->load())).status);
  EXPECT_EQ(405, client().Send("DELETE", "/touch3/10001", {}, "").status);
}

TEST_F(ReadEndpointsTest, DemoSeedFillsABlog) {
  ASSERT_TRUE(store().SeedDemo("10001"));
  EXPECT_FALSE(store().SeedDemo("10001")) << "seeding twice changes nothing";
  const std::vector<std::string> lines = SplitCrLf(client().Get("/touch3/10001").body);
  ASSERT_EQ(28u, lines.size());
  EXPECT_EQ("4", lines[3]);
  pugi::xml_document doc;
  const pugi::xml_node root = ParseXml(client().Get("/blog/10001/albums.xml"), doc);
  int albums = 0, with_resources = 0;
  for (const pugi::xml_node album : root.children("category")) {
    ++albums;
    const ClientReply list =
        client().Get("/blog/10001/album/" + std::string(album.attribute("id").value()) + ".xml");
    if (list.status != 200) continue;
    ++with_resources;
    pugi::xml_document resources;
    for (const pugi::xml_node r : ParseXml(list, resources).children("resource")) {
      const std::string cid = r.attribute("cid").value();
      EXPECT_EQ(40u, cid.size());
      EXPECT_NE("0", client().Get("/comment/" + cid).body);
    }
  }
  EXPECT_EQ(4, albums);
  EXPECT_EQ(3, with_resources);
  EXPECT_EQ(7u * 24, client().Get("/cid/10001/Cid.dat").body.size());
}

}  // namespace
}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
