// The command line and shell lines as words, options and checked requests, in process.
#include "cli/CommandLine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/InputCheck.h"
#include "cli/ProgressLine.h"
#include "cli/TextTable.h"
#include "cli/Utf8Text.h"

namespace Velmora {
namespace ZQCli {
namespace {

const std::string kCid = "0123456789abcdef0123456789ABCDEF01234567";

ParsedCommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), {"--data", "/tmp/zqcli-unused"});
  return ParseCommandLine(args);
}

TEST(SplitWordsTest, QuotesEscapesAndComments) {
  std::vector<std::string> words;
  std::string error;
  ASSERT_TRUE(SplitWords("create-album --name 'a b' --desc \"say \\\"hi\\\"\" x\\ y", &words,
                         &error));
  EXPECT_EQ((std::vector<std::string>{"create-album", "--name", "a b", "--desc", "say \"hi\"",
                                      "x y"}),
            words);
  ASSERT_TRUE(SplitWords("albums # the rest is a comment 'even quotes", &words, &error));
  EXPECT_EQ(std::vector<std::string>{"albums"}, words);
  ASSERT_TRUE(SplitWords("a#b ''", &words, &error));
  EXPECT_EQ((std::vector<std::string>{"a#b", ""}), words);  // '#' inside a word stays
  EXPECT_FALSE(SplitWords("albums 'open", &words, &error));
  EXPECT_EQ("unterminated ' quote", error);
  EXPECT_FALSE(SplitWords("albums \"open", &words, &error));
}

