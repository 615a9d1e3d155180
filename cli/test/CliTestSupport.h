// Test support for the command-line host: runs the built zqblog program with arguments
// and standard input, collecting its output, exit status and run time; and the ports
// the failure tests need. Used by tests only.
#ifndef ZQBLOG_CLI_TEST_CLITESTSUPPORT_H_
#define ZQBLOG_CLI_TEST_CLITESTSUPPORT_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Velmora {
namespace ZQCli {

// The program under test: the one this build made, or ZQCLI_TEST_PROGRAM (to run the
// tests against another build of it).
inline std::string Program() {
  const char* other = std::getenv("ZQCLI_TEST_PROGRAM");
  return other != nullptr && other[0] != '\0' ? other : ZQCLI_TEST_BINARY;
}

// A new empty folder under /tmp named after prefix ("/tmp/<prefix>XXXXXX"); "" when it
// cannot be made.
inline std::string MakeTempFolder(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "XXXXXX";
  const char* made = mkdtemp(pattern.data());
  return made != nullptr ? made : "";
}

struct ProgramRun {
  int status = -1;        // exit status; -1 when it did not exit normally
  bool killed = false;    // still running at the limit, killed
  std::string out;
  std::string err;
  double seconds = 0;
};

// Starts program with args, its stdin, stdout and stderr on the three pipes; closes the
// pipes' child ends here. The child's pid, or -1.
inline pid_t StartChild(const std::string& program, const std::vector<std::string>& args,
                        int in_pipe[2], int out_pipe[2], int err_pipe[2]) {
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
      close(fd);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  return pid;
}

// Runs program with args; feeds input on stdin, then closes it. Kills the program after
// limit_seconds (a hang is a failure of its own, not a stuck test).
inline ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                             const std::string& input = std::string(),
                             double limit_seconds = 60) {
  ProgramRun run;
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return run;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = StartChild(program, args, in_pipe, out_pipe, err_pipe);
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  if (input.empty()) {
    close(in_pipe[1]);
    in_pipe[1] = -1;
  } else {
    fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  }
  bool out_open = true, err_open = true;
  while (out_open || err_open) {
    pollfd fds[3];
    int count = 0;
    if (out_open) fds[count++] = {out_pipe[0], POLLIN, 0};
    if (err_open) fds[count++] = {err_pipe[0], POLLIN, 0};
    if (in_pipe[1] >= 0) fds[count++] = {in_pipe[1], POLLOUT, 0};
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (elapsed > limit_seconds) {
      kill(pid, SIGKILL);
      run.killed = true;
      break;
    }
    poll(fds, count, 100);
    for (int i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in_pipe[1]) {
        ssize_t n = write(in_pipe[1], input.data() + written, input.size() - written);
        if (n > 0) written += static_cast<size_t>(n);
        if (n < 0 || written == input.size()) {
          close(in_pipe[1]);
          in_pipe[1] = -1;
        }
        continue;
      }
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
      if (n <= 0) {
        if (fds[i].fd == out_pipe[0]) out_open = false;
        if (fds[i].fd == err_pipe[0]) err_open = false;
        continue;
      }
      (fds[i].fd == out_pipe[0] ? run.out : run.err).append(buffer, static_cast<size_t>(n));
    }
  }
  if (in_pipe[1] >= 0) close(in_pipe[1]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (WIFEXITED(wait_status)) run.status = WEXITSTATUS(wait_status);
  return run;
}

// A program left running in the background: lines written to its stdin, its stdout
// taken line by line and its stderr kept whole, each by a reader thread; signals sent.
// The destructor kills it (SIGKILL) if it still runs, and reaps it.
class BackgroundProgram {
 public:
  BackgroundProgram(const std::string& program, const std::vector<std::string>& args) {
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return;
    pid_ = StartChild(program, args, in_pipe, out_pipe, err_pipe);
    signal(SIGPIPE, SIG_IGN);
    in_ = in_pipe[1];
    out_reader_ = std::thread([this, fd = out_pipe[0]] { Read(fd, &out_); });
    err_reader_ = std::thread([this, fd = err_pipe[0]] { Read(fd, &err_); });
  }
  ~BackgroundProgram() {
    if (Wait(0) < 0 && pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait(10);
    }
    CloseInput();
    if (out_reader_.joinable()) out_reader_.join();
    if (err_reader_.joinable()) err_reader_.join();
  }
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;

  pid_t pid() const { return pid_; }

  bool WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    return in_ >= 0 && write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }
  void Signal(int number) {
    if (pid_ > 0 && !reaped_) kill(pid_, number);
  }

  // The next whole line of stdout (without "\n"); false when none came within seconds.
  bool ReadLine(std::string* line, double seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool found = changed_.wait_for(lock, Seconds(seconds), [&] {
      return out_.find('\n', out_taken_) != std::string::npos;
    });
    if (!found) return false;
    const size_t end = out_.find('\n', out_taken_);
    *line = out_.substr(out_taken_, end - out_taken_);
    out_taken_ = end + 1;
    return true;
  }
  // Whether stderr holds text within seconds.
  bool ErrContains(const std::string& text, double seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, Seconds(seconds),
                             [&] { return err_.find(text) != std::string::npos; });
  }
  std::string Err() {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
  }

  // The exit status once it exits within seconds (-2 when a signal ended it); -1 when
  // it still runs.
  int Wait(double seconds) {
    if (pid_ <= 0) return -2;
    if (reaped_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + Seconds(seconds);
    for (;;) {
      int wait_status = 0;
      if (waitpid(pid_, &wait_status, WNOHANG) == pid_) {
        reaped_ = true;
        status_ = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -2;
        return status_;
      }
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  static std::chrono::milliseconds Seconds(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  }
  void Read(int fd, std::string* into) {
    char buffer[4096];
    for (;;) {
      ssize_t n = read(fd, buffer, sizeof(buffer));
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(mutex_);
      into->append(buffer, static_cast<size_t>(n));
      changed_.notify_all();
    }
    close(fd);
  }

  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = -1;
  int in_ = -1;
  std::thread out_reader_;
  std::thread err_reader_;
  std::mutex mutex_;  // guards the texts
  std::condition_variable changed_;
  std::string out_;
  size_t out_taken_ = 0;
  std::string err_;
};

// A socket listening on a free loopback port (*port); its descriptor.
inline int ListenOnLoopback(uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  listen(fd, 16);
  socklen_t size = sizeof(address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  *port = ntohs(address.sin_port);
  return fd;
}

// A loopback port that accepts connections (from the kernel's backlog) and never
// answers.
class SilentPort {
 public:
  SilentPort() {
    fd_ = ListenOnLoopback(&port_);
  }
  ~SilentPort() { close(fd_); }
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A loopback port nothing listens on.
inline uint16_t ClosedPort() {
  SilentPort probe;
  return probe.port();
}

// The number of lines of text (a last line without "\n" counts).
inline size_t LineCount(const std::string& text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  if (!text.empty() && text.back() != '\n') ++lines;
  return lines;
}

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_TEST_CLITESTSUPPORT_H_
