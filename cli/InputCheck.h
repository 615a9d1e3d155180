// InputCheck: the rules the command line applies to what people type, before anything
// is sent: numbers, user ids, content ids, comment keys and the resources to collect.
// Each check that fails says why in one line, naming the value.
#ifndef ZQBLOG_CLI_INPUTCHECK_H_
#define ZQBLOG_CLI_INPUTCHECK_H_

#include <string>
#include <vector>

#include "cli/CliRequest.h"

namespace Velmora {
namespace ZQCli {

// A decimal int32 with an optional sign, nothing else.
bool ParseInt32(const std::string& text, int* out);
// An album or resource id: a decimal number from 1 to 2147483647. *error names what.
bool ParseId(const std::string& what, const std::string& text, int* out, std::string* error);
// Any decimal int32 (--type, --show, --number, --new-count).
bool ParseNumber(const std::string& what, const std::string& text, int* out,
                 std::string* error);

// A user id: 1 to 64 characters of A-Z a-z 0-9 _ . @ - (the id goes into request
// paths unescaped). The id is lower-cased, as the plug-in does when it signs one in.
bool CheckUin(const std::string& what, const std::string& text, std::string* out,
              std::string* error);
// 40 hexadecimal digits; *out gets them in upper case, as the content-id index keys.
bool CheckContentId(const std::string& what, const std::string& text, std::string* out,
                    std::string* error);
// A comment key (the reference service keys comments by content id): 1 to 256
// printable ASCII characters without space, '/', '?', '#' or '%' (it is sent unescaped
// in the request path).
bool CheckCommentKey(const std::string& text, std::string* error);

// Parses one --resource value: key=value pairs separated by commas ("\," is a comma
// inside a value, "\\" a backslash), keys cid, gcid, res_name, res_type, size, format,
// state, url, original, refer, desc, each at most once; cid and res_name required.
bool ParseResourceOption(const std::string& text, ResourceSpec* out, std::string* error);
// The --resource value ParseResourceOption reads back as spec: cid, gcid, res_name,
// format, size, url, original, refer, desc, res_type, state, each that has a value (a
// text not empty, a number not 0), commas and backslashes escaped. REQUIRES: spec is one
// ParseResourceOption could give.
std::string ResourceOptionText(const ResourceSpec& spec);
// Reads a --from-json file: a JSON array of objects with the same keys (texts as
// strings; res_type, state and size also as numbers). At least one entry.
bool LoadResourcesJson(const std::string& path, std::vector<ResourceSpec>* out,
                       std::string* error);

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_INPUTCHECK_H_
