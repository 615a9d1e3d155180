// zqblog-service: the reference blog web service as a program. Serves until SIGINT or
// SIGTERM, then stops cleanly.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "BlogService.h"
#include "FormData.h"

using Velmora::ZQBlog::Service::BlogService;
using Velmora::ZQBlog::Service::ServiceOptions;
using Velmora::ZQBlog::Service::StoreError;

namespace {

const char kUsage[] =
    "Usage: zqblog-service [options]\n"
    "\n"
    "Serves the blog web service (server directory, album and resource lists, Cid.dat,\n"
    "comment counts and the seven write operations) for every host name on one address.\n"
    "\n"
    "Options:\n"
    "  --listen ADDR:PORT     address to listen on (default 127.0.0.1:8080); port 0 picks\n"
    "                         a free port. The bound address is printed on stdout.\n"
    "  --db FILE              SQLite database file (default: in memory)\n"
    "  --seed-demo UIN        give UIN a demo blog unless it has albums (repeatable)\n"
    "  --open-blogs           open a blog for every unknown user that asks for one\n"
    "  --max-albums N         albums a user may have (default 100)\n"
    "  --max-album-size N     resources an album may hold (default 500)\n"
    "  --album-cost N         wealth points an album costs (default 0)\n"
    "  --initial-wealth N     wealth points of a new user (default 100)\n"
    "  --cookie-window S      seconds a write cookie's login time may lie from the\n"
    "                         service's clock (default 300)\n"
    "  --help                 show this text\n";

bool SplitListen(const std::string& text, std::string* address, uint16_t* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  int32_t number = 0;
  if (host.empty() ||
      !Velmora::ZQBlog::Service::ParseInt32(text.substr(colon + 1), &number) || number < 0 ||
      number > 65535) {
    return false;
  }
  *address = host;
  *port = static_cast<uint16_t>(number);
  return true;
}

bool ReadCount(const char* text, int64_t* value) {
  int32_t number = 0;
  if (!Velmora::ZQBlog::Service::ParseInt32(text, &number) || number < 0) return false;
  *value = number;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ServiceOptions options;
  std::string address = "127.0.0.1";
  uint16_t port = 8080;
  std::vector<std::string> demo_users;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::cerr << "zqblog-service: " << name << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    int64_t number = 0;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--listen") {
      if (!SplitListen(value("--listen"), &address, &port)) {
        std::cerr << "zqblog-service: --listen wants ADDR:PORT\n";
        return 2;
      }
    } else if (arg == "--db") {
      options.database_path = value("--db");
    } else if (arg == "--seed-demo") {
      demo_users.push_back(value("--seed-demo"));
    } else if (arg == "--open-blogs") {
      options.open_blogs_on_demand = true;
    } else if (arg == "--max-albums" && ReadCount(value("--max-albums"), &number)) {
      options.max_albums_per_user = static_cast<int>(number);
    } else if (arg == "--max-album-size" && ReadCount(value("--max-album-size"), &number)) {
      options.max_resources_per_album = static_cast<int>(number);
    } else if (arg == "--album-cost" && ReadCount(value("--album-cost"), &number)) {
      options.album_create_cost = number;
    } else if (arg == "--initial-wealth" && ReadCount(value("--initial-wealth"), &number)) {
      options.initial_wealth = number;
    } else if (arg == "--cookie-window" && ReadCount(value("--cookie-window"), &number)) {
      options.cookie_window = std::chrono::seconds(number);
    } else {
      std::cerr << "zqblog-service: bad option or value '" << arg << "'\n" << kUsage;
      return 2;
    }
  }

  // The server threads inherit this mask, so the signals reach only sigwait below.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  BlogService service(options);
  std::string error;
  if (!service.Open(&error)) {
    std::cerr << "zqblog-service: " << error << "\n";
    return 1;
  }
  for (const std::string& uin : demo_users) {
    try {
      if (!service.store().SeedDemo(uin)) {
        std::cerr << "zqblog-service: " << uin << " already has albums; not seeded\n";
      }
    } catch (const StoreError& e) {
      std::cerr << "zqblog-service: cannot seed " << uin << ": " << e.what() << "\n";
      return 1;
    }
  }
  if (!service.Start(address, port, &error)) {
    std::cerr << "zqblog-service: " << error << "\n";
    return 1;
  }
  const std::string bound = service.address();
  const bool v6 = bound.find(':') != std::string::npos;
  std::cout << (v6 ? "[" : "") << bound << (v6 ? "]" : "") << ":" << service.port()
            << std::endl;

  int received = 0;
  sigwait(&signals, &received);
  service.Stop();
  return 0;
}
