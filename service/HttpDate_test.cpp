#include "HttpDate.h"

#include <gtest/gtest.h>

namespace Velmora {
namespace ZQBlog {
namespace Service {
namespace {

TEST(HttpDateTest, FormatsRfc1123) {
  EXPECT_EQ("Thu, 01 Jan 1970 00:00:00 GMT", FormatHttpDate(0));
  EXPECT_EQ("Sun, 06 Nov 1994 08:49:37 GMT", FormatHttpDate(784111777));
  EXPECT_EQ("Tue, 29 Feb 2000 12:00:00 GMT", FormatHttpDate(951825600));
  EXPECT_EQ("Wed, 31 Dec 1969 23:59:59 GMT", FormatHttpDate(-1));
}

TEST(HttpDateTest, ParsesTheThreeHttpForms) {
  int64_t seconds = 0;
  for (const char* text : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                           "Sun Nov  6 08:49:37 1994", "06 Nov 1994 08:49:37 GMT",
                           "Sun, 6 Nov 1994 08:49:37 GMT"}) {
    seconds = 0;
    EXPECT_TRUE(ParseHttpDate(text, &seconds)) << text;
    EXPECT_EQ(784111777, seconds) << text;
  }
}

TEST(HttpDateTest, ParsesTheClientsEmptyCacheStamp) {
  // The client sends this when it has no cached copy; it must read as long ago.
  int64_t seconds = 0;
  ASSERT_TRUE(ParseHttpDate("Fri, 1 Jun 1000 01:01:01 GMT", &seconds));
  EXPECT_LT(seconds, 0);
  EXPECT_NE(std::string::npos, FormatHttpDate(seconds).find("01 Jun 1000 01:01:01 GMT"));
}

TEST(HttpDateTest, RoundTrips) {
  for (int64_t t = -86400 * 400; t < 4102444800; t += 86400 * 37 + 3671) {
    int64_t back = 0;
    ASSERT_TRUE(ParseHttpDate(FormatHttpDate(t), &back)) << FormatHttpDate(t);
    ASSERT_EQ(t, back) << FormatHttpDate(t);
  }
}

TEST(HttpDateTest, RefusesWhatIsNoDate) {
  int64_t seconds = 0;
  for (const char* bad :
       {"", "yesterday", "Sun, 06 Nov 1994 08:49:37", "Sun, 32 Nov 1994 08:49:37 GMT",
        "Sun, 06 Foo 1994 08:49:37 GMT", "Sun, 06 Nov 1994 8:49:37 GMT",
        "Sun, 06 Nov 1994 08:49:37 GMT extra", "Sun, 06 Nov 19945 08:49:37 GMT"}) {
    EXPECT_FALSE(ParseHttpDate(bad, &seconds)) << bad;
  }
}

TEST(HttpDateTest, FormatsLocalTimeAsTheListsShowIt) {
  const std::string text = FormatLocalTime(784111777);
  ASSERT_EQ(19u, text.size());
  EXPECT_EQ('-', text[4]);
  EXPECT_EQ('-', text[7]);
  EXPECT_EQ(' ', text[10]);
  EXPECT_EQ(':', text[13]);
  EXPECT_EQ(":37", text.substr(16));
}

}  // namespace
}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
