// The zqblog program, run as a separate process against a reference service started
// here (or the one it embeds), its JSON output checked field by field against the
// service's data. Commands whose plug-in operation is not built yet answer
// "E_NOTIMPL"; their tests skip then, and pass by themselves once it is.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/test/CliTestSupport.h"
#include "service/BlogService.h"

namespace Velmora {
namespace ZQCli {
namespace {

using nlohmann::json;
using ZQBlog::Service::AlbumFields;
using ZQBlog::Service::AlbumRecord;
using ZQBlog::Service::BlogService;
using ZQBlog::Service::ResourceFields;
using ZQBlog::Service::ResourceRecord;

const char kUser[] = "demo";
const char kCidA[] = "A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1A1";
const char kCidB[] = "B2B2B2B2B2B2B2B2B2B2B2B2B2B2B2B2B2B2B2B2";

#define SKIP_UNTIL_IMPLEMENTED(run)                                                   \
  do {                                                                               \
    if ((run).status == 1 && (run).err.find("E_NOTIMPL") != std::string::npos) {     \
      GTEST_SKIP() << "the plug-in does not do this yet: " << (run).err;             \
    }                                                                                \
  } while (0)

// The program under test: the one this build made, or ZQCLI_TEST_PROGRAM (to run these
// tests against another build of it).


// A loopback relay in front of the service that passes reads (GET) through and holds
// every write (POST) unanswered and unsent: a service that stalls in the middle of a
// write.
class StallingRelay {
 public:
  explicit StallingRelay(uint16_t service_port) : service_port_(service_port) {
    listener_ = ListenOnLoopback(&port_);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~StallingRelay() {
    stop_ = true;
    acceptor_.join();
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      workers.swap(workers_);
    }
    for (std::thread& worker : workers) worker.join();
    close(listener_);
  }
  StallingRelay(const StallingRelay&) = delete;
  StallingRelay& operator=(const StallingRelay&) = delete;

  uint16_t port() const { return port_; }
  int held_writes() const { return held_; }

 private:
  void Accept() {
    while (!stop_) {
      pollfd ready = {listener_, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      int client = accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      workers_.emplace_back([this, client] { Serve(client); });
    }
  }

  // Reads the request head; a POST is held until the relay stops, anything else is
  // relayed both ways.
  void Serve(int client) {
    std::string head;
    char buffer[4096];
    while (!stop_ && head.find("\r\n\r\n") == std::string::npos) {
      pollfd ready = {client, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      ssize_t n = read(client, buffer, sizeof buffer);
      if (n <= 0) break;
      head.append(buffer, static_cast<size_t>(n));
    }
    if (head.compare(0, 5, "POST ") == 0) {
      ++held_;
      while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      close(client);
      return;
    }
    int upstream = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(service_port_);
    if (connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        write(upstream, head.data(), head.size()) != static_cast<ssize_t>(head.size())) {
      close(upstream);
      close(client);
      return;
    }
    bool open = true;
    while (!stop_ && open) {
      pollfd ends[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
      if (poll(ends, 2, 50) <= 0) continue;
      for (int i = 0; i < 2 && open; ++i) {
        if (ends[i].revents == 0) continue;
        ssize_t n = read(ends[i].fd, buffer, sizeof buffer);
        if (n <= 0 || write(ends[1 - i].fd, buffer, static_cast<size_t>(n)) != n) open = false;
      }
    }
    close(upstream);
    close(client);
  }

  uint16_t service_port_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> held_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> workers_;
};

// A loopback port that answers every request with one status and an empty body.
class EmptyReplyPort {
 public:
  explicit EmptyReplyPort(int status) : status_(status) {
    listener_ = ListenOnLoopback(&port_);
    server_ = std::thread([this] { Serve(); });
  }
  ~EmptyReplyPort() {
    stop_ = true;
    server_.join();
    close(listener_);
  }
  EmptyReplyPort(const EmptyReplyPort&) = delete;
  EmptyReplyPort& operator=(const EmptyReplyPort&) = delete;
  uint16_t port() const { return port_; }

 private:
  void Serve() {
    const std::string reply = "HTTP/1.1 " + std::to_string(status_) +
                              " Status\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    while (!stop_) {
      pollfd ready = {listener_, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      int client = accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      std::string head;
      char buffer[4096];
      while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd readable = {client, POLLIN, 0};
        if (poll(&readable, 1, 2000) <= 0) break;
        ssize_t n = read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        head.append(buffer, static_cast<size_t>(n));
      }
      if (write(client, reply.data(), reply.size()) < 0) {
        // The client went away: nothing to tell it.
      }
      close(client);
    }
  }

  const int status_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread server_;
};

class ZqblogProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempFolder("zqcli-test-");
    ASSERT_FALSE(root_.empty());
    data_ = root_ + "/data";
    std::string error;
    ASSERT_TRUE(service_.Open(&error)) << error;
    ASSERT_TRUE(service_.store().SeedDemo(kUser));
    ASSERT_TRUE(service_.Start("127.0.0.1", 0, &error)) << error;
  }
  void TearDown() override {
    service_.Stop();
    std::filesystem::remove_all(root_);
  }

  std::string Address() const { return "127.0.0.1:" + std::to_string(service_.port()); }

  // zqblog against the service of the test, with the test's data folder.
  ProgramRun Zqblog(std::vector<std::string> args, const std::string& input = std::string()) {
    std::vector<std::string> full = {"--data", data_, "--connect-to", Address()};
    full.insert(full.end(), args.begin(), args.end());
    return RunProgram(Program(), full, input);
  }

