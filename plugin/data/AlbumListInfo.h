// AlbumListInfo: the albums of one user, in list order. The host reads it through
// IZQAlbumListInfo; the plug-in fills and edits it through the class.
// No lock of its own: the plug-in touches lists under the session's album-list lock.
#ifndef ZQBLOG_DATA_ALBUMLISTINFO_H_
#define ZQBLOG_DATA_ALBUMLISTINFO_H_

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "data/AlbumInfo.h"
#include "interfaces/IZQAlbumListInfo.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

class AlbumListInfo : public CComObjectRootEx<CComMultiThreadModel>, public IZQAlbumListInfo {
 public:
  BEGIN_COM_MAP(AlbumListInfo)
  COM_INTERFACE_ENTRY(IZQAlbumListInfo)
  END_COM_MAP()

  AlbumListInfo() = default;
  AlbumListInfo(const AlbumListInfo&) = delete;
  AlbumListInfo& operator=(const AlbumListInfo&) = delete;

  // IZQAlbumListInfo
  STDMETHOD(GetAlbumCount)(int* count) override;
  STDMETHOD(GetAlbum)(int index, IZQAlbumInfo** album) override;
  STDMETHOD(GetAlbumById)(int id, IZQAlbumInfo** album) override;

  // Creates an album, appends it and keeps one reference on it. Returns it without a
  // reference for the caller; null when it cannot be created.
  AlbumInfo* NewAlbum();
  // Inserts album: position -1 appends, 0 inserts at the front (an empty list
  // included), 1 to count - 1 inserts before that index. Any other position, or a null
  // album, inserts nothing and returns false. On success the list keeps one reference.
  // The list takes AlbumInfo objects only, because Clear empties their resources.
  bool InsertAlbum(int position, AlbumInfo* album);
  // Removes the first album whose id is id and releases it; false when none has it.
  // The album keeps its resources (the host may still hold it).
  bool RemoveAlbum(int id);
  // Empties every album's resources, releases every album and empties the list.
  void Clear();
  // Removes every album whose id is not in keep and releases it, in one pass; the rest
  // keep their order. The albums keep their resources.
  void RemoveAlbumsNotIn(const std::unordered_set<int>& keep);
  // The first album whose id is id, or null. No reference is added.
  AlbumInfo* FindAlbum(int id) const;
  // Every album by id, the first of each id in list order, as FindAlbum finds it; room
  // is made for extra more. For finding many ids at one lookup each. No reference is
  // added.
  std::unordered_map<int, AlbumInfo*> AlbumsById(size_t extra = 0) const;
  // The first resource with id resourceId, searching the albums in order and each
  // album's resources in order; null when there is none. No reference is added.
  IZQResInfo* FindResourceInList(int resourceId) const;

 private:
  std::vector<CComPtr<AlbumInfo>> albums_;  // one reference on each
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_ALBUMLISTINFO_H_
