#include "cli/DemoScript.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <random>
#include <sstream>

#include "cli/HumanOutput.h"

namespace Velmora {
namespace ZQCli {

namespace {

class DemoRunner {
 public:
  DemoRunner(CliSession& session, bool json, CliStreams streams)
      : session_(session), json_(json), streams_(streams) {}

  int Run();

 private:
  // Runs one step; prints its title, its command line and its output. False when it
  // failed (the failure is printed).
  bool Step(const std::string& title, const std::string& command_line,
            const CliRequest& request, CommandReport* report);
  int Finish(int status);
  void Say(const std::string& text) {
    if (!json_) streams_.out << text << "\n";
  }

  CliSession& session_;
  bool json_;
  CliStreams streams_;
  int step_ = 0;
  nlohmann::json steps_ = nlohmann::json::array();
};

std::string RandomContentId(std::mt19937_64& random) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string cid;
  for (int i = 0; i < 40; ++i) cid.push_back(kHex[random() % 16]);
  return cid;
}

// The resource ids an album holds in a report's "albums".
std::vector<int> ResourceIds(const nlohmann::json& report, int album) {
  std::vector<int> ids;
  for (const nlohmann::json& entry : report.value("albums", nlohmann::json::array())) {
    if (entry.value("id", 0) != album) continue;
    for (const nlohmann::json& resource : entry.value("resources", nlohmann::json::array())) {
      ids.push_back(resource.value("id", 0));
    }
  }
  return ids;
}

std::string Words(const std::vector<int>& ids) {
  std::string out;
  for (int id : ids) out += " " + std::to_string(id);
  return out;
}

CliRequest Request(CommandKind kind) {
  CliRequest request;
  request.kind = kind;
  return request;
}

bool DemoRunner::Step(const std::string& title, const std::string& command_line,
                      const CliRequest& request, CommandReport* report) {
  ++step_;
  if (!json_) {
    streams_.out << "\n== " << step_ << ". " << title << "\n$ zqblog " << command_line << "\n";
    streams_.out.flush();
  }
  *report = session_.Run(request);
  nlohmann::json entry = report->json;
  entry["command"] = command_line;
  steps_.push_back(entry);
  if (!json_ && report->exit_status == 0) streams_.out << RenderHuman(request, report->json);
  for (const std::string& note : report->notes) streams_.err << "zqblog: " << note << "\n";
  if (report->exit_status != 0) {
    streams_.err << "zqblog: demo step " << step_ << " (" << title << ") failed: "
                 << report->error << "\n";
    return false;
  }
  return true;
}

int DemoRunner::Finish(int status) {
  if (json_) {
    nlohmann::json object = {{"steps", steps_}};
    if (status != 0) object["error"] = "demo step " + std::to_string(step_) + " failed";
    streams_.out << object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  } else if (status == 0) {
    streams_.out << "\nThe demo is done: everything it made is removed again.\n";
  }
  streams_.out.flush();
  return status;
}

int DemoRunner::Run() {
  const std::string user = session_.user();
  Say("A guided session with the blog of " + user +
      (session_.EmbeddedAddress().empty() ? "" : " on the embedded service at " +
                                                     session_.EmbeddedAddress()) +
      ".");
  CommandReport report;

  if (!Step("Where does the blog live? (server directory)", "directory",
            Request(CommandKind::kDirectory), &report)) {
    return Finish(1);
  }
  if (!Step("The albums", "albums", Request(CommandKind::kAlbums), &report)) return Finish(1);
  const nlohmann::json albums = report.json.value("albums", nlohmann::json::array());
  std::string sample_cid;
  if (!albums.empty()) {
    CliRequest request = Request(CommandKind::kResources);
    request.album = albums[0].value("id", 0);
    if (!Step("The resources of the first album", "resources " + std::to_string(request.album),
              request, &report)) {
      return Finish(1);
    }
    for (const nlohmann::json& entry : report.json.value("albums", nlohmann::json::array())) {
      if (entry.value("id", 0) != request.album) continue;
      for (const nlohmann::json& resource : entry.value("resources", nlohmann::json::array())) {
        if (sample_cid.empty()) sample_cid = resource.value("cid", std::string());
      }
    }
  }

  // Two albums with names of their own, so the demo can run again and again.
  std::ostringstream suffix;
  suffix << std::time(nullptr) % 1000000 << "-" << getpid();
  int album_ids[2] = {0, 0};
  const char* letters[2] = {"A", "B"};
  for (int i = 0; i < 2; ++i) {
    CliRequest request = Request(CommandKind::kCreateAlbum);
    request.album_spec.name = std::string("演示 ") + letters[i] + " " + suffix.str();
    request.album_spec.desc = std::string("made by zqblog demo");
    request.album_spec.tags = std::vector<std::string>{"demo"};
    if (!Step(std::string("Create album ") + letters[i],
              "create-album --name '" + *request.album_spec.name +
                  "' --desc 'made by zqblog demo' --tag demo",
              request, &report)) {
      return Finish(1);
    }
    album_ids[i] = report.json["result"].value("category_id", 0);
  }
  const std::string a = std::to_string(album_ids[0]);
  const std::string b = std::to_string(album_ids[1]);

  std::mt19937_64 random(static_cast<uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count()) ^
                         static_cast<uint64_t>(getpid()));
  CliRequest collect = Request(CommandKind::kCollect);
  collect.album = album_ids[0];
  std::string collect_line = "collect " + a;
  for (int i = 1; i <= 2; ++i) {
    ResourceSpec spec;
    spec.cid = RandomContentId(random);
    spec.gcid = RandomContentId(random);
    spec.res_name = "demo-" + std::to_string(i) + ".txt";
    spec.format = "txt";
    spec.size = std::to_string(1024 * i);
    spec.url = "http://dl.velmora.cn/demo/" + spec.cid + "/" + spec.res_name;
    spec.desc = "demo file " + std::to_string(i);
    spec.res_type = 0;
    collect.resources.push_back(spec);
    collect_line += " --resource 'cid=" + spec.cid + ",gcid=" + spec.gcid + ",res_name=" +
                    spec.res_name + ",format=txt,size=" + spec.size + ",url=" + spec.url +
                    ",desc=" + spec.desc + "'";
  }
  if (!Step("Collect two resources into album A", collect_line, collect, &report)) {
    return Finish(1);
  }
  std::vector<int> collected;
  for (const nlohmann::json& id : report.json["result"].value("first_ids", nlohmann::json::array())) {
    collected.push_back(id.get<int>());
  }
  if (collected.size() != 2) {
    streams_.err << "zqblog: demo step " << step_ << " collected " << collected.size()
                 << " of 2 resources\n";
    return Finish(1);
  }

