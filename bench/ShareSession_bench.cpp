// The share session between processes, end to end: a `zqblog serve` process in front of
// the reference service (in this process, on a loopback port), and this process's host
// once stand-alone against the same service, once forwarding to the serving process.
//
//   BM_Share_Write/standalone|forwarded        ModifyAlbum of one album (its description
//                                              alternates, so every write is accepted)
//   BM_Share_ResourceList/standalone|forwarded GetResourceList of a 1,010-resource album
//                                              whose change time moves before each fetch
//                                              (untimed), so every fetch gets 200
//   BM_Share_Broadcast/0|8                     a forwarded directory refresh, until 0 or 8
//                                              `zqblog watch` processes have printed that
//                                              they applied its broadcast
//
// One host runs in this process at a time (the plug-in is process-wide): each benchmark
// starts its own and shuts it down after its loop.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HostBenchSupport.h"
#include "host/app/HostApplication.h"
#include "interfaces/IZQAlbumInfo.h"
#include "service/BlogService.h"

namespace {

using Velmora::ZQBench::Hex40;
using Velmora::ZQBench::StatusOf;
using Velmora::ZQBlog::Service::AlbumFields;
using Velmora::ZQBlog::Service::BlogService;
using Velmora::ZQBlog::Service::ResourceFields;
using Velmora::ZQHost::HostApplication;
using Velmora::ZQHost::HostApplicationOptions;
using Velmora::ZQHost::OperationOutcome;

constexpr int kResources = 1010;
const char kUin[] = "30002";
const wchar_t kWideUin[] = L"30002";

// A zqblog process with its stderr and stdout read through pipes (stdout to /dev/null
// when discard_output: a pipe nobody reads would stop the process once it is full).
class Child {
 public:
  explicit Child(const std::vector<std::string>& args, bool discard_output = false) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      if (discard_output) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, out[1]);
      }
      dup2(out[1], 1);
      dup2(err[1], 2);
      for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
      std::vector<char*> argv;
      static std::string program = ZQBENCH_CLI;
      argv.push_back(const_cast<char*>(program.c_str()));
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads stderr until it holds text (or seconds pass).
  bool WaitErr(const std::string& text, double seconds) { return WaitFor(err_, &err_text_, text, seconds); }
  // Takes what stdout holds now; the number of lines holding text so far.
  int Lines(const std::string& text) {
    while (ReadSome(out_, &out_text_, std::chrono::steady_clock::now() +
                                          std::chrono::milliseconds(1))) {
    }
    return Count(text);
  }
  // Lines holding text up to now are not waited for again.
  void Skip(const std::string& text) { seen_ = Lines(text); }
  // Reads stdout until `count` more lines holding text have come (or seconds pass).
  bool WaitLines(const std::string& text, int count, double seconds) {
    const auto deadline = Deadline(seconds);
    while (Count(text) < seen_ + count) {
      if (!ReadSome(out_, &out_text_, deadline)) return false;
    }
    seen_ += count;
    return true;
  }
  int pid() const { return pid_; }

 private:
  static std::chrono::steady_clock::time_point Deadline(double seconds) {
    return std::chrono::steady_clock::now() +
           std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (size_t at = out_text_.find(text); at != std::string::npos;
         at = out_text_.find(text, at + 1)) {
      ++n;
    }
    return n;
  }
  static bool ReadSome(int fd, std::string* into,
                       std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n <= 0) return false;
    into->append(buffer, static_cast<size_t>(n));
    return true;
  }
  static bool WaitFor(int fd, std::string* into, const std::string& text, double seconds) {
    const auto deadline = Deadline(seconds);
    while (into->find(text) == std::string::npos) {
      if (!ReadSome(fd, into, deadline)) return false;
    }
    return true;
  }

  int pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_text_;
  std::string err_text_;
  int seen_ = 0;
};


// The service (one small album, one album of kResources resources) and the serving
// process in front of it. Built once; error() says what went wrong.
class World {
 public:
  static World& Get() {
    static World world;
    return world;
  }
  const std::string& error() const { return error_; }
  const std::string& data() const { return data_; }
  int small_album() const { return small_album_; }
  int big_album() const { return big_album_; }
  uint16_t port() const { return service_.port(); }
  void TouchBigAlbum() { service_.store().SetResourceFlags(any_resource_, false, false); }

