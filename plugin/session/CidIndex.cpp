#include "session/CidIndex.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace Velmora {
namespace ZQBlog {

namespace {

const char kUpperDigits[] = "0123456789ABCDEF";
const char kLowerDigits[] = "0123456789abcdef";

// The hexadecimal digits by character: the value in the low four bits, kUpperDigit for
// A-F, kLowerDigit for a-f, kNotDigit for every other character below 128.
constexpr uint8_t kUpperDigit = 0x10;
constexpr uint8_t kLowerDigit = 0x20;
constexpr uint8_t kNotDigit = 0x40;

struct DigitTable {
  uint8_t entry[128];
  constexpr DigitTable() : entry() {
    for (int c = 0; c < 128; ++c) entry[c] = kNotDigit;
    for (int d = 0; d < 10; ++d) entry['0' + d] = static_cast<uint8_t>(d);
    for (int d = 0; d < 6; ++d) {
      entry['A' + d] = static_cast<uint8_t>((10 + d) | kUpperDigit);
      entry['a' + d] = static_cast<uint8_t>((10 + d) | kLowerDigit);
    }
  }
};
constexpr DigitTable kDigits;

// c's table entry; kNotDigit for any character (or byte) from 128 on.
template <typename Char>
uint8_t DigitOf(Char c) {
  const auto code = static_cast<typename std::make_unsigned<Char>::type>(c);
  return code < 128 ? kDigits.entry[code] : kNotDigit;
}

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

// The first 8 bytes as a big-endian number: its order is the order of the bytes.
uint64_t BigEndianPrefix(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

// The smallest table (a power of two, at least 16 slots) that holds count entries at a
// load of one half at most.
size_t SlotsFor(size_t count) {
  size_t slots = 16;
  while (slots / 2 < count) slots *= 2;
  return slots;
}

}  // namespace

// ---------------------------------------------------------------- album ids of text keys

void CidIndex::AlbumIds::erase(size_t i) {
  if (i == 0) {
    first_ = rest_.front();
    rest_.erase(rest_.begin());
  } else {
    rest_.erase(rest_.begin() + static_cast<std::ptrdiff_t>(i - 1));
  }
}

template <typename Gone>
size_t CidIndex::AlbumIds::EraseAll(Gone gone, bool* all) {
  size_t before = size();
  size_t kept = (!gone(first_) ? 1 : 0) +
                static_cast<size_t>(std::count_if(rest_.begin(), rest_.end(),
                                                  [&](int32_t id) { return !gone(id); }));
  *all = kept == 0;
  if (kept == before || kept == 0) return before - kept;
  // Compact the survivors to the front, the first one inline.
  std::vector<int32_t> survivors;
  survivors.reserve(kept);
  if (!gone(first_)) survivors.push_back(first_);
  for (int32_t id : rest_) {
    if (!gone(id)) survivors.push_back(id);
  }
  first_ = survivors.front();
  rest_.assign(survivors.begin() + 1, survivors.end());
  return before - kept;
}

// ---------------------------------------------------------------- compact keys

template <typename Char>
bool CidIndex::ParseCompact(std::basic_string_view<Char> cid, CompactKey* key) {
  if (cid.size() != 40) return false;
  uint8_t seen = 0;  // the flags of every digit
  for (size_t i = 0; i < 20; ++i) {
    const uint8_t high = DigitOf(cid[2 * i]);
    const uint8_t low = DigitOf(cid[2 * i + 1]);
    seen |= high | low;
    key->bytes[i] = static_cast<uint8_t>((high << 4) | (low & 0x0F));
  }
  if (seen & kNotDigit) return false;
  // Mixed case: only the text keeps it.
  if ((seen & (kUpperDigit | kLowerDigit)) == (kUpperDigit | kLowerDigit)) return false;
  key->lower = (seen & kLowerDigit) != 0;
  return true;
}

size_t CidIndex::HashOf(const uint8_t* bytes, bool lower) {
  uint64_t h = Load64(bytes) * 0x9E3779B97F4A7C15ull;
  h ^= (Load64(bytes + 8) + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
  h ^= (static_cast<uint64_t>(Load32(bytes + 16)) << 1 | (lower ? 1u : 0u)) *
       0x165667B19E3779F9ull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<size_t>(h);
}

bool CidIndex::SameKey(const Entry& entry, const CompactKey& key) {
  return LowerOf(entry) == key.lower && std::memcmp(entry.bytes, key.bytes, 20) == 0;
}

void CidIndex::WriteHex(const Entry& entry, wchar_t* out) {
  const char* digits = LowerOf(entry) ? kLowerDigits : kUpperDigits;
  for (size_t i = 0; i < 20; ++i) {
    out[2 * i] = static_cast<wchar_t>(digits[entry.bytes[i] >> 4]);
    out[2 * i + 1] = static_cast<wchar_t>(digits[entry.bytes[i] & 15]);
  }
}

int CidIndex::CompareEntries(const Entry& a, const Entry& b) {
  if (LowerOf(a) == LowerOf(b)) return std::memcmp(a.bytes, b.bytes, 20);
  // Letters of different cases: compare the texts digit by digit.
  wchar_t ta[40];
  wchar_t tb[40];
  WriteHex(a, ta);
  WriteHex(b, tb);
  for (size_t i = 0; i < 40; ++i) {
    if (ta[i] != tb[i]) return ta[i] < tb[i] ? -1 : 1;
  }
  return 0;
}

size_t CidIndex::IdCount(const Entry& entry) const {
  const uint32_t more = entry.more & kMoreMask;
  return more == 0 ? 1 : 1 + extra_[more - 1].size();
}

int32_t CidIndex::IdAt(const Entry& entry, size_t i) const {
  return i == 0 ? entry.first : extra_[(entry.more & kMoreMask) - 1][i - 1];
}

uint32_t CidIndex::FindSlot(const CompactKey& key) const {
  return FindSlot(key, HashOf(key.bytes, key.lower));
}

uint32_t CidIndex::FindSlot(const CompactKey& key, size_t hash) const {
  if (slots_.empty()) return kNoEntry;
  const size_t mask = slots_.size() - 1;
  const uint8_t tag = TagOf(hash);
  for (size_t s = hash & mask;; s = (s + 1) & mask) {
    const uint32_t v = slots_[s];
    if (v == 0) return kNoEntry;
    if (tags_[s] == tag && SameKey(At(v - 1), key)) return static_cast<uint32_t>(s);
  }
}

uint32_t CidIndex::SlotOfEntry(uint32_t e) const {
  const size_t mask = slots_.size() - 1;
  const Entry& entry = At(e);
  size_t s = HashOf(entry.bytes, LowerOf(entry)) & mask;
  while (slots_[s] != e + 1) s = (s + 1) & mask;
  return static_cast<uint32_t>(s);
}

void CidIndex::InsertSlot(uint32_t e) {
  const Entry& entry = At(e);
  InsertSlot(e, HashOf(entry.bytes, LowerOf(entry)));
}

void CidIndex::InsertSlot(uint32_t e, size_t hash) {
  const size_t mask = slots_.size() - 1;
  size_t s = hash & mask;
  while (slots_[s] != 0) s = (s + 1) & mask;
  slots_[s] = e + 1;
  tags_[s] = TagOf(hash);
}

void CidIndex::EraseSlot(uint32_t s) {
  const size_t mask = slots_.size() - 1;
  size_t hole = s;
  for (size_t next = (s + 1) & mask; slots_[next] != 0; next = (next + 1) & mask) {
    const Entry& entry = At(slots_[next] - 1);
    const size_t home = HashOf(entry.bytes, LowerOf(entry)) & mask;
    // The entry at next may move back into the hole unless its home lies cyclically in
    // (hole, next]: then it would be placed before its home.
    const bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
    if (stays) continue;
    slots_[hole] = slots_[next];
    tags_[hole] = tags_[next];
    hole = next;
  }
  slots_[hole] = 0;
}

void CidIndex::AssignTable(size_t slotCount) {
  slots_.assign(slotCount, 0);
  tags_.assign(slotCount, 0);
}

void CidIndex::FreeTable() {
  std::vector<uint32_t>().swap(slots_);
  std::vector<uint8_t>().swap(tags_);
}

void CidIndex::Rehash(size_t slotCount) {
  FreeTable();  // the old table goes before the new one comes
  if (compactCount_ == 0) return;
  AssignTable(slotCount);
  for (uint32_t e = 0; e < compactCount_; ++e) InsertSlot(e);
}

uint32_t CidIndex::AppendEntry(const CompactKey& key, int32_t albumId) {
  if (compactCount_ >= kNoEntry - 1) throw std::length_error("CidIndex: too many keys");
  if (compactCount_ == blocks_.size() * kBlockSize) {
    std::unique_ptr<Entry[]> block(new Entry[kBlockSize]);
    blocks_.push_back(std::move(block));
  }
  const uint32_t e = static_cast<uint32_t>(compactCount_++);
  Entry& entry = At(e);
  std::memcpy(entry.bytes, key.bytes, 20);
  entry.first = albumId;
  entry.more = key.lower ? kLowerFlag : 0;
  return e;
}

uint32_t CidIndex::NewExtra() {
  if (!freeExtra_.empty()) {
    const uint32_t index = freeExtra_.back();
    freeExtra_.pop_back();
    return index;
  }
  if (extra_.size() >= kMoreMask - 1) throw std::length_error("CidIndex: too many shared keys");
  extra_.emplace_back();
  return static_cast<uint32_t>(extra_.size() - 1);
}

void CidIndex::FreeExtra(uint32_t index) {
  std::vector<int32_t>().swap(extra_[index]);
  freeExtra_.push_back(index);
}

void CidIndex::RemoveEntry(uint32_t e) {
  EraseSlot(SlotOfEntry(e));
  const uint32_t more = At(e).more & kMoreMask;
  if (more != 0) FreeExtra(more - 1);
  const uint32_t last = static_cast<uint32_t>(compactCount_ - 1);
  if (e != last) {
    slots_[SlotOfEntry(last)] = e + 1;
    At(e) = At(last);
  }
  --compactCount_;
  // Keep one spare block at most, so that adding and removing at a block's edge does not
  // allocate every time.
  while (blocks_.size() * kBlockSize >= compactCount_ + 2 * kBlockSize) blocks_.pop_back();
}

void CidIndex::AddCompact(const CompactKey& key, size_t hash, int32_t albumId) {
  const uint32_t s = FindSlot(key, hash);
  if (s != kNoEntry) {
    Entry& entry = At(slots_[s] - 1);
    uint32_t more = entry.more & kMoreMask;
    if (more == 0) {
      more = NewExtra() + 1;
      entry.more |= more;
    }
    extra_[more - 1].push_back(albumId);
    return;
  }
  if (compactCount_ + 1 > slots_.size() / 2) Rehash(SlotsFor(compactCount_ + 1));
  const uint32_t e = AppendEntry(key, albumId);
  if (slots_.empty()) AssignTable(SlotsFor(compactCount_));
  InsertSlot(e, hash);
}

void CidIndex::AddText(const std::wstring& cid, int32_t albumId) {
  auto found = text_.find(cid);
  if (found == text_.end()) {
    text_.emplace(cid, AlbumIds(albumId));
  } else {
    found->second.push_back(albumId);
  }
}

// ---------------------------------------------------------------- the pairs

void CidIndex::Add(std::wstring_view cid, int32_t albumId) {
  CompactKey key;
  if (ParseCompact(cid, &key)) {
    AddCompact(key, HashOf(key.bytes, key.lower), albumId);
  } else {
    AddText(std::wstring(cid), albumId);
  }
  CountOne(albumId);
}

void CidIndex::CountOne(int32_t albumId) {
  ++size_;
  ++albumCounts_[albumId];
}

template <typename Next>
void CidIndex::AddRun(size_t count, Next next) {
  // The table gets its final size once instead of doubling its way there, so a slot
  // requested ahead is still the slot of its key when the key's turn comes.
  Reserve(count);
  // A ring of pending keys: kAhead keys before its turn a key is read and hashed and
  // its home slot and tag requested from memory; at its turn it goes in.
  constexpr size_t kRing = 32;
  constexpr size_t kAhead = 24;
  struct Pending {
    CompactKey key;
    int32_t albumId;
    bool compact;
    size_t hash;
  };
  Pending ring[kRing];
  const size_t mask = slots_.size() - 1;
  auto read = [&](size_t i) {
    Pending& p = ring[i % kRing];
    p.compact = next(&p.key, &p.albumId);
    if (!p.compact) return;
    p.hash = HashOf(p.key.bytes, p.key.lower);
    __builtin_prefetch(&slots_[p.hash & mask]);
    __builtin_prefetch(&tags_[p.hash & mask]);
  };
  for (size_t i = 0; i < count && i < kAhead; ++i) read(i);
  for (size_t i = 0; i < count; ++i) {
    if (i + kAhead < count) read(i + kAhead);
    const Pending& p = ring[i % kRing];
    if (p.compact) {
      AddCompact(p.key, p.hash, p.albumId);
      CountOne(p.albumId);
    }
  }
}

bool CidIndex::Batch::AddHex(std::string_view cid, int32_t albumId) {
  HexPair pair;
  if (!ParseCompact<char>(cid, &pair.key)) return false;
  pair.albumId = albumId;
  hex_.push_back(pair);
  return true;
}

void CidIndex::AddBatch(const Batch& batch) {
  // No text key is also a compact one: the order of every key's pairs is kept.
  for (const Pair& pair : batch.text_) Add(pair.first, pair.second);
  auto pair = batch.hex_.begin();
  AddRun(batch.hex_.size(), [&pair](CompactKey* key, int32_t* albumId) {
    *key = pair->key;
    *albumId = pair->albumId;
    ++pair;
    return true;
  });
}

void CidIndex::AddRawRecords(const uint8_t* records, size_t count) {
  const uint8_t* record = records;
  AddRun(count, [&record](CompactKey* key, int32_t* albumId) {
    std::memcpy(key->bytes, record, 20);
    key->lower = false;
    const uint8_t* id = record + 20;
    *albumId = static_cast<int32_t>(static_cast<uint32_t>(id[0]) |
                                    static_cast<uint32_t>(id[1]) << 8 |
                                    static_cast<uint32_t>(id[2]) << 16 |
                                    static_cast<uint32_t>(id[3]) << 24);
    record += kRawRecordSize;
    return true;
  });
}

void CidIndex::UncountOne(int32_t albumId) {
  auto found = albumCounts_.find(albumId);
  if (found != albumCounts_.end() && --found->second == 0) albumCounts_.erase(found);
}

size_t CidIndex::CountOfAlbum(int32_t albumId) const {
  auto found = albumCounts_.find(albumId);
  return found == albumCounts_.end() ? 0 : found->second;
}

void CidIndex::AddAll(const std::vector<Pair>& pairs) {
  auto pair = pairs.begin();
  AddRun(pairs.size(), [this, &pair](CompactKey* key, int32_t* albumId) {
    const Pair& p = *pair++;
    *albumId = p.second;
    if (ParseCompact(p.first, key)) return true;
    // No text key is also a compact one: adding it ahead of the compact keys before it
    // keeps the order of every key's pairs.
    AddText(p.first, p.second);
    CountOne(p.second);
    return false;
  });
}

void CidIndex::Reserve(size_t count) {
  const size_t slots = SlotsFor(compactCount_ + count);
  if (slots <= slots_.size()) return;
  if (compactCount_ == 0) {
    AssignTable(slots);
  } else {
    Rehash(slots);
  }
}

bool CidIndex::RemoveFirst(std::wstring_view cid, int32_t albumId) {
  CompactKey key;
  if (ParseCompact(cid, &key)) {
    const uint32_t s = FindSlot(key);
    if (s == kNoEntry) return false;
    const uint32_t e = slots_[s] - 1;
    Entry& entry = At(e);
    const size_t count = IdCount(entry);
    for (size_t i = 0; i < count; ++i) {
      if (IdAt(entry, i) != albumId) continue;
      if (count == 1) {
        RemoveEntry(e);
      } else {
        const uint32_t more = (entry.more & kMoreMask) - 1;
        std::vector<int32_t>& rest = extra_[more];
        if (i == 0) {
          entry.first = rest.front();
          rest.erase(rest.begin());
        } else {
          rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(i - 1));
        }
        if (rest.empty()) {
          FreeExtra(more);
          entry.more &= kLowerFlag;
        }
      }
      --size_;
      UncountOne(albumId);
      return true;
    }
    return false;
  }
  auto found = text_.find(std::wstring(cid));
  if (found == text_.end()) return false;
  AlbumIds& ids = found->second;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids.at(i) != albumId) continue;
    if (ids.size() == 1) {
      text_.erase(found);
    } else {
      ids.erase(i);
    }
    --size_;
    UncountOne(albumId);
    return true;
  }
  return false;
}