  // The same with --json; *out gets the parsed stdout (null when it is not one JSON
  // object).
  ProgramRun ZqblogJson(std::vector<std::string> args, json* out) {
    args.insert(args.begin(), "--json");
    ProgramRun run = Zqblog(args);
    *out = json::parse(run.out, nullptr, false);
    if (out->is_discarded() || !out->is_object()) *out = json();
    return run;
  }

  AlbumRecord Album(const std::string& name) {
    const auto list = service_.store().GetAlbumList(kUser);
    for (const AlbumRecord& album : list->albums) {
      if (album.fields.name == name) return album;
    }
    return AlbumRecord();
  }
  std::vector<ResourceRecord> Resources(int album) {
    auto list = service_.store().GetResourceList(kUser, album);
    return list ? list->resources : std::vector<ResourceRecord>();
  }
  int AddAlbum(const std::string& name) {
    AlbumFields fields;
    fields.name = name;
    fields.desc = "made by the test";
    return service_.store().AddAlbum(kUser, fields);
  }
  int AddResource(int album, const std::string& cid, const std::string& name) {
    ResourceFields fields;
    fields.cid = cid;
    fields.name = name;
    fields.format = "txt";
    fields.size = "10";
    fields.url = "http://dl.velmora.cn/" + cid;
    return service_.store().AddResource(album, fields);
  }

  std::string root_;
  std::string data_;
  BlogService service_;
};

// Every common field of a result, against what the operation must have said.
void ExpectCommonResult(const json& result, const char* kind, int operation_index, int status) {
  ASSERT_TRUE(result.is_object()) << result;
  EXPECT_TRUE(result["command_id"].is_number_integer());
  EXPECT_GE(result.value("command_id", 0), 1);
  EXPECT_EQ(kind, result.value("kind", ""));
  EXPECT_EQ(kUser, result.value("uin", ""));
  EXPECT_EQ(status, result.value("status", -1));
  EXPECT_EQ(operation_index, result.value("operation_index", -2));
  EXPECT_TRUE(result["operation_title"].is_string());
  EXPECT_TRUE(result["message_text"].is_string());
  EXPECT_EQ(0, result.value("extra_value", -1));
  EXPECT_TRUE(result["category_id"].is_number_integer());
}

// ---------------------------------------------------------------- bad input

TEST_F(ZqblogProgramTest, UsageErrorsExitTwoWithOneLineAndChangeNothing) {
  const std::string not_json = root_ + "/not.json";
  std::ofstream(not_json) << "[{\"cid\": \"" << kCidA << "\", ";
  const std::string lacking = root_ + "/lacking.json";
  std::ofstream(lacking) << "[{\"cid\": \"" << kCidA << "\", \"res_name\": \"a\"}, {\"cid\": \""
                         << kCidB << "\"}]";
  const std::string object = root_ + "/object.json";
  std::ofstream(object) << "{\"cid\": \"" << kCidA << "\", \"res_name\": \"a\"}";
  const int album = Album("Open Source").id;
  const size_t held = Resources(album).size();
  const std::string a = std::to_string(album);

  struct Case {
    std::vector<std::string> args;
    const char* names;  // what the message must mention
  };
  const std::vector<Case> cases = {
      {{}, "no command"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"--bogus", "albums"}, "--bogus"},
      {{"albums", "--bogus"}, "--bogus"},
      {{"resources"}, "ALBUM"},
      {{"resources", "abc"}, "'abc'"},
      {{"resources", "12x"}, "'12x'"},
      {{"remove-album", "0"}, "'0'"},
      {{"remove-resources", a}, "ID"},
      {{"remove-resources", a, "5", "five"}, "'five'"},
      {{"copy", a, "2"}, "ID"},
      {{"move", a, "x", "1"}, "TO 'x'"},
      {{"modify-resource", a, a}, "ID"},
      {{"albums-by-cid", "1234"}, "'1234'"},
      {{"comments"}, "KEY"},
      {{"comments", "a/b"}, "'a/b'"},
      {{"create-album"}, "--name"},
      {{"create-album", "--name", "x", "--tag", "1", "--tag", "2", "--tag", "3", "--tag", "4"},
       "three tags"},
      {{"create-album", "--name", "x", "--show", "yes"}, "--show 'yes'"},
      {{"modify-album", a, "--new-count", "1.5"}, "--new-count '1.5'"},
      {{"collect", a}, "--resource or --from-json"},
      {{"collect", a, "--resource", "cid=" + std::string(kCidA)}, "res_name"},
      {{"collect", a, "--resource", "cid=xyz,res_name=a"}, "cid 'xyz'"},
      {{"collect", a, "--resource", "cid=" + std::string(kCidA) + ",res_name=a,color=red"},
       "'color'"},
      {{"collect", a, "--resource", "cid=" + std::string(kCidA) + ",res_name=a,size=big"},
       "size 'big'"},
      {{"collect", a, "--from-json", root_ + "/missing.json"}, "cannot read"},
      {{"collect", a, "--from-json", not_json}, "is not JSON"},
      {{"collect", a, "--from-json", lacking}, "entry 1: the resource lacks res_name"},
      {{"collect", a, "--from-json", object}, "not a JSON array"},
      {{"collect", a, "--from-json", object, "--resource", "cid=" + std::string(kCidA)},
       "excludes"},
      {{"--timeout", "0", "albums"}, "--timeout '0'"},
      {{"--timeout", "soon", "albums"}, "--timeout 'soon'"},
      {{"--user", "no body", "albums"}, "--user 'no body'"},
      {{"directory", "a", "b"}, "b"},
  };
  for (const Case& c : cases) {
    ProgramRun run = Zqblog(c.args);
    std::string line;
    for (const auto& arg : c.args) line += arg + " ";
    EXPECT_EQ(2, run.status) << line << "\n" << run.err;
    EXPECT_EQ(1u, LineCount(run.err)) << line << "\n" << run.err;
    EXPECT_EQ(0u, run.err.rfind("zqblog: ", 0)) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(c.names)) << line << "\n" << run.err;
    EXPECT_TRUE(run.out.empty()) << line << "\n" << run.out;
  }
  // --connect-to is checked before anything starts.
  ProgramRun run = RunProgram(Program(),
                              {"--data", data_, "--connect-to", "nowhere", "albums"});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("--connect-to 'nowhere'")) << run.err;
  // Nothing reached the service.
  EXPECT_EQ(held, Resources(album).size());
  EXPECT_EQ(4u, service_.store().GetAlbumList(kUser)->albums.size());
}

