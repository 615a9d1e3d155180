// Share-session record items: the bytes that carry albums, resources, operation
// parameters and results between the processes of one share session.
//   int    = 4 bytes, little-endian
//   byte   = 1 byte
//   string = 4-byte little-endian byte count, then that many bytes of ANSI text,
//            no terminator
#ifndef ZQBLOG_UTIL_RECORDITEM_H_
#define ZQBLOG_UTIL_RECORDITEM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora {
namespace ZQBlog {

constexpr int kIntItemSize = 4;
constexpr int kByteItemSize = 1;
// The largest string a reader accepts, whatever its limit.
constexpr int kMaxStringItemLength = 65536;

// Bytes a string item of this text takes: 4 + its byte length.
int StringItemSize(std::string_view text);

// Appends an int item, or a string item (REQUIRES: text shorter than 2 GiB), to out:
// for records built in one pass, without knowing their size first.
void AppendIntItem(std::vector<uint8_t>* out, int32_t value);
void AppendStringItem(std::vector<uint8_t>* out, std::string_view text);

// Writes items into [begin, begin + size) from the front.
// An item that does not fit is not written; the writer then fails (ok() false) and
// writes nothing more.
class RecordWriter {
 public:
  RecordWriter(uint8_t* begin, size_t size);

  bool WriteInt(int32_t value);
  bool WriteByte(uint8_t value);
  bool WriteString(std::string_view text);

  bool ok() const { return ok_; }
  size_t written() const { return static_cast<size_t>(cursor_ - begin_); }
  uint8_t* cursor() const { return cursor_; }

 private:
  bool Reserve(size_t n);

  uint8_t* begin_;
  uint8_t* cursor_;
  uint8_t* end_;
  bool ok_ = true;
};

// Reads items from [data, data + size) from the front; never reads past the end.
// A refused or truncated item fails the reader (ok() false): the outputs of that read
// are left unchanged and every later read fails too, since the following items can no
// longer be located.
class RecordReader {
 public:
  RecordReader(const uint8_t* data, size_t size);

  bool ReadInt(int32_t* value);
  bool ReadByte(uint8_t* value);
  // REQUIRES: limit counts the 4-byte length field. Refuses a negative length, a
  // length above limit - 4, a length above 65536, or one that runs past the end.
  bool ReadString(std::string* text, int limit);
  // The same, as a view of the bytes read: valid as long as they are.
  bool ReadStringView(std::string_view* text, int limit);

  bool ok() const { return ok_; }
  size_t consumed() const { return static_cast<size_t>(cursor_ - begin_); }
  size_t remaining() const { return static_cast<size_t>(end_ - cursor_); }
  const uint8_t* cursor() const { return cursor_; }

 private:
  bool Fail();

  const uint8_t* begin_;
  const uint8_t* cursor_;
  const uint8_t* end_;
  bool ok_ = true;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_UTIL_RECORDITEM_H_