TEST(ParseCommandLineTest, GlobalOptionsAndDefaults) {
  ParsedCommandLine parsed = Parse({"--user", "Demo2", "--timeout", "2.5", "--json", "albums"});
  ASSERT_EQ(ParsedCommandLine::Kind::kRun, parsed.kind) << parsed.text;
  EXPECT_EQ("demo2", parsed.globals.user);  // lower-cased, as the plug-in signs it in
  EXPECT_DOUBLE_EQ(2.5, parsed.globals.timeout_seconds);
  EXPECT_TRUE(parsed.globals.json);
  EXPECT_EQ(CommandKind::kAlbums, parsed.request.kind);
  EXPECT_EQ("", parsed.request.uin);

  // Global options may follow the command too.
  parsed = Parse({"resources", "7", "--of", "Other", "--json"});
  ASSERT_EQ(ParsedCommandLine::Kind::kRun, parsed.kind) << parsed.text;
  EXPECT_TRUE(parsed.globals.json);
  EXPECT_EQ(7, parsed.request.album);
  EXPECT_EQ("other", parsed.request.uin);
  EXPECT_EQ(30.0, parsed.globals.timeout_seconds);
  EXPECT_EQ("demo", parsed.globals.user);

  const char* old_xdg = std::getenv("XDG_DATA_HOME");
  setenv("XDG_DATA_HOME", "/var/tmp/xdg", 1);
  parsed = ParseCommandLine({"albums"});
  EXPECT_EQ("/var/tmp/xdg/zqblog", parsed.globals.data);
  if (old_xdg != nullptr) {
    setenv("XDG_DATA_HOME", old_xdg, 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

TEST(ParseCommandLineTest, CommandsBecomeCheckedRequests) {
  ParsedCommandLine parsed = Parse({"copy", "3", "4", "9", "10"});
  ASSERT_EQ(ParsedCommandLine::Kind::kRun, parsed.kind) << parsed.text;
  EXPECT_EQ(3, parsed.request.from);
  EXPECT_EQ(4, parsed.request.to);
  EXPECT_EQ((std::vector<int>{9, 10}), parsed.request.ids);
  EXPECT_TRUE(parsed.request.choice);  // copy always sends choice=1

  parsed = Parse({"move", "3", "4", "9"});
  EXPECT_FALSE(parsed.request.choice);
  parsed = Parse({"move", "3", "4", "9", "--choice"});
  EXPECT_TRUE(parsed.request.choice);

  parsed = Parse({"modify-album", "5", "--desc", "", "--tag", "x"});
  ASSERT_EQ(ParsedCommandLine::Kind::kRun, parsed.kind) << parsed.text;
  EXPECT_FALSE(parsed.request.album_spec.name.has_value());  // left out: keep
  ASSERT_TRUE(parsed.request.album_spec.desc.has_value());   // given empty: clear
  EXPECT_EQ("", *parsed.request.album_spec.desc);
  EXPECT_EQ(std::vector<std::string>{"x"}, *parsed.request.album_spec.tags);
  EXPECT_FALSE(parsed.request.album_spec.show_status.has_value());

  parsed = Parse({"albums-by-cid", kCid});
  EXPECT_EQ("0123456789ABCDEF0123456789ABCDEF01234567", parsed.request.cid);

  parsed = Parse({"modify-resource", "1", "2", "3", "--name", "n"});
  EXPECT_EQ("n", parsed.request.res_name.value_or(""));
  EXPECT_FALSE(parsed.request.res_desc.has_value());

  EXPECT_EQ(ParsedCommandLine::Kind::kHelp, Parse({"--help"}).kind);
  EXPECT_EQ(ParsedCommandLine::Kind::kHelp, Parse({"collect", "--help"}).kind);
  parsed = Parse({"remove-album", "2147483648"});
  EXPECT_EQ(ParsedCommandLine::Kind::kUsageError, parsed.kind);
  EXPECT_EQ("remove-album: ID '2147483648' is not an id (a number from 1 to 2147483647)",
            parsed.text);
  parsed = Parse({"create-album", "--name", "\xC3\x28"});
  EXPECT_EQ("create-album: --name is not valid UTF-8", parsed.text);
}

TEST(ParseCommandLineTest, BadInputIsAUsageErrorNamingWhatIsWrong) {
  const std::string missing = std::filesystem::temp_directory_path() / "zqcli-missing.json";
  std::filesystem::remove(missing);
  struct Case {
    std::vector<std::string> args;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{"frobnicate"}, "unknown command 'frobnicate' (see --help)"},
      {{"albums", "--bogus"}, "albums: unexpected argument: --bogus (see --help)"},
      {{"resources"}, "resources: ALBUM is required (see --help)"},
      {{"resources", "abc"}, "resources: ALBUM 'abc' is not an id (a number from 1 to 2147483647)"},
      {{"remove-resources", "5"}, "remove-resources: ID is required (see --help)"},
      {{"collect", "5"}, "collect: collect needs --resource or --from-json"},
      {{"collect", "5", "--from-json", missing},
       "collect: --from-json: cannot read '" + missing + "'"},
  };
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = Parse(c.args);
    EXPECT_EQ(ParsedCommandLine::Kind::kUsageError, parsed.kind) << c.text;
    EXPECT_EQ(c.text, parsed.text);
    EXPECT_EQ(std::string::npos, parsed.text.find('\n')) << parsed.text;
  }
}

TEST(ParseShellLineTest, LinesOfTheShell) {
  EXPECT_EQ(ParsedCommandLine::Kind::kEmpty, ParseShellLine("").kind);
  EXPECT_EQ(ParsedCommandLine::Kind::kEmpty, ParseShellLine("   # note").kind);
  EXPECT_EQ(ParsedCommandLine::Kind::kHelp, ParseShellLine("help").kind);
  ParsedCommandLine parsed = ParseShellLine("remove-resources 4 1 2 3  # tidy up");
  ASSERT_EQ(ParsedCommandLine::Kind::kRun, parsed.kind) << parsed.text;
  EXPECT_EQ((std::vector<int>{1, 2, 3}), parsed.request.ids);
  parsed = ParseShellLine("shell");
  EXPECT_EQ(ParsedCommandLine::Kind::kUsageError, parsed.kind);
  parsed = ParseShellLine("--json albums");
  EXPECT_EQ(ParsedCommandLine::Kind::kUsageError, parsed.kind);
  EXPECT_NE(std::string::npos, parsed.text.find("global options")) << parsed.text;
}

TEST(InputCheckTest, ResourceOptions) {
  ResourceSpec spec;
  std::string error;
  ASSERT_TRUE(ParseResourceOption("cid=" + kCid + ",res_name=a\\,b\\\\c,state=2,res_type=-1,size=007",
                                  &spec, &error))
      << error;
  EXPECT_EQ("0123456789ABCDEF0123456789ABCDEF01234567", spec.cid);
  EXPECT_EQ("a,b\\c", spec.res_name);
  EXPECT_EQ(2, spec.state);
  EXPECT_EQ(-1, spec.res_type);
  EXPECT_EQ("007", spec.size);
  EXPECT_FALSE(ParseResourceOption("cid=" + kCid + ",res_name=a,res_name=b", &spec, &error));
  EXPECT_NE(std::string::npos, error.find("given twice")) << error;
  EXPECT_FALSE(ParseResourceOption("cid=" + kCid + ",res_name=a,gcid=12", &spec, &error));
  EXPECT_NE(std::string::npos, error.find("gcid '12'")) << error;
  EXPECT_FALSE(ParseResourceOption("cid=" + kCid + ",res_name=a,state=x", &spec, &error));
  EXPECT_FALSE(ParseResourceOption("res_name=a", &spec, &error));
  EXPECT_NE(std::string::npos, error.find("lacks cid")) << error;
  EXPECT_FALSE(ParseResourceOption("cid=" + kCid + ",res_name", &spec, &error));
  EXPECT_NE(std::string::npos, error.find("not key=value")) << error;
}

TEST(InputCheckTest, ResourcesFromJson) {
  const std::string path = std::filesystem::temp_directory_path() / "zqcli-input-check.json";
  auto load = [&](const std::string& text, std::vector<ResourceSpec>* out, std::string* error) {
    std::ofstream(path) << text;
    return LoadResourcesJson(path, out, error);
  };
  std::vector<ResourceSpec> specs;
  std::string error;
  ASSERT_TRUE(load("[{\"cid\":\"" + kCid + "\",\"res_name\":\"名字\",\"size\":12,\"state\":1}]",
                   &specs, &error))
      << error;
  ASSERT_EQ(1u, specs.size());
  EXPECT_EQ("名字", specs[0].res_name);
  EXPECT_EQ("12", specs[0].size);
  EXPECT_EQ(1, specs[0].state);
  EXPECT_FALSE(load("[]", &specs, &error));
  EXPECT_FALSE(load("[{\"cid\":\"" + kCid + "\",\"res_name\":7}]", &specs, &error));
  EXPECT_NE(std::string::npos, error.find("res_name must be a string")) << error;
  EXPECT_FALSE(load("[{\"cid\":\"" + kCid + "\",\"res_name\":\"a\",\"size\":-3}]", &specs, &error));
  EXPECT_FALSE(load("not json", &specs, &error));
  EXPECT_NE(std::string::npos, error.find("is not JSON")) << error;
  std::filesystem::remove(path);
}

TEST(InputCheckTest, UsersKeysAndNumbers) {
  std::string out;
  std::string error;
  EXPECT_TRUE(CheckUin("--user", "Some.One@x-1_", &out, &error));
  EXPECT_EQ("some.one@x-1_", out);
  EXPECT_FALSE(CheckUin("--user", "", &out, &error));
  EXPECT_FALSE(CheckUin("--user", "a/b", &out, &error));
  EXPECT_FALSE(CheckUin("--user", std::string(65, 'a'), &out, &error));
  EXPECT_TRUE(CheckCommentKey(kCid, &error));
  EXPECT_FALSE(CheckCommentKey("a b", &error));
  EXPECT_FALSE(CheckCommentKey("a?b", &error));
  int value = 0;
  EXPECT_TRUE(ParseInt32("-2147483648", &value));
  EXPECT_EQ(INT32_MIN, value);
  EXPECT_FALSE(ParseInt32("2147483648", &value));
  EXPECT_FALSE(ParseInt32("1e3", &value));
  EXPECT_FALSE(ParseInt32(" 1", &value));
  EXPECT_FALSE(ParseInt32("-", &value));
}

TEST(TextTest, Utf8AndDisplayWidth) {
  std::wstring wide;
  ASSERT_TRUE(Utf8ToWide("旅行 ok", &wide));
  EXPECT_EQ(5u, wide.size());
  EXPECT_EQ("旅行 ok", WideToUtf8(wide));
  EXPECT_FALSE(Utf8ToWide("\xE6\x97", &wide));       // cut short
  EXPECT_FALSE(Utf8ToWide("\xC0\xAF", &wide));       // overlong
  EXPECT_FALSE(Utf8ToWide("\xED\xA0\x80", &wide));   // a surrogate
  EXPECT_EQ("\xEF\xBF\xBD", WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))));
  EXPECT_EQ(7u, DisplayWidth("旅行 ok"));
  EXPECT_EQ("旅\xE2\x80\xA6", FitWidth("旅行记", 4));

  TextTable table({"ID", "NAME"});
  table.SetRightAligned(0);
  table.AddRow({"7", "旅行"});
  table.AddRow({"12", "Open\nSource"});
  EXPECT_EQ("ID  NAME\n 7  旅行\n12  Open Source\n", table.Render());
}

