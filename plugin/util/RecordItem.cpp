#include "util/RecordItem.h"

#include <climits>
#include <cstring>

namespace Velmora {
namespace ZQBlog {

namespace {

void PutLittleEndian(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t GetLittleEndian(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
         (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

}  // namespace

void AppendIntItem(std::vector<uint8_t>* out, int32_t value) {
  uint8_t bytes[kIntItemSize];
  PutLittleEndian(bytes, static_cast<uint32_t>(value));
  out->insert(out->end(), bytes, bytes + kIntItemSize);
}

void AppendStringItem(std::vector<uint8_t>* out, std::string_view text) {
  AppendIntItem(out, static_cast<int32_t>(text.size()));
  out->insert(out->end(), text.begin(), text.end());
}

int StringItemSize(std::string_view text) {
  // Saturates rather than wrapping for texts no record could carry.
  if (text.size() > static_cast<size_t>(INT_MAX - kIntItemSize)) return INT_MAX;
  return kIntItemSize + static_cast<int>(text.size());
}

// ---------------------------------------------------------------- RecordWriter

RecordWriter::RecordWriter(uint8_t* begin, size_t size)
    : begin_(begin), cursor_(begin), end_(begin == nullptr ? begin : begin + size) {}

bool RecordWriter::Reserve(size_t n) {
  if (!ok_) return false;
  if (n > static_cast<size_t>(end_ - cursor_)) {
    ok_ = false;
    return false;
  }
  return true;
}

bool RecordWriter::WriteInt(int32_t value) {
  if (!Reserve(kIntItemSize)) return false;
  PutLittleEndian(cursor_, static_cast<uint32_t>(value));
  cursor_ += kIntItemSize;
  return true;
}

bool RecordWriter::WriteByte(uint8_t value) {
  if (!Reserve(kByteItemSize)) return false;
  *cursor_++ = value;
  return true;
}

bool RecordWriter::WriteString(std::string_view text) {
  if (text.size() > static_cast<size_t>(INT32_MAX)) {
    ok_ = false;
    return false;
  }
  if (!Reserve(kIntItemSize + text.size())) return false;
  PutLittleEndian(cursor_, static_cast<uint32_t>(text.size()));
  cursor_ += kIntItemSize;
  if (!text.empty()) std::memcpy(cursor_, text.data(), text.size());
  cursor_ += text.size();
  return true;
}

// ---------------------------------------------------------------- RecordReader

RecordReader::RecordReader(const uint8_t* data, size_t size)
    : begin_(data), cursor_(data), end_(data == nullptr ? data : data + size) {}

bool RecordReader::Fail() {
  ok_ = false;
  return false;
}

bool RecordReader::ReadInt(int32_t* value) {
  if (!ok_) return false;
  if (remaining() < static_cast<size_t>(kIntItemSize)) return Fail();
  *value = static_cast<int32_t>(GetLittleEndian(cursor_));
  cursor_ += kIntItemSize;
  return true;
}

bool RecordReader::ReadByte(uint8_t* value) {
  if (!ok_) return false;
  if (remaining() < static_cast<size_t>(kByteItemSize)) return Fail();
  *value = *cursor_++;
  return true;
}

bool RecordReader::ReadString(std::string* text, int limit) {
  std::string_view view;
  if (!ReadStringView(&view, limit)) return false;
  text->assign(view.data(), view.size());
  return true;
}

bool RecordReader::ReadStringView(std::string_view* text, int limit) {
  if (!ok_) return false;
  if (remaining() < static_cast<size_t>(kIntItemSize)) return Fail();
  int32_t length = static_cast<int32_t>(GetLittleEndian(cursor_));
  if (length < 0) return Fail();
  if (static_cast<int64_t>(length) > static_cast<int64_t>(limit) - kIntItemSize) return Fail();
  if (length > kMaxStringItemLength) return Fail();
  if (static_cast<size_t>(length) > remaining() - kIntItemSize) return Fail();
  *text = std::string_view(reinterpret_cast<const char*>(cursor_ + kIntItemSize),
                           static_cast<size_t>(length));
  cursor_ += kIntItemSize + static_cast<size_t>(length);
  return true;
}

}  // namespace ZQBlog
}  // namespace Velmora
