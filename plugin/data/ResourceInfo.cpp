#include "data/ResourceInfo.h"

#include "data/BstrText.h"
#include "data/RecordText.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

typedef ResourceInfo::TextField Field;

HRESULT ResourceInfo::GetText(TextField field, BSTR* out) const {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  try {
    return CopyToBstr(Text(field), out);
  } catch (const ConversionError& error) {
    return FAILED(error.m_hr) ? error.m_hr : E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ResourceInfo::SetText(TextField field, LPCWSTR text) {
  try {
    texts_.Set(static_cast<size_t>(field),
               text == nullptr ? std::wstring_view() : std::wstring_view(text));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP ResourceInfo::GetId(int* id) { return CopyToInt(id_, id); }
STDMETHODIMP ResourceInfo::SetId(int id) {
  id_ = id;
  return S_OK;
}
STDMETHODIMP ResourceInfo::GetCid(BSTR* cid) { return GetText(Field::kCid, cid); }
STDMETHODIMP ResourceInfo::SetCid(LPCWSTR cid) { return SetText(Field::kCid, cid); }
STDMETHODIMP ResourceInfo::GetGcid(BSTR* gcid) { return GetText(Field::kGcid, gcid); }
STDMETHODIMP ResourceInfo::SetGcid(LPCWSTR gcid) { return SetText(Field::kGcid, gcid); }
STDMETHODIMP ResourceInfo::GetResName(BSTR* name) { return GetText(Field::kResName, name); }
STDMETHODIMP ResourceInfo::SetResName(LPCWSTR name) { return SetText(Field::kResName, name); }
STDMETHODIMP ResourceInfo::GetFormat(BSTR* format) { return GetText(Field::kFormat, format); }
STDMETHODIMP ResourceInfo::SetFormat(LPCWSTR format) { return SetText(Field::kFormat, format); }
STDMETHODIMP ResourceInfo::GetSize(BSTR* size) { return GetText(Field::kSize, size); }
STDMETHODIMP ResourceInfo::SetSize(LPCWSTR size) { return SetText(Field::kSize, size); }
STDMETHODIMP ResourceInfo::GetLastTime(BSTR* lastTime) {
  return GetText(Field::kLastTime, lastTime);
}
STDMETHODIMP ResourceInfo::SetLastTime(LPCWSTR lastTime) {
  return SetText(Field::kLastTime, lastTime);
}
STDMETHODIMP ResourceInfo::GetUrl(BSTR* url) { return GetText(Field::kUrl, url); }
STDMETHODIMP ResourceInfo::SetUrl(LPCWSTR url) { return SetText(Field::kUrl, url); }
STDMETHODIMP ResourceInfo::GetOriginal(BSTR* original) {
  return GetText(Field::kOriginal, original);
}
STDMETHODIMP ResourceInfo::SetOriginal(LPCWSTR original) {
  return SetText(Field::kOriginal, original);
}
STDMETHODIMP ResourceInfo::GetRefer(BSTR* refer) { return GetText(Field::kRefer, refer); }
STDMETHODIMP ResourceInfo::SetRefer(LPCWSTR refer) { return SetText(Field::kRefer, refer); }
STDMETHODIMP ResourceInfo::GetDesc(BSTR* desc) { return GetText(Field::kDesc, desc); }
STDMETHODIMP ResourceInfo::SetDesc(LPCWSTR desc) { return SetText(Field::kDesc, desc); }
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
STDMETHODIMP ResourceInfo::GetUin(BSTR* uin) { return GetText(Field::kUin, uin); }
STDMETHODIMP ResourceInfo::SetUin(LPCWSTR uin) { return SetText(Field::kUin, uin); }

void ResourceInfo::CopyFrom(const ResourceInfo& other) {
  if (&other == this) return;
  id_ = other.id_;
  texts_ = other.texts_;
  res_type_ = other.res_type_;
  state_ = other.state_;
  category_id_ = other.category_id_;
}

namespace {

// Reads one text through a getter of other into field of target, embedded zeros
// included; a failing getter changes nothing.
void CopyTextThrough(IZQResInfo* other, HRESULT (STDMETHODCALLTYPE IZQResInfo::*getter)(BSTR*),
                     ResourceInfo* target, Field field) {
  ScopedBstr text;
  if (FAILED((other->*getter)(text.Receive()))) return;
  const BSTR value = text.get();
  const size_t length = value == nullptr ? 0 : SysStringLen(value);
  target->SetWideText(field, std::wstring_view(value == nullptr ? L"" : value, length));
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
  CopyTextThrough(other, &IZQResInfo::GetCid, this, Field::kCid);
  CopyTextThrough(other, &IZQResInfo::GetGcid, this, Field::kGcid);
  CopyTextThrough(other, &IZQResInfo::GetResName, this, Field::kResName);
  CopyTextThrough(other, &IZQResInfo::GetFormat, this, Field::kFormat);
  CopyTextThrough(other, &IZQResInfo::GetSize, this, Field::kSize);
  CopyTextThrough(other, &IZQResInfo::GetLastTime, this, Field::kLastTime);
  CopyTextThrough(other, &IZQResInfo::GetUrl, this, Field::kUrl);
  CopyTextThrough(other, &IZQResInfo::GetOriginal, this, Field::kOriginal);
  CopyTextThrough(other, &IZQResInfo::GetRefer, this, Field::kRefer);
  CopyTextThrough(other, &IZQResInfo::GetDesc, this, Field::kDesc);
  CopyIntThrough(other, &IZQResInfo::GetResType, &res_type_);
  CopyIntThrough(other, &IZQResInfo::GetState, &state_);
  CopyIntThrough(other, &IZQResInfo::GetCategoryId, &category_id_);
  CopyTextThrough(other, &IZQResInfo::GetUin, this, Field::kUin);
}

int ResourceInfo::RecordResType(int resType) {
  return (resType == 0 || resType == 1) ? resType : 2;
}

std::string_view ResourceInfo::AnsiText(TextField field, std::string* scratch) const {
  std::string_view bytes;
  UINT codePage = 0;
  // Plain ASCII reads the same in every code page the texts are kept in.
  if (TextBytes(field, &bytes, &codePage) &&
      ConvertsByteForByte(codePage, bytes.data(), bytes.size())) {
    return bytes;
  }
  const std::wstring wide = Text(field);
  *scratch = WideToMultiByte(ZqGetConversionACP(), wide.data(), wide.size());
  return *scratch;
}

void ResourceInfo::SetAnsiText(TextField field, std::string_view text) {
  SetTextBytes(field, text, ZqGetConversionACP());
}

int ResourceInfo::RecordSize() const {
  int size = 4 * kIntItemSize;
  std::string scratch;
  for (size_t i = 0; i < static_cast<size_t>(TextField::kCount); ++i) {
    size += StringItemSize(AnsiText(static_cast<TextField>(i), &scratch));
  }
  return size;
}

bool ResourceInfo::WriteRecord(RecordWriter& writer) const {
  std::string scratch;
  writer.WriteInt(id_);
  for (Field field : {Field::kCid, Field::kGcid, Field::kResName, Field::kFormat, Field::kSize,
                      Field::kLastTime, Field::kUrl, Field::kOriginal, Field::kRefer,
                      Field::kDesc}) {
    writer.WriteString(AnsiText(field, &scratch));
  }
  writer.WriteInt(RecordResType(res_type_));
  writer.WriteInt(state_);
  writer.WriteInt(category_id_);
  writer.WriteString(AnsiText(Field::kUin, &scratch));
  // A writer that failed once writes nothing more, so one check covers every item.
  return writer.ok();
}

void ResourceInfo::AppendRecord(std::vector<uint8_t>* out) const {
  std::string scratch;
  AppendIntItem(out, id_);
  for (Field field : {Field::kCid, Field::kGcid, Field::kResName, Field::kFormat, Field::kSize,
                      Field::kLastTime, Field::kUrl, Field::kOriginal, Field::kRefer,
                      Field::kDesc}) {
    AppendStringItem(out, AnsiText(field, &scratch));
  }
  AppendIntItem(out, RecordResType(res_type_));
  AppendIntItem(out, state_);
  AppendIntItem(out, category_id_);
  AppendStringItem(out, AnsiText(Field::kUin, &scratch));
}

bool ResourceInfo::ReadText(RecordReader& reader, int limit, TextField field) {
  std::string text;
  if (!reader.ReadString(&text, limit)) return false;
  SetAnsiText(field, text);
  return true;
}

bool ResourceInfo::ReadRecord(RecordReader& reader) {
  int32_t value = 0;
  if (!reader.ReadInt(&value)) return false;
  id_ = value;
  if (!ReadText(reader, kLongTextLimit, Field::kCid)) return false;
  if (!ReadText(reader, kLongTextLimit, Field::kGcid)) return false;
  if (!ReadText(reader, kLongTextLimit, Field::kResName)) return false;
  if (!ReadText(reader, kShortTextLimit, Field::kFormat)) return false;
  if (!ReadText(reader, kShortTextLimit, Field::kSize)) return false;
  if (!ReadText(reader, kShortTextLimit, Field::kLastTime)) return false;
  if (!ReadText(reader, kLongTextLimit, Field::kUrl)) return false;
  if (!ReadText(reader, kLongTextLimit, Field::kOriginal)) return false;
  if (!ReadText(reader, kLongTextLimit, Field::kRefer)) return false;
  if (!ReadText(reader, kLongTextLimit, Field::kDesc)) return false;
  if (!reader.ReadInt(&value)) return false;
  res_type_ = RecordResType(value);
  if (!reader.ReadInt(&value)) return false;
  state_ = value;
  if (!reader.ReadInt(&value)) return false;
  category_id_ = value;
  return ReadText(reader, kShortTextLimit, Field::kUin);
}

}  // namespace ZQBlog
}  // namespace Velmora
