#include "common/Md5.h"

#include <cstring>

namespace Velmora {
namespace Common {

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Per-step shift amounts and the constants floor(abs(sin(i + 1)) * 2^32).
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

}  // namespace

Md5Context::Md5Context() { Reset(); }

void Md5Context::Reset() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  bitCount_ = 0;
  std::memset(buffer_, 0, sizeof buffer_);
}

void Md5Context::Transform(const uint8_t block[kMd5BlockSize]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = static_cast<uint32_t>(block[i * 4]) | (static_cast<uint32_t>(block[i * 4 + 1]) << 8) |
           (static_cast<uint32_t>(block[i * 4 + 2]) << 16) |
           (static_cast<uint32_t>(block[i * 4 + 3]) << 24);
  }
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    uint32_t rotated = RotateLeft(a + f + kSine[i] + x[g], kShift[i]);
    a = d;
    d = c;
    c = b;
    b = b + rotated;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5Context::Update(const void* data, size_t length) {
  if (length == 0) return;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  size_t used = static_cast<size_t>((bitCount_ / 8) % kMd5BlockSize);
  bitCount_ += static_cast<uint64_t>(length) * 8;
  if (used != 0) {
    size_t take = kMd5BlockSize - used;
    if (length < take) {
      std::memcpy(buffer_ + used, in, length);
      return;
    }
    std::memcpy(buffer_ + used, in, take);
    Transform(buffer_);
    in += take;
    length -= take;
  }
  while (length >= kMd5BlockSize) {
    Transform(in);
    in += kMd5BlockSize;
    length -= kMd5BlockSize;
  }
  if (length != 0) std::memcpy(buffer_, in, length);
}

void Md5Context::Final(uint8_t digest[kMd5DigestSize]) {
  uint64_t bits = bitCount_;
  uint8_t lengthBytes[8];
  for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  // A 1 bit, zeros up to 56 bytes into a block, then the bit length.
  static const uint8_t kPadding[kMd5BlockSize] = {0x80};
  size_t used = static_cast<size_t>((bits / 8) % kMd5BlockSize);
  size_t padding = used < 56 ? 56 - used : 120 - used;
  Update(kPadding, padding);
  Update(lengthBytes, sizeof lengthBytes);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) digest[i * 4 + j] = static_cast<uint8_t>(state_[i] >> (8 * j));
  }
  Reset();
}

void Md5(const void* data, size_t length, uint8_t digest[kMd5DigestSize]) {
  Md5Context context;
  context.Update(data, length);
  context.Final(digest);
}

}  // namespace Common
}  // namespace Velmora
