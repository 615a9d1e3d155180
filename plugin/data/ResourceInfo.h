// ResourceInfo: one shared file of an album, in memory. The host reads and writes it
// through IZQResInfo; the plug-in also copies it and carries it between the processes
// of a share session as a resource record:
//   int Id, string Cid, Gcid, ResName, Format, Size, LastTime, Url, Original, Refer,
//   Desc, int ResType (0, 1, or 2 for any other value), int State, int CategoryId,
//   string Uin.
// No lock of its own: the plug-in touches resources under the session's album-list lock.
// The texts share one buffer (PackedTexts): an album of a thousand resources is made
// and dropped whole by every resource list reply, whose values are kept as the bytes
// they came as and converted when read.
#ifndef ZQBLOG_DATA_RESOURCEINFO_H_
#define ZQBLOG_DATA_RESOURCEINFO_H_

#include <string>
#include <string_view>

#include "data/PackedTexts.h"
#include "interfaces/IZQResInfo.h"
#include "platform/atl.h"
#include "util/RecordItem.h"

namespace Velmora {
namespace ZQBlog {

class ResourceInfo : public CComObjectRootEx<CComMultiThreadModel>, public IZQResInfo {
 public:
  BEGIN_COM_MAP(ResourceInfo)
  COM_INTERFACE_ENTRY(IZQResInfo)
  END_COM_MAP()

  // Read limits of the record's string items (each counts the 4-byte length field).
  static constexpr int kLongTextLimit = 200;   // Cid, Gcid, ResName, Url, Original, Refer, Desc
  static constexpr int kShortTextLimit = 50;   // Format, Size, LastTime, Uin

  ResourceInfo() = default;
  ResourceInfo(const ResourceInfo&) = delete;
  ResourceInfo& operator=(const ResourceInfo&) = delete;

  // IZQResInfo
  STDMETHOD(GetId)(int* id) override;
  STDMETHOD(SetId)(int id) override;
  STDMETHOD(GetCid)(BSTR* cid) override;
  STDMETHOD(SetCid)(LPCWSTR cid) override;
  STDMETHOD(GetGcid)(BSTR* gcid) override;
  STDMETHOD(SetGcid)(LPCWSTR gcid) override;
  STDMETHOD(GetResName)(BSTR* name) override;
  STDMETHOD(SetResName)(LPCWSTR name) override;
  STDMETHOD(GetFormat)(BSTR* format) override;
  STDMETHOD(SetFormat)(LPCWSTR format) override;
  STDMETHOD(GetSize)(BSTR* size) override;
  STDMETHOD(SetSize)(LPCWSTR size) override;
  STDMETHOD(GetLastTime)(BSTR* lastTime) override;
  STDMETHOD(SetLastTime)(LPCWSTR lastTime) override;
  STDMETHOD(GetUrl)(BSTR* url) override;
  STDMETHOD(SetUrl)(LPCWSTR url) override;
  STDMETHOD(GetOriginal)(BSTR* original) override;
  STDMETHOD(SetOriginal)(LPCWSTR original) override;
  STDMETHOD(GetRefer)(BSTR* refer) override;
  STDMETHOD(SetRefer)(LPCWSTR refer) override;
  STDMETHOD(GetDesc)(BSTR* desc) override;
  STDMETHOD(SetDesc)(LPCWSTR desc) override;
  STDMETHOD(GetResType)(int* resType) override;
  STDMETHOD(SetResType)(int resType) override;
  STDMETHOD(GetState)(int* state) override;
  STDMETHOD(SetState)(int state) override;
  STDMETHOD(GetCategoryId)(int* categoryId) override;
  STDMETHOD(SetCategoryId)(int categoryId) override;
  STDMETHOD(GetUin)(BSTR* uin) override;
  STDMETHOD(SetUin)(LPCWSTR uin) override;

  // The text fields, in record order.
  enum class TextField : size_t {
    kCid, kGcid, kResName, kFormat, kSize, kLastTime, kUrl, kOriginal, kRefer, kDesc, kUin,
    kCount
  };

  // The text of field as wide text; texts taken as bytes of a code page are converted
  // here, and a failure raises ConversionError.
  std::wstring Text(TextField field) const { return texts_.Get(static_cast<size_t>(field)); }
  // When field is kept as bytes of a code page: true, with the bytes (valid until the
  // resource changes) and the code page; false for wide text.
  bool TextBytes(TextField field, std::string_view* bytes, UINT* codePage) const {
    return texts_.Bytes(static_cast<size_t>(field), bytes, codePage);
  }
  // Sets field to wide text. std::bad_alloc leaves it as it was.
  void SetWideText(TextField field, std::wstring_view text) {
    texts_.Set(static_cast<size_t>(field), text);
  }
  // Sets field to bytes of codePage, converted whenever the text is read (a reply's
  // value kept as it came). std::bad_alloc leaves it as it was.
  // REQUIRES: codePage names a code page (not CP_ACP).
  void SetTextBytes(TextField field, std::string_view bytes, UINT codePage) {
    texts_.SetBytes(static_cast<size_t>(field), bytes, codePage);
  }
  // Sets field to text in the process ANSI code page, kept as those bytes and converted
  // when read. The ANSI code page reads every byte sequence (a byte of no character
  // reads as the replacement character), so no read of it fails.
  void SetAnsiText(TextField field, std::string_view text);
  // Makes room for bytes more bytes of text.
  void ReserveText(size_t bytes) { texts_.Reserve(bytes); }

  // Copies every field of other.
  void CopyFrom(const ResourceInfo& other);
  // Copies every field of other through its getters, in slot order; a getter that
  // fails leaves its field as it was. A null other does nothing.
  void CopyFrom(IZQResInfo* other);

  // The number of bytes WriteRecord writes.
  int RecordSize() const;
  // Writes the resource record; false when it does not fit (the writer has failed).
  bool WriteRecord(RecordWriter& writer) const;
  // Appends the same bytes to out, converting each text once (RecordSize and
  // WriteRecord convert a text that is not plain ASCII once each). Raises
  // ConversionError as WriteRecord does; out then holds a partial record.
  void AppendRecord(std::vector<uint8_t>* out) const;
  // Reads a resource record into the fields, in order. Stops at the first item that is
  // truncated or refused and returns false: that field and the ones after it keep
  // their values, the ones before it have been stored.
  bool ReadRecord(RecordReader& reader);

  // ResType as the record carries it: 0, 1, or 2 for any other value.
  static int RecordResType(int resType);

 private:
  HRESULT GetText(TextField field, BSTR* out) const;
  HRESULT SetText(TextField field, LPCWSTR text);
  // field's text in the process ANSI code page: its kept bytes themselves when they are
  // plain ASCII, else converted into *scratch. Raises ConversionError.
  std::string_view AnsiText(TextField field, std::string* scratch) const;
  // Reads a string item of the record into field; false (field unchanged) when refused.
  bool ReadText(RecordReader& reader, int limit, TextField field);

  int id_ = 0;
  int res_type_ = 0;
  int state_ = 0;
  int category_id_ = 0;
  PackedTexts<static_cast<size_t>(TextField::kCount)> texts_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_RESOURCEINFO_H_
