#include "common/Md5.h"

#include <cstdio>
#include <cstring>
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

std::string Md5Hex(const std::string& text) {
  uint8_t digest[kMd5DigestSize];
  Md5(text.data(), text.size(), digest);
  return Hex(digest);
}

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Test, Rfc1321Suite) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Md5Hex(""));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Md5Hex("a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Md5Hex("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", Md5Hex("message digest"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", Md5Hex("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
            Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            Md5Hex("1234567890123456789012345678901234567890"
                   "1234567890123456789012345678901234567890"));
}

TEST(Md5Test, NullDataOfLengthZeroIsTheEmptyMessage) {
  uint8_t digest[kMd5DigestSize];
  Md5(nullptr, 0, digest);
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Hex(digest));
}

// Lengths around the padding boundaries (55, 56, 63, 64 bytes) in pieces of every size
// give the same digest as in one piece.
TEST(Md5Test, PiecewiseUpdatesMatchOneShot) {
  std::string text;
  for (int i = 0; i < 200; ++i) text.push_back(static_cast<char>('A' + i % 53));
  for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 200u}) {
    std::string whole = Md5Hex(text.substr(0, length));
    for (size_t piece = 1; piece <= 70; piece += 3) {
      Md5Context context;
      for (size_t at = 0; at < length; at += piece) {
        context.Update(text.data() + at, std::min(piece, length - at));
      }
      uint8_t digest[kMd5DigestSize];
      context.Final(digest);
      EXPECT_EQ(whole, Hex(digest)) << "length " << length << " piece " << piece;
    }
  }
  // Million 'a's, the long test vector of the MD5 literature.
  Md5Context context;
  std::string thousand(1000, 'a');
  for (int i = 0; i < 1000; ++i) context.Update(thousand.data(), thousand.size());
  uint8_t digest[kMd5DigestSize];
  context.Final(digest);
  EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", Hex(digest));
}

TEST(Md5Test, FinalStartsANewMessage) {
  Md5Context context;
  context.Update("abc", 3);
  uint8_t first[kMd5DigestSize];
  context.Final(first);
  context.Update("a", 1);
  uint8_t second[kMd5DigestSize];
  context.Final(second);
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(first));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Hex(second));
}

}  // namespace
}  // namespace Common
}  // namespace Velmora
