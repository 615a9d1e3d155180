// One blog session across real processes: `zqblog serve` on one data folder, forwarding
// zqblog processes beside it, and the same operations run stand-alone on a second data
// folder whose embedded service holds the same demo blog.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <zmq.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/test/CliTestSupport.h"

namespace Velmora {
namespace ZQCli {
namespace {

using nlohmann::json;

// The JSON a run printed (null when it printed none).
json Parsed(const std::string& text) {
  json value = json::parse(text, nullptr, false);
  return value.is_discarded() ? json() : value;
}

// value without the keys that name the moment a row was written ("last_time").
json WithoutTimes(json value) {
  if (value.is_object()) {
    value.erase("last_time");
    for (auto& item : value.items()) item.value() = WithoutTimes(item.value());
  } else if (value.is_array()) {
    for (auto& item : value) item = WithoutTimes(item);
  }
  return value;
}

// A data folder served by `zqblog serve` (its embedded service holds the demo blog).
class ServedFolder {
 public:
  // A short folder name: the share-session endpoint lives inside it.
  explicit ServedFolder(std::vector<std::string> extra = {}) : data_(MakeTempFolder("zqx-")) {
    Start(std::move(extra));
  }
  ~ServedFolder() {
    server_.reset();
    std::filesystem::remove_all(data_);
  }

  // Starts serve; true once it says it serves.
  bool Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--data", data_, "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("serve");
    server_ = std::make_unique<BackgroundProgram>(Program(), args);
    // The whole line: the service's address is in it.
    return server_->ErrContains("stop with Ctrl-C", 30);
  }

  const std::string& data() const { return data_; }
  BackgroundProgram& server() { return *server_; }

  // The session the serving process holds: it prints it on SIGUSR1, between change lines.
  json ServerSession() {
    server_->Signal(SIGUSR1);
    std::string line;
    while (server_->ReadLine(&line, 20)) {
      json value = Parsed(line);
      if (value.contains("session")) return value["session"];
    }
    return json();
  }

