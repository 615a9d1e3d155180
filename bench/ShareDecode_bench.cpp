// The change decoder of a forwarding process (BlogShareSessionDecoder_::DecodeMessage)
// applying the three largest broadcasts of the serving process, each at three sizes 4x
// apart, beside the floor of one pass over the same bytes:
//   BM_Decode_CidData/N       notice code 1, the whole content-id index: N pairs of a
//                             40-digit upper-case hexadecimal content id and an album id
//                             (of 200), written by CmdGetCidDat::BuildChangeRecord from a
//                             session that merged a Cid.dat of N random records. Each
//                             decode replaces the session's index.
//   BM_Decode_AlbumList/N     notice code 2: N album records (AlbumInfo::WriteRecord,
//                             framed as the album list command frames them), each with a
//                             name partly in Chinese, a description and two tags. Every
//                             decode after the first finds each album by id: the steady
//                             state of a list broadcast again.
//   BM_Decode_ResourceList/N  notice code 3: N resource records of one album
//                             (ResourceInfo::AppendRecord, framed as the resource list
//                             command frames them). Each decode drops the album's
//                             resources and their content-id pairs, then makes the N
//                             resources and pairs again.
//   BM_Parse_<code>/N         the floor: one RecordReader pass over the same payload that
//                             reads every item (texts as views) and does nothing else.
//   BM_Build_<code>/N         the second floor: the same pass keeping what it reads in
//                             plain standard containers (texts as their bytes): the pairs
//                             in a std::unordered_multimap<std::string, int>, the albums
//                             and resources as structs of strings in a std::vector.
// The decoder reads the payload from the fuzz targets' fake module channel
// (fuzz/FuzzSupport.h), which hands out the bytes it holds without a copy. Payloads are
// built once per size, outside the timing; before timing, each benchmark checks that a
// decode applies its payload whole (or that the floor reads it whole).
// Counters: items (N), payload_bytes, and items_per_second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "commands/CmdGetCidDat.h"
#include "data/AlbumInfo.h"
#include "data/AlbumListInfo.h"
#include "data/ResourceInfo.h"
#include "fuzz/FuzzSession.h"
#include "fuzz/FuzzSupport.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"

namespace {

using namespace Velmora::ZQBlog;
using fuzzing::FuzzDecoder;
using fuzzing::FuzzSession;
using fuzzing::kUin;
using fuzzing::kUinAnsi;

constexpr int kTextLimit = BlogShareSessionDecoder_::kTextLimit;
// The albums the content-id pairs name, and the album of the resource list.
constexpr int kPairAlbums = 200;
constexpr int kResourceAlbum = 77;

// 40 upper-case hexadecimal digits.
std::wstring HexId(std::mt19937_64& random) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring hex;
  for (int i = 0; i < 40; ++i) hex += kHex[random() & 15];
  return hex;
}

// Code 1: the index of a session that merged a Cid.dat of n random records.
std::vector<uint8_t> CidDataPayload(int n) {
  const size_t kRecord = CmdGetCidDat::kRecordSize;
  std::vector<uint8_t> table(static_cast<size_t>(n) * kRecord);
  std::mt19937_64 random(n);
  for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
    uint8_t* record = &table[i * kRecord];
    for (size_t b = 0; b < CmdGetCidDat::kContentIdSize; ++b) {
      record[b] = static_cast<uint8_t>(random());
    }
    const uint32_t album = 1 + static_cast<uint32_t>(i % kPairAlbums);
    for (int k = 0; k < 4; ++k) {
      record[CmdGetCidDat::kAlbumIdOffset + k] = static_cast<uint8_t>(album >> (8 * k));
    }
  }
  FuzzSession source;
  CmdGetCidDat::MergeCidTable(&source, table.data(), table.size());
  return CmdGetCidDat::BuildChangeRecord(&source, kUinAnsi);
}

