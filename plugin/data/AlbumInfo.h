// AlbumInfo: one album ("category") of a user, in memory, with the resources it holds.
// The host reads and writes it through IZQAlbumInfo; the plug-in also searches, edits
// and copies it through the class, and carries it between the processes of a share
// session as an album record:
//   int Id, string CategoryName, int ShowStatus (1 when non-zero, else 0),
//   int CategoryType, string Desc, string LastTime, string PicUrl, int TagNum,
//   then one string per tag for the tags in use (at most three, see TagsInUse).
// Every string item is read with a limit of 100 bytes (the length field included).
// No lock of its own: the plug-in touches albums under the session's album-list lock.
#ifndef ZQBLOG_DATA_ALBUMINFO_H_
#define ZQBLOG_DATA_ALBUMINFO_H_

#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/ResourceInfo.h"
#include "interfaces/IZQAlbumInfo.h"
#include "platform/atl.h"
#include "util/RecordItem.h"

namespace Velmora {
namespace ZQBlog {

class AlbumInfo : public CComObjectRootEx<CComMultiThreadModel>, public IZQAlbumInfo {
 public:
  BEGIN_COM_MAP(AlbumInfo)
  COM_INTERFACE_ENTRY(IZQAlbumInfo)
  END_COM_MAP()

  // An album has three tag slots, whatever TagNum says.
  static constexpr int kTagSlots = 3;
  // Read limit of every string item of the record (the length field included).
  static constexpr int kTextLimit = 100;

  AlbumInfo() = default;
  AlbumInfo(const AlbumInfo&) = delete;
  AlbumInfo& operator=(const AlbumInfo&) = delete;

  // IZQAlbumInfo
  STDMETHOD(GetId)(int* id) override;
  STDMETHOD(SetId)(int id) override;
  STDMETHOD(GetCategoryName)(BSTR* name) override;
  STDMETHOD(SetCategoryName)(LPCWSTR name) override;
  STDMETHOD(GetShowStatus)(int* showStatus) override;
  STDMETHOD(SetShowStatus)(int showStatus) override;
  STDMETHOD(GetCategoryType)(int* categoryType) override;
  STDMETHOD(SetCategoryType)(int categoryType) override;
  STDMETHOD(GetDesc)(BSTR* desc) override;
  STDMETHOD(SetDesc)(LPCWSTR desc) override;
  STDMETHOD(GetLastTime)(BSTR* lastTime) override;
  STDMETHOD(SetLastTime)(LPCWSTR lastTime) override;
  STDMETHOD(GetTagNum)(int* tagNum) override;
  STDMETHOD(SetTagNum)(int tagNum) override;
  STDMETHOD(GetTag)(int index, BSTR* tag) override;
  STDMETHOD(SetTag)(int index, LPCWSTR tag) override;
  STDMETHOD(GetPicUrl)(BSTR* picUrl) override;
  STDMETHOD(SetPicUrl)(LPCWSTR picUrl) override;
  STDMETHOD(GetNewlyAddedResNum)(int* count) override;
  STDMETHOD(SetNewlyAddedResNum)(int count) override;
  STDMETHOD(GetResourceCount)(int* count) override;
  STDMETHOD(GetResource)(int index, IZQResInfo** resource) override;

  // The first resource whose GetId is id, or null. No reference is added.
  IZQResInfo* FindResource(int id) const;
  // The resources in album order. Valid until the album's resources change.
  const std::deque<CComPtr<IZQResInfo>>& Resources() const { return resources_; }
  // Every resource by id, the first of each id in album order, as FindResource finds
  // them, with room for extra more: one scan for many lookups. No reference is added;
  // the pointers are valid while the album keeps the resources.
  std::unordered_map<int, IZQResInfo*> ResourcesById(size_t extra = 0) const;
  // Removes the first resource whose id is id and releases it; false when none has it.
  bool RemoveResource(int id);
  // Creates a resource, puts it at the front and keeps one reference on it. Returns it
  // without a reference for the caller; null when it cannot be created.
  ResourceInfo* NewResource();
  // Inserts resource: position -1 appends, 0 inserts at the front (an empty album
  // included), 1 to count - 1 inserts before that index. Any other position, or a null
  // resource, inserts nothing and returns false. On success the album keeps one
  // reference.
  bool InsertResource(int position, IZQResInfo* resource);
  // Releases every resource and empties the list.
  void ClearResources();

  // Copies Id, CategoryName, ShowStatus, CategoryType, Desc, PicUrl, TagNum and the tags
  // in use from other. LastTime, NewlyAddedResNum, ResourcesLoaded and the resources
  // stay as they are.
  void CopyFrom(const AlbumInfo& other);
  // The same fields read through other's getters (GetId, GetCategoryName,
  // GetShowStatus, GetCategoryType, GetDesc, GetPicUrl, GetTagNum, then GetTag for each
  // tag in use); a getter that fails leaves its field as it was. Null does nothing.
  void CopyFrom(IZQAlbumInfo* other);

  // Whether the album's resource list has been taken over from the server.
  bool ResourcesLoaded() const { return resources_loaded_; }
  void SetResourcesLoaded(bool loaded) { resources_loaded_ = loaded; }

  // Whether position names a place to insert at in a list of count items: -1 (the
  // end), 0 (the front, also of an empty list) or 1 to count - 1.
  static bool IsInsertPosition(int position, size_t count);

  // The number of tags copied, written and read: TagNum limited to 0..kTagSlots.
  // TagNum itself is kept as it was set.
  static int TagsInUse(int tagNum);

  // The number of bytes WriteRecord writes.
  int RecordSize() const;
  // Writes the album record; false when it does not fit (the writer has failed).
  bool WriteRecord(RecordWriter& writer) const;
  // Reads an album record into the fields, in order. Stops at the first item that is
  // truncated or refused and returns false: that field and the ones after it keep
  // their values, the ones before it have been stored. NewlyAddedResNum,
  // ResourcesLoaded and the resources are not part of the record.
  bool ReadRecord(RecordReader& reader);

 private:
  int id_ = -1;
  std::wstring category_name_;
  int show_status_ = 0;
  int category_type_ = 0;
  std::wstring desc_;
  std::wstring last_time_;
  int tag_num_ = 0;
  std::wstring pic_url_;
  int newly_added_res_num_ = 0;
  std::wstring tags_[kTagSlots];
  bool resources_loaded_ = false;
  // One reference on each. A deque: a resource list reply puts every new resource at
  // the front, which a vector would pay for with a move of all the others each time.
  std::deque<CComPtr<IZQResInfo>> resources_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_ALBUMINFO_H_