TEST_F(ZqblogProgramTest, HelpDocumentsTheDecisions) {
  ProgramRun run = RunProgram(Program(), {"--help"});
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos, run.out.find("copy always sends choice=1")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("move sends\nchoice=0")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("embedded")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("the worst of its lines")) << run.out;
  for (const char* command : {"directory", "albums-by-cid", "modify-resource", "shell", "demo"}) {
    EXPECT_NE(std::string::npos, run.out.find(command)) << command;
  }
}

TEST_F(ZqblogProgramTest, ServiceDownIsAFailureInOneLine) {
  ProgramRun run = RunProgram(
      Program(), {"--data", data_, "--connect-to",
                          "127.0.0.1:" + std::to_string(ClosedPort()), "--json", "albums"});
  EXPECT_EQ(1, run.status) << run.err;
  EXPECT_EQ(1u, LineCount(run.err)) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("server directory of demo")) << run.err;
  EXPECT_LT(run.seconds, 10.0);
  json out = json::parse(run.out, nullptr, false);
  ASSERT_TRUE(out.is_object()) << run.out;
  EXPECT_TRUE(out["error"].is_string());
  if (out.contains("failure")) {
    // The failure sink's report: connection refused, in the directory fetch.
    EXPECT_EQ(static_cast<int>(0x8007274Du), out["failure"].value("code", 0));
    EXPECT_EQ(0, out["failure"].value("operation_index", -1));
    EXPECT_NE(std::string::npos, run.err.find("connection refused")) << run.err;
    EXPECT_FALSE(out.contains("result"));
  }
}

TEST_F(ZqblogProgramTest, TimeoutIsHonouredAndReported) {
  SilentPort silent;
  ProgramRun run = RunProgram(Program(),
                              {"--data", data_, "--connect-to",
                               "127.0.0.1:" + std::to_string(silent.port()), "--timeout", "1",
                               "directory"});
  EXPECT_EQ(1, run.status) << run.err;
  EXPECT_FALSE(run.killed);
  EXPECT_GE(run.seconds, 0.9);
  // Well short of the HTTP stall time-out (30 s), with room for a slow start-up (a
  // sanitizer build on a busy machine).
  EXPECT_LT(run.seconds, 8.0) << "the program outlived its time-out";
  EXPECT_EQ("zqblog: server directory of demo: timed out after 1 s\n", run.err);
}

TEST_F(ZqblogProgramTest, AnHttpStatusWithAnEmptyBodyIsNamed) {
  for (int status : {500, 404}) {
    EmptyReplyPort port(status);
    ProgramRun run = RunProgram(Program(), {"--data", data_, "--connect-to",
                                            "127.0.0.1:" + std::to_string(port.port()),
                                            "albums"});
    EXPECT_EQ(1, run.status) << run.err;
    EXPECT_EQ(1u, LineCount(run.err)) << run.err;
    EXPECT_NE(std::string::npos,
              run.err.find("the service answered HTTP " + std::to_string(status)))
        << run.err;
  }
}

