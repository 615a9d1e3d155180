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

TEST(StringConversionTest, AppendKeepsWhatIsThereAndNothingOnFailure) {
  const std::string utf8("\xe8\x8e\xb7\xe5\x8f\x96 x");  // "获取 x"
  std::wstring out = L"head:";
  AppendMultiByteToWide(CP_UTF8, utf8.data(), utf8.size(), &out);
  AppendMultiByteToWide(CP_UTF8, "/ascii", 6, &out);
  AppendMultiByteToWide(936, kAnsi.data(), kAnsi.size(), &out);
  AppendMultiByteToWide(CP_UTF8, "", 0, &out);
  EXPECT_EQ(L"head:获取 x/ascii" + kWide, out);
  EXPECT_THROW(AppendMultiByteToWide(12345, "abc\xff", 4, &out), ConversionError);
  EXPECT_THROW(AppendMultiByteToWide(CP_UTF8, nullptr, 3, &out), ConversionError);
  EXPECT_EQ(L"head:获取 x/ascii" + kWide, out);
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

// What the system's conversion gives, called directly.
std::wstring SystemToWide(UINT codePage, const std::string& text) {
  int needed = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0);
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], needed);
  return wide;
}

// Plain ASCII takes a short way; it must give what the system gives, for every byte
// below 0x80 and for texts that mix ASCII with other characters.
TEST(StringConversionTest, AsciiAndMixedTextsConvertAsTheSystemDoes) {
  std::string ascii;
  for (int c = 0; c < 0x80; ++c) ascii += static_cast<char>(c);
  for (UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP), 936u}) {
    EXPECT_EQ(SystemToWide(codePage, ascii), MultiByteToWide(codePage, ascii.data(), ascii.size()))
        << codePage;
  }
  EXPECT_EQ(L"id=501 " + kWide + L" end", AnsiToWide("id=501 " + kAnsi + " end"));
  const std::string utf8 = "name: \xe8\x8e\xb7\xe5\x8f\x96.zip";  // "获取"
  EXPECT_EQ(L"name: 获取.zip", MultiByteToWide(CP_UTF8, utf8.data(), utf8.size()));
  // A byte that is no character still becomes what the system makes of it.
  const std::string broken = "ab\xff" "cd";
  EXPECT_EQ(SystemToWide(CP_UTF8, broken), MultiByteToWide(CP_UTF8, broken.data(), broken.size()));
  EXPECT_EQ(SystemToWide(936, broken), MultiByteToWide(936, broken.data(), broken.size()));
  // Long texts, ASCII and not.
  const std::string longAscii(5000, 'x');
  EXPECT_EQ(std::wstring(5000, L'x'), AnsiToWide(longAscii));
  std::string longAnsi;
  std::wstring longWide;
  for (int i = 0; i < 300; ++i) {
    longAnsi += kAnsi + "/";
    longWide += kWide + L"/";
  }
  EXPECT_EQ(longWide, AnsiToWide(longAnsi));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
