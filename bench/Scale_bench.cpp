// How the cost of the largest replies grows: the plug-in loaded into the substitute host
// (HostApplication), against the reference service on a loopback port, each reply at
// three sizes, 1x, 4x and 16x, beside the floor of the same bytes fetched with the host's
// HTTP connection service alone and read into a plain structure.
//
//   BM_Scale_CidDat/N          GetCidDat of a table of N 24-byte records (N up to one
//                              million: 24 MB), merged into the session's empty index
//   BM_Floor_CidDat/N          the same bytes fetched and merged into a fresh
//                              std::unordered_multimap<std::string, int> keyed by the
//                              content id's hexadecimal text
//   BM_Scale_CidDatPeak        the first fetch of the million-record table: the peak
//                              resident growth against the table's size (runs first)
//   BM_Scale_AlbumList/N       GetAlbumList of N albums (up to 10,000), 200 every time
//   BM_Floor_AlbumList/N       the same bytes fetched and parsed with pugixml, every
//                              album element visited
//   BM_Scale_ResourceList/N    GetResourceList of an album of N resources (up to 1,010,
//                              just under the command's 512 KiB reply limit), 200 every
//                              time
//
// The service runs in a process of its own: this process's CPU time (every thread,
// MeasureProcessCPUTime) is the host's own work, or the floor's; the wall time also
// holds the service's. bench/ratios.py prints the ratios: each size against its floor,
// and the time per record at 16x against the time per record at 1x.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <pugixml.hpp>

#include "HostBenchSupport.h"
#include "MemoryPeak.h"
#include "ServiceProcess.h"
#include "host/app/HostApplication.h"
#include "host/http/HttpConnectionService.h"
#include "interfaces/IHttpConnectionFactory.h"
#include "interfaces/IZQAlbumInfo.h"
#include "interfaces/IZQAlbumListInfo.h"
#include "service/BlogService.h"
#include "service/BlogStore.h"

namespace {

using Velmora::ZQBench::BenchHost;
using Velmora::ZQBench::CurrentRssKb;
using Velmora::ZQBench::FetchBody;
using Velmora::ZQBench::Hex40;
using Velmora::ZQBench::ListResource;
using Velmora::ZQBench::MaxRssKb;
using Velmora::ZQBench::ResetPeak;
using Velmora::ZQBench::ServiceProcess;
using Velmora::ZQBench::StatusOf;
using Velmora::ZQBlog::Service::AlbumFields;
using Velmora::ZQBlog::Service::BlogService;
using Velmora::ZQBlog::Service::BlogStore;
using Velmora::ZQBlog::Service::ResourceFields;
using Velmora::ZQBlog::Service::ServiceOptions;
using Velmora::ZQHost::HostApplication;
using Velmora::ZQHost::HttpConnectionService;
using Velmora::ZQHost::OperationOutcome;

// The three sizes of each reply; the user of a size is a digit of its kind and the size.
constexpr int kCidRecords[] = {62500, 250000, 1000000};
constexpr int kAlbums[] = {625, 2500, 10000};
constexpr int kResources[] = {63, 252, 1010};
constexpr int kCidAlbums = 200;  // the albums a table's records name
constexpr size_t kCidRecordSize = 24;

std::string CidUser(int records) { return "5" + std::to_string(records); }
std::string AlbumUser(int albums) { return "6" + std::to_string(albums); }
const char kResourceUser[] = "70001";

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

AlbumFields NamedAlbum(const std::string& name) {
  AlbumFields fields;
  fields.name = name;
  return fields;
}

// The reference service with every user, in a process of its own (ServiceProcess.h),
// seeded in the child after the fork; it moves an album list's or an album's change
// time on when this process asks.
class ScaleService {
 public:
  enum Touch : int32_t { kAlbumList = 1, kResourceList = 2 };

  // REQUIRES: this process runs no other thread yet.
  bool Start(std::string* error) {
    // The child's markers: album count -> a resource of that user; resource count -> a
    // resource of that album.
    auto markers = std::make_shared<std::map<int32_t, std::map<int, int>>>();
    return process_.Start(
        ServiceOptions(),
        [markers](BlogService& service) {
          Seed(service.store(), &(*markers)[kAlbumList], &(*markers)[kResourceList]);
        },
        [markers](BlogService& service, int32_t what, int32_t size) {
          const auto& marked = (*markers)[what];
          auto found = marked.find(size);
          if (found == marked.end()) return false;
          service.store().SetResourceFlags(found->second, false, false);
          return true;
        },
        error);
  }