 private:
  World() {
    if (!Build()) Teardown();
  }
  ~World() { Teardown(); }
  void Teardown() {
    server_.reset();
    service_.Stop();
    if (!root_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(root_, ignored);
    }
  }
  bool Build() {
    char pattern[] = "/tmp/zqsb-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) return Fail("no temporary folder");
    root_ = made;
    data_ = root_ + "/shared";
    std::string error;
    if (!service_.Open(&error)) return Fail(error);
    auto& store = service_.store();
    store.AddUser(kUin);
    AlbumFields fields;
    fields.name = "small";
    small_album_ = store.AddAlbum(kUin, fields);
    fields.name = "big";
    big_album_ = store.AddAlbum(kUin, fields);
    for (int i = 0; i < kResources; ++i) {
      ResourceFields r;
      r.cid = Hex40(2 * i);
      r.gcid = Hex40(2 * i + 1);
      r.name = "resource " + std::to_string(i) + " \xe5\x81\x87\xe6\x9c\x9f holiday.zip";
      r.format = "zip";
      r.size = std::to_string(1048576 + i);
      r.url = "http://dl.velmora.cn/files/" + r.cid + "/holiday.zip";
      r.original = "http://www.example.cn/share/" + std::to_string(i);
      r.desc = "first line\nsecond line\twith a tab";
      r.res_type = i % 3;
      const int id = store.AddResource(big_album_, r);
      if (i == 0) any_resource_ = id;
    }
    if (!service_.Start("127.0.0.1", 0, &error)) return Fail(error);
    server_ = std::make_unique<Child>(std::vector<std::string>{
        "--data", data_, "--user", kUin, "--connect-to",
        "127.0.0.1:" + std::to_string(service_.port()), "serve"},
        /*discard_output=*/true);
    if (!server_->WaitErr("serving the share session", 30)) return Fail("serve did not start");
    return true;
  }
  bool Fail(const std::string& message) {
    error_ = message;
    return false;
  }

  std::string root_;
  std::string data_;
  std::string error_;
  BlogService service_;
  std::unique_ptr<Child> server_;
  int small_album_ = 0;
  int big_album_ = 0;
  int any_resource_ = 0;
};

// "" when outcome is a result with status 1, else what it was.
std::string Problem(const OperationOutcome& outcome) {
  const int status = StatusOf(outcome);
  if (status == 1) return std::string();
  if (status == 0) return outcome.serving_process_lost ? "status 0, serving process lost" : "status 0";
  return outcome.Describe();
}

// This process's host: stand-alone against the service (its own data folder), or
// forwarding to the serving process. The directory and album list are fetched.
std::unique_ptr<HostApplication> StartHost(bool forwarded, std::string* error) {
  World& world = World::Get();
  HostApplicationOptions options;
  options.data_root = forwarded ? world.data() : world.data() + "-alone";
  options.helper_library_path = ZQBENCH_ELVATRIX;
  options.plugin_library_path = ZQBENCH_PLUGIN;
  options.connect_to = {"127.0.0.1", world.port()};
  options.operation_timeout = std::chrono::seconds(60);
  options.share_session_role = forwarded ? 0 : 2;
  if (forwarded) options.share_session_user = kUin;
  auto host = std::make_unique<HostApplication>(options);
  if (!host->Start(error)) return nullptr;
  if (host->SignIn(kWideUin) != S_OK) {
    *error = "sign-in failed";
    return nullptr;
  }
  std::string problem = Problem(host->RunOperation([](IZQBlogOperation* op, IWorkshopCmd** command) {
    return op->RefreshBlogServerInfo(kWideUin, 0, nullptr, command);
  }));
  if (problem.empty()) {
    problem = Problem(host->RunOperation([](IZQBlogOperation* op, IWorkshopCmd** command) {
      return op->GetAlbumList(kWideUin, nullptr, command);
    }));
  }
  if (!problem.empty()) {
    *error = "the directory or album list: " + problem;
    return nullptr;
  }
  return host;
}

