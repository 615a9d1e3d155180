#include "data/ResourceInfo.h"

#include "data/BstrText.h"
#include "data/RecordText.h"

namespace Velmora {
namespace ZQBlog {

STDMETHODIMP ResourceInfo::GetId(int* id) { return CopyToInt(id_, id); }
STDMETHODIMP ResourceInfo::SetId(int id) {
  id_ = id;
  return S_OK;
}
STDMETHODIMP ResourceInfo::GetCid(BSTR* cid) { return CopyToBstr(cid_, cid); }
STDMETHODIMP ResourceInfo::SetCid(LPCWSTR cid) { return AssignText(&cid_, cid); }
STDMETHODIMP ResourceInfo::GetGcid(BSTR* gcid) { return CopyToBstr(gcid_, gcid); }
STDMETHODIMP ResourceInfo::SetGcid(LPCWSTR gcid) { return AssignText(&gcid_, gcid); }
STDMETHODIMP ResourceInfo::GetResName(BSTR* name) { return CopyToBstr(res_name_, name); }
STDMETHODIMP ResourceInfo::SetResName(LPCWSTR name) { return AssignText(&res_name_, name); }
STDMETHODIMP ResourceInfo::GetFormat(BSTR* format) { return CopyToBstr(format_, format); }
STDMETHODIMP ResourceInfo::SetFormat(LPCWSTR format) { return AssignText(&format_, format); }
STDMETHODIMP ResourceInfo::GetSize(BSTR* size) { return CopyToBstr(size_, size); }
STDMETHODIMP ResourceInfo::SetSize(LPCWSTR size) { return AssignText(&size_, size); }
STDMETHODIMP ResourceInfo::GetLastTime(BSTR* lastTime) { return CopyToBstr(last_time_, lastTime); }
STDMETHODIMP ResourceInfo::SetLastTime(LPCWSTR lastTime) {
  return AssignText(&last_time_, lastTime);
}
STDMETHODIMP ResourceInfo::GetUrl(BSTR* url) { return CopyToBstr(url_, url); }
STDMETHODIMP ResourceInfo::SetUrl(LPCWSTR url) { return AssignText(&url_, url); }
STDMETHODIMP ResourceInfo::GetOriginal(BSTR* original) { return CopyToBstr(original_, original); }
STDMETHODIMP ResourceInfo::SetOriginal(LPCWSTR original) {
  return AssignText(&original_, original);
}
STDMETHODIMP ResourceInfo::GetRefer(BSTR* refer) { return CopyToBstr(refer_, refer); }
STDMETHODIMP ResourceInfo::SetRefer(LPCWSTR refer) { return AssignText(&refer_, refer); }
STDMETHODIMP ResourceInfo::GetDesc(BSTR* desc) { return CopyToBstr(desc_, desc); }
STDMETHODIMP ResourceInfo::SetDesc(LPCWSTR desc) { return AssignText(&desc_, desc); }
STDMETHODIMP ResourceInfo::GetResType(int* resType) { return CopyToInt(res_type_, resType); }
STDMETHODIMP ResourceInfo::SetResType(int resType) {
  res_type_ = resType;
  return S_OK;
}
STDMETHODIMP ResourceInfo::GetState(int* state) { return CopyToInt(state_, state); }
STDMETHODIMP ResourceInfo::SetState(int state) {
  state_ = state;
  return S_OK;
}
STDMETHODIMP ResourceInfo::GetCategoryId(int* categoryId) {
  return CopyToInt(category_id_, categoryId);
}
STDMETHODIMP ResourceInfo::SetCategoryId(int categoryId) {
  category_id_ = categoryId;
  return S_OK;
}
STDMETHODIMP ResourceInfo::GetUin(BSTR* uin) { return CopyToBstr(uin_, uin); }
STDMETHODIMP ResourceInfo::SetUin(LPCWSTR uin) { return AssignText(&uin_, uin); }

void ResourceInfo::CopyFrom(const ResourceInfo& other) {
  if (&other == this) return;
  id_ = other.id_;
  cid_ = other.cid_;
  gcid_ = other.gcid_;
  res_name_ = other.res_name_;
  format_ = other.format_;
  size_ = other.size_;
  last_time_ = other.last_time_;
  url_ = other.url_;
  original_ = other.original_;
  refer_ = other.refer_;
  desc_ = other.desc_;
  res_type_ = other.res_type_;
  state_ = other.state_;
  category_id_ = other.category_id_;
  uin_ = other.uin_;
}

namespace {

// Reads one text through a getter of other into *field; a failing getter changes nothing.
void CopyTextThrough(IZQResInfo* other, HRESULT (STDMETHODCALLTYPE IZQResInfo::*getter)(BSTR*),
                     std::wstring* field) {
  ScopedBstr text;
  if (SUCCEEDED((other->*getter)(text.Receive()))) *field = text.ToWide();
}

void CopyIntThrough(IZQResInfo* other, HRESULT (STDMETHODCALLTYPE IZQResInfo::*getter)(int*),
                    int* field) {
  int value = 0;
  if (SUCCEEDED((other->*getter)(&value))) *field = value;
}

}  // namespace

void ResourceInfo::CopyFrom(IZQResInfo* other) {
  if (other == nullptr) return;
  CopyIntThrough(other, &IZQResInfo::GetId, &id_);
  CopyTextThrough(other, &IZQResInfo::GetCid, &cid_);
  CopyTextThrough(other, &IZQResInfo::GetGcid, &gcid_);
  CopyTextThrough(other, &IZQResInfo::GetResName, &res_name_);
  CopyTextThrough(other, &IZQResInfo::GetFormat, &format_);
  CopyTextThrough(other, &IZQResInfo::GetSize, &size_);
  CopyTextThrough(other, &IZQResInfo::GetLastTime, &last_time_);
  CopyTextThrough(other, &IZQResInfo::GetUrl, &url_);
  CopyTextThrough(other, &IZQResInfo::GetOriginal, &original_);
  CopyTextThrough(other, &IZQResInfo::GetRefer, &refer_);
  CopyTextThrough(other, &IZQResInfo::GetDesc, &desc_);
  CopyIntThrough(other, &IZQResInfo::GetResType, &res_type_);
  CopyIntThrough(other, &IZQResInfo::GetState, &state_);
  CopyIntThrough(other, &IZQResInfo::GetCategoryId, &category_id_);
  CopyTextThrough(other, &IZQResInfo::GetUin, &uin_);
}

int ResourceInfo::RecordResType(int resType) {
  return (resType == 0 || resType == 1) ? resType : 2;
}

int ResourceInfo::RecordSize() const {
  const std::wstring* texts[] = {&cid_,      &gcid_,     &res_name_, &format_,
                                 &size_,     &last_time_, &url_,     &original_,
                                 &refer_,    &desc_,     &uin_};
  int size = 4 * kIntItemSize;
  for (const std::wstring* text : texts) size += TextItemSize(*text);
  return size;
}

bool ResourceInfo::WriteRecord(RecordWriter& writer) const {
  writer.WriteInt(id_);
  WriteTextItem(&writer, cid_);
  WriteTextItem(&writer, gcid_);
  WriteTextItem(&writer, res_name_);
  WriteTextItem(&writer, format_);
  WriteTextItem(&writer, size_);
  WriteTextItem(&writer, last_time_);
  WriteTextItem(&writer, url_);
  WriteTextItem(&writer, original_);
  WriteTextItem(&writer, refer_);
  WriteTextItem(&writer, desc_);
  writer.WriteInt(RecordResType(res_type_));
  writer.WriteInt(state_);
  writer.WriteInt(category_id_);
  WriteTextItem(&writer, uin_);
  // A writer that failed once writes nothing more, so one check covers every item.
  return writer.ok();
}

bool ResourceInfo::ReadRecord(RecordReader& reader) {
  int32_t value = 0;
  if (!reader.ReadInt(&value)) return false;
  id_ = value;
  if (!ReadTextItem(&reader, kLongTextLimit, &cid_)) return false;
  if (!ReadTextItem(&reader, kLongTextLimit, &gcid_)) return false;
  if (!ReadTextItem(&reader, kLongTextLimit, &res_name_)) return false;
  if (!ReadTextItem(&reader, kShortTextLimit, &format_)) return false;
  if (!ReadTextItem(&reader, kShortTextLimit, &size_)) return false;
  if (!ReadTextItem(&reader, kShortTextLimit, &last_time_)) return false;
  if (!ReadTextItem(&reader, kLongTextLimit, &url_)) return false;
  if (!ReadTextItem(&reader, kLongTextLimit, &original_)) return false;
  if (!ReadTextItem(&reader, kLongTextLimit, &refer_)) return false;
  if (!ReadTextItem(&reader, kLongTextLimit, &desc_)) return false;
  if (!reader.ReadInt(&value)) return false;
  res_type_ = RecordResType(value);
  if (!reader.ReadInt(&value)) return false;
  state_ = value;
  if (!reader.ReadInt(&value)) return false;
  category_id_ = value;
  return ReadTextItem(&reader, kShortTextLimit, &uin_);
}

}  // namespace ZQBlog
}  // namespace Velmora
