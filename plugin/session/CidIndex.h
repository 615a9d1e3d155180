// CidIndex: which albums hold a content id. A multiset of (cid, album id) pairs with
// the order of an ordered multimap: keys in ordinary string order, and the pairs of one
// key in the order they were added. Duplicate pairs are kept.
//
// Layout. Content ids are nearly always 40 hexadecimal digits (a 20-byte id written out,
// upper case from the content-id table, as the service sends them in resource lists).
// Such a key, when all its letters have the same case, is kept as its 20 raw bytes plus
// a case flag in a compact entry: 28 bytes with its first album id, no heap block of its
// own. The compact entries sit in fixed-size blocks (growth never copies them) and an
// open-addressing table of 32-bit entry numbers finds them by a hash of the bytes. Any
// other key (another length, a non-hexadecimal character, digits of mixed case) is kept
// as text in a hash table of its own, so no key loses anything; a key in upper case and
// the same digits in lower case stay two different keys, as two strings would.
//
// The album ids of one key are kept in insertion order, the first one inline and the
// rest (a content id held by several albums) in a vector. Adding and looking a key up
// cost one hash of the key instead of the O(log n) string comparisons of a tree. Only
// ForEach, which must hand the pairs out in key order, sorts: O(k log k) for k distinct
// keys. The index counts the pairs of each album: removing every pair of an album that
// holds none costs nothing, and a caller that knows the album's keys (its resources'
// content ids) removes those one by one and is done when the count reaches zero; only
// what is left beyond them takes a scan of the whole index.
//
// No lock of its own: the blog session guards it with its CidLock.
#ifndef ZQBLOG_SESSION_CIDINDEX_H_
#define ZQBLOG_SESSION_CIDINDEX_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace Velmora {
namespace ZQBlog {

class CidIndex {
 public:
  typedef std::pair<std::wstring, int32_t> Pair;

  CidIndex() = default;
  CidIndex(const CidIndex&) = delete;
  CidIndex& operator=(const CidIndex&) = delete;

  // Adds the pair after every pair already held for cid (an equal pair included).
  void Add(std::wstring_view cid, int32_t albumId);
  // Adds the pairs in order, as Add would one by one.
  void AddAll(const std::vector<Pair>& pairs);
  // Adds count records of a content-id table in order, as Add would one by one: each
  // record is kRawRecordSize bytes, the content id's 20 raw bytes (its key is their 40
  // upper-case digits) and then the album id, little-endian.
  void AddRawRecords(const uint8_t* records, size_t count);
  static constexpr size_t kRawRecordSize = 24;
  // Makes room for count more keys, so that adding them grows nothing on the way.
  void Reserve(size_t count);

  class Batch;
  // Adds the pairs of batch, as Add would one by one in the order they were given.
  void AddBatch(const Batch& batch);

  // Removes the first pair (in the index's order) equal to (cid, albumId); false when
  // there is none.
  bool RemoveFirst(std::wstring_view cid, int32_t albumId);
  // Removes every pair whose album id is albumId; returns how many. A scan of the whole
  // index unless the album holds no pair.
  size_t RemoveAlbum(int32_t albumId);
  // Removes every pair whose album id is in albumIds, in one scan at most; returns how
  // many.
  size_t RemoveAlbums(const std::unordered_set<int32_t>& albumIds);
  // Removes every pair and gives the memory back.
  void Clear();

  // The number of pairs held, duplicates counted.
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The number of pairs whose key is cid.
  size_t Count(const std::wstring& cid) const;
  // The number of pairs whose album id is albumId.
  size_t CountOfAlbum(int32_t albumId) const;
  // Writes the album ids of the pairs whose key is cid, in the index's order, into
  // out[0, Count(cid)). REQUIRES: out has room for Count(cid) ids.
  void CopyAlbumIds(const std::wstring& cid, int32_t* out) const;
  // Calls visit(cid, albumId) for every pair in the index's order. REQUIRES: visit does
  // not change the index.
  void ForEach(const std::function<void(const std::wstring&, int32_t)>& visit) const;

  // The number of distinct keys kept compact (20 raw bytes) and as text. For tests and
  // measurements.
  size_t CompactKeyCount() const { return compactCount_; }
  size_t TextKeyCount() const { return text_.size(); }

 private:
  // A key of 40 hexadecimal digits of one case, decoded.
  struct CompactKey {
    uint8_t bytes[20];
    bool lower;  // the letters a-f were lower case (keys without letters count as upper)
  };

  // One compact key with its album ids. more: bit 31 is the key's lower-case flag; the
  // rest is 0 when the key has one album id, else 1 + the index in extra_ of the vector
  // holding the ids after the first.
  struct Entry {
    uint8_t bytes[20];
    int32_t first;
    uint32_t more;
  };

  // The album ids of one text key in insertion order; never empty while in the table.
  class AlbumIds {
   public:
    explicit AlbumIds(int32_t first) : first_(first) {}
    size_t size() const { return rest_.size() + 1; }
    int32_t at(size_t i) const { return i == 0 ? first_ : rest_[i - 1]; }
    void push_back(int32_t id) { rest_.push_back(id); }
    // Erases the id at i. REQUIRES: i < size() and size() > 1.
    void erase(size_t i);
    // Erases every id for which gone(id) holds and returns how many. *all is set when
    // every id went (the list is then left as it was: the caller drops it).
    template <typename Gone>
    size_t EraseAll(Gone gone, bool* all);

   private:
    int32_t first_;
    std::vector<int32_t> rest_;
  };

