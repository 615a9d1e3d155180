// GetResourceList end to end: the plug-in loaded into the substitute host
// (HostApplication: workshop, HTTP connection service, XML parser, settings store),
// talking to the reference blog service on a loopback port. The service holds one album
// whose resource list is about 500 KB of XML: kResources resources with names and
// descriptions partly in Chinese, URLs, and line feeds, tabs and "&nbsp;" in the
// descriptions, which the reply carries as entities; just under the command's 512 KiB
// reply limit.
//
//   BM_Host_GetResourceList_Fresh     each fetch gets 200 and the whole list: the
//                                     album's change time is moved on the service
//                                     before each one (untimed), so the conditional
//                                     GET cannot be answered with 304
//   BM_Host_GetResourceList_NotModified  each fetch gets 304, and the stand-alone
//                                     process rebuilds the album from its cached copy
//   BM_Baseline_FetchAndParse         the same body fetched with the host's HTTP
//                                     connection service alone (a new connection, GET,
//                                     every body piece collected) and parsed with
//                                     pugixml, every resource element visited
//
// The honest comparison is Fresh against the baseline: both fetch and parse the full
// body; the command also serializes the document, removes the entities, writes the
// cache, builds the resources, updates the content-id index and delivers a result.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <pugixml.hpp>

#include "HostBenchSupport.h"
#include "host/app/HostApplication.h"
#include "host/http/HttpConnectionService.h"
#include "interfaces/IZQAlbumInfo.h"
#include "service/BlogService.h"

namespace {

using Velmora::ZQBench::BenchHost;
using Velmora::ZQBench::FetchBody;
using Velmora::ZQBench::ListResource;
using Velmora::ZQBench::StatusOf;
using Velmora::ZQBlog::Service::AlbumFields;
using Velmora::ZQBlog::Service::BlogService;
using Velmora::ZQHost::HostApplication;
using Velmora::ZQHost::HttpConnectionService;
using Velmora::ZQHost::OperationOutcome;

constexpr int kResources = 1010;
const char kUin[] = "30001";
const wchar_t kWideUin[] = L"30001";


// The service with the user's album, the host with the plug-in signed in, the
// directory and album list fetched. Built once; state() says what went wrong.
class World {
 public:
  static World& Get() {
    static World world;
    return world;
  }

  const std::string& error() const { return error_; }
  HostApplication* host() { return host_.get(); }
  BlogService& service() { return service_; }
  int album() const { return album_; }
  int anyResource() const { return anyResource_; }
  const std::string& path() const { return path_; }
  uint16_t port() const { return service_.port(); }

  OperationOutcome FetchResourceList() {
    const int album = album_;
    return host_->RunOperation([album](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->GetResourceList(kWideUin, album, nullptr, command);
    });
  }

  // Moves the album's change time on, so that the next conditional GET gets 200.
  void TouchAlbum() { service_.store().SetResourceFlags(anyResource_, false, false); }

  // The size of the plug-in's cached copy of the list (the serialized reply after
  // entity removal), 0 when there is none.
  double CachedKiB() const {
    std::error_code ignored;
    const std::string name = "Album_" + std::to_string(album_) + ".xml";
    for (auto it = std::filesystem::recursive_directory_iterator(host_.root(), ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->path().filename() == name) {
        return static_cast<double>(std::filesystem::file_size(it->path(), ignored)) / 1024.0;
      }
    }
    return 0;
  }

  // The number of resources the plug-in's session holds for the album.
  int SessionResourceCount() {
    CComPtr<IZQAlbumInfo> album;
    if (host_->Blog()->GetAlbumInfo(kWideUin, album_, &album) != S_OK || !album) return -1;
    int count = -1;
    album->GetResourceCount(&count);
    return count;
  }

 private:
  World() {
    if (!Build()) Teardown();
  }
  ~World() { Teardown(); }

  void Teardown() {
    host_.Stop();
    service_.Stop();
  }

