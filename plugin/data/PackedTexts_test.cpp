#include "data/PackedTexts.h"

#include <random>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace Velmora {
namespace ZQBlog {
namespace {

TEST(PackedTextsTest, FieldsAreIndependentThroughManyReplacements) {
  // Random replacements of random fields, checked against separate strings: every
  // field keeps its own text through appends and compactions.
  PackedTexts<5> texts;
  std::wstring expected[5];
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    const size_t field = random() % 5;
    std::wstring text(random() % 40, L'a' + static_cast<wchar_t>(round % 26));
    if (random() % 7 == 0) text.push_back(L'\0');  // zeros are kept as text
    texts.Set(field, text);
    expected[field] = text;
    for (size_t i = 0; i < 5; ++i) ASSERT_EQ(expected[i], texts.Get(i)) << round << " " << i;
  }
}

TEST(PackedTextsTest, ValueOfItsOwnTextCanBeSet) {
  PackedTexts<3> texts;
  texts.Set(0, L"alpha");
  texts.Set(1, L"beta");
  for (int i = 0; i < 100; ++i) texts.Set(2, texts.Get(0));  // the buffer moves meanwhile
  texts.Set(0, texts.Get(1).substr(1));
  EXPECT_EQ(L"eta", texts.Get(0));
  EXPECT_EQ(L"beta", texts.Get(1));
  EXPECT_EQ(L"alpha", texts.Get(2));
}

TEST(PackedTextsTest, FailedAppendLeavesEveryText) {
  PackedTexts<2> texts;
  texts.Set(0, L"kept");
  texts.Set(1, L"also kept");
  EXPECT_THROW(texts.SetBy(1,
                           [](std::wstring* out) {
                             out->append(L"half written");
                             throw std::runtime_error("conversion failed");
                           }),
               std::runtime_error);
  EXPECT_EQ(L"kept", texts.Get(0));
  EXPECT_EQ(L"also kept", texts.Get(1));
  texts.SetBy(0, [](std::wstring* out) { out->append(L"new"); });
  EXPECT_EQ(L"new", texts.Get(0));
  EXPECT_EQ(L"", PackedTexts<2>().Get(1));  // never set
}

TEST(PackedTextsTest, CopiesAreSeparate) {
  PackedTexts<2> first;
  first.Set(0, L"one");
  PackedTexts<2> second = first;
  second.Set(0, L"two");
  EXPECT_EQ(L"one", first.Get(0));
  EXPECT_EQ(L"two", second.Get(0));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
