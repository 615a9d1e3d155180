// Crash safety of what zqblog keeps on disk. A zqblog shell that changes albums and
// fetches the album list (each fetch rewrites the list's cache file and its validator in
// the settings store, and each change writes the embedded service's database) is killed
// with SIGKILL at a random moment, many times over. After every kill:
//   - every cache file is empty (made empty before a first fetch) or one whole reply;
//   - the settings store opens, and every validator it holds is a whole HTTP date;
//   - now and then, and after the last kill, the next zqblog run recovers: its album
//     list equals the one a run without any cache gets, so a broken file is never
//     served for a "not modified" answer.
// Quick in the normal run (ZQBLOG_CRASH_KILLS, default 25); scripts/crash-safety.sh runs
// 1,000 kills and prints the table of what the kills hit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "cli/test/CliTestSupport.h"
#include "host/settings/SettingsStore.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQCli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Whether text is a whole HTTP date ("Wed, 09 Dec 2026 05:00:00 GMT").
bool IsHttpDate(const std::string& text) {
  return text.size() == 29 && text.compare(3, 2, ", ") == 0 &&
         text.compare(text.size() - 4, 4, " GMT") == 0;
}

int KillCount() {
  const char* text = std::getenv("ZQBLOG_CRASH_KILLS");
  const int count = text != nullptr ? std::atoi(text) : 0;
  return count > 0 ? count : 25;
}

// What one kill found on disk.
struct Findings {
  int cache_files = 0;     // whole replies
  int empty_files = 0;     // made empty before a first fetch
  int broken_files = 0;    // neither
  int leftovers = 0;       // temporary files a killed write left
  int validators = 0;      // whole dates in the settings store
  int broken_validators = 0;
  bool store_opens = false;
};

Findings Inspect(const std::string& data) {
  Findings found;
  const fs::path cache = fs::path(data) / "users" / "demo" / "BlogCache";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(cache, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) {
      ++found.leftovers;
      continue;
    }
    const std::string text = ReadFile(entry.path());
    pugi::xml_document document;
    if (text.empty()) {
      ++found.empty_files;
    } else if (document.load_buffer(text.data(), text.size()) && document.first_child()) {
      ++found.cache_files;
    } else {
      ++found.broken_files;
      ADD_FAILURE() << "a cache file neither old nor new: " << entry.path() << "\n" << text;
    }
  }
  CComPtr<ISettingsStore> store;
  found.store_opens = SUCCEEDED(ZQHost::OpenSettingsStore(data + "/settings.db", &store));
  std::vector<ZQHost::SettingsEntry> entries;
  if (found.store_opens && SUCCEEDED(ZQHost::ListSettingsValues(store, nullptr, &entries))) {
    for (const ZQHost::SettingsEntry& entry : entries) {
      const std::string& key = entry.key;
      if (key.size() < 9 || key.compare(key.size() - 9, 9, "_Modified") != 0) continue;
      (IsHttpDate(entry.value) ? found.validators : found.broken_validators) += 1;
    }
  } else {
    found.store_opens = false;
  }
  return found;
}

// The album list a zqblog run over data prints (null when the run failed).
json AlbumList(const std::string& data) {
  const ProgramRun run = RunProgram(Program(), {"--data", data, "--json", "albums"});
  if (run.status != 0) {
    ADD_FAILURE() << "albums after a kill: " << run.err;
    return json();
  }
  json value = json::parse(run.out, nullptr, false);
  return value.is_discarded() ? json() : value["albums"];
}

// The next run recovers: its list equals one fetched with no cache at all.
void ExpectRecovers(const std::string& data) {
  const json cached = AlbumList(data);
  const fs::path cache = fs::path(data) / "users" / "demo" / "BlogCache";
  const std::string fresh = data + "-fresh";
  fs::remove_all(fresh);
  fs::create_directories(fresh + "/service");
  // The same service database, without the cache and the settings that go with it.
  fs::copy_file(data + "/service/blog.db", fresh + "/service/blog.db");
  const json uncached = AlbumList(fresh);
  fs::remove_all(fresh);
  EXPECT_FALSE(cached.is_null());
  EXPECT_EQ(uncached, cached) << "a cached list that is not the service's was served";
}

TEST(CrashSafetyTest, KilledWritesLeaveWholeFilesAndTheNextRunRecovers) {
  const std::string root = MakeTempFolder("zqcrash-");
  ASSERT_FALSE(root.empty());
  const std::string data = root + "/data";
  // The demo blog, its list fetched once.
  ASSERT_EQ(0, RunProgram(Program(), {"--data", data, "albums"}).status);

  const int kills = KillCount();
  std::mt19937 random(static_cast<unsigned>(std::random_device()()));
  // Long enough to reach the writes of the second or third command, often mid-way.
  std::uniform_int_distribution<int> delay_ms(0, 300);
  std::map<std::string, int> table;
  int leftovers = 0;
  for (int kill = 0; kill < kills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    {
      BackgroundProgram shell(Program(), {"--data", data, "--json", "shell"});
      // Long descriptions make the list's cache file large enough to be cut mid-write
      // now and then.
      const std::string desc(3000, static_cast<char>('a' + kill % 26));
      const int commands = 2 * 1000;
      // Fed from a thread of its own: the kill comes at its time, not when the pipe
      // has room. Writes fail once the shell is gone, which ends the feed.
      std::thread feed([&shell, &desc, kill, commands] {
        for (int i = 0; i < commands / 2; ++i) {
          if (!shell.WriteLine("modify-album " + std::to_string(1 + i % 3) + " --name crash-" +
                               std::to_string(kill) + "-" + std::to_string(i) + " --desc " +
                               desc) ||
              !shell.WriteLine("albums")) {
            return;
          }
        }
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(random)));
      shell.Signal(SIGKILL);
      shell.Wait(10);
      feed.join();
      // Where the kill landed: how far the shell had come (one JSON line a command).
      int done = 0;
      std::string line;
      while (shell.ReadLine(&line, 0)) ++done;
      table[done == 0 ? "killed before its first command ended"
            : done == commands ? "killed after its last command"
            : done < 20 ? "killed within its first 20 commands"
                        : "killed after 20 commands or more"]++;
    }
    const Findings found = Inspect(data);
    ASSERT_TRUE(found.store_opens) << "the settings store does not open";
    EXPECT_EQ(0, found.broken_validators);
    // A new temporary file: this kill cut a cache write mid-way (older ones are swept
    // by a later save once they are ten minutes old).
    if (found.leftovers > leftovers) table["a cache write cut mid-way"]++;
    leftovers = found.leftovers;
    if (kill % 10 == 9 || kill + 1 == kills) ExpectRecovers(data);
    if (HasFailure()) break;
  }
  std::string summary;
  for (const auto& row : table) {
    summary += "  " + row.first + ": " + std::to_string(row.second) + "\n";
  }
  std::cout << "crash safety, " << kills << " kills:\n" << summary;
  fs::remove_all(root);
}

}  // namespace
}  // namespace ZQCli
}  // namespace Velmora