TEST_F(ZqblogProgramTest, UserWithoutBlog) {
  json out;
  ProgramRun run = ZqblogJson({"directory", "nobody"}, &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  // The directory answered (status 1): the contract's exit status is 0, with a note.
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(false, out.value("opened", true)) << run.out;
  EXPECT_TRUE(out["cid_dat_url"].is_null());
  EXPECT_EQ("nobody", out["result"].value("uin", ""));
  EXPECT_EQ(1, out["result"].value("status", 0));
  EXPECT_EQ("zqblog: user nobody has no blog (the server directory answered 404)\n", run.err);

  // Anything that needs the blog stops there.
  run = ZqblogJson({"albums", "nobody"}, &out);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("zqblog: user nobody has no blog (the server directory answered 404)\n", run.err);
  ProgramRun as_user = Zqblog({"--user", "nobody", "create-album", "--name", "x"});
  EXPECT_EQ(1, as_user.status);
  EXPECT_NE(std::string::npos, as_user.err.find("user nobody has no blog")) << as_user.err;
}

TEST_F(ZqblogProgramTest, RefusedWritesAreOneLineAndChangeNothing) {
  const size_t albums = service_.store().GetAlbumList(kUser)->albums.size();
  const int empty = AddAlbum("Kept empty");
  const int travel = Album("旅行").id;
  const size_t travel_held = Resources(travel).size();

  // A sensitive word in the name: the service's word becomes the message.
  json out;
  ProgramRun run = ZqblogJson({"--timeout", "10", "create-album", "--name", "my badword album"},
                              &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  EXPECT_EQ(1, run.status) << run.err;
  EXPECT_EQ(1u, LineCount(run.err)) << run.err;
  EXPECT_EQ(0u, run.err.rfind("zqblog: ", 0)) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("敏感词")) << run.err;
  EXPECT_EQ(0, out["result"].value("status", -1)) << run.out;
  EXPECT_LT(run.seconds, 10.0);

  // A blacklisted user is refused every write.
  service_.store().SetBlacklisted(kUser, true);
  const std::vector<std::vector<std::string>> writes = {
      {"create-album", "--name", "fresh"},
      {"remove-album", std::to_string(empty)},
      {"modify-album", std::to_string(empty), "--name", "renamed"},
      {"remove-resources", std::to_string(travel), std::to_string(Resources(travel)[0].id)},
  };
  for (const auto& write : writes) {
    std::vector<std::string> args = {"--timeout", "10"};
    args.insert(args.end(), write.begin(), write.end());
    run = Zqblog(args);
    EXPECT_EQ(1, run.status) << write[0] << "\n" << run.err;
    EXPECT_EQ(1u, LineCount(run.err)) << write[0] << "\n" << run.err;
    EXPECT_NE(std::string::npos, run.err.find("已被加入黑名单")) << write[0] << "\n" << run.err;
    EXPECT_FALSE(run.killed);
  }

  // The service holds exactly what it held before.
  EXPECT_EQ(albums + 1, service_.store().GetAlbumList(kUser)->albums.size());
  EXPECT_EQ(0, Album("my badword album").id);
  EXPECT_EQ(0, Album("fresh").id);
  EXPECT_EQ(empty, Album("Kept empty").id);
  EXPECT_EQ(0, Album("renamed").id);
  EXPECT_EQ(travel_held, Resources(travel).size());
}

TEST_F(ZqblogProgramTest, ServiceDownBeforeAWriteIsOneLine) {
  const size_t albums = service_.store().GetAlbumList(kUser)->albums.size();
  ProgramRun run = RunProgram(Program(), {"--data", data_, "--connect-to",
                                          "127.0.0.1:" + std::to_string(ClosedPort()),
                                          "create-album", "--name", "never"});
  EXPECT_EQ(1, run.status) << run.err;
  EXPECT_EQ(1u, LineCount(run.err)) << run.err;
  EXPECT_EQ(0u, run.err.rfind("zqblog: server directory of demo: ", 0)) << run.err;
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_LT(run.seconds, 10.0);
  EXPECT_EQ(albums, service_.store().GetAlbumList(kUser)->albums.size());
}

TEST_F(ZqblogProgramTest, WriteThatStallsEndsAtTheTimeoutWithNothingApplied) {
  const size_t albums = service_.store().GetAlbumList(kUser)->albums.size();
  ProgramRun run;
  int held = 0;
  {
    StallingRelay relay(service_.port());
    run = RunProgram(Program(),
                     {"--data", data_, "--connect-to", "127.0.0.1:" + std::to_string(relay.port()),
                      "--timeout", "2", "create-album", "--name", "stalled"},
                     std::string(), 30);
    held = relay.held_writes();
  }
  SKIP_UNTIL_IMPLEMENTED(run);
  EXPECT_EQ(1, held) << "the write never reached the relay: " << run.err;
  EXPECT_EQ(1, run.status) << run.err;
  EXPECT_FALSE(run.killed);
  EXPECT_EQ(1u, LineCount(run.err)) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("timed out after 2 s")) << run.err;
  EXPECT_GE(run.seconds, 1.9);
  // Well short of the HTTP stall time-out (30 s), with room for a slow start-up.
  EXPECT_LT(run.seconds, 10.0) << "the program outlived its time-out";
  EXPECT_EQ(albums, service_.store().GetAlbumList(kUser)->albums.size());
  EXPECT_EQ(0, Album("stalled").id);
}

// ---------------------------------------------------------------- each command

TEST_F(ZqblogProgramTest, DirectoryJson) {
  json out;
  ProgramRun run = ZqblogJson({"directory"}, &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "album", 0, 1);
  EXPECT_EQ(1, out["result"].value("command_id", 0));
  EXPECT_EQ("获取服务器信息", out["result"].value("operation_title", ""));
  EXPECT_EQ("", out["result"].value("category_name", "?"));
  EXPECT_EQ(true, out.value("opened", false));
  EXPECT_EQ("http://data.velmora.cn/cid/demo/Cid.dat", out.value("cid_dat_url", ""));
  EXPECT_FALSE(out.contains("failure"));
  EXPECT_FALSE(out.contains("error"));
}

