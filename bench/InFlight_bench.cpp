// A thousand commands in flight: the plug-in loaded into the substitute host
// (HostApplication, stand-alone role) asks for the comment counts of 1,000 resources at
// once, beside curl fetching the same 1,000 URLs with 300 transfers in parallel.
//
//   BM_InFlight_Comments   1,000 RefreshResComment operations submitted together; the
//                          time until every command is terminal and every result has
//                          reached the host's sink (wall time; the CPU time is this
//                          process's: the host and the plug-in). Ten batches; before
//                          each (untimed) the session is emptied, so the commands are
//                          numbered 1 to 1,000, and after each (untimed) every one is
//                          checked: it succeeded, with the count the service holds for
//                          its key. Counters: the resident memory after batch 1 and its
//                          growth to batch 10, each read once the connections have
//                          closed and freed heap was given back; the host's
//                          open-connection peak (its cap is 64).
//   BM_Curl_Comments       curl --parallel --parallel-max 300 on the same requests (GET
//                          /comment/<key> with the command's Host and "Connection:
//                          Close" fields: one connection each), bodies to /dev/null;
//                          every status must be 200. Counter: curl's own CPU time.
//
// The service runs in a process of its own, with room for every connection curl opens.
// bench/ratios.py prints the ratio of the wall times.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HostBenchSupport.h"
#include "MemoryPeak.h"
#include "ServiceProcess.h"
#include "host/app/HostApplication.h"
#include "host/http/HttpConnectionService.h"
#include "host/workshop/CommandWorkshop.h"
#include "interfaces/IResultOnResComment.h"
#include "service/BlogService.h"
#include "service/ServiceOptions.h"

extern char** environ;

namespace {

using Velmora::ZQBench::BenchHost;
using Velmora::ZQBench::CurrentRssKb;
using Velmora::ZQBench::Hex40;
using Velmora::ZQBench::ServiceProcess;
using Velmora::ZQBlog::Service::BlogService;
using Velmora::ZQBlog::Service::ServiceOptions;
using Velmora::ZQHost::HostApplication;

constexpr int kCommands = 1000;
constexpr int kBatches = 10;
constexpr int kCurlParallel = 300;
const char kUser[] = "80001";
constexpr auto kBatchTimeout = std::chrono::seconds(120);

// The resource key of command i, and the comment count the service holds for it.
std::string Key(int i) { return Hex40(7000u + static_cast<unsigned>(i)); }
int Count(int i) { return 3 * i + 1; }

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The service process with every key's count, the host signed in, curl's configuration.
// Built once; error() says what went wrong.
class World {
 public:
  static World& Get() {
    static World world;
    return world;
  }

  const std::string& error() const { return error_; }
  HostApplication* host() { return host_.get(); }
  const std::string& curl_config() const { return curl_config_; }
  const std::string& root() const { return host_.root(); }

  // Empties the session (its results), numbering commands from 1 again, and signs the
  // user in again.
  bool Renew() {
    return host_->Blog()->ClearSession() == S_OK && host_->SignIn(Wide(kUser)) == S_OK;
  }

 private:
  World() {
    if (!Build()) Teardown();
  }
  ~World() { Teardown(); }

  void Teardown() { host_.Stop(); }

  bool Build() {
    ServiceOptions options;
    // curl opens up to 300 connections at once; the service closes any beyond this.
    options.max_connections = 1100;
    std::string error;
    if (!service_.Start(
            options,
            [](BlogService& service) {
              service.store().AddUser(kUser);
              for (int i = 0; i < kCommands; ++i) {
                service.store().SetCommentCount(Key(i), Count(i));
              }
            },
            nullptr, &error)) {
      return Fail(error);
    }
    if (!host_.Start(service_.port(), &error)) return Fail(error);

    // The same requests as the command's: its path, its Host and Connection fields.
    curl_config_ = host_.root() + "/curl.conf";
    {
      std::ofstream config(curl_config_);
      config << "header = \"Host: comment.velmora.cn\"\n"
             << "header = \"Connection: Close\"\n";
      for (int i = 0; i < kCommands; ++i) {
        config << "url = \"http://127.0.0.1:" << service_.port() << "/comment/" << Key(i)
               << "\"\noutput = \"/dev/null\"\n";
      }
      if (!config) return Fail("cannot write the curl configuration");
    }

    if (!Renew()) return Fail("sign-in failed");
    return true;
  }

  bool Fail(const std::string& message) {
    error_ = message;
    return false;
  }

