#include "common/HmacMd5.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace Velmora {
namespace Common {
namespace {

std::string Hex(const uint8_t digest[kMd5DigestSize]) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < kMd5DigestSize; ++i) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    out += two;
  }
  return out;
}

std::string HmacHex(const std::string& key, const std::string& message) {
  uint8_t digest[kMd5DigestSize];
  HmacMd5(key.data(), key.size(), message.data(), message.size(), digest);
  return Hex(digest);
}

// The HMAC-MD5 test cases of RFC 2202, section 2.
TEST(HmacMd5Test, Rfc2202Cases) {
  EXPECT_EQ("9294727a3638bb1c13f48ef8158bfc9d", HmacHex(std::string(16, '\x0b'), "Hi There"));
  EXPECT_EQ("750c783e6ab0b503eaa86e310a5db738",
            HmacHex("Jefe", "what do ya want for nothing?"));
  EXPECT_EQ("56be34521d144c88dbb8c733f0e8b3f6",
            HmacHex(std::string(16, '\xaa'), std::string(50, '\xdd')));
  std::string key4;
  for (int i = 1; i <= 25; ++i) key4.push_back(static_cast<char>(i));
  EXPECT_EQ("697eaf0aca3a3aea3a75164746ffaa79", HmacHex(key4, std::string(50, '\xcd')));
  EXPECT_EQ("56461ef2342edc00f9bab995690efd4c",
            HmacHex(std::string(16, '\x0c'), "Test With Truncation"));
  // Keys longer than the block are hashed first.
  EXPECT_EQ("6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd",
            HmacHex(std::string(80, '\xaa'),
                    "Test Using Larger Than Block-Size Key - Hash Key First"));
  EXPECT_EQ("6f630fad67cda0ee1fb1f562db3aa53e",
            HmacHex(std::string(80, '\xaa'),
                    "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"));
}

TEST(HmacMd5Test, KeyOfExactlyOneBlockIsUsedAsItIs) {
  // A 64-byte key is not hashed: it differs from the HMAC under its own digest.
  std::string key(64, 'k');
  uint8_t keyDigest[kMd5DigestSize];
  Md5(key.data(), key.size(), keyDigest);
  std::string hashedKey(reinterpret_cast<const char*>(keyDigest), kMd5DigestSize);
  EXPECT_NE(HmacHex(key, "message"), HmacHex(hashedKey, "message"));
  // A 65-byte key is.
  std::string longKey(65, 'k');
  Md5(longKey.data(), longKey.size(), keyDigest);
  EXPECT_EQ(HmacHex(std::string(reinterpret_cast<const char*>(keyDigest), kMd5DigestSize), "m"),
            HmacHex(longKey, "m"));
}

TEST(HmacMd5Test, EmptyKeyAndMessage) {
  uint8_t digest[kMd5DigestSize];
  HmacMd5(nullptr, 0, nullptr, 0, digest);
  EXPECT_EQ("74e6f7298a9c2d168935f58c001bad88", Hex(digest));
}

}  // namespace
}  // namespace Common
}  // namespace Velmora