  uint16_t port() const { return process_.port(); }

  // Asks the child to move on the change time of what (kAlbumList: the album list of the
  // user of `size` albums; kResourceList: the album of `size` resources).
  bool Touch(Touch what, int32_t size) { return process_.Request(what, size); }

 private:
  static void Seed(BlogStore& store, std::map<int, int>* albumMarker,
                   std::map<int, int>* resourceMarker) {
    for (int records : kCidRecords) {
      const std::string uin = CidUser(records);
      store.AddUser(uin);
      std::vector<int> albums;
      for (int a = 0; a < kCidAlbums; ++a) {
        albums.push_back(store.AddAlbum(uin, NamedAlbum("album " + std::to_string(a))));
      }
      std::vector<ResourceFields> resources(static_cast<size_t>(records));
      for (int i = 0; i < records; ++i) {
        resources[static_cast<size_t>(i)].cid = Hex40(static_cast<unsigned>(i));
        resources[static_cast<size_t>(i)].name = "r";
      }
      // The records in runs, one run an album.
      const size_t run = resources.size() / kCidAlbums + 1;
      for (size_t from = 0, a = 0; from < resources.size(); from += run, ++a) {
        const size_t to = std::min(resources.size(), from + run);
        store.AddResources(albums[a], std::vector<ResourceFields>(resources.begin() + from,
                                                                  resources.begin() + to));
      }
    }
    for (int albums : kAlbums) {
      const std::string uin = AlbumUser(albums);
      store.AddUser(uin);
      int first = 0;
      for (int a = 0; a < albums; ++a) {
        AlbumFields fields;
        fields.name = "album " + std::to_string(a) + " \xe5\x81\x87\xe6\x9c\x9f";
        fields.desc = "pictures of the holidays, part " + std::to_string(a);
        fields.tags = {"holiday", "\xe7\x85\xa7\xe7\x89\x87"};
        const int id = store.AddAlbum(uin, fields);
        if (a == 0) first = id;
      }
      (*albumMarker)[albums] = store.AddResource(first, ListResource(0));
    }
    store.AddUser(kResourceUser);
    for (int resources : kResources) {
      const int album =
          store.AddAlbum(kResourceUser, NamedAlbum("list of " + std::to_string(resources)));
      std::vector<ResourceFields> made;
      for (int i = 0; i < resources; ++i) made.push_back(ListResource(i));
      (*resourceMarker)[resources] = store.AddResources(album, made).front();
    }
  }

  ServiceProcess process_;
};

// The service process, the host with each user's directory and album list fetched.
// Built once; error() says what went wrong.
class World {
 public:
  static World& Get() {
    static World world;
    return world;
  }

  const std::string& error() const { return error_; }
  uint16_t port() const { return service_.port(); }