#define ZQBENCH_SETUP(forwarded)                    \
  World& world = World::Get();                      \
  if (!world.error().empty()) {                     \
    state.SkipWithError(world.error().c_str());     \
    return;                                         \
  }                                                 \
  std::string error;                                \
  auto host = StartHost(forwarded, &error);         \
  if (!host) {                                      \
    state.SkipWithError(("host: " + error).c_str()); \
    return;                                         \
  }

void BM_Share_Write(benchmark::State& state) {
  ZQBENCH_SETUP(state.range(0) != 0);
  CComPtr<IZQAlbumInfo> album;
  if (host->Blog()->GetAlbumInfo(kWideUin, world.small_album(), &album) != S_OK || !album) {
    state.SkipWithError("the album is not held");
    return;
  }
  int round = 0;
  for (auto _ : state) {
    album->SetDesc(++round % 2 ? L"odd" : L"even");
    const std::string problem =
        Problem(host->RunOperation([&](IZQBlogOperation* op, IWorkshopCmd** command) {
          return op->ModifyAlbum(album, nullptr, command);
        }));
    if (!problem.empty()) {
      state.SkipWithError(("the write: " + problem).c_str());
      break;
    }
  }
  album.Release();
  host->Shutdown();
}
BENCHMARK(BM_Share_Write)->ArgName("forwarded")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Share_ResourceList(benchmark::State& state) {
  ZQBENCH_SETUP(state.range(0) != 0);
  const int big = world.big_album();
  for (auto _ : state) {
    state.PauseTiming();
    world.TouchBigAlbum();
    state.ResumeTiming();
    const std::string problem =
        Problem(host->RunOperation([&](IZQBlogOperation* op, IWorkshopCmd** command) {
          return op->GetResourceList(kWideUin, big, nullptr, command);
        }));
    if (!problem.empty()) {
      state.SkipWithError(("the fetch: " + problem).c_str());
      break;
    }
  }
  CComPtr<IZQAlbumInfo> album;
  int count = -1;
  if (host->Blog()->GetAlbumInfo(kWideUin, big, &album) == S_OK && album) {
    album->GetResourceCount(&count);
  }
  if (count != kResources) state.SkipWithError("the session lacks resources");
  album.Release();
  host->Shutdown();
}
BENCHMARK(BM_Share_ResourceList)->ArgName("forwarded")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Share_Broadcast(benchmark::State& state) {
  ZQBENCH_SETUP(true);
  std::vector<std::unique_ptr<Child>> watchers;
  for (int i = 0; i < state.range(0); ++i) {
    watchers.push_back(std::make_unique<Child>(
        std::vector<std::string>{"--data", world.data(), "--user", kUin, "--json", "watch"}));
    if (!watchers.back()->WaitErr("watching", 30)) {
      state.SkipWithError("a watcher did not start");
      return;
    }
  }
  auto refresh = [&host] {
    return Problem(host->RunOperation([](IZQBlogOperation* op, IWorkshopCmd** command) {
      return op->RefreshBlogServerInfo(kWideUin, 0, nullptr, command);
    }));
  };
  // A watcher hears the broadcasts sent once it has joined: refresh until every one
  // has applied one, then count from there.
  const std::string kApplied = "\"notice\":0";
  for (int round = 0; round < 100; ++round) {
    bool all = refresh().empty();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (auto& watcher : watchers) all = all && watcher->Lines(kApplied) > 0;
    if (all) break;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  for (auto& watcher : watchers) watcher->Skip(kApplied);
  for (auto _ : state) {
    const std::string problem = refresh();
    if (!problem.empty()) {
      state.SkipWithError(("the refresh: " + problem).c_str());
      break;
    }
    for (auto& watcher : watchers) {
      if (!watcher->WaitLines(kApplied, 1, 30)) {
        state.SkipWithError("a watcher did not apply the broadcast");
        break;
      }
    }
  }
  watchers.clear();
  host->Shutdown();
}
BENCHMARK(BM_Share_Broadcast)->ArgName("watchers")->Arg(0)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