  bool Build() {
    std::string error;
    if (!service_.Open(&error)) return Fail(error);
    auto& store = service_.store();
    store.AddUser(kUin);
    AlbumFields albumFields;
    albumFields.name = "bench album";
    album_ = store.AddAlbum(kUin, albumFields);
    for (int i = 0; i < kResources; ++i) {
      const int id = store.AddResource(album_, ListResource(i));
      if (i == 0) anyResource_ = id;
    }
    if (!service_.Start("127.0.0.1", 0, &error)) return Fail(error);
    path_ = "/blog/" + std::string(kUin) + "/album/" + std::to_string(album_) + ".xml";

    if (!host_.Start(service_.port(), &error)) return Fail(error);
    if (host_->Blog()->ClearSession() != S_OK || host_->SignIn(kWideUin) != S_OK) {
      return Fail("sign-in failed");
    }
    OperationOutcome outcome =
        host_->RunOperation([](IZQBlogOperation* operation, IWorkshopCmd** command) {
          return operation->RefreshBlogServerInfo(kWideUin, 0, nullptr, command);
        });
    if (outcome.kind != OperationOutcome::Kind::kResult) {
      return Fail("directory: " + outcome.Describe());
    }
    outcome = host_->RunOperation([](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->GetAlbumList(kWideUin, nullptr, command);
    });
    if (outcome.kind != OperationOutcome::Kind::kResult) {
      return Fail("album list: " + outcome.Describe());
    }
    outcome = FetchResourceList();
    if (outcome.kind != OperationOutcome::Kind::kResult) {
      return Fail("resource list: " + outcome.Describe());
    }
    if (SessionResourceCount() != kResources) {
      return Fail("the session holds " + std::to_string(SessionResourceCount()) +
                  " resources instead of " + std::to_string(kResources));
    }
    return true;
  }

  bool Fail(const std::string& message) {
    error_ = message;
    return false;
  }

  std::string error_;
  BlogService service_;
  BenchHost host_;
  int album_ = 0;
  int anyResource_ = 0;
  std::string path_;
};

void BM_Host_GetResourceList_Fresh(benchmark::State& state) {
  World& world = World::Get();
  if (!world.error().empty()) {
    state.SkipWithError(world.error().c_str());
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    world.TouchAlbum();
    state.ResumeTiming();
    OperationOutcome outcome = world.FetchResourceList();
    if (StatusOf(outcome) != 1) {
      state.SkipWithError(("fetch failed: " + outcome.Describe()).c_str());
      break;
    }
  }
  if (world.SessionResourceCount() != kResources) {
    state.SkipWithError("the album lost resources");
  }
  state.counters["resources"] = kResources;
  state.counters["cached_KiB"] = world.CachedKiB();
}
BENCHMARK(BM_Host_GetResourceList_Fresh)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Host_GetResourceList_NotModified(benchmark::State& state) {
  World& world = World::Get();
  if (!world.error().empty()) {
    state.SkipWithError(world.error().c_str());
    return;
  }
  // One fresh fetch, so that the cache holds the list and its stamp.
  world.TouchAlbum();
  if (StatusOf(world.FetchResourceList()) != 1) {
    state.SkipWithError("the priming fetch failed");
    return;
  }
  for (auto _ : state) {
    OperationOutcome outcome = world.FetchResourceList();
    if (StatusOf(outcome) != 1) {
      state.SkipWithError(("fetch failed: " + outcome.Describe()).c_str());
      break;
    }
  }
  if (world.SessionResourceCount() != kResources) {
    state.SkipWithError("the album lost resources");
  }
}
BENCHMARK(BM_Host_GetResourceList_NotModified)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Baseline_FetchAndParse(benchmark::State& state) {
  World& world = World::Get();
  if (!world.error().empty()) {
    state.SkipWithError(world.error().c_str());
    return;
  }
  HttpConnectionService http;
  http.ResolverTable().Map("data.velmora.cn", 80, {"127.0.0.1", world.port()});
  CComPtr<IHttpConnectionFactory> factory;
  if (http.GetFactory(&factory) != S_OK) {
    state.SkipWithError("no connection factory");
    return;
  }
  size_t bodyBytes = 0;
  size_t resources = 0;
  for (auto _ : state) {
    std::string body;
    FetchBody(factory, "data.velmora.cn", world.path(), &body);
    pugi::xml_document document;
    if (body.empty() || !document.load_buffer(body.data(), body.size())) {
      state.SkipWithError("the baseline fetch or parse failed");
      break;
    }
    resources = 0;
    for (pugi::xml_node node : document.document_element().children("resource")) {
      resources += node.attribute("id").as_int() != 0 ? 1 : 0;
    }
    bodyBytes = body.size();
  }
  if (resources != static_cast<size_t>(kResources)) {
    state.SkipWithError("the baseline did not see every resource");
  }
  state.counters["body_KiB"] = static_cast<double>(bodyBytes) / 1024.0;
}
BENCHMARK(BM_Baseline_FetchAndParse)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