TEST_F(ZqblogProgramTest, AlbumsJsonMatchesTheService) {
  json out;
  ProgramRun run = ZqblogJson({"albums"}, &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "album", 2, 1);
  EXPECT_EQ("获取专辑列表信息", out["result"].value("operation_title", ""));
  const auto albums = service_.store().GetAlbumList(kUser)->albums;
  ASSERT_TRUE(out["albums"].is_array());
  ASSERT_EQ(albums.size(), out["albums"].size());
  for (size_t i = 0; i < albums.size(); ++i) {
    const json& album = out["albums"][i];
    const AlbumRecord& expected = albums[i];
    EXPECT_EQ(expected.id, album.value("id", 0));
    EXPECT_EQ(expected.fields.name, album.value("category_name", ""));
    EXPECT_EQ(expected.fields.desc, album.value("desc", ""));
    EXPECT_EQ(expected.fields.pic_url, album.value("pic_url", ""));
    EXPECT_EQ(expected.fields.category_type, album.value("category_type", -1));
    EXPECT_EQ(expected.fields.show_status != 0 ? 1 : 0, album.value("show_status", -1));
    EXPECT_EQ(static_cast<int>(expected.fields.tags.size()), album.value("tag_num", -1));
    EXPECT_EQ(json(expected.fields.tags), album["tags"]);
    EXPECT_EQ(19u, album.value("last_time", "").size()) << album;
    EXPECT_EQ(0, album.value("newly_added_res_num", -1));
    EXPECT_EQ(false, album.value("resources_loaded", true));
    EXPECT_FALSE(album.contains("resources"));
  }
  // For people: a table with the Chinese names lined up.
  ProgramRun text = Zqblog({"albums"});
  EXPECT_EQ(0, text.status);
  EXPECT_NE(std::string::npos, text.out.find("旅行")) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("4 albums")) << text.out;
}

TEST_F(ZqblogProgramTest, ResourcesJsonMatchesTheService) {
  const AlbumRecord travel = Album("旅行");
  json out;
  ProgramRun run = ZqblogJson({"resources", std::to_string(travel.id)}, &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "album", 3, 1);
  EXPECT_EQ(travel.id, out["result"].value("category_id", 0));
  json album;
  for (const json& entry : out["albums"]) {
    if (entry.value("id", 0) == travel.id) album = entry;
  }
  ASSERT_TRUE(album.is_object()) << out;
  EXPECT_EQ(true, album.value("resources_loaded", false));
  std::map<int, json> by_id;
  for (const json& resource : album["resources"]) by_id[resource.value("id", 0)] = resource;
  const auto expected = Resources(travel.id);
  ASSERT_EQ(expected.size(), by_id.size());
  for (const ResourceRecord& r : expected) {
    ASSERT_EQ(1u, by_id.count(r.id)) << r.id;
    const json& resource = by_id[r.id];
    EXPECT_EQ(r.fields.cid, resource.value("cid", ""));
    EXPECT_EQ(r.fields.gcid, resource.value("gcid", ""));
    EXPECT_EQ(r.fields.name, resource.value("res_name", ""));
    EXPECT_EQ(r.fields.format, resource.value("format", ""));
    EXPECT_EQ(r.fields.size, resource.value("size", ""));
    EXPECT_EQ(r.fields.url, resource.value("url", ""));
    EXPECT_EQ(r.fields.original, resource.value("original", ""));
    EXPECT_EQ(r.fields.desc, resource.value("desc", ""));
    EXPECT_EQ("", resource.value("refer", "?"));  // not in the list reply
    EXPECT_EQ(r.fields.res_type == 0 || r.fields.res_type == 1 ? r.fields.res_type : 2,
              resource.value("res_type", -1));
    EXPECT_EQ(r.state(), resource.value("state", -1));
    EXPECT_EQ(travel.id, resource.value("category_id", 0));
    EXPECT_EQ(kUser, resource.value("uin", ""));
    EXPECT_EQ(19u, resource.value("last_time", "").size());
  }
  // An album the user does not have is named, not shown empty.
  ProgramRun missing = Zqblog({"resources", "999999"});
  EXPECT_EQ(1, missing.status);
  EXPECT_EQ("zqblog: user demo has no album 999999\n", missing.err);
}

TEST_F(ZqblogProgramTest, CidDatAndAlbumsByCid) {
  json out;
  ProgramRun run = ZqblogJson({"cid-dat"}, &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "album", 1, 1);

  const AlbumRecord source = Album("Open Source");
  const std::string cid = Resources(source.id).front().fields.cid;
  run = ZqblogJson({"albums-by-cid", cid}, &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "album", 1, 1);  // the content-id fetch ran last
  EXPECT_EQ(json::array({source.id}), out["album_ids"]);
  // Lower case is the same content id.
  std::string lower = cid;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  run = ZqblogJson({"albums-by-cid", lower}, &out);
  EXPECT_EQ(json::array({source.id}), out["album_ids"]);
  run = ZqblogJson({"albums-by-cid", kCidA}, &out);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(json::array(), out["album_ids"]);
}

