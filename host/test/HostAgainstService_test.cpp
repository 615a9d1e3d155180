// The host's HTTP connection service and XML parser against the reference blog service,
// reached through the resolver table under the compiled-in host names.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "host/http/HttpConnectionService.h"
#include "host/test/HttpTestClient.h"
#include "host/xml/XmlPackageParser.h"
#include "interfaces/IHttpConnectionFactory.h"
#include "interfaces/IHttpReplyHeaders.h"
#include "interfaces/IXMLNode.h"
#include "interfaces/IXMLPackage.h"
#include "service/BlogService.h"

namespace Velmora {
namespace ZQHost {
namespace {

using std::chrono::seconds;
using ZQBlog::Service::BlogService;

constexpr auto kWait = seconds(10);
const char kUser[] = "10001";

class HostAgainstServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(blog_.Open(&error)) << error;
    ASSERT_TRUE(blog_.store().SeedDemo(kUser));
    ASSERT_TRUE(blog_.Start("127.0.0.1", 0, &error)) << error;
    for (const char* host : {"blog.velmora.cn", "data.velmora.cn", "post.velmora.cn"}) {
      http_.ResolverTable().Map(host, 80, {"127.0.0.1", blog_.port()});
    }
    ASSERT_EQ(S_OK, http_.GetFactory(&factory_));
  }
  void TearDown() override { blog_.Stop(); }

  // One exchange with the given extra header; the client records the events.
  void Exchange(HttpTestClient* client, const char* host, const char* method, const char* path,
                const char* headerName = nullptr, const char* headerValue = nullptr,
                const std::string* body = nullptr) {
    CComPtr<IHttpConnection> connection;
    ASSERT_EQ(S_OK, factory_->CreateConnection(0, nullptr, &connection));
    ASSERT_EQ(S_OK, connection->Advise(client));
    client->AutoContinue(connection);
    ASSERT_EQ(S_OK, connection->SetServer(MakeCountedString(host), 80));
    ASSERT_EQ(S_OK, connection->Open());
    ASSERT_TRUE(client->WaitForCount(1, kWait));
    ASSERT_EQ(0, client->Events()[0].error) << "connect failed";
    CComPtr<IHttpRequest> request;
    ASSERT_EQ(S_OK, factory_->CreateRequest(&request, MakeCountedString(method),
                                            MakeCountedString(path), MakeCountedString("1.1")));
    if (headerName != nullptr) {
      ASSERT_EQ(S_OK, request->AddHeader(MakeCountedString(headerName),
                                         MakeCountedString(headerValue)));
    }
    CComPtr<IHttpBuffer> buffer;
    if (body != nullptr) {
      ASSERT_EQ(S_OK, request->AddHeader(MakeCountedString("Content-Type"),
                                         MakeCountedString("application/x-www-form-urlencoded")));
      ASSERT_EQ(S_OK, factory_->CreateBuffer(&buffer));
      ASSERT_EQ(S_OK, buffer->SetData(reinterpret_cast<const BYTE*>(body->data()),
                                      static_cast<int>(body->size())));
    }
    ASSERT_EQ(S_OK, connection->Send(request, buffer));
    ASSERT_TRUE(client->WaitForEnd(kWait)) << client->Kinds();
    connection->Unadvise(client);
    connection->Close();
  }

  static int Status(const HttpTestClient* client) {
    for (const auto& event : client->Events()) {
      if (event.headers) {
        int status = 0;
        event.headers->GetStatusCode(&status);
        return status;
      }
    }
    return 0;
  }

  static std::string Header(const HttpTestClient* client, const char* name);