size_t CidIndex::RemoveAlbum(int32_t albumId) {
  if (CountOfAlbum(albumId) == 0) return 0;
  const size_t removed = RemoveIf([albumId](int32_t id) { return id == albumId; });
  albumCounts_.erase(albumId);
  return removed;
}

size_t CidIndex::RemoveAlbums(const std::unordered_set<int32_t>& albumIds) {
  std::unordered_set<int32_t> held;
  for (int32_t id : albumIds) {
    if (CountOfAlbum(id) != 0) held.insert(id);
  }
  if (held.size() <= 1) return held.empty() ? 0 : RemoveAlbum(*held.begin());
  const size_t removed = RemoveIf([&held](int32_t id) { return held.count(id) != 0; });
  for (int32_t id : held) albumCounts_.erase(id);
  return removed;
}

template <typename Gone>
size_t CidIndex::RemoveIf(Gone gone) {
  size_t removed = 0;
  for (auto it = text_.begin(); it != text_.end();) {
    bool all = false;
    removed += it->second.EraseAll(gone, &all);
    it = all ? text_.erase(it) : std::next(it);
  }

  // Compact keys: the survivors move down in place, then the table is built anew.
  size_t kept = 0;
  std::vector<int32_t> survivors;
  for (size_t read = 0; read < compactCount_; ++read) {
    Entry entry = At(static_cast<uint32_t>(read));
    const uint32_t more = entry.more & kMoreMask;
    if (more == 0) {
      if (gone(entry.first)) {
        ++removed;
        continue;
      }
    } else {
      std::vector<int32_t>& rest = extra_[more - 1];
      survivors.clear();
      if (!gone(entry.first)) survivors.push_back(entry.first);
      for (int32_t id : rest) {
        if (!gone(id)) survivors.push_back(id);
      }
      removed += rest.size() + 1 - survivors.size();
      if (survivors.empty()) {
        FreeExtra(more - 1);
        continue;
      }
      entry.first = survivors.front();
      if (survivors.size() == 1) {
        FreeExtra(more - 1);
        entry.more &= kLowerFlag;
      } else {
        rest.assign(survivors.begin() + 1, survivors.end());
      }
    }
    At(static_cast<uint32_t>(kept++)) = entry;
  }
  if (kept != compactCount_) {
    compactCount_ = kept;
    while (blocks_.size() * kBlockSize >= compactCount_ + 2 * kBlockSize) blocks_.pop_back();
    Rehash(SlotsFor(compactCount_));
  }
  size_ -= removed;
  return removed;
}