TEST_F(ZqblogProgramTest, CommentsJson) {
  const std::string key = Resources(Album("旅行").id).front().fields.cid;
  json out;
  ProgramRun run = ZqblogJson({"comments", key, "--number", "42"}, &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  const json& result = out["result"];
  EXPECT_EQ("comment", result.value("kind", ""));
  EXPECT_EQ(1, result.value("status", 0));
  EXPECT_EQ(key, result.value("resource_key", ""));
  EXPECT_EQ(42, result.value("request_number", 0));
  EXPECT_EQ(service_.store().GetCommentCount(key), result.value("category_id", -1));
  EXPECT_GT(result.value("category_id", 0), 0);
}

TEST_F(ZqblogProgramTest, CreateModifyAndRemoveAlbum) {
  json out;
  ProgramRun run = ZqblogJson({"create-album", "--name", "新专辑 & more", "--desc", "a b=c",
                               "--tag", "一", "--tag", "two", "--type", "2", "--pic-url",
                               "http://pic.velmora.cn/x.png"},
                              &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  const AlbumRecord made = Album("新专辑 & more");
  ASSERT_NE(0, made.id);
  ExpectCommonResult(out["result"], "album", 6, 1);
  EXPECT_EQ(made.id, out["result"].value("category_id", 0));
  EXPECT_EQ("新专辑 & more", out["result"].value("category_name", ""));
  EXPECT_EQ("a b=c", made.fields.desc);
  EXPECT_EQ(2, made.fields.category_type);
  EXPECT_EQ(1, made.fields.show_status);
  EXPECT_EQ((std::vector<std::string>{"一", "two"}), made.fields.tags);
  EXPECT_EQ("http://pic.velmora.cn/x.png", made.fields.pic_url);
  bool listed = false;
  for (const json& album : out["albums"]) listed |= album.value("id", 0) == made.id;
  EXPECT_TRUE(listed) << out["albums"];

  // The same name again: refused with the service's word as the message (status 0).
  run = ZqblogJson({"create-album", "--name", "新专辑 & more"}, &out);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(0, out["result"].value("status", -1));
  EXPECT_EQ("存在同名专辑", out["result"].value("message_text", ""));
  EXPECT_EQ(1u, LineCount(run.err));
  EXPECT_NE(std::string::npos, run.err.find("存在同名专辑")) << run.err;

  // Modify: what is left out keeps its value.
  run = ZqblogJson({"modify-album", std::to_string(made.id), "--name", "renamed", "--new-count",
                    "3"},
                   &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "album", 7, 1);
  EXPECT_EQ("renamed", out["result"].value("category_name", ""));
  const AlbumRecord changed = *service_.store().GetAlbum(made.id);
  EXPECT_EQ("renamed", changed.fields.name);
  EXPECT_EQ("a b=c", changed.fields.desc);
  EXPECT_EQ(2, changed.fields.category_type);
  EXPECT_EQ((std::vector<std::string>{"一", "two"}), changed.fields.tags);
  EXPECT_EQ(3, changed.fields.newly_added_res_num);
  ProgramRun unknown = Zqblog({"modify-album", "999999", "--name", "x"});
  EXPECT_EQ(1, unknown.status);
  EXPECT_EQ("zqblog: album 999999 is not in demo's album list\n", unknown.err);

  // Remove: a non-empty album is refused, the new (empty) one goes.
  run = ZqblogJson({"remove-album", std::to_string(Album("旅行").id)}, &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("专辑不为空", out["result"].value("message_text", ""));
  run = ZqblogJson({"remove-album", std::to_string(made.id)}, &out);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "album", 8, 1);
  EXPECT_EQ(made.id, out["result"].value("category_id", 0));
  EXPECT_EQ("renamed", out["result"].value("category_name", ""));
  EXPECT_FALSE(service_.store().GetAlbum(made.id).has_value());
  for (const json& album : out["albums"]) EXPECT_NE(made.id, album.value("id", 0));
}

TEST_F(ZqblogProgramTest, CollectWithOptionsAndFromJson) {
  const int album = AddAlbum("Collect here");
  json out;
  ProgramRun run = ZqblogJson(
      {"collect", std::to_string(album), "--resource",
       "cid=" + std::string(kCidA) + ",res_name=one\\, two.txt,size=100,format=txt,res_type=1,"
       "url=http://dl.velmora.cn/a,desc=first"},
      &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "batch", 4, 1);
  const json& result = out["result"];
  auto held = Resources(album);
  ASSERT_EQ(1u, held.size());
  EXPECT_EQ("one, two.txt", held[0].fields.name);
  EXPECT_EQ("first", held[0].fields.desc);
  EXPECT_EQ(1, held[0].fields.res_type);
  EXPECT_EQ(album, result.value("category_id", 0));
  EXPECT_EQ(1, result.value("first_count", 0));
  EXPECT_EQ(0, result.value("second_count", -1));
  EXPECT_EQ(json::array({held[0].id}), result["first_ids"]);
  EXPECT_EQ(json::array(), result["second_ids"]);
  EXPECT_EQ(json({{std::to_string(held[0].id), "0"}}), result["first_texts"]);
  EXPECT_EQ(json::object(), result["second_texts"]);

  // From a file: one new, one the album holds already (refused as a duplicate).
  const std::string file = root_ + "/resources.json";
  std::ofstream(file) << json::array({{{"cid", kCidB}, {"res_name", "b.bin"}, {"size", 2048},
                                       {"res_type", 0}},
                                      {{"cid", kCidA}, {"res_name", "again"}}})
                             .dump();
  run = ZqblogJson({"collect", std::to_string(album), "--from-json", file}, &out);
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(1, out["result"].value("first_count", 0));
  EXPECT_EQ(1, out["result"].value("second_count", 0));
  ASSERT_EQ(1u, out["result"]["second_texts"].size()) << out["result"];
  EXPECT_EQ("duplicate", out["result"]["second_texts"].begin().value());
  EXPECT_EQ(2u, Resources(album).size());
  // The album shows both, as the plug-in holds it after the collect.
  for (const json& entry : out["albums"]) {
    if (entry.value("id", 0) != album) continue;
    EXPECT_EQ(2u, entry["resources"].size()) << entry;
  }
}

TEST_F(ZqblogProgramTest, RemoveCopyMoveAndModifyResource) {
  const int from = AddAlbum("From");
  const int to = AddAlbum("To");
  const int r1 = AddResource(from, kCidA, "a.txt");
  const int r2 = AddResource(from, kCidB, "b.txt");
  const int r3 = AddResource(from, "C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3", "c.txt");
  const std::string f = std::to_string(from);
  const std::string t = std::to_string(to);

  json out;
  ProgramRun run = ZqblogJson({"copy", f, t, std::to_string(r1)}, &out);
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "batch", 11, 1);
  EXPECT_EQ(from, out["result"].value("category_id", 0));
  EXPECT_EQ(to, out["result"].value("target_category_id", 0));
  EXPECT_EQ(json::array({r1}), out["result"]["first_ids"]);
  EXPECT_TRUE(out["result"]["first_texts"].contains(std::to_string(r1))) << out["result"];
  ASSERT_EQ(1u, Resources(to).size());
  EXPECT_NE(r1, Resources(to)[0].id);  // a copy has an id of its own
  EXPECT_EQ(kCidA, Resources(to)[0].fields.cid);
  EXPECT_EQ(3u, Resources(from).size());

  run = ZqblogJson({"move", f, t, std::to_string(r2)}, &out);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "batch", 10, 1);
  EXPECT_EQ(json::array({r2}), out["result"]["first_ids"]);
  EXPECT_EQ(to, service_.store().GetResource(r2)->album_id);
  EXPECT_EQ(2u, Resources(from).size());

  // move --choice sends choice=1, which the reference service takes as a copy.
  run = ZqblogJson({"move", f, t, std::to_string(r3), "--choice"}, &out);
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(from, service_.store().GetResource(r3)->album_id);
  EXPECT_EQ(3u, Resources(to).size());

  // A refusal per resource: r1 is in the target already.
  run = ZqblogJson({"copy", f, t, std::to_string(r1)}, &out);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(0, out["result"].value("status", -1));
  EXPECT_EQ("目标专辑已经收藏过该资源", out["result"].value("message_text", ""));

  run = ZqblogJson({"modify-resource", f, f, std::to_string(r1), "--name", "renamed.txt"}, &out);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "resource", 9, 1);
  EXPECT_EQ(r1, out["result"].value("resource_id", 0));
  EXPECT_EQ(from, out["result"].value("target_category_id", 0));
  EXPECT_EQ("renamed.txt", service_.store().GetResource(r1)->fields.name);
  EXPECT_EQ("", service_.store().GetResource(r1)->fields.desc);  // kept (it had none)
  ProgramRun absent = Zqblog({"modify-resource", t, t, std::to_string(r3), "--name", "x"});
  EXPECT_EQ(1, absent.status);
  EXPECT_NE(std::string::npos, absent.err.find("is not in album")) << absent.err;

  run = ZqblogJson({"remove-resources", f, std::to_string(r1), std::to_string(r3)}, &out);
  ASSERT_EQ(0, run.status) << run.err;
  ExpectCommonResult(out["result"], "batch", 5, 1);
  EXPECT_EQ(json::array({r1, r3}), out["result"]["first_ids"]);
  EXPECT_EQ(2, out["result"].value("first_count", 0));
  EXPECT_TRUE(Resources(from).empty());

  // For people, a copy names the id its copy got beside the id it was copied from.
  const char kCidD[] = "D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4";
  const int r4 = AddResource(from, kCidD, "d.txt");
  ProgramRun human = Zqblog({"copy", f, t, std::to_string(r4)});
  ASSERT_EQ(0, human.status) << human.err;
  int copy = 0;
  for (const auto& resource : Resources(to)) {
    if (resource.fields.cid == kCidD) copy = resource.id;
  }
  ASSERT_NE(0, copy);
  EXPECT_NE(std::string::npos, human.out.find("copied as " + std::to_string(copy))) << human.out;
}

