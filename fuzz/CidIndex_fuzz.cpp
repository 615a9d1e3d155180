// The content-id index (session/CidIndex.h) against a plain model of what it promises:
// a list of (cid, album id) pairs in the order of an ordered multimap (keys in string
// order, the pairs of one key in the order they were added, duplicates kept).
//
// Input: operations, each an operation byte followed by its operands:
//   add       key, album             Add
//   bulk      key, n, album          AddAll of n (below 64) keys counted up from key
//   remove    key, album             RemoveFirst (its answer too)
//   drop      album                  CountOfAlbum, then RemoveAlbum (its count too)
//   ask       key                    Count and CopyAlbumIds
//   walk                             ForEach, whole
//   clear                            Clear (one byte value only, so it stays rare)
// A key is two bytes: the top two bits choose its kind (40 hexadecimal digits in upper
// case, in lower case, with one letter of the other case, or a short text) and the
// other fourteen bits its value, so keys meet again and the compact table grows,
// rehashes and shifts entries back on removal.
//
// After every operation the sizes agree; at the end the whole index, and the split of
// distinct keys into compact and text keys, agree with the model.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "session/CidIndex.h"

namespace {

using Velmora::ZQBlog::CidIndex;
using Velmora::ZQBlog::fuzzing::Violation;

typedef std::vector<std::pair<std::wstring, int32_t>> Pairs;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool more() const { return at_ < size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Word() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The key of selector: see above.
std::wstring KeyOf(uint16_t selector) {
  const int kind = selector >> 14;
  const unsigned value = selector & 0x3FFF;
  if (kind == 3) return L"K" + std::to_wstring(value % 97);
  static const wchar_t kUpper[] = L"0123456789ABCDEF";
  static const wchar_t kLower[] = L"0123456789abcdef";
  const wchar_t* digits = kind == 1 ? kLower : kUpper;
  std::wstring key;
  // A constant stem with the value in a few places: keys that differ in few digits.
  for (int i = 0; i < 40; ++i) {
    unsigned nibble = (i * 7 + 3) & 15;
    if (i == 5) nibble = value & 15;
    if (i == 17) nibble = (value >> 4) & 15;
    if (i == 38) nibble = (value >> 8) & 15;
    if (i == 39) nibble = (value >> 12) & 3;
    key.push_back(digits[nibble]);
  }
  if (kind == 2) key[1] = L'a';  // "3a..." among upper-case letters: a text key
  return key;
}

bool IsCompact(const std::wstring& key) {
  if (key.size() != 40) return false;
  bool upper = false, lower = false;
  for (wchar_t c : key) {
    if (c >= L'A' && c <= L'F') {
      upper = true;
    } else if (c >= L'a' && c <= L'f') {
      lower = true;
    } else if (c < L'0' || c > L'9') {
      return false;
    }
  }
  return !(upper && lower);
}

// The model: a multimap, which keeps the pairs of one key in the order they were
// inserted.
class Model {
 public:
  void Add(const std::wstring& key, int32_t album) { pairs_.emplace(key, album); }
  bool RemoveFirst(const std::wstring& key, int32_t album) {
    auto range = pairs_.equal_range(key);
    for (auto at = range.first; at != range.second; ++at) {
      if (at->second == album) {
        pairs_.erase(at);
        return true;
      }
    }
    return false;
  }
  size_t RemoveAlbum(int32_t album) {
    size_t removed = 0;
    for (auto at = pairs_.begin(); at != pairs_.end();) {
      if (at->second == album) {
        at = pairs_.erase(at);
        ++removed;
      } else {
        ++at;
      }
    }
    return removed;
  }
  size_t CountOfAlbum(int32_t album) const {
    size_t count = 0;
    for (const auto& pair : pairs_) count += pair.second == album ? 1 : 0;
    return count;
  }
  std::vector<int32_t> AlbumsOf(const std::wstring& key) const {
    std::vector<int32_t> albums;
    auto range = pairs_.equal_range(key);
    for (auto at = range.first; at != range.second; ++at) albums.push_back(at->second);
    return albums;
  }
  void Clear() { pairs_.clear(); }
  size_t size() const { return pairs_.size(); }
  Pairs pairs() const { return Pairs(pairs_.begin(), pairs_.end()); }

 private:
  std::multimap<std::wstring, int32_t> pairs_;
};

Pairs Walk(const CidIndex& index) {
  Pairs pairs;
  index.ForEach(
      [&pairs](const std::wstring& key, int32_t album) { pairs.emplace_back(key, album); });
  return pairs;
}

void Check(bool condition, const char* what) {
  if (!condition) Violation(what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  CidIndex index;
  Model model;
  while (input.more()) {
    const uint8_t op = input.Byte();
    switch (op % 7) {
      case 0:
      case 1: {
        const std::wstring key = KeyOf(input.Word());
        const int32_t album = static_cast<int8_t>(input.Byte());
        index.Add(key, album);
        model.Add(key, album);
        break;
      }
      case 2: {
        const uint16_t first = input.Word();
        const int n = input.Byte() & 63;
        const int32_t album = static_cast<int8_t>(input.Byte());
        std::vector<CidIndex::Pair> pairs;
        for (int i = 0; i < n; ++i) {
          const std::wstring key = KeyOf(static_cast<uint16_t>(first + i));
          pairs.emplace_back(key, album);
          model.Add(key, album);
        }
        index.AddAll(pairs);
        break;
      }
      case 3: {
        const std::wstring key = KeyOf(input.Word());
        const int32_t album = static_cast<int8_t>(input.Byte());
        Check(index.RemoveFirst(key, album) == model.RemoveFirst(key, album),
              "RemoveFirst answers otherwise than the model");
        break;
      }
      case 4: {
        const int32_t album = static_cast<int8_t>(input.Byte());
        Check(index.CountOfAlbum(album) == model.CountOfAlbum(album),
              "CountOfAlbum differs from the model");
        Check(index.RemoveAlbum(album) == model.RemoveAlbum(album),
              "RemoveAlbum counts otherwise than the model");
        break;
      }
      case 5: {
        const std::wstring key = KeyOf(input.Word());
        const std::vector<int32_t> albums = model.AlbumsOf(key);
        Check(index.Count(key) == albums.size(), "Count differs from the model");
        std::vector<int32_t> copied(albums.size() + 1, -1000);
        index.CopyAlbumIds(key, copied.data());
        Check(copied.back() == -1000, "CopyAlbumIds wrote past Count");
        copied.pop_back();
        Check(copied == albums, "CopyAlbumIds differs from the model");
        break;
      }
      case 6:
        if (op == 6) {
          index.Clear();
          model.Clear();
        } else {
          Check(Walk(index) == model.pairs(), "ForEach differs from the model");
        }
        break;
    }
    Check(index.size() == model.size(), "size differs from the model");
    Check(index.empty() == (model.size() == 0), "empty differs from the model");
  }
  Check(Walk(index) == model.pairs(), "ForEach differs from the model");
  std::set<std::wstring> keys;
  size_t compact = 0;
  const Pairs all = model.pairs();
  for (const auto& pair : all) {
    if (keys.insert(pair.first).second && IsCompact(pair.first)) ++compact;
  }
  Check(index.CompactKeyCount() == compact, "compact key count differs from the model");
  Check(index.TextKeyCount() == keys.size() - compact, "text key count differs from the model");
  return 0;
}
