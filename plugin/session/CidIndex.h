// CidIndex: which albums hold a content id. A multiset of (cid, album id) pairs with
// the order of an ordered multimap: keys in ordinary string order, and the pairs of one
// key in the order they were added. Duplicate pairs are kept.
//
// Layout: a hash table from the key to the album ids of that key in insertion order,
// the first id stored inline (most keys are held by one album) and the rest in a vector.
// Adding and looking a key up cost one hash of the key instead of the O(log n) string
// comparisons of a tree, and a key's ids are contiguous. Only ForEach, which must hand
// the pairs out in key order, sorts: it sorts pointers to the keys, O(k log k) for k
// distinct keys. Removing every pair of an album scans the whole table.
//
// No lock of its own: the blog session guards it with its CidLock.
#ifndef ZQBLOG_SESSION_CIDINDEX_H_
#define ZQBLOG_SESSION_CIDINDEX_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
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
  void Add(const std::wstring& cid, int32_t albumId);
  // Adds the pairs in order, as Add would one by one.
  void AddAll(const std::vector<Pair>& pairs);

  // Removes the first pair (in the index's order) equal to (cid, albumId); false when
  // there is none.
  bool RemoveFirst(const std::wstring& cid, int32_t albumId);
  // Removes every pair whose album id is albumId; returns how many.
  size_t RemoveAlbum(int32_t albumId);
  // Removes every pair.
  void Clear();

  // The number of pairs held, duplicates counted.
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The number of pairs whose key is cid.
  size_t Count(const std::wstring& cid) const;
  // Writes the album ids of the pairs whose key is cid, in the index's order, into
  // out[0, Count(cid)). REQUIRES: out has room for Count(cid) ids.
  void CopyAlbumIds(const std::wstring& cid, int32_t* out) const;
  // Calls visit(cid, albumId) for every pair in the index's order. REQUIRES: visit does
  // not change the index.
  void ForEach(const std::function<void(const std::wstring&, int32_t)>& visit) const;

 private:
  // The album ids of one key in insertion order; never empty while in the table.
  class AlbumIds {
   public:
    explicit AlbumIds(int32_t first) : first_(first) {}
    size_t size() const { return rest_.size() + 1; }
    int32_t at(size_t i) const { return i == 0 ? first_ : rest_[i - 1]; }
    void push_back(int32_t id) { rest_.push_back(id); }
    // Erases the id at i. REQUIRES: i < size() and size() > 1.
    void erase(size_t i);
    // Erases every id equal to albumId and returns how many. *all is set when every id
    // was equal (the list is then left as it was: the caller drops it).
    size_t EraseAll(int32_t albumId, bool* all);

   private:
    int32_t first_;
    std::vector<int32_t> rest_;
  };

  std::unordered_map<std::wstring, AlbumIds> table_;
  size_t size_ = 0;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SESSION_CIDINDEX_H_