TEST(ProgressLineTest, BytesShowOnlyAfterAQuietSecondAndNeverWhenDisabled) {
  using std::chrono::milliseconds;
  std::chrono::steady_clock::time_point now{};
  auto clock = [&now] { return now; };
  std::ostringstream shown;
  {
    ProgressLine line(shown, true, clock);
    line.Begin("album list of demo");
    now += milliseconds(900);
    line.Received(1024, 4096, false);
    EXPECT_EQ(std::string::npos, shown.str().find("KiB"));
    now += milliseconds(200);
    line.Received(1536, 4096, false);
    EXPECT_NE(std::string::npos, shown.str().find("album list of demo... 1.5 KiB of 4.0 KiB"));
    now += milliseconds(10);
    line.Received(2048, -1, true);  // the end is drawn at once, without a length
    const std::string end = "demo... 2.0 KiB";
    EXPECT_EQ(end, shown.str().substr(shown.str().size() - end.size()));
  }
  EXPECT_EQ("\r\x1b[K", shown.str().substr(shown.str().size() - 4));  // cleared at the end

  std::ostringstream quiet;
  {
    ProgressLine line(quiet, false, clock);
    line.Begin("album list of demo");
    now += milliseconds(5000);
    line.Received(1024, 4096, true);
  }
  EXPECT_EQ("", quiet.str());
}

}  // namespace
}  // namespace ZQCli
}  // namespace Velmora
