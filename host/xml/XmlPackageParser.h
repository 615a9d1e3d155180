// XmlPackageParser: the host component the platform creates by the name
// "IXMLPackageParser": an IPackageParser that parses a whole reply body as one XML
// document (pugixml) and hands out XmlPackage objects holding it.
//
//   Reset            forgets the parsed document; S_OK.
//   Parse(data, n)   parses a copy of data[0, n); S_OK, or
//                    HRESULT_FROM_WIN32(ERROR_INVALID_DATA) when the bytes are not one
//                    well-formed document (the earlier document is forgotten too);
//                    E_POINTER for null data with n > 0, E_INVALIDARG for n < 0.
//   GetPackageCount  1 after a successful Parse, else 0.
//   GetPackage       a new package (IPackage, also answering IXMLPackage) sharing the
//                    parsed document, one reference for the caller; E_FAIL and null
//                    when nothing is parsed.
// Thread-safe. Parsing and every later read walk the tree without recursion, so deep
// or huge documents cost memory and time, never stack.
#ifndef ZQBLOG_HOST_XML_XMLPACKAGEPARSER_H_
#define ZQBLOG_HOST_XML_XMLPACKAGEPARSER_H_

#include "interfaces/IPackageParser.h"
#include "platform/platform.h"

namespace Velmora {
namespace ZQHost {

// Creates a parser with nothing parsed. REQUIRES: out not null (E_POINTER).
// On success *out holds one reference for the caller.
HRESULT CreateXmlPackageParser(IPackageParser** out);

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_XML_XMLPACKAGEPARSER_H_
