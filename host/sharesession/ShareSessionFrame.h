// ShareSessionFrame: one message of the share session between the processes of a host,
// as it travels over the socket, and its codec. Encoding and decoding are pure functions
// of their arguments: no state, no I/O, no allocation beyond the output.
//
// Layout (integers little-endian):
//   0  4  magic "ZQSS"
//   4  1  version (kShareSessionFrameVersion)
//   5  1  type (ShareSessionFrame::Type)
//   6  1  flags: bit 0 = a broadcast carries a payload; no other bit is set
//   7  1  reserved, 0
//   8  8  instance: the sending process's instance id (a new one every start)
//  16     body, by type:
//         kOperation, kResult: message id (i32, not 0), module (u16 length + bytes),
//                              name (u16 length + bytes), payload (u32 length + bytes)
//         kBroadcast:          notice (4 x i32), module (u16 length + bytes),
//                              payload (u32 length + bytes)
//         every other type:    nothing
// A frame ends exactly where its body ends. Modules and names are at most
// kShareSessionFrameMaxText bytes, a whole frame at most kShareSessionFrameMaxSize.
#ifndef ZQBLOG_HOST_SHARESESSION_SHARESESSIONFRAME_H_
#define ZQBLOG_HOST_SHARESESSION_SHARESESSIONFRAME_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Velmora {
namespace ZQHost {

inline constexpr uint8_t kShareSessionFrameVersion = 1;
inline constexpr size_t kShareSessionFrameHeaderSize = 16;
inline constexpr size_t kShareSessionFrameMaxText = 255;
inline constexpr size_t kShareSessionFrameMaxSize = 64u * 1024u * 1024u;

struct ShareSessionFrame {
  enum class Type : uint8_t {
    kHello = 1,      // forwarding -> serving: join this process to the session
    kWelcome = 2,    // serving -> forwarding: joined
    kOperation = 3,  // forwarding -> serving: an operation message
    kResult = 4,     // serving -> forwarding: the answer to an operation message
    kBroadcast = 5,  // either way: a change broadcast
    kPing = 6,       // forwarding -> serving: still here
    kPong = 7,       // serving -> forwarding: still here
    kReset = 8,      // serving -> forwarding: not joined with this serving process
    kBye = 9,        // forwarding -> serving: leaving
  };

  Type type = Type::kPing;
  uint64_t instance = 0;
  int32_t message_id = 0;        // kOperation, kResult
  std::string module;            // kOperation, kResult, kBroadcast
  std::string name;              // kOperation, kResult
  bool has_payload = false;      // kBroadcast (kOperation and kResult always carry one)
  int32_t notice[4] = {0, 0, 0, 0};  // kBroadcast
  std::vector<uint8_t> payload;  // kOperation, kResult, kBroadcast
};

// The bytes of frame; empty when it cannot be encoded (a text above
// kShareSessionFrameMaxText, a message id of 0 where one is needed, a frame above
// kShareSessionFrameMaxSize, an unknown type). Fields the type does not carry are
// ignored.
std::vector<uint8_t> EncodeShareSessionFrame(const ShareSessionFrame& frame);

// Reads the frame in data[0, size). True with *frame filled; false with *problem set to
// a short phrase ("bad magic", "version 7", "truncated payload", ...) when the bytes are
// not one well-formed frame of this version. REQUIRES: frame and problem not null; data
// readable for size bytes (may be null when size is 0).
bool DecodeShareSessionFrame(const uint8_t* data, size_t size, ShareSessionFrame* frame,
                             std::string* problem);

// The type's name for messages ("hello", "operation", ...; "type N" when unknown).
std::string ShareSessionFrameTypeName(ShareSessionFrame::Type type);

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_SHARESESSIONFRAME_H_