// Code 2: n albums, framed as CmdGetAlbumList::BuildChangeRecord frames its reply albums.
std::vector<uint8_t> AlbumListPayload(int n) {
  FuzzSession source;
  Hold hold(source.AlbumListLock());
  AlbumListInfo* list = source.GetOrCreateAlbumList(kUin);
  std::vector<const AlbumInfo*> albums;
  size_t size = static_cast<size_t>(StringItemSize(kUinAnsi)) + kIntItemSize;
  for (int i = 0; i < n; ++i) {
    const std::wstring number = std::to_wstring(i + 1);
    AlbumInfo* album = list->NewAlbum();
    album->SetId(1000 + i);
    album->SetCategoryName((L"旅行相册 " + number).c_str());
    album->SetShowStatus(1);
    album->SetCategoryType(i % 3);
    album->SetDesc((L"Pictures and films of trip " + number).c_str());
    album->SetLastTime(L"2026-12-01 10:00:00");
    album->SetPicUrl((L"http://pic.velmora.cn/album/" + number + L".jpg").c_str());
    album->SetTagNum(2);
    album->SetTag(0, L"家庭");
    album->SetTag(1, L"holiday");
    size += static_cast<size_t>(album->RecordSize());
    albums.push_back(album);
  }
  std::vector<uint8_t> payload(size);
  RecordWriter writer(payload.data(), payload.size());
  writer.WriteString(kUinAnsi);
  writer.WriteInt(n);
  for (const AlbumInfo* album : albums) album->WriteRecord(writer);
  if (!writer.ok() || writer.written() != size) payload.clear();
  return payload;
}

// Code 3: n resources of album kResourceAlbum, framed as
// CmdGetResourceList::BuildChangeRecord frames its reply resources.
std::vector<uint8_t> ResourceListPayload(int n) {
  FuzzSession source;
  Hold hold(source.AlbumListLock());
  AlbumInfo* album = source.GetOrCreateAlbumList(kUin)->NewAlbum();
  std::mt19937_64 random(n);
  std::vector<uint8_t> payload;
  AppendStringItem(&payload, kUinAnsi);
  AppendIntItem(&payload, kResourceAlbum);
  AppendIntItem(&payload, n);
  for (int i = 0; i < n; ++i) {
    const std::wstring number = std::to_wstring(i + 1);
    ResourceInfo* resource = album->NewResource();
    resource->SetId(50000 + i);
    resource->SetCid(HexId(random).c_str());
    resource->SetGcid(HexId(random).c_str());
    resource->SetResName((L"第" + number + L"集 holiday film.mp4").c_str());
    resource->SetFormat(L"mp4");
    resource->SetSize(L"734003200");
    resource->SetLastTime(L"2026-12-01 10:00:00");
    resource->SetUrl((L"http://dl.velmora.cn/res/" + number + L".mp4").c_str());
    resource->SetOriginal((L"http://www.velmora.cn/share/" + number).c_str());
    resource->SetRefer(L"");
    resource->SetDesc((L"Episode " + number + L" of the holiday films").c_str());
    resource->SetResType(1);
    resource->SetState(0);
    resource->SetCategoryId(kResourceAlbum);
    resource->SetUin(kUin);
    resource->AppendRecord(&payload);
  }
  return payload;
}

// The payload of code for n items, built on first use.
const std::vector<uint8_t>& PayloadOf(NoticeCode code, int n) {
  static std::map<std::pair<int, int>, std::vector<uint8_t>> built;
  auto found = built.find({code, n});
  if (found == built.end()) {
    std::vector<uint8_t> payload = code == kNoticeCidData     ? CidDataPayload(n)
                                   : code == kNoticeAlbumList ? AlbumListPayload(n)
                                                              : ResourceListPayload(n);
    found = built.emplace(std::make_pair(code, n), std::move(payload)).first;
  }
  return found->second;
}

void SetCounters(benchmark::State& state, int n, size_t payloadBytes) {
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["items"] = n;
  state.counters["payload_bytes"] = static_cast<double>(payloadBytes);
}

// ---------------------------------------------------------------- decode

// What the session holds of a decoded payload: pairs, kUin's albums, or the resources
// of album kResourceAlbum.
size_t PairCount(BlogSession_* session) { return session->CidPairCount(); }

size_t AlbumCount(BlogSession_* session) {
  Hold hold(session->AlbumListLock());
  AlbumListInfo* list = session->FindAlbumList(kUin);
  int count = 0;
  if (list != nullptr) list->GetAlbumCount(&count);
  return static_cast<size_t>(count);
}

size_t ResourceCount(BlogSession_* session) {
  Hold hold(session->AlbumListLock());
  AlbumInfo* album = session->FindAlbum(kUin, kResourceAlbum);
  int count = 0;
  if (album != nullptr) album->GetResourceCount(&count);
  return static_cast<size_t>(count);
}