  OperationOutcome Run(const std::function<HRESULT(IZQBlogOperation*, IWorkshopCmd**)>& call) {
    return host_->RunOperation(call);
  }
  OperationOutcome FetchCidDat(int records) {
    const std::wstring uin = Wide(CidUser(records));
    return Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->GetCidDat(uin.c_str(), nullptr, command);
    });
  }
  OperationOutcome FetchAlbumList(int albums) {
    const std::wstring uin = Wide(AlbumUser(albums));
    return Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->GetAlbumList(uin.c_str(), nullptr, command);
    });
  }
  OperationOutcome FetchResourceList(int resources) {
    const std::wstring uin = Wide(kResourceUser);
    const int album = resourceAlbums_.at(resources);
    return Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->GetResourceList(uin.c_str(), album, nullptr, command);
    });
  }

  // Moves the change time of an album list or album on, so that the next conditional
  // GET of it gets 200.
  bool TouchAlbumList(int albums) { return service_.Touch(ScaleService::kAlbumList, albums); }
  bool TouchResourceList(int resources) {
    return service_.Touch(ScaleService::kResourceList, resources);
  }

  std::string CidPath(int records) const { return "/cid/" + CidUser(records) + "/Cid.dat"; }
  std::string AlbumListPath(int albums) const {
    return "/blog/" + AlbumUser(albums) + "/albums.xml";
  }
  std::string ResourceListPath(int resources) const {
    return "/blog/" + std::string(kResourceUser) + "/album/" +
           std::to_string(resourceAlbums_.at(resources)) + ".xml";
  }

 private:
  World() {
    if (!Build()) Teardown();
  }
  ~World() { Teardown(); }

  void Teardown() { host_.Stop(); }

  bool Build() {
    std::string error;
    if (!service_.Start(&error)) return Fail(error);
    if (!host_.Start(service_.port(), &error)) return Fail(error);
    if (!Renew()) return false;
    // The albums of the resource lists' user, in the order they were made.
    const std::wstring uin = Wide(kResourceUser);
    CComPtr<IZQAlbumListInfo> list;
    int count = 0;
    if (host_->Blog()->GetAlbumListInfo(uin.c_str(), &list) != S_OK || !list ||
        list->GetAlbumCount(&count) != S_OK || count != 3) {
      return Fail("the resource lists' user has not three albums");
    }
    std::vector<int> ids;
    for (int i = 0; i < count; ++i) {
      CComPtr<IZQAlbumInfo> album;
      int id = 0;
      if (list->GetAlbum(i, &album) != S_OK || !album || album->GetId(&id) != S_OK) {
        return Fail("an album cannot be read");
      }
      ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    for (size_t i = 0; i < ids.size(); ++i) resourceAlbums_[kResources[i]] = ids[i];
    return true;
  }

  bool Fail(const std::string& message) {
    error_ = message;
    return false;
  }

 public:
  // Empties the session (its content-id index too), then fetches every user's directory
  // and the album list of the resource lists' user again. False (error() set) on failure.
  bool Renew() {
    if (host_->Blog()->ClearSession() != S_OK || host_->SignIn(Wide(kResourceUser)) != S_OK) {
      return Fail("sign-in failed");
    }
    std::vector<std::string> users = {kResourceUser};
    for (int records : kCidRecords) users.push_back(CidUser(records));
    for (int albums : kAlbums) users.push_back(AlbumUser(albums));
    for (const std::string& user : users) {
      const std::wstring uin = Wide(user);
      OperationOutcome outcome = Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
        return operation->RefreshBlogServerInfo(uin.c_str(), 0, nullptr, command);
      });
      if (StatusOf(outcome) != 1) return Fail("directory of " + user + ": " + outcome.Describe());
    }
    const std::wstring uin = Wide(kResourceUser);
    OperationOutcome outcome = Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->GetAlbumList(uin.c_str(), nullptr, command);
    });
    if (StatusOf(outcome) != 1) return Fail("album list: " + outcome.Describe());
    return true;
  }

 private:
  ScaleService service_;
  std::string error_;
  BenchHost host_;
  std::map<int, int> resourceAlbums_;  // resource count -> its album
};

// The host's HTTP connection service alone, for the floors.
class Floor {
 public:
  Floor() {
    http_.ResolverTable().Map("data.velmora.cn", 80, {"127.0.0.1", World::Get().port()});
    http_.GetFactory(&factory_);
  }
  bool Fetch(const std::string& path, std::string* body) {
    return factory_ && FetchBody(factory_, "data.velmora.cn", path, body);
  }

 private:
  HttpConnectionService http_;
  CComPtr<IHttpConnectionFactory> factory_;
};

bool Ready(benchmark::State& state) {
  if (World::Get().error().empty()) return true;
  state.SkipWithError(World::Get().error().c_str());
  return false;
}

void Expect(benchmark::State& state, const OperationOutcome& outcome, const char* what) {
  if (StatusOf(outcome) != 1) {
    state.SkipWithError((std::string(what) + ": " + outcome.Describe()).c_str());
  }
}

