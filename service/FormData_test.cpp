#include "FormData.h"

#include <gtest/gtest.h>

#include "service/test/ServiceTestClient.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {
namespace {

TEST(FormDataTest, DecodesWhatTheClientEscapes) {
  const std::string name = "a&b c=d?e/f\\g+h%i\r\nj";
  const FormData form =
      FormData::Parse("encoder=utf-8&uin=10001&category_name=" + ClientUrlEscape(name));
  EXPECT_EQ("utf-8", form.Get("encoder"));
  EXPECT_EQ("10001", form.Get("uin"));
  EXPECT_EQ(name, form.Get("category_name"));
  EXPECT_EQ(3u, form.size());
}

TEST(FormDataTest, KeepsCharactersTheClientLeavesRaw) {
  // '#', '"' and UTF-8 bytes arrive unescaped; a '+' is a plus, not a space.
  const FormData form = FormData::Parse("name=\xE6\x97\x85#\"x\"+y&next=1");
  EXPECT_EQ("\xE6\x97\x85#\"x\"+y", form.Get("name"));
  EXPECT_EQ("1", form.Get("next"));
}

TEST(FormDataTest, IsLenientWithOddPairs) {
  const FormData form = FormData::Parse(std::string("a=1&&flag&b=x=y&a=2&c=%zz%4&d=%41%4a") +
                                        std::string(2, '\0'));
  EXPECT_EQ("1", form.Get("a")) << "the first of two fields wins";
  ASSERT_NE(nullptr, form.Find("flag"));
  EXPECT_EQ("", *form.Find("flag"));
  EXPECT_EQ("x=y", form.Get("b")) << "split at the first '=' only";
  EXPECT_EQ("%zz%4", form.Get("c")) << "malformed escapes stay as they are";
  EXPECT_EQ("AJ", form.Get("d")) << "trailing NULs are not part of the value";
  EXPECT_EQ(nullptr, form.Find("missing"));
  EXPECT_EQ("dflt", form.Get("missing", "dflt"));
  EXPECT_EQ(0u, FormData::Parse("").size());
}

TEST(FormDataTest, ReadsIntegersStrictly) {
  int32_t value = 0;
  EXPECT_TRUE(ParseInt32("123", &value));
  EXPECT_EQ(123, value);
  EXPECT_TRUE(ParseInt32("-2147483648", &value));
  EXPECT_EQ(INT32_MIN, value);
  EXPECT_TRUE(ParseInt32("+2147483647", &value));
  EXPECT_EQ(INT32_MAX, value);
  for (const char* bad : {"", "-", "12a", " 1", "2147483648", "-2147483649", "1.5"}) {
    EXPECT_FALSE(ParseInt32(bad, &value)) << bad;
  }
  const FormData form = FormData::Parse("num=7&bad=x");
  EXPECT_TRUE(form.GetInt("num", &value));
  EXPECT_EQ(7, value);
  EXPECT_FALSE(form.GetInt("bad", &value));
  EXPECT_FALSE(form.GetInt("missing", &value));
}

}  // namespace
}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
