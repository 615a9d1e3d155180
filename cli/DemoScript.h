// DemoScript: the guided session of "zqblog demo". It runs ordinary commands through
// the session, printing each as the command line that runs it (CommandLineOf) and its
// output: the server directory, the albums, the resources of an album; then it creates
// two albums, collects two resources into the first, copies one and moves the other to
// the second, asks a comment count and which albums hold a content id, and removes what
// it made. It stops at the first step that fails, saying which.
#ifndef ZQBLOG_CLI_DEMOSCRIPT_H_
#define ZQBLOG_CLI_DEMOSCRIPT_H_

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/CliMain.h"
#include "cli/CliRequest.h"
#include "cli/CliSession.h"

namespace Velmora {
namespace ZQCli {

// What the demo knows so far: the values its later steps name.
struct DemoFacts {
  std::string suffix;                   // ends the names of the albums it creates
  std::vector<ResourceSpec> resources;  // the two it collects
  std::optional<int> first_album;       // the user's first album, if there is one
  std::string sample_cid;               // a content id the first album holds, or ""
  int albums[2] = {0, 0};               // albums A and B, once created
  std::vector<int> collected;           // the ids the two resources got in A
  std::vector<int> held[2];             // what A and B hold when the demo empties them
};

// One step of the demo.
struct DemoStep {
  const char* title;
  // Whether the step runs, given the facts so far. Null: always.
  bool (*runs)(const DemoFacts& facts);
  // The request it runs.
  CliRequest (*request)(const DemoFacts& facts);
  // Takes what later steps need from the report of the step, which succeeded; false with
  // *error ("collected 1 of 2 resources") when the demo cannot go on. Null: nothing.
  bool (*learn)(const nlohmann::json& report, DemoFacts* facts, std::string* error);
};

// The facts the demo starts from: a suffix of this run (so the demo can run again and
// again) and two resources with random content ids.
DemoFacts FirstDemoFacts();

// The steps of the demo, in order.
const std::vector<DemoStep>& DemoSteps();

// Runs the demo in session. With json, prints one object {"steps": [...]} (each step's
// report object with its "command") instead of the narration. Returns 0 when every
// step succeeded, else 1.
int RunDemo(CliSession& session, bool json, CliStreams streams);

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_DEMOSCRIPT_H_