  ServiceProcess service_;
  std::string curl_config_;
  std::string error_;
  BenchHost host_;
};

bool Ready(benchmark::State& state) {
  if (World::Get().error().empty()) return true;
  state.SkipWithError(World::Get().error().c_str());
  return false;
}

// Submits the batch, every command at once, and waits until each is terminal and each
// result has reached the sink. Empty on success, else what went wrong.
std::string RunBatch(HostApplication* host, const std::vector<std::wstring>& keys) {
  const size_t mark = host->SinkEventCount();
  const auto deadline = std::chrono::steady_clock::now() + kBatchTimeout;
  std::vector<CComPtr<IWorkshopCmd>> commands(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    const HRESULT hr = host->Operation()->RefreshResComment(
        keys[i].c_str(), static_cast<int>(i), nullptr, &commands[i]);
    if (FAILED(hr) || !commands[i]) {
      return "RefreshResComment refused: " + Velmora::ZQHost::DescribeHResult(hr);
    }
  }
  for (const auto& command : commands) {
    for (;;) {
      int state = 0;
      command->GetState(&state);
      if (state >= 5 && state <= 8) {
        if (state != 5) return "a command ended in state " + std::to_string(state);
        break;
      }
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return "timed out";
      host->Workshop()->WaitForCommand(
          command, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
    }
  }
  while (host->SinkEventCount() < mark + keys.size()) {
    if (std::chrono::steady_clock::now() >= deadline) return "the sink events did not arrive";
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return std::string();
}

// Every command of the batch (numbered 1 to 1,000 after Renew) delivered a result with
// status 1, its request number and the service's count. Empty when so.
std::string CheckResults(HostApplication* host) {
  for (int id = 1; id <= kCommands; ++id) {
    CComPtr<ICommonResult> result;
    if (host->Blog()->GetCommandResult(id, &result) != S_OK || !result) {
      return "no result for command " + std::to_string(id);
    }
    CComPtr<IResultOnResComment> comment;
    result.QueryInterface(&comment);
    int status = 0;
    int number = -1;
    int count = -1;
    if (!comment || comment->GetStatus(&status) != S_OK || status != 1 ||
        comment->GetRequestNumber(&number) != S_OK || number < 0 || number >= kCommands ||
        comment->GetCategoryId(&count) != S_OK || count != Count(number)) {
      return "command " + std::to_string(id) + " has no comment count";
    }
  }
  return std::string();
}

void BM_InFlight_Comments(benchmark::State& state) {
  if (!Ready(state)) return;
  HostApplication* host = World::Get().host();
  std::vector<std::wstring> keys;
  for (int i = 0; i < kCommands; ++i) keys.push_back(Wide(Key(i)));
  std::vector<long> rss;
  for (auto _ : state) {
    state.PauseTiming();
    const bool renewed = World::Get().Renew();
    state.ResumeTiming();
    if (!renewed) {
      state.SkipWithError("the session could not be renewed");
      break;
    }
    const std::string failed = RunBatch(host, keys);
    state.PauseTiming();
    const std::string wrong = failed.empty() ? CheckResults(host) : failed;
    // Once every connection has closed, freed heap is given back: what stays resident
    // is what the host keeps.
    for (int wait = 0; wait < 1000 && host->Http()->OpenConnections() > 0; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    malloc_trim(0);
    rss.push_back(CurrentRssKb());
    state.ResumeTiming();
    if (!wrong.empty()) {
      state.SkipWithError(wrong.c_str());
      break;
    }
  }
  if (!rss.empty()) {
    state.counters["rss_batch1_KB"] = static_cast<double>(rss.front());
    state.counters["rss_growth_KB"] = static_cast<double>(rss.back() - rss.front());
    // The second half alone: the host's fixed-size records (the newest sink events) are
    // full by then, so this is what a batch leaves behind for good.
    const long middle = rss[rss.size() / 2];
    state.counters["rss_growth_late_KB"] = static_cast<double>(rss.back() - middle);
  }
  state.counters["open_peak"] = static_cast<double>(host->Http()->OpenConnectionPeak());
  state.counters["commands"] = kCommands;
}
BENCHMARK(BM_InFlight_Comments)->Iterations(kBatches)->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()->UseRealTime();

// Runs curl on the configuration, its statuses written to statuses; its exit status
// (-1 when it could not run) and its CPU time.
int RunCurl(const std::string& config, const std::string& statuses, double* cpu_ms) {
  const std::string parallel = std::to_string(kCurlParallel);
  std::vector<std::string> args = {"curl",          "--silent",         "--no-progress-meter",
                                   "--parallel",    "--parallel-max",   parallel,
                                   "--write-out",   "%{http_code}\\n", "--config",
                                   config};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, statuses.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "curl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  rusage usage = {};
  if (wait4(pid, &status, 0, &usage) != pid) return -1;
  *cpu_ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
            (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// How many lines of the file say 200.
int CountOk(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  int ok = 0;
  while (std::getline(in, line)) ok += line == "200" ? 1 : 0;
  return ok;
}

void BM_Curl_Comments(benchmark::State& state) {
  if (!Ready(state)) return;
  const std::string statuses = World::Get().root() + "/curl.status";
  double cpu_ms = 0;
  double total_cpu_ms = 0;
  for (auto _ : state) {
    const int exit_status = RunCurl(World::Get().curl_config(), statuses, &cpu_ms);
    state.PauseTiming();
    total_cpu_ms += cpu_ms;
    const int ok = CountOk(statuses);
    state.ResumeTiming();
    if (exit_status != 0 || ok != kCommands) {
      state.SkipWithError(("curl exited with " + std::to_string(exit_status) + ", " +
                           std::to_string(ok) + " replies of 200")
                              .c_str());
      break;
    }
  }
  state.counters["curl_cpu_ms"] =
      benchmark::Counter(total_cpu_ms, benchmark::Counter::kAvgIterations);
  state.counters["requests"] = kCommands;
}
BENCHMARK(BM_Curl_Comments)->Iterations(kBatches)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