 private:
  std::string data_;
  std::unique_ptr<BackgroundProgram> server_;
};

ProgramRun Zqblog(const std::string& data, std::vector<std::string> args,
                  double timeout_seconds = 30) {
  std::vector<std::string> all = {"--data", data, "--json", "--timeout",
                                  std::to_string(timeout_seconds)};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(Program(), all, std::string(), timeout_seconds + 30);
}

// ---------------------------------------------------------------- every operation

// Steps whose words may name {A1} {A2} (two albums of the demo blog, the first with at
// least two resources), {R1} {R2} (two resources of {A1}), {CID} (the content id of
// {R1}) and {NEW} (the album id the previous step's result names). The last step is
// the one compared.
struct ForwardedCase {
  const char* name;
  std::vector<std::vector<std::string>> steps;
};

class ForwardedOperation : public ::testing::TestWithParam<ForwardedCase> {};

// The demo blog's ids, as a stand-alone run on data lists them.
std::map<std::string, std::string> DemoIds(const std::string& data) {
  std::map<std::string, std::string> ids;
  json albums = Parsed(Zqblog(data, {"albums"}).out).value("albums", json::array());
  for (const json& album : albums) {
    const std::string id = std::to_string(album.value("id", 0));
    json listed = Parsed(Zqblog(data, {"resources", id}).out);
    for (const json& held : listed.value("albums", json::array())) {
      const json resources = held.value("resources", json::array());
      if (held.value("id", 0) != album.value("id", 0)) continue;
      if (ids.count("A1") == 0 && resources.size() >= 2) {
        ids["A1"] = id;
        ids["R1"] = std::to_string(resources[0].value("id", 0));
        ids["R2"] = std::to_string(resources[1].value("id", 0));
        ids["CID"] = resources[0].value("cid", "");
      } else if (ids.count("A2") == 0) {
        ids["A2"] = id;
      }
    }
  }
  return ids;
}

std::vector<std::string> Substituted(const std::vector<std::string>& words,
                                     const std::map<std::string, std::string>& ids) {
  std::vector<std::string> out;
  for (std::string word : words) {
    for (const auto& id : ids) {
      const std::string mark = "{" + id.first + "}";
      for (size_t at = word.find(mark); at != std::string::npos; at = word.find(mark)) {
        word.replace(at, mark.size(), id.second);
      }
    }
    out.push_back(word);
  }
  return out;
}

// Runs the case's steps on data; the last step's JSON.
json RunSteps(const std::string& data, const ForwardedCase& c,
              std::map<std::string, std::string> ids, ProgramRun* last) {
  json output;
  for (const auto& step : c.steps) {
    *last = Zqblog(data, Substituted(step, ids));
    output = Parsed(last->out);
    const int created = output.value("result", json::object()).value("category_id", 0);
    if (created != 0) ids["NEW"] = std::to_string(created);
  }
  return output;
}

TEST_P(ForwardedOperation, GivesTheSameJsonAsStandAlone) {
  const ForwardedCase& c = GetParam();
  const std::string alone = MakeTempFolder("zqx-");
  ServedFolder served;
  ASSERT_TRUE(served.server().ErrContains("serving", 0)) << served.server().Err();
  // Both embedded services seed the same demo blog, so both have the same ids.
  const std::map<std::string, std::string> ids = DemoIds(alone);
  ASSERT_EQ(ids.size(), 5u) << "the demo blog lacks two albums with resources";
  // The served folder's own fetches first, so both sides start from the same state.
  ASSERT_EQ(Zqblog(served.data(), {"albums"}).status, 0);
  for (const auto& album : {ids.at("A1"), ids.at("A2")}) {
    ASSERT_EQ(Zqblog(served.data(), {"resources", album}).status, 0);
  }

  ProgramRun forwarded_run, alone_run;
  const json forwarded = RunSteps(served.data(), c, ids, &forwarded_run);
  const json stand_alone = RunSteps(alone, c, ids, &alone_run);
  EXPECT_EQ(forwarded_run.status, alone_run.status) << forwarded_run.err;
  ASSERT_FALSE(stand_alone.is_null()) << alone_run.err;
  EXPECT_EQ(WithoutTimes(forwarded), WithoutTimes(stand_alone)) << forwarded_run.err;
  std::filesystem::remove_all(alone);
}

const char kNewCid[] = "C0FFEE00C0FFEE00C0FFEE00C0FFEE00C0FFEE00";

INSTANTIATE_TEST_SUITE_P(
    CrossProcessSession, ForwardedOperation,
    ::testing::Values(
        ForwardedCase{"Directory", {{"directory"}}},
        ForwardedCase{"Albums", {{"albums"}}},
        ForwardedCase{"Resources", {{"resources", "{A1}"}}},
        ForwardedCase{"CidDat", {{"cid-dat"}}},
        ForwardedCase{"AlbumsByCid", {{"albums-by-cid", "{CID}"}}},
        ForwardedCase{"Comments", {{"comments", "{CID}", "--number", "7"}}},
        ForwardedCase{"CreateAlbum", {{"create-album", "--name", "Parity", "--tag", "t"}}},
        ForwardedCase{"CreateAlbumRefused", {{"create-album", "--name", "Open Source"}}},
        ForwardedCase{"ModifyAlbum", {{"modify-album", "{A2}", "--desc", "changed"}}},
        ForwardedCase{"RemoveAlbum",
                      {{"create-album", "--name", "Brief"}, {"remove-album", "{NEW}"}}},
        ForwardedCase{"Collect",
                      {{"collect", "{A2}", "--resource",
                        std::string("cid=") + kNewCid + ",gcid=" + kNewCid +
                            ",res_name=new.bin,size=10,format=bin"}}},
        ForwardedCase{"RemoveResources", {{"remove-resources", "{A1}", "{R1}"}}},
        ForwardedCase{"Copy", {{"copy", "{A1}", "{A2}", "{R1}", "{R2}"}}},
        ForwardedCase{"Move", {{"move", "{A1}", "{A2}", "{R2}"}}},
        ForwardedCase{"ModifyResource",
                      {{"modify-resource", "{A1}", "{A1}", "{R1}", "--name", "renamed.mp4"}}}),
    [](const ::testing::TestParamInfo<ForwardedCase>& info) { return info.param.name; });

// ---------------------------------------------------------------- one session, three processes

// A zqblog shell forwarding to the serving process; each line's JSON read back.
class ForwardingShell {
 public:
  explicit ForwardingShell(const std::string& data)
      : program_(Program(), {"--data", data, "--json", "shell"}) {}
  json Run(const std::string& line) {
    program_.WriteLine(line);
    std::string out;
    return program_.ReadLine(&out, 60) ? Parsed(out) : json();
  }

