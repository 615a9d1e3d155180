#include "util/StringConversion.h"

#include <string>

#include <gtest/gtest.h>

namespace Velmora {
namespace ZQBlog {
namespace {

// "获取服务器信息" in the ANSI code page (936).
const std::string kAnsi("\xbb\xf1\xc8\xa1\xb7\xfe\xce\xf1\xc6\xf7\xd0\xc5\xcf\xa2");
const std::wstring kWide(L"获取服务器信息");

TEST(StringConversionTest, AnsiTextRoundTrips) {
  EXPECT_EQ(kWide, AnsiToWide(kAnsi));
  EXPECT_EQ(kAnsi, WideToAnsi(kWide));
  EXPECT_EQ(L"", AnsiToWide(""));
  EXPECT_EQ("", WideToAnsi(L""));
}

TEST(StringConversionTest, EmbeddedNulsAreConverted) {
  std::string ansi = kAnsi + std::string(1, '\0') + "tail";
  std::wstring wide = kWide + std::wstring(1, L'\0') + L"tail";
  EXPECT_EQ(wide, AnsiToWide(ansi));
  EXPECT_EQ(ansi, WideToAnsi(wide));
  EXPECT_EQ(std::wstring(2, L'\0'), AnsiToWide(std::string(2, '\0')));
}

TEST(StringConversionTest, NamedCodePages) {
  const std::string utf8("\xe8\x8e\xb7\xe5\x8f\x96");  // "获取"
  EXPECT_EQ(L"获取", MultiByteToWide(CP_UTF8, utf8.data(), utf8.size()));
  EXPECT_EQ(utf8, WideToMultiByte(CP_UTF8, L"获取", 2));
  // Only the given length is converted.
  EXPECT_EQ(L"获", MultiByteToWide(936, kAnsi.data(), 2));
  EXPECT_EQ(L"", MultiByteToWide(CP_UTF8, nullptr, 0));
}

TEST(StringConversionTest, FailuresRaiseConversionErrorWithTheLastError) {
  try {
    MultiByteToWide(12345, "abc", 3);
    FAIL() << "no exception";
  } catch (const ConversionError& e) {
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), e.m_hr);
  }
  EXPECT_THROW(WideToMultiByte(12345, L"abc", 3), ConversionError);
  EXPECT_THROW(MultiByteToWide(CP_UTF8, nullptr, 3), ConversionError);
}

// The statement-scoped ATL conversions and the string helpers agree around the size
// of the inline buffer (128 with the terminator).
TEST(StringConversionTest, AtlConversionsAgreeAroundTheInlineBuffer) {
  for (size_t length : {126u, 127u, 128u, 129u}) {
    std::string ansi(length, 'q');
    CA2W wide(ansi.c_str());
    EXPECT_EQ(AnsiToWide(ansi), std::wstring(wide)) << length;
    EXPECT_EQ(length < 128, wide.m_psz == wide.m_szBuffer) << length;
    CW2A back(wide);
    EXPECT_EQ(ansi, std::string(back)) << length;
    EXPECT_EQ(length < 128, back.m_psz == back.m_szBuffer) << length;
  }
  std::string longAnsi;
  for (int i = 0; i < 40; ++i) longAnsi += kAnsi;  // 560 bytes, 280 characters
  CA2W wide(longAnsi.c_str());
  EXPECT_EQ(AnsiToWide(longAnsi), std::wstring(wide));
  CW2A back(wide);
  EXPECT_EQ(longAnsi, std::string(back));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
