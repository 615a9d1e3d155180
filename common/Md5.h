// MD5 message digest (RFC 1321).
#ifndef ZQBLOG_COMMON_MD5_H_
#define ZQBLOG_COMMON_MD5_H_

#include <cstddef>
#include <cstdint>

namespace Velmora {
namespace Common {

constexpr size_t kMd5DigestSize = 16;
constexpr size_t kMd5BlockSize = 64;

// Digest of data built piece by piece.
class Md5Context {
 public:
  Md5Context();

  // Appends length bytes. REQUIRES: data is not null when length is not 0.
  void Update(const void* data, size_t length);
  // Writes the digest of everything appended and starts a new, empty message.
  void Final(uint8_t digest[kMd5DigestSize]);

 private:
  void Reset();
  void Transform(const uint8_t block[kMd5BlockSize]);

  uint32_t state_[4];
  uint64_t bitCount_;
  uint8_t buffer_[kMd5BlockSize];
};

// The digest of length bytes at data.
void Md5(const void* data, size_t length, uint8_t digest[kMd5DigestSize]);

}  // namespace Common
}  // namespace Velmora

#endif  // ZQBLOG_COMMON_MD5_H_