 private:
  BackgroundProgram program_;
};

TEST(CrossProcessSession, ForwardingProcessesEndWithTheServingProcessSession) {
  ServedFolder served;
  ForwardingShell first(served.data());
  ForwardingShell second(served.data());
  json albums = first.Run("albums").value("albums", json::array());
  ASSERT_GE(albums.size(), 2u);
  const std::string a1 = std::to_string(albums[0].value("id", 0));
  const std::string a2 = std::to_string(albums[1].value("id", 0));
  // Writes from both forwarding processes; each also hears the other's broadcasts.
  EXPECT_EQ(second.Run("resources " + a1).value("error", ""), "");
  EXPECT_EQ(first.Run("resources " + a2).value("error", ""), "");
  const json created = first.Run("create-album --name Shared --tag one");
  const std::string made = std::to_string(
      created.value("result", json::object()).value("category_id", 0));
  ASSERT_NE(made, "0") << created.dump();
  EXPECT_EQ(second.Run("collect " + made + " --resource cid=" + kNewCid + ",gcid=" + kNewCid +
                       ",res_name=shared.bin,size=1,format=bin")
                .value("error", ""),
            "");
  EXPECT_EQ(first.Run("cid-dat").value("error", ""), "");
  EXPECT_EQ(second.Run("modify-album " + a2 + " --desc from-second").value("error", ""), "");
  json listed = first.Run("resources " + a1).value("albums", json::array());
  int r1 = 0;
  for (const json& album : listed) {
    if (std::to_string(album.value("id", 0)) == a1 && !album["resources"].empty()) {
      r1 = album["resources"][0].value("id", 0);
    }
  }
  ASSERT_NE(r1, 0);
  EXPECT_EQ(first.Run("copy " + a1 + " " + made + " " + std::to_string(r1)).value("error", ""),
            "");
  EXPECT_EQ(second.Run("move " + a1 + " " + a2 + " " + std::to_string(r1)).value("error", ""),
            "");

  const json server = served.ServerSession();
  ASSERT_FALSE(server.is_null());
  EXPECT_FALSE(server["albums"].empty());
  EXPECT_FALSE(server["index"].empty());
  // What would turn the serving process's session into each forwarding one's: nothing.
  EXPECT_EQ(json::diff(server, first.Run("session").value("session", json())), json::array());
  EXPECT_EQ(json::diff(server, second.Run("session").value("session", json())), json::array());

  // A process that joins now asks for the albums the serving process holds already.
  ProgramRun late = Zqblog(served.data(), {"albums"});
  EXPECT_EQ(late.status, 0) << late.err;
  json late_albums = Parsed(late.out).value("albums", json::array());
  ASSERT_EQ(late_albums.size(), server["albums"].size());
  for (size_t i = 0; i < late_albums.size(); ++i) {
    EXPECT_EQ(late_albums[i].value("category_name", ""),
              server["albums"][i].value("category_name", ""));
  }
}

TEST(CrossProcessSession, AnAlbumEmptiedOutsideTheSessionIsEmptyInEveryProcess) {
  ServedFolder served;
  const std::string err = served.server().Err();
  const size_t at = err.find("service on ");
  ASSERT_NE(at, std::string::npos) << err;
  const std::string address = err.substr(at + 11, err.find(')', at) - at - 11);
  ForwardingShell shell(served.data());
  json albums = shell.Run("albums").value("albums", json::array());
  ASSERT_FALSE(albums.empty());
  const std::string album = std::to_string(albums[0].value("id", 0));
  json listed = shell.Run("resources " + album).value("albums", json::array());
  std::string ids;
  for (const json& held : listed) {
    if (std::to_string(held.value("id", 0)) != album) continue;
    for (const json& resource : held["resources"]) ids += " " + std::to_string(resource.value("id", 0));
  }
  ASSERT_FALSE(ids.empty());
  // Another client of the service, outside the session, empties the album: the next
  // list is a 404, which empties it in the serving process and in this one.
  const std::string outside = MakeTempFolder("zqx-");
  ProgramRun removed =
      RunProgram(Program(), {"--data", outside, "--connect-to", address, "--json", "shell"},
                 "remove-resources " + album + ids + "\n");
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(shell.Run("resources " + album).value("error", ""), "");
  const json server = served.ServerSession();
  EXPECT_EQ(json::diff(server, shell.Run("session").value("session", json())), json::array());
  std::filesystem::remove_all(outside);
}

TEST(CrossProcessSession, ForeignFramesAreDroppedAndEveryProcessGoesOn) {
  ServedFolder served;
  ForwardingShell shell(served.data());
  ASSERT_EQ(shell.Run("albums").value("error", ""), "");
  void* context = zmq_ctx_new();
  void* socket = zmq_socket(context, ZMQ_DEALER);
  int linger = 2000;
  zmq_setsockopt(socket, ZMQ_LINGER, &linger, sizeof(linger));
  ASSERT_EQ(zmq_connect(socket, ("ipc://" + served.data() + "/share/demo.sock").c_str()), 0);
  const std::string header = std::string("ZQSS\x01\x01", 6);
  const std::vector<std::string> frames = {
      "garbage that is no frame at all",
      header,                                        // truncated after the header's start
      std::string("ZQSS\x7f\x01\0\0", 8) + std::string(8, '\x01'),  // a foreign version
      header + std::string(2, '\0') + std::string(80u << 20, 'x'),      // 80 MiB
  };
  for (const std::string& frame : frames) {
    ASSERT_EQ(zmq_send(socket, frame.data(), frame.size(), 0), static_cast<int>(frame.size()));
  }
  zmq_send(socket, "two", 3, ZMQ_SNDMORE);  // a message of two parts
  zmq_send(socket, "parts", 5, 0);
  zmq_close(socket);  // lingers until the frames are out
  zmq_ctx_term(context);

  // One line for each, the last one for the message of two parts.
  ASSERT_TRUE(served.server().ErrContains("2 parts", 10)) << served.server().Err();
  const std::string err = served.server().Err();
  size_t dropped = 0;
  for (size_t at = err.find("dropped"); at != std::string::npos; at = err.find("dropped", at + 1)) {
    ++dropped;
  }
  EXPECT_EQ(dropped, frames.size() + 1) << err;
  const json created = shell.Run("create-album --name AfterGarbage");
  EXPECT_EQ(created.value("result", json::object()).value("status", 0), 1) << created.dump();
  EXPECT_EQ(served.server().Wait(0), -1) << "the serving process ended";
}

TEST(CrossProcessSession, SecondServerIsRefused) {
  ServedFolder served;
  ProgramRun second = Zqblog(served.data(), {"serve"});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("already serves"), std::string::npos) << second.err;
}

TEST(CrossProcessSession, KilledServerEndsTheForwardedCommandAndARestartIsJoinedAgain) {
  // The serving process's service never answers, so the forwarded fetch stays in flight.
  SilentPort silent;
  const std::string stalled = "127.0.0.1:" + std::to_string(silent.port());
  ServedFolder served({"--connect-to", stalled});
  BackgroundProgram watcher(Program(), {"--data", served.data(), "--json", "watch"});
  ASSERT_TRUE(watcher.ErrContains("watching", 30)) << watcher.Err();

  BackgroundProgram forwarded(Program(), {"--data", served.data(), "--timeout", "20", "albums"});
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(forwarded.Wait(0), -1) << "the forwarded fetch ended before the kill";
  served.server().Signal(SIGKILL);
  EXPECT_EQ(forwarded.Wait(10), 1);  // well within its 20 s time-out
  EXPECT_TRUE(forwarded.ErrContains("serving process went away", 1)) << forwarded.Err();

  // Served again, with a service that answers: the watching process joins it again (a
  // broadcast sent before it has joined is not for it) and applies what the new serving
  // process broadcasts.
  ASSERT_TRUE(served.Start());
  bool applied = false;
  for (int attempt = 0; attempt < 20 && !applied; ++attempt) {
    ProgramRun directory = Zqblog(served.data(), {"directory"});
    ASSERT_EQ(directory.status, 0) << directory.err;
    std::string line;
    while (!applied && watcher.ReadLine(&line, 1)) {
      json change = Parsed(line);
      applied = change.value("notice", -1) == 0 && change.value("applied", false);
    }
  }
  EXPECT_TRUE(applied) << watcher.Err();
}

}  // namespace
}  // namespace ZQCli
}  // namespace Velmora
