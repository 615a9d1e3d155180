#include "ServiceTestFixture.h"

#include <cstdio>

namespace Velmora {
namespace ZQBlog {
namespace Service {

std::string CreateAlbumForm(const std::string& uin, const AlbumFields& album) {
  std::string form = "encoder=utf-8&uin=" + uin +
                     "&category_name=" + ClientUrlEscape(album.name) +
                     "&category_type=" + std::to_string(album.category_type) +
                     "&show_status=" + (album.show_status == 1 ? "1" : "0");
  for (size_t i = 0; i < album.tags.size(); ++i) {
    form += "&tag" + std::to_string(i) + "=" + ClientUrlEscape(album.tags[i]);
  }
  form += "&category_desc=" + ClientUrlEscape(album.desc) +
          "&pic_url=" + ClientUrlEscape(album.pic_url);
  return form;
}

std::string ModifyAlbumForm(const std::string& uin, int album_id, const AlbumFields& album) {
  std::string form = "encoder=utf-8&uin=" + uin + "&category_id=" + std::to_string(album_id) +
                     "&category_name=" + ClientUrlEscape(album.name) +
                     "&category_type=" + std::to_string(album.category_type) +
                     "&show_status=" + (album.show_status == 1 ? "1" : "0");
  for (size_t i = 0; i < album.tags.size(); ++i) {
    form += "&tag" + std::to_string(i) + "=" + ClientUrlEscape(album.tags[i]);
  }
  form += "&category_desc=" + ClientUrlEscape(album.desc) +
          "&pic_url=" + ClientUrlEscape(album.pic_url) +
          "&newly_added_res_num=" + std::to_string(album.newly_added_res_num);
  return form;
}

std::string RemoveAlbumForm(const std::string& uin, int album_id) {
  return "uin=" + uin + "&category_id=" + std::to_string(album_id);
}

std::string CollectForm(const std::string& uin, int album_id,
                        const std::vector<ClientResource>& resources) {
  std::string form = "encoder=utf-8&uin=" + uin + "&category_id=" + std::to_string(album_id) +
                     "&korrin_version=&peerid=&num=" + std::to_string(resources.size()) +
                     "&neednotifyfriend=0";
  for (size_t i = 0; i < resources.size(); ++i) {
    const ClientResource& r = resources[i];
    const std::string n = std::to_string(i);
    form += "&cid_" + n + "=" + r.cid;
    form += "&gcid_" + n + "=" + r.gcid;
    form += "&res_name_" + n + "=" + ClientUrlEscape(r.name);
    form += "&res_type_" + n + "=" + std::to_string(r.res_type);
    form += "&size_" + n + "=" + ClientUrlEscape(r.size);
    form += "&format_" + n + "=" + ClientUrlEscape(r.format);
    form += "&undone_" + n + "=" + std::to_string(r.state);
    form += "&url_" + n + "=" + ClientUrlEscape(r.url);
    form += "&original_" + n + "=" + ClientUrlEscape(r.original);
    form += "&refer_" + n + "=" + ClientUrlEscape(r.refer);
    form += "&desc_" + n + "=" + ClientUrlEscape(r.desc);
  }
  return form;
}

std::string BatchRemoveForm(const std::string& uin, int album_id, const std::vector<int>& ids) {
  std::string form = "uin=" + uin + "&category_id=" + std::to_string(album_id) +
                     "&num=" + std::to_string(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    form += "&id_" + std::to_string(i) + "=" + std::to_string(ids[i]);
  }
  return form;
}

std::string TransferForm(const std::string& uin, int from, int to, bool choice,
                         const std::vector<int>& ids) {
  std::string form = "uin=" + uin + "&category_id_from=" + std::to_string(from) +
                     "&category_id_to=" + std::to_string(to) +
                     "&choice=" + (choice ? "1" : "0") + "&num=" + std::to_string(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    form += "&id_" + std::to_string(i) + "=" + std::to_string(ids[i]);
  }
  return form;
}

std::string ModifyResourceForm(const std::string& uin, int from, int to, int resource_id,
                               const std::string& name, const std::string& desc) {
  return "encoder=utf-8&uin=" + ClientUrlEscape(uin) +
         "&category_id_from=" + std::to_string(from) +
         "&category_id_to=" + std::to_string(to) + "&res_id=" + std::to_string(resource_id) +
         "&res_name=" + ClientUrlEscape(name) + "&desc=" + ClientUrlEscape(desc);
}

std::string TestCid(int n) {
  char text[41];
  std::snprintf(text, sizeof text, "%08X%032X", static_cast<unsigned>(n), 0xABCDEFu);
  return std::string(text, 40);
}

void ServiceTest::SetUp() {
  ServiceOptions options;
  auto clock = clock_;
  options.clock = [clock] { return clock->load(); };
  options.idle_timeout = std::chrono::milliseconds(5000);
  Configure(options);
  service_ = std::make_unique<BlogService>(options);
  std::string error;
  ASSERT_TRUE(service_->Start("127.0.0.1", 0, &error)) << error;
  client_ = std::make_unique<ServiceTestClient>(service_->port());
}

void ServiceTest::TearDown() {
  client_.reset();
  if (service_) service_->Stop();
  service_.reset();
}

ClientReply ServiceTest::PostWrite(const std::string& operation, const std::string& form,
                                   const std::string& cookie_uin) {
  return client_->Post("/api/" + operation, form,
                       cookie_uin.empty() ? std::string() : TestCookie(cookie_uin, clock_->load()));
}

pugi::xml_node ServiceTest::ParseXml(const ClientReply& reply, pugi::xml_document& doc) {
  const pugi::xml_parse_result parsed = doc.load_buffer(reply.body.data(), reply.body.size());
  EXPECT_TRUE(parsed) << parsed.description() << "\n" << reply.body;
  return doc.document_element();
}

std::string ServiceTest::PostForMessage(const std::string& operation, const std::string& form,
                                        const std::string& cookie_uin) {
  const ClientReply reply = PostWrite(operation, form, cookie_uin);
  EXPECT_EQ(200, reply.status);
  pugi::xml_document doc;
  return ParseXml(reply, doc).attribute("message").value();
}

int ServiceTest::MakeAlbum(const std::string& uin, const std::string& name) {
  AlbumFields fields;
  fields.name = name;
  return store().AddAlbum(uin, fields);
}

int ServiceTest::MakeResource(int album_id, int cid_number, bool undone, bool review) {
  ResourceFields fields;
  fields.cid = TestCid(cid_number);
  fields.gcid = TestCid(cid_number + 1000000);
  fields.name = "file" + std::to_string(cid_number) + ".mp4";
  fields.format = "mp4";
  fields.size = "2048";
  fields.url = "http://dl.velmora.cn/" + std::to_string(cid_number);
  fields.undone = undone;
  return store().AddResource(album_id, fields, review);
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
