// HMAC with MD5 (RFC 2104).
#ifndef ZQBLOG_COMMON_HMACMD5_H_
#define ZQBLOG_COMMON_HMACMD5_H_

#include <cstddef>
#include <cstdint>

#include "common/Md5.h"

namespace Velmora {
namespace Common {

// The HMAC-MD5 of the message under the key. A key longer than the 64-byte block is
// replaced by its MD5 digest first. REQUIRES: key and message are not null when their
// lengths are not 0.
void HmacMd5(const void* key, size_t keyLength, const void* message, size_t messageLength,
             uint8_t digest[kMd5DigestSize]);

}  // namespace Common
}  // namespace Velmora

#endif  // ZQBLOG_COMMON_HMACMD5_H_
