// IXMLNode: one element of an XML package from the host's "IXMLPackageParser".
// A named value of an element is its attribute of that name; the text of a child
// element is the text content of the first child element of that name. Texts come
// back as the document's UTF-8 bytes, zero-terminated, cut to bufferSize - 1 bytes
// when longer. Child nodes come back with one reference for the caller.
// Text reads: S_OK when found; S_FALSE and "" when absent; E_POINTER for a null name or
// buffer; E_INVALIDARG when bufferSize < 1.
// Host-side interface; its name, id and slots are ours.
#ifndef ZQBLOG_INTERFACES_IXMLNODE_H_
#define ZQBLOG_INTERFACES_IXMLNODE_H_

#include "platform/platform.h"

struct IXMLNode : public IUnknown {
  // 1. The element's named value name.
  STDMETHOD(GetValue)(LPCSTR name, char* buffer, int bufferSize) = 0;
  // 2. The text of the element's first child element named name.
  STDMETHOD(GetElementText)(LPCSTR name, char* buffer, int bufferSize) = 0;
  // 3. The element's own text content.
  STDMETHOD(GetText)(char* buffer, int bufferSize) = 0;
  // 4. The number of child elements named name (all child elements when name is null).
  STDMETHOD(GetChildCount)(LPCSTR name, int* count) = 0;
  // 5. The child element at index among all child elements, whatever their names;
  //    E_INVALIDARG and null when index is out of range.
  STDMETHOD(GetChild)(int index, IXMLNode** child) = 0;
  // 6. The child element at index among those named name; E_INVALIDARG and null when
  //    index is out of range.
  STDMETHOD(GetNamedChild)(LPCSTR name, int index, IXMLNode** child) = 0;
};

// {15C29504-D7C6-40C8-B6AC-1A0A54C0862D}
ZQ_DEFINE_IID(IXMLNode, 0x15C29504, 0xD7C6, 0x40C8, 0xB6, 0xAC, 0x1A, 0x0A, 0x54, 0xC0, 0x86,
              0x2D)

#endif  // ZQBLOG_INTERFACES_IXMLNODE_H_