// Times DecodeMessage(code) applying the payload of state.range(0) items to a session
// of kUin's, after one decode whose outcome held() checks.
void RunDecode(benchmark::State& state, NoticeCode code, size_t (*held)(BlogSession_*)) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<uint8_t>& payload = PayloadOf(code, n);
  fuzzing::FakeChannel* channel =
      fuzzing::ProcessPlatform(BaseBlogCmd::kRoleForward)->manager->channel;
  channel->broadcast = payload;
  FuzzSession session;
  session.SetCurrentUin(kUin);
  if (code == kNoticeResourceList) {
    Hold hold(session.AlbumListLock());
    session.GetOrCreateAlbumList(kUin)->NewAlbum()->SetId(kResourceAlbum);
  }
  FuzzDecoder decoder(&session);
  if (payload.empty() || !decoder.DecodeMessage(code, 0, 0) ||
      held(&session) != static_cast<size_t>(n)) {
    state.SkipWithError("the decoder did not apply the payload");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(decoder.DecodeMessage(code, 0, 0));
  }
  SetCounters(state, n, payload.size());
}

void BM_Decode_CidData(benchmark::State& state) {
  RunDecode(state, kNoticeCidData, PairCount);
}
BENCHMARK(BM_Decode_CidData)->Arg(62500)->Arg(250000)->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

void BM_Decode_AlbumList(benchmark::State& state) {
  RunDecode(state, kNoticeAlbumList, AlbumCount);
}
BENCHMARK(BM_Decode_AlbumList)->Arg(625)->Arg(2500)->Arg(10000)
    ->Unit(benchmark::kMicrosecond);

void BM_Decode_ResourceList(benchmark::State& state) {
  RunDecode(state, kNoticeResourceList, ResourceCount);
}
BENCHMARK(BM_Decode_ResourceList)->Arg(63)->Arg(252)->Arg(1010)
    ->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------- the floor

// One item read, and kept from the optimizer.
bool Text(RecordReader* reader) {
  std::string_view text;
  const bool ok = reader->ReadStringView(&text, kTextLimit);
  benchmark::DoNotOptimize(text);
  return ok;
}

bool Int(RecordReader* reader, int32_t* value) {
  const bool ok = reader->ReadInt(value);
  benchmark::DoNotOptimize(*value);
  return ok;
}

bool Int(RecordReader* reader) {
  int32_t value = 0;
  return Int(reader, &value);
}

// Every item of a payload, in the layout of the decoder's header; true when the reader
// took them all.
bool ParseCidData(RecordReader* reader) {
  int32_t count = 0;
  if (!Text(reader) || !Int(reader, &count)) return false;
  for (int32_t i = 0; i < count; ++i) {
    if (!Text(reader) || !Int(reader)) return false;
  }
  return true;
}

bool ParseAlbumList(RecordReader* reader) {
  int32_t count = 0;
  if (!Text(reader) || !Int(reader, &count)) return false;
  for (int32_t i = 0; i < count; ++i) {
    int32_t tagNum = 0;
    if (!Int(reader) || !Text(reader) || !Int(reader) || !Int(reader) || !Text(reader) ||
        !Text(reader) || !Text(reader) || !Int(reader, &tagNum)) {
      return false;
    }
    for (int t = 0; t < AlbumInfo::TagsInUse(tagNum); ++t) {
      if (!Text(reader)) return false;
    }
  }
  return true;
}

bool ParseResourceList(RecordReader* reader) {
  int32_t count = 0;
  if (!Text(reader) || !Int(reader) || !Int(reader, &count)) return false;
  for (int32_t i = 0; i < count; ++i) {
    if (!Int(reader)) return false;
    for (int t = 0; t < 10; ++t) {  // Cid to Desc
      if (!Text(reader)) return false;
    }
    if (!Int(reader) || !Int(reader) || !Int(reader) || !Text(reader)) return false;
  }
  return true;
}

// Times parse over the payload of code for state.range(0) items, after one pass that
// must read it to its end.
void RunParse(benchmark::State& state, NoticeCode code, bool (*parse)(RecordReader*)) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<uint8_t>& payload = PayloadOf(code, n);
  RecordReader check(payload.data(), payload.size());
  if (payload.empty() || !parse(&check) || check.remaining() != 0) {
    state.SkipWithError("the payload does not read whole");
    return;
  }
  for (auto _ : state) {
    RecordReader reader(payload.data(), payload.size());
    benchmark::DoNotOptimize(parse(&reader));
  }
  SetCounters(state, n, payload.size());
}

void BM_Parse_CidData(benchmark::State& state) {
  RunParse(state, kNoticeCidData, ParseCidData);
}
BENCHMARK(BM_Parse_CidData)->Arg(62500)->Arg(250000)->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

void BM_Parse_AlbumList(benchmark::State& state) {
  RunParse(state, kNoticeAlbumList, ParseAlbumList);
}
BENCHMARK(BM_Parse_AlbumList)->Arg(625)->Arg(2500)->Arg(10000)
    ->Unit(benchmark::kMicrosecond);

