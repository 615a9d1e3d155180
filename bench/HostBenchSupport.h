// HostBenchSupport: what the end-to-end benchmarks share: stand-in content ids, the
// status of an operation's outcome, the host they run in a folder of its own, and the
// floor's fetch (one GET through the host's HTTP connection service alone).
#ifndef ZQBLOG_BENCH_HOSTBENCHSUPPORT_H_
#define ZQBLOG_BENCH_HOSTBENCHSUPPORT_H_

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "host/app/HostApplication.h"
#include "host/test/HttpTestClient.h"
#include "interfaces/IHttpConnectionFactory.h"
#include "service/BlogStore.h"

namespace Velmora {
namespace ZQBench {

// 40 upper-case hexadecimal digits, a different run for each seed.
inline std::string Hex40(unsigned seed) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  unsigned long long x = 0x9E3779B97F4A7C15ull * (seed + 1);
  for (int i = 0; i < 40; ++i) {
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    hex += kDigits[(x >> 60) & 15];
  }
  return hex;
}

// Resource i of the benchmarks' lists: about 500 bytes of XML in a list, a name and a
// description partly in Chinese, line feeds, tabs and "&nbsp;" in the description,
// which the reply carries as entities.
inline ZQBlog::Service::ResourceFields ListResource(int i) {
  ZQBlog::Service::ResourceFields r;
  r.cid = Hex40(2 * static_cast<unsigned>(i));
  r.gcid = Hex40(2 * static_cast<unsigned>(i) + 1);
  r.name = "resource number " + std::to_string(i) +
           " - \xe5\x81\x87\xe6\x9c\x9f\xe7\x85\xa7\xe7\x89\x87 holiday pictures.zip";
  r.format = "zip";
  r.size = std::to_string(1048576 + i);
  r.url = "http://dl.velmora.cn/files/" + r.cid + "/holiday-pictures.zip";
  r.original = "http://www.example.cn/share/" + std::to_string(i);
  r.desc = "first line \xe7\xac\xac\xe4\xb8\x80\xe8\xa1\x8c\n"
           "second line\twith a tab&nbsp;and a space";
  r.res_type = i % 3;
  return r;
}

// The host of an end-to-end benchmark: a new temporary folder (its data root is the
// folder's "host"), the plug-in and helper library the benchmark was built against
// (ZQBENCH_PLUGIN, ZQBENCH_ELVATRIX), the stand-alone role, every name going to
// 127.0.0.1:port. Stop (or the destructor) shuts the host down and removes the folder.
class BenchHost {
 public:
  BenchHost() = default;
  ~BenchHost() { Stop(); }
  BenchHost(const BenchHost&) = delete;
  BenchHost& operator=(const BenchHost&) = delete;

  // False, with *error set, when the folder or the host cannot be made.
  bool Start(uint16_t port, std::string* error) {
    char pattern[] = "/tmp/zqblog-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) {
      *error = "no temporary folder";
      return false;
    }
    root_ = made;
    ZQHost::HostApplicationOptions options;
    options.data_root = root_ + "/host";
    options.helper_library_path = ZQBENCH_ELVATRIX;
    options.plugin_library_path = ZQBENCH_PLUGIN;
    options.connect_to = {"127.0.0.1", port};
    options.operation_timeout = std::chrono::seconds(120);
    options.share_session_role = 2;
    host_.reset(new ZQHost::HostApplication(options));
    if (host_->Start(error)) return true;
    *error = "host: " + *error;
    return false;
  }

  void Stop() {
    if (host_) host_->Shutdown();
    host_.reset();
    if (!root_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(root_, ignored);
      root_.clear();
    }
  }

  ZQHost::HostApplication* get() const { return host_.get(); }
  ZQHost::HostApplication* operator->() const { return host_.get(); }
  // The temporary folder ("" before Start).
  const std::string& root() const { return root_; }

 private:
  std::string root_;
  std::unique_ptr<ZQHost::HostApplication> host_;
};

// The status of a result outcome, -1 for any other outcome.
inline int StatusOf(const ZQHost::OperationOutcome& outcome) {
  if (outcome.kind != ZQHost::OperationOutcome::Kind::kResult || !outcome.result) return -1;
  int status = -1;
  outcome.result->GetStatus(&status);
  return status;
}

// The body of GET path from host:80 (mapped by the factory's service) on a new
// connection, every piece collected; false when the exchange fails or stalls.
inline bool FetchBody(IHttpConnectionFactory* factory, const char* host, const std::string& path,
                      std::string* body) {
  auto client = ZQHost::HttpTestClient::Create();
  CComPtr<IHttpConnection> connection;
  CComPtr<IHttpRequest> request;
  bool ok = factory->CreateConnection(0, nullptr, &connection) == S_OK &&
            connection->Advise(client) == S_OK;
  if (ok) {
    client->AutoContinue(connection);
    ok = connection->SetServer(MakeCountedString(host), 80) == S_OK &&
         connection->Open() == S_OK && client->WaitForCount(1, std::chrono::seconds(30)) &&
         client->Events()[0].error == 0 &&
         factory->CreateRequest(&request, MakeCountedString("GET"),
                                MakeCountedString(path.c_str()),
                                MakeCountedString("1.1")) == S_OK &&
         connection->Send(request, nullptr) == S_OK &&
         client->WaitForEnd(std::chrono::seconds(60));
    connection->Unadvise(client);
    connection->Close();
  }
  *body = ok ? client->Body() : std::string();
  return ok;
}

}  // namespace ZQBench
}  // namespace Velmora

#endif  // ZQBLOG_BENCH_HOSTBENCHSUPPORT_H_
