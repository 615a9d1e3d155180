#include "data/PackedTexts.h"

#include <random>
#include <string>

#include <gtest/gtest.h>

namespace Velmora {
namespace ZQBlog {
namespace {

TEST(PackedTextsTest, FieldsAreIndependentThroughManyReplacements) {
  // Random replacements of random fields, as wide text or as UTF-8 bytes, checked
  // against separate strings: every field keeps its own text through appends and
  // compactions.
  PackedTexts<5> texts;
  std::wstring expected[5];
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    const size_t field = random() % 5;
    const size_t length = random() % 40;
    if (random() % 2 == 0) {
      std::wstring text(length, static_cast<wchar_t>(L'a' + round % 26));
      if (random() % 7 == 0) text.push_back(L'\0');  // zeros are kept as text
      texts.Set(field, text);
      expected[field] = text;
    } else {
      std::string bytes;
      for (size_t i = 0; i < length; ++i) bytes += (i % 5 == 4) ? "\xe6\x97\x85" : "x";
      texts.SetBytes(field, bytes, CP_UTF8);
      expected[field] = MultiByteToWide(CP_UTF8, bytes.data(), bytes.size());
    }
    for (size_t i = 0; i < 5; ++i) ASSERT_EQ(expected[i], texts.Get(i)) << round << " " << i;
  }
}

TEST(PackedTextsTest, BytesAreConvertedWhenRead) {
  PackedTexts<3> texts;
  const std::string ansi("\xbb\xf1\xc8\xa1");  // "获取" in code page 936
  texts.SetBytes(0, ansi, 936);
  texts.SetBytes(1, "\xe8\x8e\xb7\xe5\x8f\x96", CP_UTF8);
  texts.Set(2, L"wide");
  EXPECT_EQ(L"获取", texts.Get(0));
  EXPECT_EQ(L"获取", texts.Get(1));
  EXPECT_EQ(L"wide", texts.Get(2));
  std::wstring out = L">";
  texts.AppendTo(1, &out);
  EXPECT_EQ(L">获取", out);
  std::string_view bytes;
  UINT codePage = 0;
  ASSERT_TRUE(texts.Bytes(0, &bytes, &codePage));
  EXPECT_EQ(ansi, bytes);
  EXPECT_EQ(936u, codePage);
  EXPECT_FALSE(texts.Bytes(2, &bytes, &codePage));  // wide text has no bytes
  EXPECT_TRUE(PackedTexts<1>().Empty(0));
  EXPECT_EQ(L"", PackedTexts<1>().Get(0));  // never set
}

TEST(PackedTextsTest, FailedConversionChangesNothing) {
  PackedTexts<2> texts;
  texts.SetBytes(0, "abc\xff", 12345);  // no such code page
  texts.Set(1, L"kept");
  std::wstring out = L"before";
  EXPECT_THROW(texts.AppendTo(0, &out), ConversionError);
  EXPECT_EQ(L"before", out);
  EXPECT_EQ(L"kept", texts.Get(1));
}

TEST(PackedTextsTest, ValueOfItsOwnTextCanBeSet) {
  PackedTexts<3> texts;
  texts.Set(0, L"alpha");
  texts.Set(1, L"beta");
  for (int i = 0; i < 100; ++i) {
    const std::wstring first = texts.Get(0);
    texts.Set(2, first);
  }
  texts.Set(0, texts.Get(1).substr(1));
  EXPECT_EQ(L"eta", texts.Get(0));
  EXPECT_EQ(L"beta", texts.Get(1));
  EXPECT_EQ(L"alpha", texts.Get(2));
}

TEST(PackedTextsTest, CopiesAreSeparate) {
  PackedTexts<2> first;
  first.SetBytes(0, "one", CP_UTF8);
  PackedTexts<2> second = first;
  second.Set(0, L"two");
  EXPECT_EQ(L"one", first.Get(0));
  EXPECT_EQ(L"two", second.Get(0));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