void BM_Parse_ResourceList(benchmark::State& state) {
  RunParse(state, kNoticeResourceList, ParseResourceList);
}
BENCHMARK(BM_Parse_ResourceList)->Arg(63)->Arg(252)->Arg(1010)
    ->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------- the second floor

// The items read into plain containers, one set a pass.
struct Built {
  struct Album {
    int32_t ints[4];
    std::string texts[7];
  };
  struct Resource {
    int32_t ints[4];
    std::string texts[11];
  };
  std::unordered_multimap<std::string, int32_t> pairs;
  std::vector<Album> albums;
  std::vector<Resource> resources;
};

bool KeepText(RecordReader* reader, std::string* out) {
  std::string_view text;
  if (!reader->ReadStringView(&text, kTextLimit)) return false;
  out->assign(text.data(), text.size());
  return true;
}

bool BuildCidData(RecordReader* reader, Built* built) {
  std::string uin;
  int32_t count = 0;
  if (!KeepText(reader, &uin) || !reader->ReadInt(&count) || count < 0) return false;
  built->pairs.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    std::string cid;
    int32_t album = 0;
    if (!KeepText(reader, &cid) || !reader->ReadInt(&album)) return false;
    built->pairs.emplace(std::move(cid), album);
  }
  return true;
}

bool BuildAlbumList(RecordReader* reader, Built* built) {
  std::string uin;
  int32_t count = 0;
  if (!KeepText(reader, &uin) || !reader->ReadInt(&count) || count < 0) return false;
  built->albums.resize(static_cast<size_t>(count));
  for (Built::Album& album : built->albums) {
    if (!reader->ReadInt(&album.ints[0]) || !KeepText(reader, &album.texts[0]) ||
        !reader->ReadInt(&album.ints[1]) || !reader->ReadInt(&album.ints[2]) ||
        !KeepText(reader, &album.texts[1]) || !KeepText(reader, &album.texts[2]) ||
        !KeepText(reader, &album.texts[3]) || !reader->ReadInt(&album.ints[3])) {
      return false;
    }
    for (int t = 0; t < AlbumInfo::TagsInUse(album.ints[3]); ++t) {
      if (!KeepText(reader, &album.texts[4 + t])) return false;
    }
  }
  return true;
}

bool BuildResourceList(RecordReader* reader, Built* built) {
  std::string uin;
  int32_t album = 0;
  int32_t count = 0;
  if (!KeepText(reader, &uin) || !reader->ReadInt(&album) || !reader->ReadInt(&count) ||
      count < 0) {
    return false;
  }
  built->resources.resize(static_cast<size_t>(count));
  for (Built::Resource& resource : built->resources) {
    if (!reader->ReadInt(&resource.ints[0])) return false;
    for (int t = 0; t < 10; ++t) {  // Cid to Desc
      if (!KeepText(reader, &resource.texts[t])) return false;
    }
    if (!reader->ReadInt(&resource.ints[1]) || !reader->ReadInt(&resource.ints[2]) ||
        !reader->ReadInt(&resource.ints[3]) || !KeepText(reader, &resource.texts[10])) {
      return false;
    }
  }
  return true;
}

// Times build over the payload of code for state.range(0) items into fresh containers
// (freed outside the timing), after one pass that must read it to its end.
void RunBuild(benchmark::State& state, NoticeCode code, bool (*build)(RecordReader*, Built*)) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<uint8_t>& payload = PayloadOf(code, n);
  {
    Built built;
    RecordReader check(payload.data(), payload.size());
    if (payload.empty() || !build(&check, &built) || check.remaining() != 0) {
      state.SkipWithError("the payload does not read whole");
      return;
    }
  }
  for (auto _ : state) {
    Built built;
    RecordReader reader(payload.data(), payload.size());
    benchmark::DoNotOptimize(build(&reader, &built));
    state.PauseTiming();
    { Built gone(std::move(built)); }
    state.ResumeTiming();
  }
  SetCounters(state, n, payload.size());
}

void BM_Build_CidData(benchmark::State& state) {
  RunBuild(state, kNoticeCidData, BuildCidData);
}
BENCHMARK(BM_Build_CidData)->Arg(62500)->Arg(250000)->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

void BM_Build_AlbumList(benchmark::State& state) {
  RunBuild(state, kNoticeAlbumList, BuildAlbumList);
}
BENCHMARK(BM_Build_AlbumList)->Arg(625)->Arg(2500)->Arg(10000)
    ->Unit(benchmark::kMicrosecond);

void BM_Build_ResourceList(benchmark::State& state) {
  RunBuild(state, kNoticeResourceList, BuildResourceList);
}
BENCHMARK(BM_Build_ResourceList)->Arg(63)->Arg(252)->Arg(1010)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
