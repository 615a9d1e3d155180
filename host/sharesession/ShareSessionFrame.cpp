#include "host/sharesession/ShareSessionFrame.h"

#include <cstring>
#include <utility>

namespace Velmora {
namespace ZQHost {

namespace {

const uint8_t kMagic[4] = {'Z', 'Q', 'S', 'S'};
const uint8_t kFlagPayload = 0x01;

bool HasMessage(ShareSessionFrame::Type type) {
  return type == ShareSessionFrame::Type::kOperation || type == ShareSessionFrame::Type::kResult;
}

bool KnownType(uint8_t value) { return value >= 1 && value <= 9; }

class Writer {
 public:
  explicit Writer(size_t reserve) { bytes_.reserve(reserve); }
  void Byte(uint8_t value) { bytes_.push_back(value); }
  void Uint(uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  void Text(const std::string& text) {
    Uint(text.size(), 2);
    bytes_.insert(bytes_.end(), text.begin(), text.end());
  }
  void Blob(const std::vector<uint8_t>& blob) {
    Uint(blob.size(), 4);
    bytes_.insert(bytes_.end(), blob.begin(), blob.end());
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

// Reads fields front to back; the first failure names itself and every later read fails.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Uint(uint64_t* value, int width, const char* what) {
    if (!Need(static_cast<size_t>(width), what)) return false;
    uint64_t out = 0;
    for (int i = 0; i < width; ++i) out |= static_cast<uint64_t>(data_[at_ + i]) << (8 * i);
    at_ += static_cast<size_t>(width);
    *value = out;
    return true;
  }
  bool Int32(int32_t* value, const char* what) {
    uint64_t raw = 0;
    if (!Uint(&raw, 4, what)) return false;
    uint32_t narrow = static_cast<uint32_t>(raw);
    std::memcpy(value, &narrow, sizeof(narrow));
    return true;
  }
  bool Text(std::string* text, const char* what) {
    uint64_t length = 0;
    if (!Uint(&length, 2, what)) return false;
    if (length > kShareSessionFrameMaxText) return Fail(std::string(what) + " too long");
    if (!Need(static_cast<size_t>(length), what)) return false;
    text->assign(reinterpret_cast<const char*>(data_ + at_), static_cast<size_t>(length));
    at_ += static_cast<size_t>(length);
    return true;
  }
  bool Blob(std::vector<uint8_t>* blob, const char* what) {
    uint64_t length = 0;
    if (!Uint(&length, 4, what)) return false;
    if (!Need(static_cast<size_t>(length), what)) return false;
    blob->assign(data_ + at_, data_ + at_ + length);
    at_ += static_cast<size_t>(length);
    return true;
  }
  bool End() {
    if (failed_) return false;
    if (at_ != size_) return Fail(std::to_string(size_ - at_) + " bytes after the end");
    return true;
  }
  const std::string& problem() const { return problem_; }

 private:
  bool Need(size_t count, const char* what) {
    if (failed_) return false;
    if (count > size_ - at_) return Fail(std::string("truncated ") + what);
    return true;
  }
  bool Fail(std::string problem) {
    if (!failed_) problem_ = std::move(problem);
    failed_ = true;
    return false;
  }

  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  bool failed_ = false;
  std::string problem_;
};

}  // namespace

std::vector<uint8_t> EncodeShareSessionFrame(const ShareSessionFrame& frame) {
  const uint8_t type = static_cast<uint8_t>(frame.type);
  if (!KnownType(type)) return {};
  const bool message = HasMessage(frame.type);
  const bool broadcast = frame.type == ShareSessionFrame::Type::kBroadcast;
  if (message && frame.message_id == 0) return {};
  if ((message || broadcast) && frame.module.size() > kShareSessionFrameMaxText) return {};
  if (message && frame.name.size() > kShareSessionFrameMaxText) return {};
  size_t size = kShareSessionFrameHeaderSize;
  if (message) size += 4 + 2 + frame.module.size() + 2 + frame.name.size() + 4;
  if (broadcast) size += 16 + 2 + frame.module.size() + 4;
  if (message || broadcast) {
    if (frame.payload.size() > kShareSessionFrameMaxSize - size) return {};
    size += frame.payload.size();
  }

  Writer out(size);
  for (uint8_t byte : kMagic) out.Byte(byte);
  out.Byte(kShareSessionFrameVersion);
  out.Byte(type);
  out.Byte(broadcast && frame.has_payload ? kFlagPayload : 0);
  out.Byte(0);
  out.Uint(frame.instance, 8);
  if (message) {
    out.Uint(static_cast<uint32_t>(frame.message_id), 4);
    out.Text(frame.module);
    out.Text(frame.name);
    out.Blob(frame.payload);
  } else if (broadcast) {
    for (int32_t value : frame.notice) out.Uint(static_cast<uint32_t>(value), 4);
    out.Text(frame.module);
    out.Blob(frame.payload);
  }
  return out.Take();
}

bool DecodeShareSessionFrame(const uint8_t* data, size_t size, ShareSessionFrame* frame,
                             std::string* problem) {
  if (size > kShareSessionFrameMaxSize) {
    *problem = "oversized (" + std::to_string(size) + " bytes)";
    return false;
  }
  if (size < 4 || std::memcmp(data, kMagic, 4) != 0) {
    *problem = "bad magic";
    return false;
  }
  if (size < kShareSessionFrameHeaderSize) {
    *problem = "truncated header";
    return false;
  }
  if (data[4] != kShareSessionFrameVersion) {
    *problem = "version " + std::to_string(data[4]);
    return false;
  }
  if (!KnownType(data[5])) {
    *problem = "unknown type " + std::to_string(data[5]);
    return false;
  }
  ShareSessionFrame out;
  out.type = static_cast<ShareSessionFrame::Type>(data[5]);
  const bool message = HasMessage(out.type);
  const bool broadcast = out.type == ShareSessionFrame::Type::kBroadcast;
  const uint8_t allowed = broadcast ? kFlagPayload : 0;
  if ((data[6] & ~allowed) != 0 || data[7] != 0) {
    *problem = "bad flags";
    return false;
  }
  out.has_payload = (data[6] & kFlagPayload) != 0;

  Reader in(data + 8, size - 8);
  in.Uint(&out.instance, 8, "instance");
  if (message) {
    in.Int32(&out.message_id, "message id");
    in.Text(&out.module, "module");
    in.Text(&out.name, "name");
    in.Blob(&out.payload, "payload");
  } else if (broadcast) {
    for (int32_t& value : out.notice) in.Int32(&value, "notice");
    in.Text(&out.module, "module");
    in.Blob(&out.payload, "payload");
  }
  if (!in.End()) {
    *problem = in.problem();
    return false;
  }
  if (message && out.message_id == 0) {
    *problem = "message id 0";
    return false;
  }
  *frame = std::move(out);
  return true;
}

std::string ShareSessionFrameTypeName(ShareSessionFrame::Type type) {
  switch (type) {
    case ShareSessionFrame::Type::kHello:
      return "hello";
    case ShareSessionFrame::Type::kWelcome:
      return "welcome";
    case ShareSessionFrame::Type::kOperation:
      return "operation";
    case ShareSessionFrame::Type::kResult:
      return "result";
    case ShareSessionFrame::Type::kBroadcast:
      return "broadcast";
    case ShareSessionFrame::Type::kPing:
      return "ping";
    case ShareSessionFrame::Type::kPong:
      return "pong";
    case ShareSessionFrame::Type::kReset:
      return "reset";
    case ShareSessionFrame::Type::kBye:
      return "bye";
  }
  return "type " + std::to_string(static_cast<int>(type));
}

}  // namespace ZQHost
}  // namespace Velmora
