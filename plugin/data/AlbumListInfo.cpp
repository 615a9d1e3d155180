#include "data/AlbumListInfo.h"

#include <algorithm>
#include <utility>

#include "data/BstrText.h"

namespace Velmora {
namespace ZQBlog {

namespace {

int IdOf(AlbumInfo* album) {
  int id = 0;
  album->GetId(&id);
  return id;
}

}  // namespace

STDMETHODIMP AlbumListInfo::GetAlbumCount(int* count) {
  return CopyToInt(static_cast<int>(albums_.size()), count);
}

STDMETHODIMP AlbumListInfo::GetAlbum(int index, IZQAlbumInfo** album) {
  if (album == nullptr) return E_POINTER;
  if (index < 0 || static_cast<size_t>(index) >= albums_.size()) return E_INVALIDARG;
  AlbumInfo* found = albums_[index];
  found->AddRef();
  *album = found;
  return S_OK;
}

STDMETHODIMP AlbumListInfo::GetAlbumById(int id, IZQAlbumInfo** album) {
  if (album == nullptr) return E_POINTER;
  AlbumInfo* found = FindAlbum(id);
  *album = found;
  if (found == nullptr) return E_FAIL;
  found->AddRef();
  return S_OK;
}

AlbumInfo* AlbumListInfo::NewAlbum() {
  CComObject<AlbumInfo>* album = nullptr;
  if (FAILED(CComObject<AlbumInfo>::CreateInstance(&album))) return nullptr;
  albums_.push_back(CComPtr<AlbumInfo>(album));
  return album;
}

bool AlbumListInfo::InsertAlbum(int position, AlbumInfo* album) {
  if (album == nullptr || !AlbumInfo::IsInsertPosition(position, albums_.size())) return false;
  auto where = position == -1 ? albums_.end() : albums_.begin() + position;
  albums_.insert(where, CComPtr<AlbumInfo>(album));
  return true;
}

bool AlbumListInfo::RemoveAlbum(int id) {
  auto it = std::find_if(albums_.begin(), albums_.end(),
                         [id](const CComPtr<AlbumInfo>& a) { return IdOf(a) == id; });
  if (it == albums_.end()) return false;
  albums_.erase(it);  // releases the list's reference
  return true;
}

void AlbumListInfo::Clear() {
  std::vector<CComPtr<AlbumInfo>> released;
  released.swap(albums_);
  for (const CComPtr<AlbumInfo>& album : released) album->ClearResources();
}

void AlbumListInfo::RemoveAlbumsNotIn(const std::unordered_set<int>& keep) {
  std::vector<CComPtr<AlbumInfo>> kept;
  kept.reserve(albums_.size());
  for (CComPtr<AlbumInfo>& album : albums_) {
    if (keep.count(IdOf(album)) != 0) kept.push_back(std::move(album));
  }
  albums_.swap(kept);  // the albums left in kept are released with it
}

std::unordered_map<int, AlbumInfo*> AlbumListInfo::AlbumsById(size_t extra) const {
  std::unordered_map<int, AlbumInfo*> byId;
  byId.reserve(albums_.size() + extra);
  for (const CComPtr<AlbumInfo>& album : albums_) byId.emplace(IdOf(album), album);
  return byId;
}

AlbumInfo* AlbumListInfo::FindAlbum(int id) const {
  for (const CComPtr<AlbumInfo>& album : albums_) {
    if (IdOf(album) == id) return album;
  }
  return nullptr;
}

IZQResInfo* AlbumListInfo::FindResourceInList(int resourceId) const {
  for (const CComPtr<AlbumInfo>& album : albums_) {
    IZQResInfo* resource = album->FindResource(resourceId);
    if (resource != nullptr) return resource;
  }
  return nullptr;
}

}  // namespace ZQBlog
}  // namespace Velmora
