#include "data/AlbumInfo.h"

#include <algorithm>

#include "data/BstrText.h"
#include "data/RecordText.h"

namespace Velmora {
namespace ZQBlog {

namespace {

int IdOf(IZQResInfo* resource) {
  int id = 0;
  resource->GetId(&id);
  return id;
}

}  // namespace

STDMETHODIMP AlbumInfo::GetId(int* id) { return CopyToInt(id_, id); }
STDMETHODIMP AlbumInfo::SetId(int id) {
  id_ = id;
  return S_OK;
}
STDMETHODIMP AlbumInfo::GetCategoryName(BSTR* name) { return CopyToBstr(category_name_, name); }
STDMETHODIMP AlbumInfo::SetCategoryName(LPCWSTR name) {
  return AssignText(&category_name_, name);
}
STDMETHODIMP AlbumInfo::GetShowStatus(int* showStatus) {
  return CopyToInt(show_status_, showStatus);
}
STDMETHODIMP AlbumInfo::SetShowStatus(int showStatus) {
  show_status_ = showStatus;
  return S_OK;
}
STDMETHODIMP AlbumInfo::GetCategoryType(int* categoryType) {
  return CopyToInt(category_type_, categoryType);
}
STDMETHODIMP AlbumInfo::SetCategoryType(int categoryType) {
  category_type_ = categoryType;
  return S_OK;
}
STDMETHODIMP AlbumInfo::GetDesc(BSTR* desc) { return CopyToBstr(desc_, desc); }
STDMETHODIMP AlbumInfo::SetDesc(LPCWSTR desc) { return AssignText(&desc_, desc); }
STDMETHODIMP AlbumInfo::GetLastTime(BSTR* lastTime) { return CopyToBstr(last_time_, lastTime); }
STDMETHODIMP AlbumInfo::SetLastTime(LPCWSTR lastTime) { return AssignText(&last_time_, lastTime); }
STDMETHODIMP AlbumInfo::GetTagNum(int* tagNum) { return CopyToInt(tag_num_, tagNum); }
STDMETHODIMP AlbumInfo::SetTagNum(int tagNum) {
  tag_num_ = tagNum;
  return S_OK;
}

STDMETHODIMP AlbumInfo::GetTag(int index, BSTR* tag) {
  if (tag == nullptr) return E_POINTER;
  if (index < 0 || index >= kTagSlots) return S_OK;
  return CopyToBstr(tags_[index], tag);
}

STDMETHODIMP AlbumInfo::SetTag(int index, LPCWSTR tag) {
  if (index < 0 || index >= kTagSlots) return S_OK;
  return AssignText(&tags_[index], tag);
}

STDMETHODIMP AlbumInfo::GetPicUrl(BSTR* picUrl) { return CopyToBstr(pic_url_, picUrl); }
STDMETHODIMP AlbumInfo::SetPicUrl(LPCWSTR picUrl) { return AssignText(&pic_url_, picUrl); }
STDMETHODIMP AlbumInfo::GetNewlyAddedResNum(int* count) {
  return CopyToInt(newly_added_res_num_, count);
}
STDMETHODIMP AlbumInfo::SetNewlyAddedResNum(int count) {
  newly_added_res_num_ = count;
  return S_OK;
}

STDMETHODIMP AlbumInfo::GetResourceCount(int* count) {
  return CopyToInt(static_cast<int>(resources_.size()), count);
}

STDMETHODIMP AlbumInfo::GetResource(int index, IZQResInfo** resource) {
  if (resource == nullptr) return E_POINTER;
  if (index < 0 || static_cast<size_t>(index) >= resources_.size()) return E_INVALIDARG;
  return resources_[index].CopyTo(resource);
}

IZQResInfo* AlbumInfo::FindResource(int id) const {
  for (const CComPtr<IZQResInfo>& resource : resources_) {
    if (IdOf(resource) == id) return resource;
  }
  return nullptr;
}

std::unordered_map<int, IZQResInfo*> AlbumInfo::ResourcesById(size_t extra) const {
  std::unordered_map<int, IZQResInfo*> byId;
  byId.reserve(resources_.size() + extra);
  for (const CComPtr<IZQResInfo>& resource : resources_) byId.emplace(IdOf(resource), resource);
  return byId;
}

bool AlbumInfo::RemoveResource(int id) {
  auto it = std::find_if(resources_.begin(), resources_.end(),
                         [id](const CComPtr<IZQResInfo>& r) { return IdOf(r) == id; });
  if (it == resources_.end()) return false;
  resources_.erase(it);  // releases the album's reference
  return true;
}

ResourceInfo* AlbumInfo::NewResource() {
  CComObject<ResourceInfo>* resource = nullptr;
  if (FAILED(CComObject<ResourceInfo>::CreateInstance(&resource))) return nullptr;
  resources_.push_front(CComPtr<IZQResInfo>(resource));
  return resource;
}

bool AlbumInfo::InsertResource(int position, IZQResInfo* resource) {
  if (resource == nullptr || !IsInsertPosition(position, resources_.size())) return false;
  auto where = position == -1 ? resources_.end() : resources_.begin() + position;
  resources_.insert(where, CComPtr<IZQResInfo>(resource));
  return true;
}

void AlbumInfo::ClearResources() {
  // Move the list out first: a resource released here may not call back into a list
  // that is half destroyed.
  std::deque<CComPtr<IZQResInfo>> released;
  released.swap(resources_);
}

bool AlbumInfo::IsInsertPosition(int position, size_t count) {
  return position == -1 || position == 0 ||
         (position > 0 && static_cast<size_t>(position) < count);
}

int AlbumInfo::TagsInUse(int tagNum) { return std::min(std::max(tagNum, 0), kTagSlots); }

void AlbumInfo::CopyFrom(const AlbumInfo& other) {
  if (&other == this) return;
  id_ = other.id_;
  category_name_ = other.category_name_;
  show_status_ = other.show_status_;
  category_type_ = other.category_type_;
  desc_ = other.desc_;
  pic_url_ = other.pic_url_;
  tag_num_ = other.tag_num_;
  for (int i = 0; i < TagsInUse(tag_num_); ++i) tags_[i] = other.tags_[i];
}

void AlbumInfo::CopyFrom(IZQAlbumInfo* other) {
  if (other == nullptr) return;
  int value = 0;
  ScopedBstr text;
  if (SUCCEEDED(other->GetId(&value))) id_ = value;
  if (SUCCEEDED(other->GetCategoryName(text.Receive()))) category_name_ = text.ToWide();
  if (SUCCEEDED(other->GetShowStatus(&value))) show_status_ = value;
  if (SUCCEEDED(other->GetCategoryType(&value))) category_type_ = value;
  if (SUCCEEDED(other->GetDesc(text.Receive()))) desc_ = text.ToWide();
  if (SUCCEEDED(other->GetPicUrl(text.Receive()))) pic_url_ = text.ToWide();
  if (SUCCEEDED(other->GetTagNum(&value))) tag_num_ = value;
  for (int i = 0; i < TagsInUse(tag_num_); ++i) {
    // A getter that leaves its output untouched gives a null BSTR: an empty tag.
    if (SUCCEEDED(other->GetTag(i, text.Receive()))) tags_[i] = text.ToWide();
  }
}

int AlbumInfo::RecordSize() const {
  int size = 4 * kIntItemSize + TextItemSize(category_name_) + TextItemSize(desc_) +
             TextItemSize(last_time_) + TextItemSize(pic_url_);
  for (int i = 0; i < TagsInUse(tag_num_); ++i) size += TextItemSize(tags_[i]);
  return size;
}

bool AlbumInfo::WriteRecord(RecordWriter& writer) const {
  writer.WriteInt(id_);
  WriteTextItem(&writer, category_name_);
  writer.WriteInt(show_status_ != 0 ? 1 : 0);
  writer.WriteInt(category_type_);
  WriteTextItem(&writer, desc_);
  WriteTextItem(&writer, last_time_);
  WriteTextItem(&writer, pic_url_);
  writer.WriteInt(tag_num_);
  for (int i = 0; i < TagsInUse(tag_num_); ++i) WriteTextItem(&writer, tags_[i]);
  // A writer that failed once writes nothing more, so one check covers every item.
  return writer.ok();
}

bool AlbumInfo::ReadRecord(RecordReader& reader) {
  int32_t value = 0;
  if (!reader.ReadInt(&value)) return false;
  id_ = value;
  if (!ReadTextItem(&reader, kTextLimit, &category_name_)) return false;
  if (!reader.ReadInt(&value)) return false;
  show_status_ = value != 0 ? 1 : 0;
  if (!reader.ReadInt(&value)) return false;
  category_type_ = value;
  if (!ReadTextItem(&reader, kTextLimit, &desc_)) return false;
  if (!ReadTextItem(&reader, kTextLimit, &last_time_)) return false;
  if (!ReadTextItem(&reader, kTextLimit, &pic_url_)) return false;
  if (!reader.ReadInt(&value)) return false;
  tag_num_ = value;
  for (int i = 0; i < TagsInUse(tag_num_); ++i) {
    if (!ReadTextItem(&reader, kTextLimit, &tags_[i])) return false;
  }
  return true;
}

}  // namespace ZQBlog
}  // namespace Velmora
