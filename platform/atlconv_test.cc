#include <string>

#include <gtest/gtest.h>

#include "platform/atlconv.h"

namespace {

// "获" in code page 936: two bytes, one wide character.
const char kGbkChar[] = "\xbb\xf1";

TEST(CA2WTest, TextsUpTo128ConvertedCharactersStayInline) {
  std::string fits(127, 'x');  // 127 + terminator = 128
  CA2W inlineText(fits.c_str());
  EXPECT_EQ(inlineText.m_szBuffer, inlineText.m_psz);
  EXPECT_EQ(std::wstring(127, L'x'), std::wstring(inlineText));

  std::string over(128, 'y');  // 129 with the terminator
  CA2W heapText(over.c_str());
  EXPECT_NE(heapText.m_szBuffer, heapText.m_psz);
  EXPECT_EQ(std::wstring(128, L'y'), std::wstring(heapText));
}

TEST(CA2WTest, TheConvertedSizeDecidesNotTheInputSize) {
  // 100 double-byte characters: 201 input bytes, 101 wide characters.
  std::string gbk;
  for (int i = 0; i < 100; ++i) gbk += kGbkChar;
  CA2W text(gbk.c_str());
  EXPECT_EQ(text.m_szBuffer, text.m_psz);
  EXPECT_EQ(std::wstring(100, L'获'), std::wstring(text));
}

TEST(CW2ATest, TextsUpTo128ConvertedBytesStayInline) {
  std::wstring fits(127, L'x');
  CW2A inlineText(fits.c_str());
  EXPECT_EQ(inlineText.m_szBuffer, inlineText.m_psz);
  EXPECT_EQ(std::string(127, 'x'), std::string(inlineText));

  std::wstring over(128, L'y');
  CW2A heapText(over.c_str());
  EXPECT_NE(heapText.m_szBuffer, heapText.m_psz);
  EXPECT_EQ(std::string(128, 'y'), std::string(heapText));

  // 64 Chinese characters take 129 bytes with the terminator, 63 take 127.
  std::string gbk63;
  for (int i = 0; i < 63; ++i) gbk63 += kGbkChar;
  CW2A chinese63(std::wstring(63, L'获').c_str());
  EXPECT_EQ(chinese63.m_szBuffer, chinese63.m_psz);
  EXPECT_EQ(gbk63, std::string(chinese63));
  CW2A chinese64(std::wstring(64, L'获').c_str());
  EXPECT_NE(chinese64.m_szBuffer, chinese64.m_psz);
  EXPECT_EQ(gbk63 + kGbkChar, std::string(chinese64));
}

TEST(ConversionTest, NullGivesNullAndEmptyGivesEmpty) {
  CA2W wide(nullptr);
  EXPECT_EQ(nullptr, static_cast<LPWSTR>(wide));
  CW2A narrow(nullptr);
  EXPECT_EQ(nullptr, static_cast<LPSTR>(narrow));
  CA2W emptyWide("");
  ASSERT_NE(nullptr, static_cast<LPWSTR>(emptyWide));
  EXPECT_EQ(L'\0', emptyWide.m_psz[0]);
}

TEST(ConversionTest, ExplicitCodePageIsUsed) {
  CA2W fromUtf8("\xE8\x8E\xB7", CP_UTF8);
  EXPECT_EQ(std::wstring(L"获"), std::wstring(fromUtf8));
  CW2A toUtf8(L"获", CP_UTF8);
  EXPECT_EQ(std::string("\xE8\x8E\xB7"), std::string(toUtf8));
}

TEST(ConversionTest, FailureThrowsTheLastErrorAsHresult) {
  try {
    CA2W text("abc", 12345);  // no such code page
    FAIL() << "no exception";
  } catch (const CAtlException& e) {
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), e.m_hr);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), static_cast<HRESULT>(e));
    EXPECT_STREQ("ATL exception 0x80070057", e.what());
  }
  std::wstring longText(300, L'z');
  EXPECT_THROW(CW2A(longText.c_str(), 12345), CAtlException);
}

// The HRESULT the call throws as CAtlException, or S_OK when it throws nothing.
template <class F>
HRESULT Thrown(F call) {
  try {
    call();
  } catch (const CAtlException& e) {
    return e.m_hr;
  }
  return S_OK;
}

TEST(AtlThrowTest, LastWin32ErrorOfZeroIsEFail) {
  EXPECT_EQ(E_FAIL, Thrown([] {
              SetLastError(0);
              AtlThrowLastWin32();
            }));
  EXPECT_EQ(static_cast<HRESULT>(0x80070005u), Thrown([] {
              SetLastError(ERROR_ACCESS_DENIED);
              AtlThrowLastWin32();
            }));
  EXPECT_EQ(E_OUTOFMEMORY, Thrown([] { AtlThrow(E_OUTOFMEMORY); }));
  EXPECT_THROW(AtlThrow(E_FAIL), std::exception);
}

}  // namespace
