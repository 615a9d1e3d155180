// ServiceProcess: the reference service in a process of its own, for the benchmarks
// whose process must hold the host alone (its CPU time and its memory). The child is
// forked before the host starts, seeded, and serves on a free loopback port; it runs each
// request this process sends on a pipe (two numbers) and answers one byte, until the
// pipe closes.
#ifndef ZQBLOG_BENCH_SERVICEPROCESS_H_
#define ZQBLOG_BENCH_SERVICEPROCESS_H_

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "service/BlogService.h"
#include "service/ServiceOptions.h"

namespace Velmora {
namespace ZQBench {

class ServiceProcess {
 public:
  // Runs in the child, on its copy of what it captured: fills the store before the
  // service serves.
  typedef std::function<void(ZQBlog::Service::BlogService& service)> Seeder;
  // Runs in the child for each request (what, value); true: done.
  typedef std::function<bool(ZQBlog::Service::BlogService& service, int32_t what,
                             int32_t value)>
      RequestHandler;

  ServiceProcess() = default;
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Forks the child, which serves with options after seed, and waits until it serves
  // (or failed: false, *error set). REQUIRES: this process runs no other thread yet;
  // called once.
  bool Start(const ZQBlog::Service::ServiceOptions& options, const Seeder& seed,
             const RequestHandler& handle, std::string* error) {
    int requests[2];
    int answers[2];
    if (pipe(requests) != 0 || pipe(answers) != 0) return Failed("no pipe", error);
    pid_ = fork();
    if (pid_ < 0) return Failed("fork failed", error);
    if (pid_ == 0) {
      close(requests[1]);
      close(answers[0]);
      _exit(Serve(options, seed, handle, requests[0], answers[1]));
    }
    close(requests[0]);
    close(answers[1]);
    requests_ = requests[1];
    answers_ = answers[0];
    uint16_t port = 0;
    if (!ReadAll(answers_, &port, sizeof port) || port == 0) {
      return Failed("the service process did not start", error);
    }
    port_ = port;
    return true;
  }

  // Ends the child (it stops at the end of its requests) and waits for it.
  ~ServiceProcess() {
    if (pid_ <= 0) return;
    close(requests_);
    close(answers_);
    int status = 0;
    waitpid(pid_, &status, 0);
  }

  uint16_t port() const { return port_; }

  // Has the child run the request (what, value); true when it answered done.
  bool Request(int32_t what, int32_t value) {
    const int32_t request[2] = {what, value};
    char done = 0;
    return WriteAll(requests_, request, sizeof request) && ReadAll(answers_, &done, 1) &&
           done == 1;
  }

 private:
  static bool Failed(const char* message, std::string* error) {
    *error = message;
    return false;
  }
  static bool ReadAll(int fd, void* to, size_t length) {
    auto* bytes = static_cast<char*>(to);
    while (length > 0) {
      const ssize_t got = read(fd, bytes, length);
      if (got <= 0) return false;
      bytes += got;
      length -= static_cast<size_t>(got);
    }
    return true;
  }
  static bool WriteAll(int fd, const void* from, size_t length) {
    const auto* bytes = static_cast<const char*>(from);
    while (length > 0) {
      const ssize_t put = write(fd, bytes, length);
      if (put <= 0) return false;
      bytes += put;
      length -= static_cast<size_t>(put);
    }
    return true;
  }

  // The child: seeds, serves, and runs requests until the pipe closes.
  static int Serve(const ZQBlog::Service::ServiceOptions& options, const Seeder& seed,
                   const RequestHandler& handle, int requests, int answers) {
    ZQBlog::Service::BlogService service(options);
    std::string error;
    if (!service.Open(&error)) return 1;
    if (seed) seed(service);
    if (!service.Start("127.0.0.1", 0, &error)) return 1;
    const uint16_t port = service.port();
    if (!WriteAll(answers, &port, sizeof port)) return 1;
    int32_t request[2];
    while (ReadAll(requests, request, sizeof request)) {
      const char done = handle && handle(service, request[0], request[1]) ? 1 : 0;
      if (!WriteAll(answers, &done, 1)) break;
    }
    service.Stop();
    return 0;
  }

  pid_t pid_ = 0;
  int requests_ = -1;
  int answers_ = -1;
  uint16_t port_ = 0;
};

}  // namespace ZQBench
}  // namespace Velmora

#endif  // ZQBLOG_BENCH_SERVICEPROCESS_H_