// ---------------------------------------------------------------- shell and demo

TEST_F(ZqblogProgramTest, ShellRunsAScriptInOneSession) {
  const int p = AddAlbum("Shell P");
  const int q = AddAlbum("Shell Q");
  const int e = AddAlbum("Shell Empty");
  const int r1 = AddResource(p, kCidA, "r1.txt");
  const int r2 = AddResource(p, kCidB, "r2.txt");
  const std::string cid = "D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4D4";
  const std::string script =
      "# a multi-step script\n"
      "create-album --name 'Shell Made' --tag sh\n"
      "\n"
      "collect " + std::to_string(p) + " --resource cid=" + cid + ",res_name=\"new file.txt\"\n"
      "move " + std::to_string(p) + " " + std::to_string(q) + " " + std::to_string(r1) + "\n"
      "copy " + std::to_string(q) + " " + std::to_string(p) + " " + std::to_string(r1) +
      "   # back again, as a copy\n"
      "remove-resources " + std::to_string(p) + " " + std::to_string(r2) + "\n"
      "remove-album " + std::to_string(e) + "\n";
  ProgramRun run = Zqblog({"--json", "shell"}, script);
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  // One JSON object per command line, in order, each with its line number.
  std::vector<json> objects;
  size_t start = 0;
  while (start < run.out.size()) {
    size_t end = run.out.find('\n', start);
    if (end == std::string::npos) end = run.out.size();
    objects.push_back(json::parse(run.out.substr(start, end - start), nullptr, false));
    start = end + 1;
  }
  ASSERT_EQ(6u, objects.size()) << run.out;
  const int lines[] = {2, 4, 5, 6, 7, 8};
  const int operations[] = {6, 4, 10, 11, 5, 8};
  for (size_t i = 0; i < objects.size(); ++i) {
    EXPECT_EQ(lines[i], objects[i].value("line", 0)) << objects[i];
    EXPECT_EQ(1, objects[i]["result"].value("status", 0)) << objects[i];
    EXPECT_EQ(operations[i], objects[i]["result"].value("operation_index", -1));
  }
  // One session: the directory was fetched once, so command ids run on.
  EXPECT_LT(objects[0]["result"].value("command_id", 0),
            objects[5]["result"].value("command_id", 0));

  // The service's state after the script.
  const AlbumRecord made = Album("Shell Made");
  ASSERT_NE(0, made.id);
  EXPECT_EQ(std::vector<std::string>{"sh"}, made.fields.tags);
  std::set<std::string> in_p;
  for (const ResourceRecord& r : Resources(p)) in_p.insert(r.fields.cid + "/" + r.fields.name);
  EXPECT_EQ((std::set<std::string>{cid + "/new file.txt", std::string(kCidA) + "/r1.txt"}), in_p);
  ASSERT_EQ(1u, Resources(q).size());
  EXPECT_EQ(r1, Resources(q)[0].id);  // moved, kept its id
  EXPECT_FALSE(service_.store().GetResource(r2).has_value());
  EXPECT_FALSE(service_.store().GetAlbum(e).has_value());
}

