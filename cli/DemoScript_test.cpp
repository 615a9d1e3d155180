// The demo's steps, in process: what it prints for each is what runs.
#include "cli/DemoScript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CommandLine.h"

namespace Velmora {
namespace ZQCli {
namespace {

class DemoStepTest : public ::testing::TestWithParam<size_t> {};

// The command line a step prints ("$ zqblog ...", and "command" with --json), typed
// after zqblog, parses back to the request the step runs.
TEST_P(DemoStepTest, PrintedCommandLineParsesBackToTheRequestItRuns) {
  // What the demo knows by the step: besides its own suffix and resources, the user's
  // first album and a content id in it, albums A and B, the ids the two resources got
  // and what A and B hold at the end.
  DemoFacts facts = FirstDemoFacts();
  facts.first_album = 1;
  facts.sample_cid = "161D7F811DA8D40D38E07BBF441694D1AD41753B";
  facts.albums[0] = 5;
  facts.albums[1] = 6;
  facts.collected = {8, 9};
  facts.held[0] = {8};
  facts.held[1] = {10, 9};
  const CliRequest request = DemoSteps()[GetParam()].request(facts);
  const std::string line = CommandLineOf(request);

  std::vector<std::string> words;
  std::string error;
  ASSERT_TRUE(SplitWords(line, &words, &error)) << line << ": " << error;
  words.insert(words.begin(), {"--data", "/tmp/zqcli-unused"});
  const ParsedCommandLine parsed = ParseCommandLine(words);
  ASSERT_EQ(ParsedCommandLine::Kind::kRun, parsed.kind) << line << ": " << parsed.text;
  EXPECT_TRUE(parsed.request == request) << line;
}

INSTANTIATE_TEST_SUITE_P(EveryStep, DemoStepTest,
                         ::testing::Range<size_t>(0, DemoSteps().size()));

}  // namespace
}  // namespace ZQCli
}  // namespace Velmora