void CidIndex::Clear() {
  std::vector<std::unique_ptr<Entry[]>>().swap(blocks_);
  FreeTable();
  compactCount_ = 0;
  std::vector<std::vector<int32_t>>().swap(extra_);
  std::vector<uint32_t>().swap(freeExtra_);
  std::unordered_map<std::wstring, AlbumIds>().swap(text_);
  size_ = 0;
  std::unordered_map<int32_t, size_t>().swap(albumCounts_);
}

size_t CidIndex::Count(const std::wstring& cid) const {
  CompactKey key;
  if (ParseCompact(cid, &key)) {
    const uint32_t s = FindSlot(key);
    return s == kNoEntry ? 0 : IdCount(At(slots_[s] - 1));
  }
  auto found = text_.find(cid);
  return found == text_.end() ? 0 : found->second.size();
}

void CidIndex::CopyAlbumIds(const std::wstring& cid, int32_t* out) const {
  CompactKey key;
  if (ParseCompact(cid, &key)) {
    const uint32_t s = FindSlot(key);
    if (s == kNoEntry) return;
    const Entry& entry = At(slots_[s] - 1);
    out[0] = entry.first;
    const uint32_t more = entry.more & kMoreMask;
    if (more != 0) std::copy(extra_[more - 1].begin(), extra_[more - 1].end(), out + 1);
    return;
  }
  auto found = text_.find(cid);
  if (found == text_.end()) return;
  const AlbumIds& ids = found->second;
  for (size_t i = 0; i < ids.size(); ++i) out[i] = ids.at(i);
}

