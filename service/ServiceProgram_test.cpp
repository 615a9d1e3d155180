// The zqblog-service program: options, the printed address, serving, the database file
// and a clean stop on SIGTERM.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service/test/ServiceTestClient.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {
namespace {

// A running zqblog-service with its stdout on a pipe.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      std::string binary = ZQBLOG_SERVICE_BINARY;
      argv.push_back(binary.data());
      std::vector<std::string> copy = args;
      for (std::string& arg : copy) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(binary.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    stdout_ = fdopen(out[0], "r");
  }

  ~Program() {
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdout_ != nullptr) fclose(stdout_);
  }

  std::string ReadLine() {
    std::string line;
    int c;
    while (stdout_ != nullptr && (c = fgetc(stdout_)) != EOF && c != '\n') line += static_cast<char>(c);
    return line;
  }

  std::string ReadAll() {
    std::string text;
    int c;
    while (stdout_ != nullptr && (c = fgetc(stdout_)) != EOF) text += static_cast<char>(c);
    return text;
  }

  // Exit status, or -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    waited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void Signal(int signal) { kill(pid_, signal); }

 private:
  pid_t pid_ = -1;
  FILE* stdout_ = nullptr;
  bool waited_ = false;
};

uint16_t PortOf(const std::string& address) {
  return static_cast<uint16_t>(std::atoi(address.substr(address.rfind(':') + 1).c_str()));
}

TEST(ServiceProgramTest, HelpAndBadOptions) {
  Program help({"--help"});
  EXPECT_NE(std::string::npos, help.ReadAll().find("--seed-demo UIN"));
  EXPECT_EQ(0, help.Wait());
  Program bad({"--frobnicate"});
  bad.ReadAll();
  EXPECT_EQ(2, bad.Wait());
  Program listen({"--listen", "nowhere"});
  listen.ReadAll();
  EXPECT_EQ(2, listen.Wait());
}

TEST(ServiceProgramTest, ServesKeepsItsDatabaseAndStopsOnSigterm) {
  char path[] = "/tmp/zqblog-service-test-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    Program service({"--listen", "127.0.0.1:0", "--db", path, "--seed-demo", "10001"});
    const std::string address = service.ReadLine();
    ASSERT_EQ(0u, address.find("127.0.0.1:")) << address;
    ServiceTestClient client(PortOf(address));
    const ClientReply directory = client.Get("/touch3/10001");
    EXPECT_EQ(0u, directory.body.find("200\r\n"));
    EXPECT_EQ("404", client.Get("/touch3/10002").body);
    const auto start = std::chrono::steady_clock::now();
    service.Signal(SIGTERM);
    EXPECT_EQ(0, service.Wait());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  }
  {
    // The same database again: the demo blog is still there and is not seeded twice.
    Program service({"--listen", "127.0.0.1:0", "--db", path, "--seed-demo", "10001"});
    ServiceTestClient client(PortOf(service.ReadLine()));
    const ClientReply albums = client.Get("/blog/10001/albums.xml");
    EXPECT_EQ(200, albums.status);
    size_t count = 0;
    for (size_t at = albums.body.find("<category "); at != std::string::npos;
         at = albums.body.find("<category ", at + 1)) {
      ++count;
    }
    EXPECT_EQ(4u, count);
    service.Signal(SIGINT);
    EXPECT_EQ(0, service.Wait());
  }
  std::remove(path);
  std::remove((std::string(path) + "-wal").c_str());
  std::remove((std::string(path) + "-shm").c_str());
}

}  // namespace
}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
