// Resource writes over HTTP (batch collect, batch remove, copy and move, resource
// update), with every word each can answer, reached through the condition that causes it.
#include <algorithm>
#include <chrono>
#include <set>

#include <gtest/gtest.h>

#include "service/test/ServiceTestFixture.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {
namespace {

class ResourceWritesTest : public ServiceTest {
 protected:
  void Configure(ServiceOptions& options) override { options.max_resources_per_album = 3; }
  void SetUp() override {
    ServiceTest::SetUp();
    store().AddUser(kUin);
    source_ = MakeAlbum(kUin, "Source");
    target_ = MakeAlbum(kUin, "Target");
  }

  // Resource ids of an album, ascending.
  std::vector<int> Ids(int album) {
    std::vector<int> ids;
    const auto list = store().GetResourceList(kUin, album);
    if (!list) return ids;
    for (const ResourceRecord& r : list->resources) ids.push_back(r.id);
    return ids;
  }

  std::string ListPath(int album) {
    return std::string("/blog/") + kUin + "/album/" + std::to_string(album) + ".xml";
  }

  static ClientResource Resource(int n, const std::string& name = "") {
    ClientResource r;
    r.cid = TestCid(n);
    r.gcid = TestCid(n + 5000);
    r.name = name.empty() ? "file " + std::to_string(n) + ".mp4" : name;
    return r;
  }

