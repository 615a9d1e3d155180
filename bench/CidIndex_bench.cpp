// The content-id index under the load of a large Cid.dat: one million 24-byte records
// merged into the blog session's index through the path the content-id command takes
// (CmdGetCidDat::MergeCidTable: hexadecimal key per record, the pair added under
// CidLock), and 10,000 lookups through BlogSession_::QueryAlbumsByCid. The baseline does
// the same inserts and lookups on a plain std::multimap<std::string, int> with the same
// (narrow) hexadecimal keys.
//
// Memory: the *_PeakMemory benchmarks reset the process's peak resident size to the
// current one (/proc/self/clear_refs, after giving freed heap back), merge the table,
// and read getrusage's ru_maxrss. Counters:
//   peak_growth_MB  peak resident size during the merge less the resident size before
//                   it (the table itself is already resident then)
//   x_raw_table     peak_growth_MB over the table's size (24 MB for 1M records)
//   ru_maxrss_MB    the process's peak as getrusage reports it
// Run them first (they are registered first): a reset cannot undo a peak that another
// benchmark left in memory.
#include <benchmark/benchmark.h>


#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "MemoryPeak.h"
#include "commands/CmdGetCidDat.h"
#include "session/BlogSession.h"

namespace {

using Velmora::ZQBlog::BlogSession_;
using Velmora::ZQBlog::CmdGetCidDat;
using Velmora::ZQBench::CurrentRssKb;
using Velmora::ZQBench::MaxRssKb;
using Velmora::ZQBench::ResetPeak;

constexpr size_t kRecords = 1000000;
constexpr size_t kQueries = 10000;
constexpr size_t kRecordSize = CmdGetCidDat::kRecordSize;

// A session of the benchmark's own.
class BenchSession : public BlogSession_ {
 public:
  BenchSession() = default;
  ~BenchSession() override = default;
};

// The Cid.dat of a user with kRecords resources in 200 albums: random content ids, one
// in twenty of them held by a second album as well.
const std::vector<uint8_t>& Table() {
  static const std::vector<uint8_t> table = [] {
    std::vector<uint8_t> bytes(kRecords * kRecordSize);
    std::mt19937_64 random(20240601);
    for (size_t i = 0; i < kRecords; ++i) {
      uint8_t* record = &bytes[i * kRecordSize];
      if (i > 0 && i % 20 == 0) {
        const uint8_t* earlier = &bytes[(random() % i) * kRecordSize];
        std::copy(earlier, earlier + CmdGetCidDat::kContentIdSize, record);
      } else {
        for (size_t b = 0; b < CmdGetCidDat::kContentIdSize; b += 8) {
          uint64_t r = random();
          for (size_t k = 0; k < 8 && b + k < CmdGetCidDat::kContentIdSize; ++k) {
            record[b + k] = static_cast<uint8_t>(r >> (8 * k));
          }
        }
      }
      const uint32_t album = static_cast<uint32_t>(1 + random() % 200);
      for (int k = 0; k < 4; ++k) record[20 + k] = static_cast<uint8_t>(album >> (8 * k));
    }
    return bytes;
  }();
  return table;
}

std::string NarrowHex(const uint8_t* bytes, size_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(2 * length);
  for (size_t i = 0; i < length; ++i) {
    hex += kHex[bytes[i] >> 4];
    hex += kHex[bytes[i] & 15];
  }
  return hex;
}

int32_t AlbumOf(const uint8_t* record) {
  return static_cast<int32_t>(static_cast<uint32_t>(record[20]) |
                              (static_cast<uint32_t>(record[21]) << 8) |
                              (static_cast<uint32_t>(record[22]) << 16) |
                              (static_cast<uint32_t>(record[23]) << 24));
}

// The plain baseline: the same records, keyed by the same hexadecimal text.
void MergeIntoMultimap(std::multimap<std::string, int>* index, const std::vector<uint8_t>& table) {
  for (size_t i = 0; i + kRecordSize <= table.size(); i += kRecordSize) {
    index->emplace(NarrowHex(&table[i], CmdGetCidDat::kContentIdSize), AlbumOf(&table[i]));
  }
}

// kQueries record numbers, the same for every benchmark.
const std::vector<size_t>& QueryRecords() {
  static const std::vector<size_t> records = [] {
    std::vector<size_t> picked(kQueries);
    std::mt19937_64 random(7);
    for (size_t& r : picked) r = random() % kRecords;
    return picked;
  }();
  return records;
}

// ---------------------------------------------------------------- resident memory

void ReportMemory(benchmark::State& state, long beforeKb, bool reset) {
  const double rawMb = static_cast<double>(kRecords * kRecordSize) / 1e6;
  const double growthMb = static_cast<double>(MaxRssKb() - beforeKb) * 1024.0 / 1e6;
  state.counters["peak_growth_MB"] = growthMb;
  state.counters["x_raw_table"] = growthMb / rawMb;
  state.counters["ru_maxrss_MB"] = static_cast<double>(MaxRssKb()) * 1024.0 / 1e6;
  state.counters["peak_reset"] = reset ? 1 : 0;
}

void BM_Session_PeakMemory(benchmark::State& state) {
  const std::vector<uint8_t>& table = Table();
  for (auto _ : state) {
    state.PauseTiming();
    const bool reset = ResetPeak();
    const long before = CurrentRssKb();
    state.ResumeTiming();
    {
      BenchSession session;
      CmdGetCidDat::MergeCidTable(&session, table.data(), table.size());
      state.PauseTiming();
      ReportMemory(state, before, reset);
    }
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Session_PeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_Multimap_PeakMemory(benchmark::State& state) {
  const std::vector<uint8_t>& table = Table();
  for (auto _ : state) {
    state.PauseTiming();
    const bool reset = ResetPeak();
    const long before = CurrentRssKb();
    state.ResumeTiming();
    {
      std::multimap<std::string, int> index;
      MergeIntoMultimap(&index, table);
      state.PauseTiming();
      ReportMemory(state, before, reset);
    }
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Multimap_PeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- time

void BM_Session_MergeTable(benchmark::State& state) {
  const std::vector<uint8_t>& table = Table();
  for (auto _ : state) {
    std::unique_ptr<BenchSession> session(new BenchSession);
    CmdGetCidDat::MergeCidTable(session.get(), table.data(), table.size());
    state.PauseTiming();
    session.reset();  // tearing the index down is not part of the merge
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRecords));
}
BENCHMARK(BM_Session_MergeTable)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_Multimap_MergeTable(benchmark::State& state) {
  const std::vector<uint8_t>& table = Table();
  for (auto _ : state) {
    std::unique_ptr<std::multimap<std::string, int>> index(new std::multimap<std::string, int>);
    MergeIntoMultimap(index.get(), table);
    state.PauseTiming();
    index.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRecords));
}
BENCHMARK(BM_Multimap_MergeTable)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_Session_Query(benchmark::State& state) {
  const std::vector<uint8_t>& table = Table();
  BenchSession session;
  CmdGetCidDat::MergeCidTable(&session, table.data(), table.size());
  std::vector<std::wstring> keys;
  for (size_t r : QueryRecords()) {
    keys.push_back(CmdGetCidDat::BytesToHex(&table[r * kRecordSize],
                                            static_cast<int>(CmdGetCidDat::kContentIdSize)));
  }
  int64_t found = 0;
  for (auto _ : state) {
    for (const std::wstring& key : keys) {
      int ids[16];
      int count = 16;
      if (session.QueryAlbumsByCid(key, ids, &count) == S_OK) found += count;
    }
  }
  if (found == 0) state.SkipWithError("no query found its content id");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kQueries));
  state.counters["ids_per_query"] =
      static_cast<double>(found) / static_cast<double>(state.iterations() * kQueries);
}
BENCHMARK(BM_Session_Query)->Unit(benchmark::kMicrosecond);

void BM_Multimap_Query(benchmark::State& state) {
  const std::vector<uint8_t>& table = Table();
  std::multimap<std::string, int> index;
  MergeIntoMultimap(&index, table);
  std::vector<std::string> keys;
  for (size_t r : QueryRecords()) {
    keys.push_back(NarrowHex(&table[r * kRecordSize], CmdGetCidDat::kContentIdSize));
  }
  int64_t found = 0;
  for (auto _ : state) {
    for (const std::string& key : keys) {
      int ids[16];
      int count = 0;
      auto range = index.equal_range(key);
      for (auto it = range.first; it != range.second && count < 16; ++it) ids[count++] = it->second;
      benchmark::DoNotOptimize(ids);
      found += count;
    }
  }
  if (found == 0) state.SkipWithError("no query found its content id");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kQueries));
  state.counters["ids_per_query"] =
      static_cast<double>(found) / static_cast<double>(state.iterations() * kQueries);
}
BENCHMARK(BM_Multimap_Query)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
