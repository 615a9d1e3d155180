#include "cli/DemoScript.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <random>
#include <sstream>

#include "cli/CommandLine.h"
#include "cli/CommandTable.h"

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
  bool Step(const std::string& title, const CliRequest& request, CommandReport* report);
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

// The id of the album a create-album report made.
int CreatedAlbum(const nlohmann::json& report) {
  return report.value("result", nlohmann::json::object()).value("category_id", 0);
}

CliRequest Request(CommandKind kind) {
  CliRequest request;
  request.kind = kind;
  return request;
}

CliRequest CreateAlbum(const DemoFacts& facts, const char* letter) {
  CliRequest request = Request(CommandKind::kCreateAlbum);
  request.album_spec.name = std::string("演示 ") + letter + " " + facts.suffix;
  request.album_spec.desc = std::string("made by zqblog demo");
  request.album_spec.tags = std::vector<std::string>{"demo"};
  return request;
}

CliRequest ListAlbum(int album) {
  CliRequest request = Request(CommandKind::kResources);
  request.album = album;
  return request;
}

CliRequest EmptyAlbum(int album, const std::vector<int>& held) {
  CliRequest request = Request(CommandKind::kRemoveResources);
  request.album = album;
  request.ids = held;
  return request;
}

CliRequest RemoveAlbum(int album) {
  CliRequest request = Request(CommandKind::kRemoveAlbum);
  request.album = album;
  return request;
}

CliRequest CopyOrMove(CommandKind kind, const DemoFacts& facts, int id) {
  CliRequest request = Request(kind);
  request.from = facts.albums[0];
  request.to = facts.albums[1];
  request.ids = {id};
  request.choice = kind == CommandKind::kCopy;
  return request;
}

bool DemoRunner::Step(const std::string& title, const CliRequest& request,
                      CommandReport* report) {
  ++step_;
  const std::string command_line = CommandLineOf(request);
  if (!json_) {
    streams_.out << "\n== " << step_ << ". " << title << "\n$ zqblog " << command_line << "\n";
    streams_.out.flush();
  }
  *report = session_.Run(request);
  nlohmann::json entry = report->json;
  entry["command"] = command_line;
  steps_.push_back(entry);
  if (!json_ && report->exit_status == 0) {
    streams_.out << CommandFor(request.kind).human(request, report->json);
  }
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
  DemoFacts facts = FirstDemoFacts();
  for (const DemoStep& step : DemoSteps()) {
    if (step.runs != nullptr && !step.runs(facts)) continue;
    CommandReport report;
    if (!Step(step.title, step.request(facts), &report)) return Finish(1);
    std::string error;
    if (step.learn != nullptr && !step.learn(report.json, &facts, &error)) {
      streams_.err << "zqblog: demo step " << step_ << " " << error << "\n";
      return Finish(1);
    }
  }
  return Finish(0);
}

}  // namespace

DemoFacts FirstDemoFacts() {
  DemoFacts facts;
  std::ostringstream suffix;
  suffix << std::time(nullptr) % 1000000 << "-" << getpid();
  facts.suffix = suffix.str();
  std::mt19937_64 random(static_cast<uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count()) ^
                         static_cast<uint64_t>(getpid()));
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
    facts.resources.push_back(spec);
  }
  return facts;
}

