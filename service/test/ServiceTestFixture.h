// Test support: a fixture that runs the service on a free loopback port with a clock
// the test controls, and builders of the write forms byte for byte as the blog client
// composes them.
#ifndef ZQBLOG_SERVICE_TEST_SERVICETESTFIXTURE_H_
#define ZQBLOG_SERVICE_TEST_SERVICETESTFIXTURE_H_

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "ServiceTestClient.h"
#include "service/BlogService.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

// A resource as the client describes it in a collect form.
struct ClientResource {
  std::string cid;
  std::string gcid;
  std::string name;
  int res_type = 1;
  std::string size = "1024";
  std::string format = "mp4";
  int state = 0;  // goes out as undone_<i>
  std::string url = "http://dl.velmora.cn/file";
  std::string original = "http://www.velmora.cn/o";
  std::string refer = "http://www.velmora.cn/";
  std::string desc;
};

// "uin=..." forms of the client. Text fields are escaped as the client escapes them.
std::string CreateAlbumForm(const std::string& uin, const AlbumFields& album);
std::string ModifyAlbumForm(const std::string& uin, int album_id, const AlbumFields& album);
std::string RemoveAlbumForm(const std::string& uin, int album_id);
std::string CollectForm(const std::string& uin, int album_id,
                        const std::vector<ClientResource>& resources);
std::string BatchRemoveForm(const std::string& uin, int album_id, const std::vector<int>& ids);
std::string TransferForm(const std::string& uin, int from, int to, bool choice,
                         const std::vector<int>& ids);
std::string ModifyResourceForm(const std::string& uin, int from, int to, int resource_id,
                               const std::string& name, const std::string& desc);

// A made-up content id: 40 upper-case hex digits derived from n.
std::string TestCid(int n);

class ServiceTest : public ::testing::Test {
 protected:
  // Adjusts the options before the service starts.
  virtual void Configure(ServiceOptions& /*options*/) {}

  void SetUp() override;
  void TearDown() override;

  BlogService& service() { return *service_; }
  BlogStore& store() { return service_->store(); }
  ServiceTestClient& client() { return *client_; }
  uint16_t port() const { return service_->port(); }

  // POSTs form to the write endpoint named operation with a cookie signed for
  // cookie_uin (no cookie when empty).
  ClientReply PostWrite(const std::string& operation, const std::string& form,
                        const std::string& cookie_uin);
  // Parses reply's body into doc and returns its document element.
  pugi::xml_node ParseXml(const ClientReply& reply, pugi::xml_document& doc);
  // PostWrite, then the "message" of the result.
  std::string PostForMessage(const std::string& operation, const std::string& form,
                             const std::string& cookie_uin);

  // Adds an album through the store and returns its id.
  int MakeAlbum(const std::string& uin, const std::string& name);
  // Adds a resource through the store and returns its id.
  int MakeResource(int album_id, int cid_number, bool undone = false, bool review = false);

  std::shared_ptr<std::atomic<int64_t>> clock_ =
      std::make_shared<std::atomic<int64_t>>(1796688000);

 private:
  std::unique_ptr<BlogService> service_;
  std::unique_ptr<ServiceTestClient> client_;
};

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_TEST_SERVICETESTFIXTURE_H_