void CidIndex::ForEach(const std::function<void(const std::wstring&, int32_t)>& visit) const {
  // The compact keys in order. Keys of one case compare as their bytes; the first eight
  // of them, kept beside the entry number, settle nearly every comparison without
  // touching the entries.
  struct Item {
    uint64_t prefix;
    uint32_t entry;
    uint32_t lower;
  };
  std::vector<Item> items;
  items.reserve(compactCount_);
  for (uint32_t e = 0; e < compactCount_; ++e) {
    const Entry& entry = At(e);
    items.push_back(Item{BigEndianPrefix(entry.bytes), e, LowerOf(entry) ? 1u : 0u});
  }
  std::sort(items.begin(), items.end(), [this](const Item& a, const Item& b) {
    if (a.lower == b.lower && a.prefix != b.prefix) return a.prefix < b.prefix;
    return CompareEntries(At(a.entry), At(b.entry)) < 0;
  });

  typedef std::unordered_map<std::wstring, AlbumIds>::value_type TextEntry;
  std::vector<const TextEntry*> texts;
  texts.reserve(text_.size());
  for (const TextEntry& entry : text_) texts.push_back(&entry);
  std::sort(texts.begin(), texts.end(),
            [](const TextEntry* a, const TextEntry* b) { return a->first < b->first; });

  // Merge the two orders. No text key equals a compact key's text.
  std::wstring hex(40, L'0');
  size_t t = 0;
  auto visitText = [&visit](const TextEntry* entry) {
    for (size_t i = 0; i < entry->second.size(); ++i) visit(entry->first, entry->second.at(i));
  };
  for (const Item& item : items) {
    const Entry& entry = At(item.entry);
    WriteHex(entry, &hex[0]);
    while (t < texts.size() && texts[t]->first < hex) visitText(texts[t++]);
    const size_t count = IdCount(entry);
    for (size_t i = 0; i < count; ++i) visit(hex, IdAt(entry, i));
  }
  while (t < texts.size()) visitText(texts[t++]);
}

}  // namespace ZQBlog
}  // namespace Velmora
