// IPackageParser: turns a complete reply body into packages. The connection hands the
// whole body to Parse in one call, then asks for the count and the first package.
// The plug-in's raw-body parser and the host's XML parser both implement it.
#ifndef ZQBLOG_INTERFACES_IPACKAGEPARSER_H_
#define ZQBLOG_INTERFACES_IPACKAGEPARSER_H_

#include "interfaces/IPackage.h"
#include "platform/platform.h"

struct IPackageParser : public IUnknown {
  // Drops what the last Parse kept.
  STDMETHOD(Reset)() = 0;
  // Takes data[0, length) as the body, replacing what an earlier call gave.
  // A negative result means the body was not parsed.
  STDMETHOD(Parse)(const BYTE* data, int length) = 0;
  // The number of packages the body gave.
  STDMETHOD(GetPackageCount)(int* count) = 0;
  // The first package, with one reference for the caller.
  STDMETHOD(GetPackage)(IPackage** package) = 0;
};

// {8D7BB326-63AE-4146-BBE7-C7855D8AB3B1}
ZQ_DEFINE_IID(IPackageParser, 0x8D7BB326, 0x63AE, 0x4146, 0xBB, 0xE7, 0xC7, 0x85, 0x5D, 0x8A,
              0xB3, 0xB1)

#endif  // ZQBLOG_INTERFACES_IPACKAGEPARSER_H_