const std::vector<DemoStep>& DemoSteps() {
  using Facts = DemoFacts;
  using Json = nlohmann::json;
  static const std::vector<DemoStep> kSteps = {
      {"Where does the blog live? (server directory)", nullptr,
       [](const Facts&) { return Request(CommandKind::kDirectory); }, nullptr},
      {"The albums", nullptr, [](const Facts&) { return Request(CommandKind::kAlbums); },
       [](const Json& report, Facts* facts, std::string*) {
         const Json albums = report.value("albums", Json::array());
         if (!albums.empty()) facts->first_album = albums[0].value("id", 0);
         return true;
       }},
      {"The resources of the first album",
       [](const Facts& facts) { return facts.first_album.has_value(); },
       [](const Facts& facts) { return ListAlbum(*facts.first_album); },
       [](const Json& report, Facts* facts, std::string*) {
         for (const Json& entry : report.value("albums", Json::array())) {
           if (entry.value("id", 0) != *facts->first_album) continue;
           for (const Json& resource : entry.value("resources", Json::array())) {
             if (!facts->sample_cid.empty()) break;
             facts->sample_cid = resource.value("cid", std::string());
           }
         }
         return true;
       }},
      {"Create album A", nullptr, [](const Facts& facts) { return CreateAlbum(facts, "A"); },
       [](const Json& report, Facts* facts, std::string*) {
         facts->albums[0] = CreatedAlbum(report);
         return true;
       }},
      {"Create album B", nullptr, [](const Facts& facts) { return CreateAlbum(facts, "B"); },
       [](const Json& report, Facts* facts, std::string*) {
         facts->albums[1] = CreatedAlbum(report);
         return true;
       }},
      {"Collect two resources into album A", nullptr,
       [](const Facts& facts) {
         CliRequest request = Request(CommandKind::kCollect);
         request.album = facts.albums[0];
         request.resources = facts.resources;
         return request;
       },
       [](const Json& report, Facts* facts, std::string* error) {
         facts->collected.clear();
         const Json result = report.value("result", Json::object());
         for (const Json& id : result.value("first_ids", Json::array())) {
           facts->collected.push_back(id.get<int>());
         }
         if (facts->collected.size() == 2) return true;
         *error = "collected " + std::to_string(facts->collected.size()) + " of 2 resources";
         return false;
       }},
      {"Copy the first resource to album B (choice=1)", nullptr,
       [](const Facts& facts) { return CopyOrMove(CommandKind::kCopy, facts, facts.collected[0]); },
       nullptr},
      {"Move the second resource to album B (choice=0)", nullptr,
       [](const Facts& facts) { return CopyOrMove(CommandKind::kMove, facts, facts.collected[1]); },
       nullptr},
      {"How many comments does a resource have?", nullptr,
       [](const Facts& facts) {
         CliRequest request = Request(CommandKind::kComments);
         request.key = facts.sample_cid.empty() ? facts.resources[0].cid : facts.sample_cid;
         request.number = 1;
         return request;
       },
       nullptr},
      {"Which albums hold the first resource? (A keeps it, B has the copy)", nullptr,
       [](const Facts& facts) {
         CliRequest request = Request(CommandKind::kAlbumsByCid);
         request.cid = facts.resources[0].cid;
         return request;
       },
       nullptr},
      // Clean up: empty both albums, then remove them.
      {"The resources of album B", nullptr,
       [](const Facts& facts) { return ListAlbum(facts.albums[1]); },
       [](const Json& report, Facts* facts, std::string*) {
         facts->held[1] = ResourceIds(report, facts->albums[1]);
         return true;
       }},
      {"Remove them from album B", [](const Facts& facts) { return !facts.held[1].empty(); },
       [](const Facts& facts) { return EmptyAlbum(facts.albums[1], facts.held[1]); }, nullptr},
      {"The resources of album A", nullptr,
       [](const Facts& facts) { return ListAlbum(facts.albums[0]); },
       [](const Json& report, Facts* facts, std::string*) {
         facts->held[0] = ResourceIds(report, facts->albums[0]);
         return true;
       }},
      {"Remove them from album A", [](const Facts& facts) { return !facts.held[0].empty(); },
       [](const Facts& facts) { return EmptyAlbum(facts.albums[0], facts.held[0]); }, nullptr},
      {"Remove album A", nullptr, [](const Facts& facts) { return RemoveAlbum(facts.albums[0]); },
       nullptr},
      {"Remove album B", nullptr, [](const Facts& facts) { return RemoveAlbum(facts.albums[1]); },
       nullptr},
  };
  return kSteps;
}

int RunDemo(CliSession& session, bool json, CliStreams streams) {
  DemoRunner runner(session, json, streams);
  return runner.Run();
}

}  // namespace ZQCli
}  // namespace Velmora
