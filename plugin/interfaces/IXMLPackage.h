// IXMLPackage: the package the host's "IXMLPackageParser" (an IPackageParser the
// platform creates by that name) makes of an XML reply body: the parsed document.
// Slot 1 is IPackage's SetData (it replaces the document with the one parsed from the
// bytes; a body that is not XML gives a failure). The root is the document element.
// The package's named values, element texts and items are those of the root; items
// are the root's child elements named "resource", in document order. Value and text
// reads follow IXMLNode's rules (S_OK found, S_FALSE and "" absent, UTF-8, cut to
// bufferSize - 1 bytes).
// Host-side interface; its name, id and slots are ours.
#ifndef ZQBLOG_INTERFACES_IXMLPACKAGE_H_
#define ZQBLOG_INTERFACES_IXMLPACKAGE_H_

#include "interfaces/IPackage.h"
#include "interfaces/IXMLNode.h"
#include "platform/platform.h"

struct IXMLPackage : public IPackage {
  // 2. The root element, one reference for the caller; E_FAIL and null with no document.
  STDMETHOD(GetRoot)(IXMLNode** root) = 0;
  // 3. The whole document as zero-terminated UTF-8 text. In: *size is the buffer's
  //    capacity in bytes. S_OK: *size is the text's length without the terminator.
  //    HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER): the buffer is too small and
  //    *size is the capacity needed, terminator included. E_FAIL with no document.
  STDMETHOD(Serialize)(char* buffer, int* size) = 0;
  // 4. The root's named value name.
  STDMETHOD(GetValue)(LPCSTR name, char* buffer, int bufferSize) = 0;
  // 5. The text of the root's first child element named name.
  STDMETHOD(GetElementText)(LPCSTR name, char* buffer, int bufferSize) = 0;
  // 6. The number of items (0 with no document).
  STDMETHOD(GetItemCount)(int* count) = 0;
  // 7. The item at index, one reference for the caller; E_INVALIDARG and null when index
  //    is out of range.
  STDMETHOD(GetItem)(int index, IXMLNode** item) = 0;
};

// {EB4F502C-6EC4-4F08-9793-45D251E9D65A}
ZQ_DEFINE_IID(IXMLPackage, 0xEB4F502C, 0x6EC4, 0x4F08, 0x97, 0x93, 0x45, 0xD2, 0x51, 0xE9, 0xD6,
              0x5A)

#endif  // ZQBLOG_INTERFACES_IXMLPACKAGE_H_
