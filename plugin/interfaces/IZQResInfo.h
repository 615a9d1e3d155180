// IZQResInfo: one shared file of an album, as the host reads and writes it.
// String getters hand out a new BSTR the caller frees; setters copy the text (a null
// text is taken as empty). Out pointers must not be null (E_POINTER otherwise).
#ifndef ZQBLOG_INTERFACES_IZQRESINFO_H_
#define ZQBLOG_INTERFACES_IZQRESINFO_H_

#include "platform/platform.h"

struct IZQResInfo : public IUnknown {
  // The resource id the server assigned.
  STDMETHOD(GetId)(int* id) = 0;
  STDMETHOD(SetId)(int id) = 0;
  // The content id.
  STDMETHOD(GetCid)(BSTR* cid) = 0;
  STDMETHOD(SetCid)(LPCWSTR cid) = 0;
  // The second content id.
  STDMETHOD(GetGcid)(BSTR* gcid) = 0;
  STDMETHOD(SetGcid)(LPCWSTR gcid) = 0;
  // The file name shown for the resource.
  STDMETHOD(GetResName)(BSTR* name) = 0;
  STDMETHOD(SetResName)(LPCWSTR name) = 0;
  // The file format text.
  STDMETHOD(GetFormat)(BSTR* format) = 0;
  STDMETHOD(SetFormat)(LPCWSTR format) = 0;
  // The file size, held as text.
  STDMETHOD(GetSize)(BSTR* size) = 0;
  STDMETHOD(SetSize)(LPCWSTR size) = 0;
  // The time of the last change, held as text.
  STDMETHOD(GetLastTime)(BSTR* lastTime) = 0;
  STDMETHOD(SetLastTime)(LPCWSTR lastTime) = 0;
  // The download URL.
  STDMETHOD(GetUrl)(BSTR* url) = 0;
  STDMETHOD(SetUrl)(LPCWSTR url) = 0;
  // Where the file was first collected from.
  STDMETHOD(GetOriginal)(BSTR* original) = 0;
  STDMETHOD(SetOriginal)(LPCWSTR original) = 0;
  // The referring page sent when the file is collected.
  STDMETHOD(GetRefer)(BSTR* refer) = 0;
  STDMETHOD(SetRefer)(LPCWSTR refer) = 0;
  // The description.
  STDMETHOD(GetDesc)(BSTR* desc) = 0;
  STDMETHOD(SetDesc)(LPCWSTR desc) = 0;
  // The resource type; the setter stores any value unchanged.
  STDMETHOD(GetResType)(int* resType) = 0;
  STDMETHOD(SetResType)(int resType) = 0;
  // The state the server reports for the file.
  STDMETHOD(GetState)(int* state) = 0;
  STDMETHOD(SetState)(int state) = 0;
  // The album (category) the resource belongs to.
  STDMETHOD(GetCategoryId)(int* categoryId) = 0;
  STDMETHOD(SetCategoryId)(int categoryId) = 0;
  // The user the resource belongs to.
  STDMETHOD(GetUin)(BSTR* uin) = 0;
  STDMETHOD(SetUin)(LPCWSTR uin) = 0;
};

// {D5ED7205-4933-41D4-B1F0-250BD187E4EF}
ZQ_DEFINE_IID(IZQResInfo, 0xD5ED7205, 0x4933, 0x41D4, 0xB1, 0xF0, 0x25, 0x0B, 0xD1, 0x87,
              0xE4, 0xEF)

#endif  // ZQBLOG_INTERFACES_IZQRESINFO_H_
