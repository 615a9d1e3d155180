#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

// "获取服务器信息" in code page 936.
const char kGbkText[] = "\xbb\xf1\xc8\xa1\xb7\xfe\xce\xf1\xc6\xf7\xd0\xc5\xcf\xa2";
const wchar_t kWideText[] = L"获取服务器信息";

std::wstring ToWide(UINT codePage, DWORD flags, const std::string& text) {
  int needed = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0);
  if (needed == 0) return L"<failed>";
  std::wstring out(static_cast<size_t>(needed), L'\0');
  EXPECT_EQ(needed, MultiByteToWideChar(codePage, flags, text.data(),
                                        static_cast<int>(text.size()), &out[0], needed));
  return out;
}

std::string ToNarrow(UINT codePage, DWORD flags, const std::wstring& text) {
  int needed = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
  if (needed == 0) return "<failed>";
  std::string out(static_cast<size_t>(needed), '\0');
  EXPECT_EQ(needed, WideCharToMultiByte(codePage, flags, text.data(),
                                        static_cast<int>(text.size()), &out[0], needed, nullptr,
                                        nullptr));
  return out;
}

TEST(CodePageTest, AnsiAndOemCodePagesAre936) {
  EXPECT_EQ(936u, GetACP());
  EXPECT_EQ(936u, GetOEMCP());
  EXPECT_EQ(936u, ZqGetConversionACP());
}

TEST(CodePageTest, ChineseTextRoundTripsThroughGbk) {
  for (UINT codePage : {static_cast<UINT>(CP_ACP), static_cast<UINT>(CP_OEMCP), 936u}) {
    EXPECT_EQ(kWideText, ToWide(codePage, 0, kGbkText)) << codePage;
    EXPECT_EQ(kGbkText, ToNarrow(codePage, 0, kWideText)) << codePage;
  }
  // 0x80 is the euro sign in code page 936.
  EXPECT_EQ(L"\x20AC", ToWide(936, 0, "\x80"));
}

TEST(CodePageTest, MinusOneLengthIncludesTheTerminator) {
  EXPECT_EQ(8, MultiByteToWideChar(CP_ACP, 0, kGbkText, -1, nullptr, 0));
  wchar_t wide[16];
  std::fill(wide, wide + 16, L'#');
  ASSERT_EQ(8, MultiByteToWideChar(CP_ACP, 0, kGbkText, -1, wide, 16));
  EXPECT_EQ(std::wstring(kWideText), std::wstring(wide));

  EXPECT_EQ(15, WideCharToMultiByte(CP_ACP, 0, kWideText, -1, nullptr, 0, nullptr, nullptr));
  char narrow[32];
  ASSERT_EQ(15, WideCharToMultiByte(CP_ACP, 0, kWideText, -1, narrow, 32, nullptr, nullptr));
  EXPECT_STREQ(kGbkText, narrow);
}

// Every single byte and every two-byte sequence of code page 936 converts as Windows
// converts it, and every code converts back to its sequence. The Windows side is
// testdata/cp936_windows.txt, made under Wine by testdata/cp936_windows.c.
TEST(CodePageTest, Cp936AgreesWithWindowsOnEverySequence) {
  std::ifstream table(ZQ_CP936_TABLE_PATH);
  ASSERT_TRUE(table.is_open()) << ZQ_CP936_TABLE_PATH;
  int sequences = 0, mismatches = 0;
  std::string line;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string first, field;
    fields >> first;
    bool single = first == "--";
    int lead = single ? 0 : std::stoi(first, nullptr, 16);
    for (int second = single ? 0 : 0x40; fields >> field; ++second) {
      std::string bytes = single ? std::string(1, static_cast<char>(second))
                                 : std::string{static_cast<char>(lead), static_cast<char>(second)};
      bool refused = field == "----";
      std::wstring windows = L"<failed>";
      if (!refused) windows.assign(1, static_cast<wchar_t>(std::stoi(field, nullptr, 16)));
      std::wstring ours = ToWide(936, MB_ERR_INVALID_CHARS, bytes);
      std::string back = refused ? bytes : ToNarrow(936, 0, windows);
      if ((ours != windows || back != bytes) && ++mismatches <= 10) {
        ADD_FAILURE() << "sequence " << std::hex << lead << ' ' << second << ": Windows "
                      << field << ", ours " << (ours.size() == 1 ? int{ours[0]} : -1)
                      << (back != bytes ? ", not converted back" : "");
      }
      ++sequences;
    }
  }
  EXPECT_EQ(24322, sequences);
  EXPECT_EQ(0, mismatches);
}

TEST(CodePageTest, ExplicitLengthWritesNoTerminator) {
  wchar_t wide[4] = {L'#', L'#', L'#', L'#'};
  ASSERT_EQ(2, MultiByteToWideChar(CP_UTF8, 0, "ab", 2, wide, 4));
  EXPECT_EQ(L'a', wide[0]);
  EXPECT_EQ(L'b', wide[1]);
  EXPECT_EQ(L'#', wide[2]);
}

TEST(CodePageTest, EmbeddedNulsAreConverted) {
  std::string text("a\0b", 3);
  EXPECT_EQ(std::wstring(L"a\0b", 3), ToWide(936, 0, text));
  EXPECT_EQ(text, ToNarrow(CP_UTF8, 0, std::wstring(L"a\0b", 3)));
}