void BM_Scale_CidDatPeak(benchmark::State& state) {
  if (!Ready(state)) return;
  const int records = kCidRecords[2];
  for (auto _ : state) {
    const bool reset = ResetPeak();
    const long before = CurrentRssKb();
    Expect(state, World::Get().FetchCidDat(records), "Cid.dat");
    const double tableMb = static_cast<double>(records) * kCidRecordSize / 1e6;
    const double growthMb = static_cast<double>(MaxRssKb() - before) * 1024.0 / 1e6;
    state.counters["peak_growth_MB"] = growthMb;
    state.counters["x_table"] = growthMb / tableMb;
    state.counters["peak_reset"] = reset ? 1 : 0;
  }
}
BENCHMARK(BM_Scale_CidDatPeak)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Scale_CidDat(benchmark::State& state) {
  if (!Ready(state)) return;
  const int records = static_cast<int>(state.range(0));
  for (auto _ : state) {
    // Each fetch fills an empty index: the index keeps every pair it is given, so a
    // second fetch of the table would double it.
    state.PauseTiming();
    const bool renewed = World::Get().Renew();
    state.ResumeTiming();
    if (!renewed) {
      state.SkipWithError(World::Get().error().c_str());
      break;
    }
    Expect(state, World::Get().FetchCidDat(records), "Cid.dat");
  }
  state.counters["records"] = records;
}
BENCHMARK(BM_Scale_CidDat)->Arg(kCidRecords[0])->Arg(kCidRecords[1])->Arg(kCidRecords[2])
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Floor_CidDat(benchmark::State& state) {
  if (!Ready(state)) return;
  const int records = static_cast<int>(state.range(0));
  Floor floor;
  const std::string path = World::Get().CidPath(records);
  static const char kHex[] = "0123456789ABCDEF";
  for (auto _ : state) {
    std::string body;
    if (!floor.Fetch(path, &body) || body.size() != static_cast<size_t>(records) * kCidRecordSize) {
      state.SkipWithError("the floor's fetch failed");
      break;
    }
    std::unordered_multimap<std::string, int> index;
    index.reserve(static_cast<size_t>(records));
    for (size_t at = 0; at + kCidRecordSize <= body.size(); at += kCidRecordSize) {
      const auto* record = reinterpret_cast<const uint8_t*>(body.data() + at);
      std::string key(40, '0');
      for (int i = 0; i < 20; ++i) {
        key[2 * i] = kHex[record[i] >> 4];
        key[2 * i + 1] = kHex[record[i] & 15];
      }
      const int32_t album = static_cast<int32_t>(record[20] | (record[21] << 8) |
                                                 (record[22] << 16) |
                                                 (static_cast<uint32_t>(record[23]) << 24));
      index.emplace(std::move(key), album);
    }
    benchmark::DoNotOptimize(index.size());
  }
  state.counters["records"] = records;
}
BENCHMARK(BM_Floor_CidDat)->Arg(kCidRecords[0])->Arg(kCidRecords[1])->Arg(kCidRecords[2])
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Scale_AlbumList(benchmark::State& state) {
  if (!Ready(state)) return;
  const int albums = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const bool touched = World::Get().TouchAlbumList(albums);
    state.ResumeTiming();
    if (!touched) {
      state.SkipWithError("the album list could not be touched");
      break;
    }
    Expect(state, World::Get().FetchAlbumList(albums), "album list");
  }
  state.counters["albums"] = albums;
}
BENCHMARK(BM_Scale_AlbumList)->Arg(kAlbums[0])->Arg(kAlbums[1])->Arg(kAlbums[2])
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The body of path parsed with pugixml, every element named element visited; the count
// of those with an id.
bool FloorParse(benchmark::State& state, const std::string& path, const char* element,
                size_t expected) {
  Floor floor;
  for (auto _ : state) {
    std::string body;
    pugi::xml_document document;
    if (!floor.Fetch(path, &body) || !document.load_buffer(body.data(), body.size())) {
      state.SkipWithError("the floor's fetch or parse failed");
      return false;
    }
    size_t seen = 0;
    for (pugi::xml_node node : document.document_element().children(element)) {
      seen += node.attribute("id").as_int() != 0 ? 1 : 0;
    }
    if (seen != expected) {
      state.SkipWithError("the floor did not see every element");
      return false;
    }
  }
  return true;
}

void BM_Floor_AlbumList(benchmark::State& state) {
  if (!Ready(state)) return;
  const int albums = static_cast<int>(state.range(0));
  FloorParse(state, World::Get().AlbumListPath(albums), "category", static_cast<size_t>(albums));
  state.counters["albums"] = albums;
}
BENCHMARK(BM_Floor_AlbumList)->Arg(kAlbums[0])->Arg(kAlbums[1])->Arg(kAlbums[2])
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Scale_ResourceList(benchmark::State& state) {
  if (!Ready(state)) return;
  const int resources = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const bool touched = World::Get().TouchResourceList(resources);
    state.ResumeTiming();
    if (!touched) {
      state.SkipWithError("the album could not be touched");
      break;
    }
    Expect(state, World::Get().FetchResourceList(resources), "resource list");
  }
  state.counters["resources"] = resources;
}
BENCHMARK(BM_Scale_ResourceList)->Arg(kResources[0])->Arg(kResources[1])->Arg(kResources[2])
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Floor_ResourceList(benchmark::State& state) {
  if (!Ready(state)) return;
  const int resources = static_cast<int>(state.range(0));
  FloorParse(state, World::Get().ResourceListPath(resources), "resource",
             static_cast<size_t>(resources));
  state.counters["resources"] = resources;
}
BENCHMARK(BM_Floor_ResourceList)->Arg(kResources[0])->Arg(kResources[1])->Arg(kResources[2])
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