  static constexpr const char* kUin = "10001";
  int source_ = 0;
  int target_ = 0;
};

// ------------------------------------------------------------------ batch collect

TEST_F(ResourceWritesTest, CollectAddsResourcesWithTheirStates) {
  ClientResource plain = Resource(1, "海边 & 日落.mp4");
  plain.desc = "a=b / c?d";
  plain.size = "73400320";
  ClientResource unfinished = Resource(2);
  unfinished.state = 1;
  ClientResource reviewed = Resource(3, "needs reviewword please");
  const ClientReply reply =
      PostWrite("resource_batch_collect", CollectForm(kUin, source_, {plain, unfinished, reviewed}),
                kUin);
  ASSERT_EQ(200, reply.status);
  pugi::xml_document doc;
  const pugi::xml_node result = ParseXml(reply, doc);
  EXPECT_STREQ("1", result.attribute("return").value());
  EXPECT_STREQ("success", result.attribute("message").value());
  std::vector<pugi::xml_node> items(result.children("resource").begin(),
                                    result.children("resource").end());
  ASSERT_EQ(3u, items.size());
  std::vector<int> states;
  for (const pugi::xml_node item : items) {
    EXPECT_STREQ("1", item.attribute("add").value());
    states.push_back(item.attribute("state").as_int());
  }
  EXPECT_EQ((std::vector<int>{0, 1, 2}), states);
  const std::vector<int> ids = {items[0].attribute("id").as_int(), items[1].attribute("id").as_int(),
                                items[2].attribute("id").as_int()};
  EXPECT_EQ(ids, Ids(source_));

  const auto stored = store().GetResource(ids[0]);
  ASSERT_TRUE(stored);
  EXPECT_EQ(plain.name, stored->fields.name);
  EXPECT_EQ(plain.desc, stored->fields.desc);
  EXPECT_EQ(plain.cid, stored->fields.cid);
  EXPECT_EQ("73400320", stored->fields.size);
  EXPECT_EQ(plain.refer, stored->fields.refer);
  EXPECT_EQ(72u, client().Get("/cid/10001/Cid.dat").body.size());
}

TEST_F(ResourceWritesTest, CollectRefusesItemByItem) {
  MakeResource(source_, 1);
  ClientResource bad_cid = Resource(2);
  bad_cid.cid = "not-a-content-id";
  ClientResource bad_size = Resource(3);
  bad_size.size = "12kB";
  const std::vector<ClientResource> batch = {
      Resource(1),                  // already in the album
      bad_cid,                      // malformed
      bad_size,                     // malformed
      Resource(4, "a badword"),     // sensitive word
      Resource(5),                  // collected (2 of 3)
      Resource(5),                  // collected a moment ago in this batch
      Resource(6),                  // collected (3 of 3)
      Resource(7),                  // album full
  };
  const ClientReply reply =
      PostWrite("resource_batch_collect", CollectForm(kUin, source_, batch), kUin);
  pugi::xml_document doc;
  const pugi::xml_node result = ParseXml(reply, doc);
  EXPECT_STREQ("1", result.attribute("return").value());
  std::vector<std::string> words;
  std::set<int> refusal_ids;
  for (const pugi::xml_node item : result.children("resource")) {
    if (std::string(item.attribute("add").value()) == "1") {
      words.push_back("added");
      EXPECT_GT(item.attribute("id").as_int(), 0);
    } else {
      words.push_back(item.attribute("message").value());
      EXPECT_FALSE(item.attribute("state"));
      refusal_ids.insert(item.attribute("id").as_int());
    }
  }
  EXPECT_EQ((std::vector<std::string>{"duplicate", "fail", "fail", "illegal", "added",
                                      "duplicate", "added", "excess"}),
            words);
  EXPECT_EQ(6u, refusal_ids.size()) << "each refusal keeps an id of its own";
  EXPECT_EQ(3u, Ids(source_).size());
}

TEST_F(ResourceWritesTest, CollectRequestRefusals) {
  auto result_of = [&](const ClientReply& reply, pugi::xml_document& doc) {
    const pugi::xml_node node = ParseXml(reply, doc);
    EXPECT_STREQ("0", node.attribute("return").value());
    EXPECT_FALSE(node.child("resource"));
    return std::string(node.attribute("message").value());
  };
  pugi::xml_document d1, d2, d3, d4, d5;
  EXPECT_EQ("no_exist", result_of(PostWrite("resource_batch_collect",
                                            CollectForm(kUin, 9999, {Resource(1)}), kUin),
                                  d1));
  EXPECT_EQ("denied", result_of(PostWrite("resource_batch_collect",
                                          CollectForm(kUin, source_, {Resource(1)}), "10002"),
                                d2));
  EXPECT_EQ("fail", result_of(PostWrite("resource_batch_collect",
                                        "encoder=utf-8&uin=10001&category_id=1&num=x", kUin),
                              d3));
  store().SetBlacklisted(kUin, true);
  EXPECT_EQ("forbidden", result_of(PostWrite("resource_batch_collect",
                                             CollectForm(kUin, source_, {Resource(1)}), kUin),
                                   d4));
  store().SetBlacklisted(kUin, false);
  store().AddUser("10002");
  const int foreign = MakeAlbum("10002", "Theirs");
  EXPECT_EQ("no_exist", result_of(PostWrite("resource_batch_collect",
                                            CollectForm(kUin, foreign, {Resource(1)}), kUin),
                                  d5));
  EXPECT_TRUE(Ids(source_).empty());
  EXPECT_TRUE(Ids(foreign).empty());
}

TEST_F(ResourceWritesTest, CollectReportsADatabaseFaultAsServerError) {
  store().SetFaultInjection(true);
  const ClientReply reply =
      PostWrite("resource_batch_collect", CollectForm(kUin, source_, {Resource(1)}), kUin);
  EXPECT_EQ(500, reply.status);
  EXPECT_EQ("", reply.body);
  store().SetFaultInjection(false);
  EXPECT_TRUE(Ids(source_).empty());
}

TEST_F(ResourceWritesTest, CollectMovesTheStamps) {
  MakeResource(source_, 1);
  const ClientReply list = client().Get(ListPath(source_));
  const ClientReply albums = client().Get("/blog/10001/albums.xml");
  ASSERT_EQ("success", PostForMessage("resource_batch_collect",
                                      CollectForm(kUin, source_, {Resource(2)}), kUin));
  EXPECT_EQ(200,
            client().Get(ListPath(source_), {{"If-Modified-Since", list.Header("Last-Modified")}})
                .status);
  EXPECT_EQ(200, client()
                     .Get("/blog/10001/albums.xml",
                          {{"If-Modified-Since", albums.Header("Last-Modified")}})
                     .status);
  // Nothing collected: nothing changed.
  const std::string stamp = client().Get(ListPath(source_)).Header("Last-Modified");
  ASSERT_EQ("success", PostForMessage("resource_batch_collect",
                                      CollectForm(kUin, source_, {Resource(2)}), kUin));
  EXPECT_EQ(304, client().Get(ListPath(source_), {{"If-Modified-Since", stamp}}).status);
}

TEST_F(ResourceWritesTest, CollectTakesTheLargestBatchQuickly) {
  std::vector<ClientResource> batch;
  for (int i = 0; i < 1000; ++i) batch.push_back(Resource(100 + i, std::string(200, 'n')));
  const auto start = std::chrono::steady_clock::now();
  const ClientReply reply =
      PostWrite("resource_batch_collect", CollectForm(kUin, source_, batch), kUin);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  pugi::xml_document doc;
  const pugi::xml_node result = ParseXml(reply, doc);
  EXPECT_EQ(1000, std::distance(result.children("resource").begin(),
                                result.children("resource").end()));
  EXPECT_EQ(3u, Ids(source_).size());
  batch.push_back(Resource(5000));
  pugi::xml_document too_many;
  EXPECT_STREQ("fail",
               ParseXml(PostWrite("resource_batch_collect", CollectForm(kUin, source_, batch),
                                  kUin),
                        too_many)
                   .attribute("message")
                   .value());
}

// ------------------------------------------------------------------ batch remove

TEST_F(ResourceWritesTest, BatchRemoveTakesResourcesOut) {
  const int a = MakeResource(source_, 1);
  const int b = MakeResource(source_, 2);
  const int c = MakeResource(source_, 3);
  const std::string stamp = client().Get(ListPath(source_)).Header("Last-Modified");
  pugi::xml_document doc;
  const pugi::xml_node result =
      ParseXml(PostWrite("resource_batch_remove", BatchRemoveForm(kUin, source_, {a, c}), kUin),
               doc);
  EXPECT_STREQ("success", result.attribute("message").value());
  EXPECT_FALSE(result.attribute("return"));
  EXPECT_EQ(std::vector<int>{b}, Ids(source_));
  EXPECT_EQ(200, client().Get(ListPath(source_), {{"If-Modified-Since", stamp}}).status);
  ASSERT_EQ("success",
            PostForMessage("resource_batch_remove", BatchRemoveForm(kUin, source_, {b}), kUin));
  EXPECT_EQ(404, client().Get(ListPath(source_)).status) << "an emptied album answers 404";
  EXPECT_EQ(404, client().Get("/cid/10001/Cid.dat").status);
}

TEST_F(ResourceWritesTest, BatchRemoveIsAllOrNothing) {
  const int a = MakeResource(source_, 1);
  const int elsewhere = MakeResource(target_, 2);
  EXPECT_EQ("no_exist", PostForMessage("resource_batch_remove",
                                       BatchRemoveForm(kUin, source_, {a, 99999}), kUin));
  EXPECT_EQ("no_exist", PostForMessage("resource_batch_remove",
                                       BatchRemoveForm(kUin, source_, {a, elsewhere}), kUin));
  EXPECT_EQ("no_exist",
            PostForMessage("resource_batch_remove", BatchRemoveForm(kUin, 9999, {a}), kUin));
  EXPECT_EQ("denied",
            PostForMessage("resource_batch_remove", BatchRemoveForm(kUin, source_, {a}), "10009"));
  EXPECT_EQ("fail", PostForMessage("resource_batch_remove",
                                   "uin=10001&category_id=" + std::to_string(source_) + "&num=2"
                                   "&id_0=" + std::to_string(a),
                                   kUin))
      << "an id is missing";
  store().SetBlacklisted(kUin, true);
  EXPECT_EQ("forbidden",
            PostForMessage("resource_batch_remove", BatchRemoveForm(kUin, source_, {a}), kUin));
  store().SetBlacklisted(kUin, false);
  store().SetFaultInjection(true);
  EXPECT_EQ("fail",
            PostForMessage("resource_batch_remove", BatchRemoveForm(kUin, source_, {a}), kUin));
  store().SetFaultInjection(false);
  EXPECT_EQ(std::vector<int>{a}, Ids(source_));
  EXPECT_EQ(std::vector<int>{elsewhere}, Ids(target_));
}

// ------------------------------------------------------------------ copy and move

TEST_F(ResourceWritesTest, CopyGivesNewIdsAndKeepsTheOriginals) {
  const int a = MakeResource(source_, 1);
  const int b = MakeResource(source_, 2);
  const std::string target_stamp = client().Get(ListPath(target_)).Header("Last-Modified");
  const std::string source_stamp = client().Get(ListPath(source_)).Header("Last-Modified");
  pugi::xml_document doc;
  const pugi::xml_node result = ParseXml(
      PostWrite("resource_batch_move", TransferForm(kUin, source_, target_, true, {a, b}), kUin),
      doc);
  EXPECT_STREQ("success", result.attribute("message").value());
  EXPECT_FALSE(result.attribute("return"));
  std::vector<int> copies;
  for (const pugi::xml_node item : result.children("resource")) {
    EXPECT_STREQ("1", item.attribute("done").value());
    EXPECT_EQ(0, item.attribute("state").as_int());
    copies.push_back(item.attribute("id").as_int());
  }
  ASSERT_EQ(2u, copies.size());
  EXPECT_TRUE(copies[0] != a && copies[0] != b && copies[1] != a && copies[1] != b);
  EXPECT_EQ(copies, Ids(target_));
  EXPECT_EQ((std::vector<int>{a, b}), Ids(source_));
  EXPECT_EQ(store().GetResource(a)->fields.cid, store().GetResource(copies[0])->fields.cid);
  EXPECT_EQ(200, client().Get(ListPath(target_), {{"If-Modified-Since", target_stamp}}).status);
  EXPECT_EQ(304, client().Get(ListPath(source_), {{"If-Modified-Since", source_stamp}}).status);
}

TEST_F(ResourceWritesTest, MoveKeepsIdsAndEmptiesTheSource) {
  const int a = MakeResource(source_, 1);
  const int b = MakeResource(source_, 2);
  const std::string source_stamp = client().Get(ListPath(source_)).Header("Last-Modified");
  pugi::xml_document doc;
  const pugi::xml_node result = ParseXml(
      PostWrite("resource_batch_move", TransferForm(kUin, source_, target_, false, {b, a}), kUin),
      doc);
  EXPECT_STREQ("success", result.attribute("message").value());
  std::vector<int> moved;
  for (const pugi::xml_node item : result.children("resource")) {
    EXPECT_STREQ("1", item.attribute("done").value());
    moved.push_back(item.attribute("id").as_int());
  }
  EXPECT_EQ((std::vector<int>{b, a}), moved);
  EXPECT_EQ((std::vector<int>{a, b}), Ids(target_));
  EXPECT_TRUE(Ids(source_).empty());
  EXPECT_EQ(404, client().Get(ListPath(source_), {{"If-Modified-Since", source_stamp}}).status);
}

TEST_F(ResourceWritesTest, TransferRefusesItemByItem) {
  const int held = MakeResource(target_, 1);
  MakeResource(target_, 2);
  const int dup = MakeResource(source_, 1);  // same content as one in the target
  const int ok = MakeResource(source_, 3);   // fills the target (3 of 3)
  const int over = MakeResource(source_, 4); // target full
  const int unfinished = MakeResource(source_, 5, true);
  const int review = MakeResource(source_, 6, false, true);
  pugi::xml_document doc;
  const pugi::xml_node result = ParseXml(
      PostWrite("resource_batch_move",
                TransferForm(kUin, source_, target_, false,
                             {99999, held, review, unfinished, dup, ok, over}),
                kUin),
      doc);
  EXPECT_STREQ("success", result.attribute("message").value()) << "one of them moved";
  std::vector<std::string> words;
  std::vector<int> ids;
  for (const pugi::xml_node item : result.children("resource")) {
    words.push_back(std::string(item.attribute("done").value()) == "1"
                        ? "done"
                        : item.attribute("message").value());
    ids.push_back(item.attribute("id").as_int());
  }
  EXPECT_EQ((std::vector<std::string>{"no_exist", "no_exist", "audit", "undone", "duplicate",
                                      "done", "excess"}),
            words);
  EXPECT_EQ((std::vector<int>{99999, held, review, unfinished, dup, ok, over}), ids)
      << "a move names each resource by its own id";
  EXPECT_EQ(3u, Ids(target_).size());
}

TEST_F(ResourceWritesTest, TransferWithNothingDoneFails) {
  MakeResource(target_, 1);
  MakeResource(target_, 2);
  MakeResource(target_, 3);
  const int a = MakeResource(source_, 4);
  const int b = MakeResource(source_, 5);
  pugi::xml_document doc;
  const pugi::xml_node result = ParseXml(
      PostWrite("resource_batch_move", TransferForm(kUin, source_, target_, true, {a, b}), kUin),
      doc);
  EXPECT_STREQ("fail", result.attribute("message").value());
  ASSERT_TRUE(result.child("resource"));
  EXPECT_STREQ("0", result.child("resource").attribute("done").value());
  EXPECT_STREQ("excess", result.child("resource").attribute("message").value());
  EXPECT_EQ(a, result.child("resource").attribute("id").as_int());
  // The same album as source and target holds every resource already.
  EXPECT_EQ("fail", PostForMessage("resource_batch_move",
                                   TransferForm(kUin, source_, source_, true, {a}), kUin));
}

TEST_F(ResourceWritesTest, TransferRequestRefusals) {
  const int a = MakeResource(source_, 1);
  store().AddUser("10002");
  const int foreign = MakeAlbum("10002", "Theirs");
  auto message_without_items = [&](const std::string& form, const std::string& cookie) {
    pugi::xml_document doc;
    const pugi::xml_node result = ParseXml(PostWrite("resource_batch_move", form, cookie), doc);
    EXPECT_FALSE(result.child("resource")) << form;
    EXPECT_FALSE(result.attribute("return"));
    return std::string(result.attribute("message").value());
  };
  EXPECT_EQ("no_exist",
            message_without_items(TransferForm(kUin, source_, 9999, false, {a}), kUin));
  EXPECT_EQ("no_exist",
            message_without_items(TransferForm(kUin, 9999, target_, false, {a}), kUin));
  EXPECT_EQ("no_exist",
            message_without_items(TransferForm(kUin, source_, foreign, false, {a}), kUin));
  EXPECT_EQ("denied",
            message_without_items(TransferForm(kUin, source_, target_, false, {a}), ""));
  EXPECT_EQ("fail", message_without_items("uin=10001&category_id_from=1&num=1&id_0=1", kUin));
  store().SetBlacklisted(kUin, true);
  EXPECT_EQ("forbidden",
            message_without_items(TransferForm(kUin, source_, target_, false, {a}), kUin));
  store().SetBlacklisted(kUin, false);
  store().SetFaultInjection(true);
  EXPECT_EQ("fail",
            message_without_items(TransferForm(kUin, source_, target_, false, {a}), kUin));
  store().SetFaultInjection(false);
  EXPECT_EQ(std::vector<int>{a}, Ids(source_));
}

// ------------------------------------------------------------------ resource update

TEST_F(ResourceWritesTest, UpdateRenamesInPlace) {
  const int a = MakeResource(source_, 1);
  const std::string stamp = client().Get(ListPath(source_)).Header("Last-Modified");
  pugi::xml_document doc;
  const pugi::xml_node result = ParseXml(
      PostWrite("resource_update",
                ModifyResourceForm(kUin, source_, source_, a, "新名字 a&b=c", "说明\r\n2"), kUin),
      doc);
  EXPECT_STREQ("1", result.attribute("return").value());
  EXPECT_STREQ("success", result.attribute("message").value());
  const auto stored = store().GetResource(a);
  EXPECT_EQ("新名字 a&b=c", stored->fields.name);
  EXPECT_EQ("说明\r\n2", stored->fields.desc);
  EXPECT_EQ(source_, stored->album_id);
  EXPECT_EQ(200, client().Get(ListPath(source_), {{"If-Modified-Since", stamp}}).status);
  // A name that needs review puts the resource under review.
  ASSERT_EQ("success", PostForMessage("resource_update",
                                      ModifyResourceForm(kUin, source_, source_, a,
                                                         "reviewword", ""),
                                      kUin));
  EXPECT_EQ(kStateUnderReview, store().GetResource(a)->state());
}

TEST_F(ResourceWritesTest, UpdateMovesToAnotherAlbum) {
  const int a = MakeResource(source_, 1);
  ASSERT_EQ("success", PostForMessage("resource_update",
                                      ModifyResourceForm(kUin, source_, target_, a, "moved", "d"),
                                      kUin));
  EXPECT_TRUE(Ids(source_).empty());
  EXPECT_EQ(std::vector<int>{a}, Ids(target_));
}

TEST_F(ResourceWritesTest, UpdateRefusals) {
  const int a = MakeResource(source_, 1);
  const int in_target = MakeResource(target_, 1);
  store().AddUser("10002");
  const int foreign = MakeAlbum("10002", "Theirs");
  auto update = [&](int from, int to, int id, const std::string& name,
                    const std::string& cookie = "10001") {
    const ClientReply reply =
        PostWrite("resource_update", ModifyResourceForm(kUin, from, to, id, name, "d"), cookie);
    pugi::xml_document doc;
    const pugi::xml_node result = ParseXml(reply, doc);
    EXPECT_STREQ("0", result.attribute("return").value());
    return std::string(result.attribute("message").value());
  };
  EXPECT_EQ("no_exist", update(source_, source_, 99999, "n"));
  EXPECT_EQ("no_exist", update(source_, source_, in_target, "n")) << "not in the source";
  EXPECT_EQ("no_exist", update(9999, 9999, a, "n"));
  EXPECT_EQ("no_exist", update(source_, foreign, a, "n"));
  EXPECT_EQ("illegal", update(source_, source_, a, "so badword"));
  EXPECT_EQ("fail", update(source_, source_, a, ""));
  EXPECT_EQ("duplicate", update(source_, target_, a, "n")) << "the target holds its content";
  EXPECT_EQ("denied", update(source_, source_, a, "n", "10002"));
  store().SetBlacklisted(kUin, true);
  EXPECT_EQ("forbidden", update(source_, source_, a, "n"));
  store().SetBlacklisted(kUin, false);
  store().SetFaultInjection(true);
  EXPECT_EQ("fail", update(source_, source_, a, "n"));
  store().SetFaultInjection(false);
  MakeResource(target_, 2);
  MakeResource(target_, 3);
  const int other = MakeResource(source_, 4);
  EXPECT_EQ("excess", update(source_, target_, other, "n"));
  EXPECT_EQ("file1.mp4", store().GetResource(a)->fields.name);
  EXPECT_EQ(source_, store().GetResource(other)->album_id);
}

}  // namespace
}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
