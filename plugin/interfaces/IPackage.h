// IPackage: one package a reply parser produced from a reply body. The plug-in's own
// package keeps raw bytes; the host's XML package interface derives from this one and
// adds its slots after SetData.
#ifndef ZQBLOG_INTERFACES_IPACKAGE_H_
#define ZQBLOG_INTERFACES_IPACKAGE_H_

#include "platform/platform.h"

struct IPackage : public IUnknown {
  // Replaces the held bytes with a copy of data[0, length) and stores length in
  // *storedLength. A null data gives E_FAIL and changes nothing.
  // REQUIRES: length >= 0 (E_INVALIDARG), storedLength not null (E_POINTER).
  STDMETHOD(SetData)(const BYTE* data, int length, int* storedLength) = 0;
};

// {E22DB0FB-A4FE-42BF-9CAE-8D01964D47B6}
ZQ_DEFINE_IID(IPackage, 0xE22DB0FB, 0xA4FE, 0x42BF, 0x9C, 0xAE, 0x8D, 0x01, 0x96, 0x4D, 0x47,
              0xB6)

#endif  // ZQBLOG_INTERFACES_IPACKAGE_H_