TEST_F(ZqblogProgramTest, ShellReportsBadLinesAndGoesOn) {
  const std::string script =
      "frobnicate\n"
      "resources abc\n"
      "directory nobody\n"
      "'unterminated\n"
      "albums\n";
  ProgramRun run = Zqblog({"shell"}, script);
  // Usage errors are the worst status a line can have.
  EXPECT_EQ(2, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("zqblog: line 1: unknown command 'frobnicate'"))
      << run.err;
  EXPECT_NE(std::string::npos, run.err.find("zqblog: line 2: resources: ALBUM 'abc'")) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("zqblog: line 4: unterminated ' quote")) << run.err;
  // The lines after the bad ones still ran (when the plug-in can run them).
  if (run.err.find("E_NOTIMPL") == std::string::npos) {
    EXPECT_NE(std::string::npos, run.out.find("User nobody has no blog.")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("4 albums")) << run.out;
  } else {
    EXPECT_NE(std::string::npos, run.err.find("line 5: ")) << run.err;
  }
  // Failures without usage errors give 1.
  ProgramRun failing = Zqblog({"shell"}, "resources 999999\n");
  EXPECT_EQ(1, failing.status) << failing.err;
  EXPECT_NE(std::string::npos, failing.err.find("line 1: ")) << failing.err;
  ProgramRun empty = Zqblog({"shell"}, "\n# nothing\n   \n");
  EXPECT_EQ(0, empty.status) << empty.err;
  EXPECT_TRUE(empty.out.empty());
  // quit and exit leave: nothing after them runs.
  for (const char* leave : {"quit", " exit "}) {
    ProgramRun left = Zqblog({"shell"}, std::string(leave) + "\nfrobnicate\n");
    EXPECT_EQ(0, left.status) << left.err;
    EXPECT_EQ(std::string::npos, left.err.find("frobnicate")) << left.err;
  }
}

TEST_F(ZqblogProgramTest, EmbeddedServiceSeedsTheUserAndKeepsItsData) {
  // No --connect-to: the program serves itself, from the data folder.
  const std::string data = root_ + "/embedded";
  ProgramRun run = RunProgram(Program(), {"--data", data, "--json", "directory"});
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  json out = json::parse(run.out, nullptr, false);
  EXPECT_EQ(true, out.value("opened", false)) << run.out;
  EXPECT_TRUE(std::filesystem::exists(data + "/service/blog.db"));
  EXPECT_TRUE(std::filesystem::exists(data + "/settings.db"));

  run = RunProgram(Program(),
                   {"--data", data, "--json", "create-album", "--name", "kept"});
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.err;
  run = RunProgram(Program(), {"--data", data, "--json", "albums"});
  ASSERT_EQ(0, run.status) << run.err;
  out = json::parse(run.out, nullptr, false);
  std::set<std::string> names;
  for (const json& album : out["albums"]) names.insert(album.value("category_name", ""));
  EXPECT_EQ(1u, names.count("kept")) << run.out;
  EXPECT_EQ(1u, names.count("旅行")) << run.out;  // the demo blog, seeded once
  EXPECT_EQ(5u, names.size());
}

TEST_F(ZqblogProgramTest, DemoRunsEndToEnd) {
  const std::string data = root_ + "/demo";
  ProgramRun run = RunProgram(Program(), {"--data", data, "demo"});
  SKIP_UNTIL_IMPLEMENTED(run);
  ASSERT_EQ(0, run.status) << run.out << run.err;
  for (const char* step : {"$ zqblog directory", "$ zqblog albums", "$ zqblog create-album",
                           "$ zqblog collect", "$ zqblog copy", "$ zqblog move",
                           "$ zqblog comments", "$ zqblog albums-by-cid",
                           "$ zqblog remove-resources", "$ zqblog remove-album",
                           "The demo is done"}) {
    EXPECT_NE(std::string::npos, run.out.find(step)) << step << "\n" << run.out;
  }
  // It left the blog as it found it.
  run = RunProgram(Program(), {"--data", data, "--json", "albums"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(4u, json::parse(run.out)["albums"].size());
}

}  // namespace
}  // namespace ZQCli
}  // namespace Velmora
