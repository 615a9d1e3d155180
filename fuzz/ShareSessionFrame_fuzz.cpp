// The share-session frame codec of the host (host/sharesession/ShareSessionFrame.h)
// from arbitrary bytes, both ways.
//
// Input: one byte; bit 0 clear: the rest is a frame as it came off the socket. A frame
// that decodes encodes to exactly the bytes it came from (the layout leaves no choice),
// and one that does not decode names its problem. Bit 0 set: the rest describes a frame
// (type, instance, id, notice, texts and payload cut from the bytes); one that encodes
// decodes to the same fields its type carries, and one that does not is refused for a
// reason the codec states (an id of 0 where one is needed, a text above 255 bytes).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "host/sharesession/ShareSessionFrame.h"

namespace {

using Velmora::ZQBlog::fuzzing::Violation;
using Velmora::ZQHost::DecodeShareSessionFrame;
using Velmora::ZQHost::EncodeShareSessionFrame;
using Velmora::ZQHost::ShareSessionFrame;
using Type = ShareSessionFrame::Type;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Uint(int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(Byte()) << (8 * i);
    return value;
  }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // A text of the length the next two bytes give (up to 300, so some are too long).
  std::string Text() {
    const size_t length = Uint(2) % 301;
    std::string text;
    while (text.size() < length && at_ < size_) text.push_back(static_cast<char>(Byte()));
    return text;
  }
  std::vector<uint8_t> Rest() { return std::vector<uint8_t>(data_ + at_, data_ + size_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

bool Carries(Type type, bool message) {
  const bool isMessage = type == Type::kOperation || type == Type::kResult;
  return message ? isMessage : type == Type::kBroadcast;
}

void FromBytes(const uint8_t* data, size_t size) {
  ShareSessionFrame frame;
  std::string problem;
  if (!DecodeShareSessionFrame(data, size, &frame, &problem)) {
    if (problem.empty()) Violation("a refused frame without a problem");
    return;
  }
  const std::vector<uint8_t> again = EncodeShareSessionFrame(frame);
  if (again.size() != size || (size > 0 && std::memcmp(again.data(), data, size) != 0)) {
    Violation("a decoded frame does not encode to its bytes");
  }
}

void FromFields(const uint8_t* data, size_t size) {
  Input in(data, size);
  ShareSessionFrame frame;
  frame.type = static_cast<Type>(1 + in.Byte() % 9);
  frame.instance = in.Uint(8);
  frame.message_id = static_cast<int32_t>(in.Uint(4) % 3 == 0 ? 0 : in.Uint(4));
  for (int32_t& value : frame.notice) value = static_cast<int32_t>(in.Uint(4));
  frame.has_payload = (in.Byte() & 1) != 0;
  frame.module = in.Text();
  frame.name = in.Text();
  frame.payload = in.Rest();

  const std::vector<uint8_t> bytes = EncodeShareSessionFrame(frame);
  const bool message = Carries(frame.type, true);
  const bool broadcast = Carries(frame.type, false);
  const bool encodable = !(message && frame.message_id == 0) &&
                         !((message || broadcast) && frame.module.size() > 255) &&
                         !(message && frame.name.size() > 255);
  if (bytes.empty() != !encodable) Violation("a frame is refused or encoded against the rules");
  if (bytes.empty()) return;
  ShareSessionFrame back;
  std::string problem;
  if (!DecodeShareSessionFrame(bytes.data(), bytes.size(), &back, &problem)) {
    Violation("an encoded frame does not decode");
  }
  bool same = back.type == frame.type && back.instance == frame.instance;
  if (message) {
    same = same && back.message_id == frame.message_id && back.module == frame.module &&
           back.name == frame.name && back.payload == frame.payload;
  }
  if (broadcast) {
    same = same && back.has_payload == frame.has_payload && back.module == frame.module &&
           back.payload == frame.payload &&
           std::memcmp(back.notice, frame.notice, sizeof frame.notice) == 0;
  }
  if (!same) Violation("an encoded frame decodes to other fields");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    FromFields(data + 1, size - 1);
  } else {
    FromBytes(data + 1, size - 1);
  }
  return 0;
}
