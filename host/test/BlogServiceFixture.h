// BlogServiceFixture: a test fixture for end-to-end tests of the plug-in. Each test gets
// the reference blog service on a loopback port with its own data, and a whole host
// (HostApplication: workshop, HTTP service, share session, settings, the real helper
// library and plug-in) pointed at it. Tests seed and inspect the service through
// store(), run operations through Run() and read the plug-in's session back through the
// IZQBlog queries as plain values (SessionAlbum / SessionResource).
//
// Needs the built libraries (ZQHOST_TEST_ELVATRIX and ZQHOST_TEST_PLUGIN); test files
// that use it guard their tests with HaveLibraries().
#ifndef ZQBLOG_HOST_TEST_BLOGSERVICEFIXTURE_H_
#define ZQBLOG_HOST_TEST_BLOGSERVICEFIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/app/HostApplication.h"
#include "interfaces/IZQAlbumInfo.h"
#include "interfaces/IZQAlbumListInfo.h"
#include "interfaces/IZQResInfo.h"
#include "service/BlogService.h"

namespace Velmora {
namespace ZQHost {

// One resource as the plug-in's session shows it.
struct SessionResource {
  int id = 0;
  int category_id = 0;
  int state = 0;
  int res_type = 0;
  std::wstring cid, gcid, name, format, size, url, desc, uin;
};

// One album as the plug-in's session shows it, with the resources it holds (empty when
// its list was never loaded).
struct SessionAlbum {
  int id = 0;
  int show_status = 0;
  int category_type = 0;
  int tag_num = 0;
  int newly_added = 0;
  std::wstring name, desc, pic_url;
  std::vector<std::wstring> tags;  // the tag_num first slots (at most three)
  std::vector<SessionResource> resources;
};

// UTF-8 (as the service stores texts) to a wide string as the plug-in returns it.
inline std::wstring WideFromUtf8(const std::string& utf8) {
  std::wstring out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    out += static_cast<wchar_t>(code);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

inline std::wstring TakeBstr(BSTR text) {
  std::wstring value = text != nullptr ? std::wstring(text) : std::wstring();
  SysFreeString(text);
  return value;
}

inline SessionResource ReadSessionResource(IZQResInfo* resource) {
  SessionResource out;
  BSTR text = nullptr;
  resource->GetId(&out.id);
  resource->GetCategoryId(&out.category_id);
  resource->GetState(&out.state);
  resource->GetResType(&out.res_type);
  text = nullptr; resource->GetCid(&text); out.cid = TakeBstr(text);
  text = nullptr; resource->GetGcid(&text); out.gcid = TakeBstr(text);
  text = nullptr; resource->GetResName(&text); out.name = TakeBstr(text);
  text = nullptr; resource->GetFormat(&text); out.format = TakeBstr(text);
  text = nullptr; resource->GetSize(&text); out.size = TakeBstr(text);
  text = nullptr; resource->GetUrl(&text); out.url = TakeBstr(text);
  text = nullptr; resource->GetDesc(&text); out.desc = TakeBstr(text);
  text = nullptr; resource->GetUin(&text); out.uin = TakeBstr(text);
  return out;
}

inline SessionAlbum ReadSessionAlbum(IZQAlbumInfo* album) {
  SessionAlbum out;
  BSTR text = nullptr;
  album->GetId(&out.id);
  album->GetShowStatus(&out.show_status);
  album->GetCategoryType(&out.category_type);
  album->GetTagNum(&out.tag_num);
  album->GetNewlyAddedResNum(&out.newly_added);
  text = nullptr; album->GetCategoryName(&text); out.name = TakeBstr(text);
  text = nullptr; album->GetDesc(&text); out.desc = TakeBstr(text);
  text = nullptr; album->GetPicUrl(&text); out.pic_url = TakeBstr(text);
  for (int i = 0; i < out.tag_num && i < 3; ++i) {
    text = nullptr;
    album->GetTag(i, &text);
    out.tags.push_back(TakeBstr(text));
  }
  int count = 0;
  album->GetResourceCount(&count);
  for (int i = 0; i < count; ++i) {
    CComPtr<IZQResInfo> resource;
    if (album->GetResource(i, &resource) == S_OK && resource) {
      out.resources.push_back(ReadSessionResource(resource));
    }
  }
  return out;
}

class BlogServiceFixture : public ::testing::Test {
 protected:
  static bool HaveLibraries() {
#if defined(ZQHOST_TEST_ELVATRIX) && defined(ZQHOST_TEST_PLUGIN)
    return true;
#else
    return false;
#endif
  }

  // The service, started on 127.0.0.1 with a free port and empty data.
  void SetUp() override {
    if (!HaveLibraries()) GTEST_SKIP() << "the plug-in and helper library are not built";
    char pattern[] = "/tmp/zqblog-e2e-XXXXXX";
    const char* made = mkdtemp(pattern);
    ASSERT_NE(nullptr, made);
    root_ = made;
    std::string error;
    ASSERT_TRUE(service_.Open(&error)) << error;
    ASSERT_TRUE(service_.Start("127.0.0.1", 0, &error)) << error;
  }

  void TearDown() override {
    if (host_) host_->Shutdown();
    host_.reset();
    service_.Stop();
    if (!root_.empty()) std::filesystem::remove_all(root_);
  }

  // What the host is started with (tests may change it before StartHost).
  HostApplicationOptions Options() const {
    HostApplicationOptions options;
    options.data_root = root_ + "/host";
#if defined(ZQHOST_TEST_ELVATRIX) && defined(ZQHOST_TEST_PLUGIN)
    options.helper_library_path = ZQHOST_TEST_ELVATRIX;
    options.plugin_library_path = ZQHOST_TEST_PLUGIN;
#endif
    options.connect_to = {"127.0.0.1", service_.port()};
    options.operation_timeout = std::chrono::seconds(20);
    return options;
  }

  // Starts the host with options, clears the session (command ids from 1) and signs uin
  // in. Use with ASSERT_NO_FATAL_FAILURE.
  void StartHost(const std::wstring& uin, HostApplicationOptions options) {
    host_ = std::make_unique<HostApplication>(std::move(options));
    std::string error;
    ASSERT_TRUE(host_->Start(&error)) << error;
    ASSERT_TRUE(host_->SinksAdvised());
    ASSERT_EQ(S_OK, host_->Blog()->ClearSession());
    ASSERT_EQ(S_OK, host_->SignIn(uin));
  }
  void StartHost(const std::wstring& uin) { StartHost(uin, Options()); }

  ZQBlog::Service::BlogStore& store() { return service_.store(); }
  HostApplication& host() { return *host_; }
  IZQBlog* blog() { return host_->Blog(); }

  OperationOutcome Run(const HostApplication::OperationCall& call) {
    return host_->RunOperation(call);
  }

  // The read operations, for any user.
  OperationOutcome RefreshDirectory(const std::wstring& uin, int context = 0) {
    return Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->RefreshBlogServerInfo(uin.c_str(), context, nullptr, command);
    });
  }
  OperationOutcome FetchAlbumList(const std::wstring& uin) {
    return Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->GetAlbumList(uin.c_str(), nullptr, command);
    });
  }
  OperationOutcome FetchResourceList(const std::wstring& uin, int album_id) {
    return Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->GetResourceList(uin.c_str(), album_id, nullptr, command);
    });
  }
  OperationOutcome FetchCidDat(const std::wstring& uin) {
    return Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->GetCidDat(uin.c_str(), nullptr, command);
    });
  }

  // The user's albums in the session's order, each with its resources; empty when the
  // session has no album list for uin.
  std::vector<SessionAlbum> SessionAlbums(const std::wstring& uin) {
    std::vector<SessionAlbum> albums;
    CComPtr<IZQAlbumListInfo> list;
    if (blog()->GetAlbumListInfo(uin.c_str(), &list) != S_OK || !list) return albums;
    int count = 0;
    list->GetAlbumCount(&count);
    for (int i = 0; i < count; ++i) {
      CComPtr<IZQAlbumInfo> album;
      if (list->GetAlbum(i, &album) == S_OK && album) albums.push_back(ReadSessionAlbum(album));
    }
    return albums;
  }

  // One album of the session (id 0 and nothing else when the session lacks it).
  SessionAlbum SessionAlbumById(const std::wstring& uin, int album_id) {
    CComPtr<IZQAlbumInfo> album;
    if (blog()->GetAlbumInfo(uin.c_str(), album_id, &album) != S_OK || !album) {
      return SessionAlbum();
    }
    return ReadSessionAlbum(album);
  }

  // The albums the session's content-id index gives for cid (GetAlbumsByCid), in its
  // order; empty when it has none.
  std::vector<int> AlbumsByCid(const std::wstring& cid) {
    int ids[256];
    int count = 256;
    if (blog()->GetAlbumsByCid(cid.c_str(), ids, &count) != S_OK) return {};
    return std::vector<int>(ids, ids + count);
  }

  std::string root_;
  ZQBlog::Service::BlogService service_;
  std::unique_ptr<HostApplication> host_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_TEST_BLOGSERVICEFIXTURE_H_