  BlogService blog_;
  HttpConnectionService http_;
  CComPtr<IHttpConnectionFactory> factory_;
};

// A string setter that keeps what the headers object hands it.
class TextSetter : public IStringSetter {
 public:
  STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 1; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(SetString)(int length, const BYTE* text) override {
    value.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
    return S_OK;
  }
  std::string value;
};

std::string HostAgainstServiceTest::Header(const HttpTestClient* client, const char* name) {
  for (const auto& event : client->Events()) {
    if (event.headers) {
      TextSetter setter;
      event.headers->GetHeader(name, &setter);
      return setter.value;
    }
  }
  return std::string();
}

TEST_F(HostAgainstServiceTest, DirectoryArrivesInOrderUnderTheBlogHostName) {
  auto client = HttpTestClient::Create();
  Exchange(client, "blog.velmora.cn", "GET", (std::string("/touch3/") + kUser).c_str());
  std::string kinds = client->Kinds();
  EXPECT_EQ(0u, kinds.find("connect sent headers")) << kinds;
  EXPECT_EQ(kinds.size() - 8, kinds.rfind("complete")) << kinds;
  EXPECT_EQ(200, Status(client));
  std::string body = client->Body();
  EXPECT_EQ(0u, body.find("200\r\n")) << body;
  EXPECT_NE(std::string::npos, body.find("\r\nresource_batch_collect\r\n")) << body;
  EXPECT_NE(std::string::npos, body.find("http://data.velmora.cn/")) << body;
}

TEST_F(HostAgainstServiceTest, UserWithoutBlogGets404Line) {
  auto client = HttpTestClient::Create();
  Exchange(client, "blog.velmora.cn", "GET", "/touch3/nobody");
  EXPECT_EQ("404", client->Body());
}

TEST_F(HostAgainstServiceTest, AlbumListParsesAndComesBackAs304WhenUnchanged) {
  auto first = HttpTestClient::Create();
  std::string path = std::string("/blog/") + kUser + "/albums.xml";
  Exchange(first, "data.velmora.cn", "GET", path.c_str());
  ASSERT_EQ(200, Status(first));
  std::string lastModified = Header(first, "last-modified");
  ASSERT_FALSE(lastModified.empty());

  CComPtr<IPackageParser> parser;
  ASSERT_EQ(S_OK, CreateXmlPackageParser(&parser));
  std::string body = first->Body();
  ASSERT_EQ(S_OK, parser->Parse(reinterpret_cast<const BYTE*>(body.data()),
                                static_cast<int>(body.size())));
  CComPtr<IPackage> package;
  ASSERT_EQ(S_OK, parser->GetPackage(&package));
  CComPtr<IXMLPackage> xml;
  ASSERT_EQ(S_OK, package.QueryInterface(&xml));
  CComPtr<IXMLNode> root;
  ASSERT_EQ(S_OK, xml->GetRoot(&root));
  int albums = 0;
  ASSERT_EQ(S_OK, root->GetChildCount("category", &albums));
  ASSERT_GT(albums, 0);
  CComPtr<IXMLNode> album;
  ASSERT_EQ(S_OK, root->GetChild(0, &album));
  char id[32] = {};
  EXPECT_EQ(S_OK, album->GetValue("id", id, sizeof(id)));
  EXPECT_GT(std::atoi(id), 0);
  char name[256] = {};
  EXPECT_EQ(S_OK, album->GetElementText("category_name", name, sizeof(name)));
  EXPECT_NE('\0', name[0]);

  auto second = HttpTestClient::Create();
  Exchange(second, "data.velmora.cn", "GET", path.c_str(), "If-Modified-Since",
           lastModified.c_str());
  EXPECT_EQ(304, Status(second));
  EXPECT_EQ("", second->Body());
}

TEST_F(HostAgainstServiceTest, WriteWithBadCookieIsDenied) {
  auto client = HttpTestClient::Create();
  std::string form = std::string("encoder=utf-8&uin=") + kUser +
                     "&category_name=x&category_type=0&show_status=1&desc=&tag_num=0";
  Exchange(client, "post.velmora.cn", "POST", "/api/category_create", "Cookie",
           "login_name=10001; login_time=20261208000000; key=00000000000000000000000000000000",
           &form);
  EXPECT_EQ(200, Status(client));
  EXPECT_NE(std::string::npos, client->Body().find("message=\"denied\"")) << client->Body();
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
