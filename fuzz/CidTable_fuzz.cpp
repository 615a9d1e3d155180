// The content-id table ("Cid.dat", 24-byte records) merged into a session that holds
// the seeded blog (fuzz/FuzzSession.h), from arbitrary bytes.
//
// Checks:
//   - the merge takes every whole record and nothing else (length / 24);
//   - the index then holds the seeded pairs and one pair per record, keyed by the 40
//     upper-case hexadecimal digits of its content id, in the index's order (keys in
//     string order, the pairs of one key in the order they were added);
//   - the albums the index gives for each merged content id are those of its pairs, in
//     that order;
//   - the serving process's broadcast of the index, applied by a forwarding process's
//     decoder to the same seeded blog, leaves that process with exactly the same index.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "commands/CmdGetCidDat.h"
#include "fuzz/FuzzSession.h"
#include "fuzz/FuzzSupport.h"
#include "session/BlogShareSessionDecoder.h"

namespace {

using namespace Velmora::ZQBlog;
using namespace Velmora::ZQBlog::fuzzing;

typedef std::vector<std::pair<std::wstring, int>> Pairs;

std::wstring Hex(const uint8_t* bytes, size_t size) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

int32_t LittleEndian(const uint8_t* bytes) {
  return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) |
                              (static_cast<uint32_t>(bytes[1]) << 8) |
                              (static_cast<uint32_t>(bytes[2]) << 16) |
                              (static_cast<uint32_t>(bytes[3]) << 24));
}

Pairs IndexOf(BlogSession_* session) {
  Pairs pairs;
  session->ForEachCidPair([&pairs](const std::wstring& cid, int albumId) {
    pairs.emplace_back(cid, albumId);
  });
  return pairs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<FuzzSession> serving(new FuzzSession);
  SeedSession(serving.get());
  Pairs expected = IndexOf(serving.get());

  ZQ_FUZZ_CHECK(CmdGetCidDat::MergeCidTable(serving.get(), data, size) == size / 24);
  for (size_t at = 0; at + 24 <= size; at += 24) {
    expected.emplace_back(Hex(data + at, 20), LittleEndian(data + at + 20));
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const std::pair<std::wstring, int>& a,
                      const std::pair<std::wstring, int>& b) { return a.first < b.first; });
  ZQ_FUZZ_CHECK(IndexOf(serving.get()) == expected);

  for (size_t at = 0; at + 24 <= size; at += 24) {
    const std::wstring cid = Hex(data + at, 20);
    std::vector<int> albums;
    for (const auto& pair : expected) {
      if (pair.first == cid) albums.push_back(pair.second);
    }
    std::vector<int> given(albums.size() + 1, -7);
    int count = static_cast<int>(given.size());
    ZQ_FUZZ_CHECK(serving->QueryAlbumsByCid(cid, given.data(), &count) == S_OK);
    given.resize(static_cast<size_t>(count));
    ZQ_FUZZ_CHECK(given == albums);
  }

  // The broadcast of the merged index, decoded by a forwarding process.
  FakeChannel* channel = ProcessPlatform(BaseBlogCmd::kRoleForward)->manager->channel;
  channel->broadcast = CmdGetCidDat::BuildChangeRecord(serving.get(), kUinAnsi);
  std::unique_ptr<FuzzSession> forwarding(new FuzzSession);
  SeedSession(forwarding.get());
  FuzzDecoder decoder(forwarding.get());
  ZQ_FUZZ_CHECK(decoder.DecodeMessage(kNoticeCidData, 0, 0));
  ZQ_FUZZ_CHECK(IndexOf(forwarding.get()) == expected);
  channel->broadcast.clear();
  return 0;
}