  CliRequest copy = Request(CommandKind::kCopy);
  copy.from = album_ids[0];
  copy.to = album_ids[1];
  copy.ids = {collected[0]};
  copy.choice = true;
  if (!Step("Copy the first resource to album B (choice=1)",
            "copy " + a + " " + b + " " + std::to_string(collected[0]), copy, &report)) {
    return Finish(1);
  }
  CliRequest move = Request(CommandKind::kMove);
  move.from = album_ids[0];
  move.to = album_ids[1];
  move.ids = {collected[1]};
  if (!Step("Move the second resource to album B (choice=0)",
            "move " + a + " " + b + " " + std::to_string(collected[1]), move, &report)) {
    return Finish(1);
  }

  CliRequest comments = Request(CommandKind::kComments);
  comments.key = sample_cid.empty() ? collect.resources[0].cid : sample_cid;
  comments.number = 1;
  if (!Step("How many comments does a resource have?",
            "comments " + comments.key + " --number 1", comments, &report)) {
    return Finish(1);
  }
  CliRequest by_cid = Request(CommandKind::kAlbumsByCid);
  by_cid.cid = collect.resources[0].cid;
  if (!Step("Which albums hold the first resource? (A keeps it, B has the copy)",
            "albums-by-cid " + by_cid.cid, by_cid, &report)) {
    return Finish(1);
  }

  // Clean up: empty both albums, then remove them.
  for (int i = 1; i >= 0; --i) {
    CliRequest list = Request(CommandKind::kResources);
    list.album = album_ids[i];
    if (!Step(std::string("The resources of album ") + letters[i],
              "resources " + std::to_string(album_ids[i]), list, &report)) {
      return Finish(1);
    }
    const std::vector<int> ids = ResourceIds(report.json, album_ids[i]);
    if (ids.empty()) continue;
    CliRequest remove = Request(CommandKind::kRemoveResources);
    remove.album = album_ids[i];
    remove.ids = ids;
    if (!Step(std::string("Remove them from album ") + letters[i],
              "remove-resources " + std::to_string(album_ids[i]) + Words(ids), remove, &report)) {
      return Finish(1);
    }
  }
  for (int i = 0; i < 2; ++i) {
    CliRequest remove = Request(CommandKind::kRemoveAlbum);
    remove.album = album_ids[i];
    if (!Step(std::string("Remove album ") + letters[i],
              "remove-album " + std::to_string(album_ids[i]), remove, &report)) {
      return Finish(1);
    }
  }
  return Finish(0);
}

}  // namespace

int RunDemo(CliSession& session, bool json, CliStreams streams) {
  DemoRunner runner(session, json, streams);
  return runner.Run();
}

}  // namespace ZQCli
}  // namespace Velmora
