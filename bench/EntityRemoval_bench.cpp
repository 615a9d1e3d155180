// Entity removal on large list replies: RemoveReplyEntities (the three passes the album
// and resource list commands run on the text they cache) over 1, 2 and 8 MiB of
// XML-like text full of "&#10;", "&#09;" and "&amp;nbsp;", mixed with ordinary text and
// with nests in which a removal forms a new occurrence ("&#1&#10;0;", "&amp;nb&#09;sp;",
// "&#0&#10;9;" whose "&#09;" only appears once the "&#10;" is gone).
//
// Baseline: one memchr pass over the same text (a byte that does not occur, so memchr
// reads every byte once): the speed of merely reading the text. The library's passes
// work on a fresh copy of the text each iteration; the copy is not timed.
//
// Before timing, BM_EntityRemoval_MatchesDefinition checks the library against the
// definition (search from the beginning, cut the first occurrence, search again from
// the beginning) on a 64 KiB text of the same kind; it fails the run if they differ.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "commands/EntityRemoval.h"

namespace {

using Velmora::ZQBlog::RemoveReplyEntities;

// Text like a serialized reply: attributes, element texts, the three entities alone,
// and nests of them.
std::string MakeText(size_t bytes, uint32_t seed) {
  static const char* const kPieces[] = {
      "<resource id=\"501\" cid=\"0A1B2C3D4E5F60718293A4B5C6D7E8F901234567\" size=\"1048576\">",
      "<res_name>holiday&#10;pictures</res_name>",
      "<desc>line one&#10;line two&#09;tabbed&amp;nbsp;spaced</desc>",
      "&amp;nbsp;",
      "&#10;",
      "&#09;",
      "&#1&#10;0;",              // one removal forms another "&#10;"
      "&amp;nb&#09;sp;",         // the "&#09;" pass forms "&amp;nbsp;"
      "&#0&#10;9;",              // the "&#10;" pass forms "&#09;"
      "&amp;n&amp;nbsp;bsp;",    // nested within one pattern
      "&#1&#1&#10;0;0;",         // two levels
      "ordinary text with an &amp; ampersand and &lt;brackets&gt; ",
      "</resource>\n",
      "plain words, no entity at all, just letters and digits 0123456789 ",
  };
  const size_t kinds = sizeof(kPieces) / sizeof(kPieces[0]);
  std::mt19937 random(seed);
  std::string text;
  text.reserve(bytes + 128);
  while (text.size() < bytes) text += kPieces[random() % kinds];
  text.resize(bytes);
  return text;
}

// The definition, quadratic: for each pattern in turn, while the text holds it, cut its
// first occurrence and search again from the beginning.
std::string ReferenceRemoval(std::string text) {
  for (const char* pattern : {"&#10;", "&#09;", "&amp;nbsp;"}) {
    const size_t length = std::strlen(pattern);
    for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern)) {
      text.erase(at, length);
    }
  }
  return text;
}

const std::string& Text(size_t bytes) {
  static std::string one = MakeText(1u << 20, 1);
  static std::string two = MakeText(2u << 20, 2);
  static std::string eight = MakeText(8u << 20, 8);
  return bytes <= (1u << 20) ? one : bytes <= (2u << 20) ? two : eight;
}

void BM_EntityRemoval_MatchesDefinition(benchmark::State& state) {
  const std::string text = MakeText(64u << 10, 64);
  const std::string expected = ReferenceRemoval(text);
  bool same = true;
  for (auto _ : state) {
    std::string ours = text;
    RemoveReplyEntities(&ours);
    same = same && ours == expected;
  }
  if (!same) state.SkipWithError("RemoveReplyEntities differs from the definition");
  state.counters["removed_bytes"] = static_cast<double>(text.size() - expected.size());
}
BENCHMARK(BM_EntityRemoval_MatchesDefinition)->Iterations(1)->Unit(benchmark::kMillisecond);

// The library's three passes, over the text of state.range(0) bytes.
void BM_EntityRemoval_Library(benchmark::State& state) {
  const std::string& text = Text(static_cast<size_t>(state.range(0)));
  std::string work;
  size_t kept = 0;
  for (auto _ : state) {
    state.PauseTiming();
    work = text;
    state.ResumeTiming();
    RemoveReplyEntities(&work);
    kept = work.size();
    benchmark::DoNotOptimize(work.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["kept_fraction"] = static_cast<double>(kept) / static_cast<double>(text.size());
}
BENCHMARK(BM_EntityRemoval_Library)
    ->Arg(1 << 20)->Arg(2 << 20)->Arg(8 << 20)->Unit(benchmark::kMicrosecond);

// Baseline: memchr over the same text for a byte it does not hold.
void BM_EntityRemoval_MemchrBaseline(benchmark::State& state) {
  const std::string& text = Text(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    const void* found = std::memchr(text.data(), '\x01', text.size());
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_EntityRemoval_MemchrBaseline)
    ->Arg(1 << 20)->Arg(2 << 20)->Arg(8 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace
