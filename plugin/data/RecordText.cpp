#include "data/RecordText.h"

#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

namespace {

std::string Ansi(std::wstring_view text) {
  return WideToMultiByte(ZqGetConversionACP(), text.data(), text.size());
}

}  // namespace

int TextItemSize(std::wstring_view text) { return StringItemSize(Ansi(text)); }

bool WriteTextItem(RecordWriter* writer, std::wstring_view text) {
  return writer->WriteString(Ansi(text));
}

bool ReadTextItem(RecordReader* reader, int limit, std::wstring* text) {
  std::string narrow;
  if (!reader->ReadString(&narrow, limit)) return false;
  *text = AnsiToWide(narrow);
  return true;
}

}  // namespace ZQBlog
}  // namespace Velmora
