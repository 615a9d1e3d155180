// Wide text as string record items: converted to the process ANSI code page on the way
// out and back to wide on the way in. Conversion failures raise ConversionError.
#ifndef ZQBLOG_DATA_RECORDTEXT_H_
#define ZQBLOG_DATA_RECORDTEXT_H_

#include <string>
#include <string_view>

#include "util/RecordItem.h"

namespace Velmora {
namespace ZQBlog {

// Bytes the string item of text takes: 4 + its ANSI byte length.
int TextItemSize(std::wstring_view text);

// Writes text as a string item; false when it does not fit.
bool WriteTextItem(RecordWriter* writer, std::wstring_view text);

// Reads a string item with limit (the limit counts the 4-byte length field) into *text.
// A refused or truncated item returns false and leaves *text unchanged.
bool ReadTextItem(RecordReader* reader, int limit, std::wstring* text);

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_RECORDTEXT_H_