  static constexpr uint32_t kLowerFlag = 0x80000000u;
  static constexpr uint32_t kMoreMask = 0x7FFFFFFFu;
  static constexpr size_t kBlockShift = 10;  // 1024 entries (28 KiB) a block
  static constexpr size_t kBlockSize = size_t(1) << kBlockShift;
  static constexpr uint32_t kNoEntry = 0xFFFFFFFFu;

  // True (and *key filled) when cid is 40 hexadecimal digits with letters of one case.
  template <typename Char>
  static bool ParseCompact(std::basic_string_view<Char> cid, CompactKey* key);
  static bool ParseCompact(std::wstring_view cid, CompactKey* key) {
    return ParseCompact<wchar_t>(cid, key);
  }
  static size_t HashOf(const uint8_t* bytes, bool lower);
  static bool LowerOf(const Entry& entry) { return (entry.more & kLowerFlag) != 0; }
  // The byte of a key's hash kept beside its slot: a probe reads a slot's entry only when
  // the tags agree (a large index does not fit the caches, and each entry read misses).
  static uint8_t TagOf(size_t hash) { return static_cast<uint8_t>(hash >> (8 * sizeof hash - 8)); }
  static bool SameKey(const Entry& entry, const CompactKey& key);
  // Writes the 40 digits of entry's key into out[0, 40).
  static void WriteHex(const Entry& entry, wchar_t* out);
  // Ordinary string order of the two keys' texts: negative, zero or positive.
  static int CompareEntries(const Entry& a, const Entry& b);

  Entry& At(uint32_t i) { return blocks_[i >> kBlockShift][i & (kBlockSize - 1)]; }
  const Entry& At(uint32_t i) const { return blocks_[i >> kBlockShift][i & (kBlockSize - 1)]; }
  // The number of ids of entry, and the id at i.
  size_t IdCount(const Entry& entry) const;
  int32_t IdAt(const Entry& entry, size_t i) const;

  // The slot holding key's entry, or kNoEntry. hash: HashOf(key).
  uint32_t FindSlot(const CompactKey& key) const;
  uint32_t FindSlot(const CompactKey& key, size_t hash) const;
  // The slot holding entry number e (which is in the table).
  uint32_t SlotOfEntry(uint32_t e) const;
  // Puts entry number e, whose key hashes to hash, into the table. REQUIRES: room for
  // it, its key not there yet.
  void InsertSlot(uint32_t e, size_t hash);
  void InsertSlot(uint32_t e);
  // Empties slot s, shifting later entries of its probe run back (no tombstones).
  void EraseSlot(uint32_t s);
  // Builds the table anew with the given number of slots (a power of two).
  void Rehash(size_t slotCount);
  // An empty table of slotCount slots; no table.
  void AssignTable(size_t slotCount);
  void FreeTable();
  // Appends a compact entry and returns its number.
  uint32_t AppendEntry(const CompactKey& key, int32_t albumId);
  // Removes entry number e (its slot and its extra ids), moving the last entry into its
  // place.
  void RemoveEntry(uint32_t e);
  // hash: HashOf(key).
  void AddCompact(const CompactKey& key, size_t hash, int32_t albumId);
  // Adds count pairs in order; next(&key, &albumId) gives the next one's key and album,
  // false for a key it has added itself (one that is not compact). The slots of a run of
  // compact keys are loaded ahead of their turn: a large index no longer fits the caches,
  // and one miss after another is most of the cost of filling it.
  template <typename Next>
  void AddRun(size_t count, Next next);
  // One more pair of albumId in albumCounts_, and in size_.
  void CountOne(int32_t albumId);
  void AddText(const std::wstring& cid, int32_t albumId);
  uint32_t NewExtra();
  void FreeExtra(uint32_t index);
  // Removes every pair whose album id gone(id) names, in one scan of the index; returns
  // how many. The caller drops the albums' counts.
  template <typename Gone>
  size_t RemoveIf(Gone gone);
  // One pair of albumId fewer in albumCounts_.
  void UncountOne(int32_t albumId);

  // Compact keys: entries 0 .. compactCount_-1 in blocks_, found through slots_ (each
  // slot holds an entry number + 1, 0 when empty; at most half of them are used).
  std::vector<std::unique_ptr<Entry[]>> blocks_;
  std::vector<uint32_t> slots_;
  std::vector<uint8_t> tags_;  // TagOf the hash of each used slot's key
  size_t compactCount_ = 0;
  // The ids after the first of compact keys with several; freed vectors are reused.
  std::vector<std::vector<int32_t>> extra_;
  std::vector<uint32_t> freeExtra_;
  // Every other key.
  std::unordered_map<std::wstring, AlbumIds> text_;
  size_t size_ = 0;
  // The number of pairs of each album that holds any.
  std::unordered_map<int32_t, size_t> albumCounts_;
};

// Pairs gathered for one CidIndex::AddBatch (a whole index read from elsewhere, before
// anything changes): a key of 40 hexadecimal digits of one case kept as its 20 bytes, 28
// with its album id, no text of its own; any other key as text.
class CidIndex::Batch {
 public:
  void Reserve(size_t count) { hex_.reserve(count); }
  // Adds (cid, albumId) when cid, narrow text, is 40 hexadecimal digits of one case;
  // false, nothing added, for any other key (the caller adds it as wide text).
  bool AddHex(std::string_view cid, int32_t albumId);
  void AddText(std::wstring cid, int32_t albumId) { text_.emplace_back(std::move(cid), albumId); }
  size_t size() const { return hex_.size() + text_.size(); }

 private:
  friend class CidIndex;
  struct HexPair {
    CompactKey key;
    int32_t albumId;
  };
  std::vector<HexPair> hex_;
  std::vector<Pair> text_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SESSION_CIDINDEX_H_
