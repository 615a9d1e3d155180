#include "session/CidIndex.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace Velmora {
namespace ZQBlog {

void CidIndex::AlbumIds::erase(size_t i) {
  if (i == 0) {
    first_ = rest_.front();
    rest_.erase(rest_.begin());
  } else {
    rest_.erase(rest_.begin() + static_cast<std::ptrdiff_t>(i - 1));
  }
}

size_t CidIndex::AlbumIds::EraseAll(int32_t albumId, bool* all) {
  size_t before = size();
  size_t kept = (first_ != albumId ? 1 : 0) +
                static_cast<size_t>(std::count_if(rest_.begin(), rest_.end(),
                                                  [albumId](int32_t id) { return id != albumId; }));
  *all = kept == 0;
  if (kept == before || kept == 0) return before - kept;
  // Compact the survivors to the front, the first one inline.
  std::vector<int32_t> survivors;
  survivors.reserve(kept);
  if (first_ != albumId) survivors.push_back(first_);
  for (int32_t id : rest_) {
    if (id != albumId) survivors.push_back(id);
  }
  first_ = survivors.front();
  rest_.assign(survivors.begin() + 1, survivors.end());
  return before - kept;
}

void CidIndex::Add(const std::wstring& cid, int32_t albumId) {
  auto found = table_.find(cid);
  if (found == table_.end()) {
    table_.emplace(cid, AlbumIds(albumId));
  } else {
    found->second.push_back(albumId);
  }
  ++size_;
}

void CidIndex::AddAll(const std::vector<Pair>& pairs) {
  // A first fill (the content-id table of a user) knows its size: one rehash at most.
  if (table_.empty()) table_.reserve(pairs.size());
  for (const Pair& pair : pairs) Add(pair.first, pair.second);
}

bool CidIndex::RemoveFirst(const std::wstring& cid, int32_t albumId) {
  auto found = table_.find(cid);
  if (found == table_.end()) return false;
  AlbumIds& ids = found->second;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids.at(i) != albumId) continue;
    if (ids.size() == 1) {
      table_.erase(found);
    } else {
      ids.erase(i);
    }
    --size_;
    return true;
  }
  return false;
}

size_t CidIndex::RemoveAlbum(int32_t albumId) {
  size_t removed = 0;
  for (auto it = table_.begin(); it != table_.end();) {
    bool all = false;
    removed += it->second.EraseAll(albumId, &all);
    it = all ? table_.erase(it) : std::next(it);
  }
  size_ -= removed;
  return removed;
}

void CidIndex::Clear() {
  table_.clear();
  size_ = 0;
}

size_t CidIndex::Count(const std::wstring& cid) const {
  auto found = table_.find(cid);
  return found == table_.end() ? 0 : found->second.size();
}

void CidIndex::CopyAlbumIds(const std::wstring& cid, int32_t* out) const {
  auto found = table_.find(cid);
  if (found == table_.end()) return;
  const AlbumIds& ids = found->second;
  for (size_t i = 0; i < ids.size(); ++i) out[i] = ids.at(i);
}

void CidIndex::ForEach(const std::function<void(const std::wstring&, int32_t)>& visit) const {
  typedef std::unordered_map<std::wstring, AlbumIds>::value_type Entry;
  std::vector<const Entry*> entries;
  entries.reserve(table_.size());
  for (const Entry& entry : table_) entries.push_back(&entry);
  std::sort(entries.begin(), entries.end(),
            [](const Entry* a, const Entry* b) { return a->first < b->first; });
  for (const Entry* entry : entries) {
    for (size_t i = 0; i < entry->second.size(); ++i) visit(entry->first, entry->second.at(i));
  }
}

}  // namespace ZQBlog
}  // namespace Velmora
