#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

uint32_t PrefixOf(BSTR text) {
  uint32_t length;
  std::memcpy(&length, reinterpret_cast<const unsigned char*>(text) - 4, 4);
  return length;
}

TEST(BstrTest, LengthPrefixHoldsByteCountAndTextIsTerminated) {
  BSTR text = SysAllocString(L"ZQBlog");
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(6u * sizeof(wchar_t), PrefixOf(text));
  EXPECT_EQ(6u, SysStringLen(text));
  EXPECT_EQ(6u * sizeof(wchar_t), SysStringByteLen(text));
  EXPECT_EQ(0, std::wmemcmp(L"ZQBlog", text, 6));
  EXPECT_EQ(L'\0', text[6]);
  SysFreeString(text);
}

TEST(BstrTest, EmbeddedNulsAreKeptAndCounted) {
  const wchar_t source[] = {L'a', L'\0', L'b', L'\0', L'c'};
  BSTR text = SysAllocStringLen(source, 5);
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(5u, SysStringLen(text));
  EXPECT_EQ(0, std::wmemcmp(source, text, 5));
  EXPECT_EQ(L'\0', text[5]);
  SysFreeString(text);
}

TEST(BstrTest, NullSourceGivesZeroedCharacters) {
  BSTR text = SysAllocStringLen(nullptr, 7);
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(7u, SysStringLen(text));
  for (int i = 0; i <= 7; ++i) EXPECT_EQ(L'\0', text[i]) << i;
  SysFreeString(text);
}

TEST(BstrTest, EmptyStringIsNotNull) {
  BSTR text = SysAllocString(L"");
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(0u, PrefixOf(text));
  EXPECT_EQ(0u, SysStringLen(text));
  EXPECT_EQ(L'\0', text[0]);
  SysFreeString(text);
}

TEST(BstrTest, NullIsTheEmptyString) {
  EXPECT_EQ(nullptr, SysAllocString(nullptr));
  EXPECT_EQ(0u, SysStringLen(nullptr));
  EXPECT_EQ(0u, SysStringByteLen(nullptr));
  SysFreeString(nullptr);  // must not crash
}

TEST(BstrTest, ByteLengthStringKeepsOddLengthAndTerminates) {
  BSTR text = SysAllocStringByteLen("abcde", 5);
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(5u, PrefixOf(text));
  EXPECT_EQ(5u, SysStringByteLen(text));
  EXPECT_EQ(5u / sizeof(wchar_t), SysStringLen(text));
  const char* bytes = reinterpret_cast<const char*>(text);
  EXPECT_EQ(0, std::memcmp("abcde", bytes, 5));
  for (size_t i = 5; i < 5 + sizeof(wchar_t); ++i) EXPECT_EQ('\0', bytes[i]) << i;
  SysFreeString(text);

  BSTR zeroed = SysAllocStringByteLen(nullptr, 3);
  ASSERT_NE(nullptr, zeroed);
  EXPECT_EQ(3u, SysStringByteLen(zeroed));
  EXPECT_EQ(0, std::memcmp("\0\0\0", zeroed, 3));
  SysFreeString(zeroed);
}

TEST(BstrTest, LengthsBeyondThe32BitPrefixAreRefused) {
  EXPECT_EQ(nullptr, SysAllocStringLen(nullptr, 0xFFFFFFF0u));
  EXPECT_EQ(nullptr, SysAllocStringLen(nullptr, 0x40000000u));  // 4 GiB of UTF-32
  EXPECT_EQ(nullptr, SysAllocStringByteLen(nullptr, 0xFFFFFFFFu));
}

}  // namespace
