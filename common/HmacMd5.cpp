#include "common/HmacMd5.h"

#include <cstring>

namespace Velmora {
namespace Common {

void HmacMd5(const void* key, size_t keyLength, const void* message, size_t messageLength,
             uint8_t digest[kMd5DigestSize]) {
  uint8_t block[kMd5BlockSize] = {};
  if (keyLength > kMd5BlockSize) {
    Md5(key, keyLength, block);
  } else if (keyLength != 0) {
    std::memcpy(block, key, keyLength);
  }
  uint8_t inner[kMd5BlockSize];
  uint8_t outer[kMd5BlockSize];
  for (size_t i = 0; i < kMd5BlockSize; ++i) {
    inner[i] = static_cast<uint8_t>(block[i] ^ 0x36);
    outer[i] = static_cast<uint8_t>(block[i] ^ 0x5c);
  }
  uint8_t innerDigest[kMd5DigestSize];
  Md5Context context;
  context.Update(inner, sizeof inner);
  context.Update(message, messageLength);
  context.Final(innerDigest);
  context.Update(outer, sizeof outer);
  context.Update(innerDigest, sizeof innerDigest);
  context.Final(digest);
}

}  // namespace Common
}  // namespace Velmora
