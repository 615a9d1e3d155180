#include "data/RecordText.h"

#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

int TextItemSize(const std::wstring& text) { return StringItemSize(WideToAnsi(text)); }

bool WriteTextItem(RecordWriter* writer, const std::wstring& text) {
  return writer->WriteString(WideToAnsi(text));
}

bool ReadTextItem(RecordReader* reader, int limit, std::wstring* text) {
  std::string narrow;
  if (!reader->ReadString(&narrow, limit)) return false;
  *text = AnsiToWide(narrow);
  return true;
}

}  // namespace ZQBlog
}  // namespace Velmora