TEST(CodePageTest, TooSmallOutputFailsWithInsufficientBuffer) {
  wchar_t wide[7];
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(936, 0, kGbkText, -1, wide, 7));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());

  char narrow[14];
  SetLastError(0);
  EXPECT_EQ(0, WideCharToMultiByte(936, 0, kWideText, -1, narrow, 14, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  // The exact size is enough.
  char exact[15];
  EXPECT_EQ(15, WideCharToMultiByte(936, 0, kWideText, -1, exact, 15, nullptr, nullptr));
}

TEST(CodePageTest, BadArgumentsAreRefused) {
  wchar_t wide[4];
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 4));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, nullptr, 3, wide, 4));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abc", -2, wide, 4));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 4));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  // A code page iconv does not know, and one that is not supported at all.
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(12345, 0, "abc", 3, wide, 4));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(65000, 0, "abc", 3, wide, 4));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  // UTF-8 has no default character.
  BOOL used = FALSE;
  char narrow[4];
  SetLastError(0);
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, L"a", 1, narrow, 4, nullptr, &used));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(CodePageTest, InvalidInputFailsOnlyWhenAskedTo) {
  wchar_t wide[8];
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3\x28", 2, wide, 8));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
  EXPECT_EQ(L"\xFFFD(", ToWide(CP_UTF8, 0, "\xC3\x28"));

  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "a\xFF" "b", 3, wide, 8));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
  EXPECT_EQ(L"a\xFFFD" L"b", ToWide(936, 0, "a\xFF" "b"));
  // A lead byte with nothing after it.
  EXPECT_EQ(0, MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "a\xBB", 2, wide, 8));
  EXPECT_EQ(L"a\xFFFD", ToWide(936, 0, "a\xBB"));
}

TEST(CodePageTest, Utf8DecodingFollowsUnicodeRules) {
  EXPECT_EQ(L"\x1F600", ToWide(CP_UTF8, 0, "\xF0\x9F\x98\x80"));
  // A truncated sequence is one replacement, and the next character survives.
  EXPECT_EQ(L"\xFFFD" L"A", ToWide(CP_UTF8, 0, "\xE4\xBD" "A"));
  // Overlong forms and encoded surrogates are invalid.
  EXPECT_EQ(L"\xFFFD\xFFFD", ToWide(CP_UTF8, 0, "\xC0\xAF"));
  EXPECT_EQ(L"\xFFFD\xFFFD\xFFFD", ToWide(CP_UTF8, 0, "\xED\xA0\x80"));
  EXPECT_EQ(L"<failed>", ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, "\xF4\x90\x80\x80"));
}

TEST(CodePageTest, UnmappableCharactersUseTheDefaultCharacter) {
  BOOL used = FALSE;
  char narrow[8] = {};
  ASSERT_EQ(3, WideCharToMultiByte(936, 0, L"a\x0E01" L"b", 3, narrow, 8, nullptr, &used));
  EXPECT_EQ(std::string("a?b"), std::string(narrow, 3));
  EXPECT_TRUE(used);

  used = FALSE;
  ASSERT_EQ(3, WideCharToMultiByte(936, 0, L"a\x0E01" L"b", 3, narrow, 8, "*", &used));
  EXPECT_EQ(std::string("a*b"), std::string(narrow, 3));
  EXPECT_TRUE(used);

  used = TRUE;
  ASSERT_EQ(14, WideCharToMultiByte(936, 0, kWideText, 7, narrow, 0, nullptr, &used));
  EXPECT_FALSE(used);
}

TEST(CodePageTest, LoneSurrogatesBecomeReplacementInUtf8UnlessStrict) {
  EXPECT_EQ("\xEF\xBF\xBD", ToNarrow(CP_UTF8, 0, L"\xD800"));
  char narrow[8];
  SetLastError(0);
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, L"\xD800", 1, narrow, 8,
                                   nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
  EXPECT_EQ("\xF0\x9F\x98\x80", ToNarrow(CP_UTF8, 0, L"\x1F600"));
}

TEST(CodePageTest, Windows1252MapsTheEuroAndPassesUndefinedBytes) {
  EXPECT_EQ(L"\x20AC\x00E9", ToWide(1252, 0, "\x80\xE9"));
  EXPECT_EQ(L"\x0081", ToWide(1252, MB_ERR_INVALID_CHARS, "\x81"));
  EXPECT_EQ("\x80\xE9\x81", ToNarrow(1252, 0, L"\x20AC\x00E9\x0081"));
}

TEST(CodePageTest, LongTextsConvertWhole) {
  std::wstring wide;
  std::string gbk;
  for (int i = 0; i < 20000; ++i) {
    wide += kWideText;
    gbk += kGbkText;
  }
  EXPECT_TRUE(ToWide(936, 0, gbk) == wide);
  EXPECT_TRUE(ToNarrow(936, 0, wide) == gbk);
  std::string utf8 = ToNarrow(CP_UTF8, 0, wide);
  EXPECT_EQ(wide.size() * 3, utf8.size());
  EXPECT_TRUE(ToWide(CP_UTF8, 0, utf8) == wide);
}

TEST(CodePageTest, ThreadsConvertIndependently) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 500; ++i) {
        wchar_t wide[16];
        char narrow[32];
        if (MultiByteToWideChar(936, 0, kGbkText, -1, wide, 16) != 8 ||
            std::wstring(wide) != kWideText) {
          ++failures[t];
        }
        if (WideCharToMultiByte(t % 2 == 0 ? 936 : CP_UTF8, 0, kWideText, -1, narrow, 32,
                                nullptr, nullptr) == 0) {
          ++failures[t];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(0, failures[t]) << t;
}

}  // namespace
