#include "CookieCheck.h"

#include <gtest/gtest.h>

namespace Velmora {
namespace ZQBlog {
namespace Service {
namespace {

TEST(CookieCheckTest, SignsWithTheClientKey) {
  // Reference values computed independently with HMAC-MD5 and the key "?T#(W]~=K!+*QX".
  EXPECT_EQ("4acb1186a30e7b86bb18b379fbe96893", CookieSignature("10001", "20261201100000"));
  EXPECT_EQ("ee09282156476d769e0a294e657b1dde", CookieSignature("www", "19990101000000"));
  EXPECT_EQ("login_name=10001; login_time=20261201100000; key=4acb1186a30e7b86bb18b379fbe96893",
            BuildSignedCookie("10001", "20261201100000"));
}

TEST(CookieCheckTest, AcceptsAWellSignedCookie) {
  const std::string cookie = BuildSignedCookie("10001", "20261201100000");
  EXPECT_TRUE(CookieIsValid(cookie, "10001"));
  // Order and spacing of the pairs do not matter.
  EXPECT_TRUE(CookieIsValid(
      "key=4acb1186a30e7b86bb18b379fbe96893;login_time=20261201100000 ;  login_name=10001",
      "10001"));
}

TEST(CookieCheckTest, RejectsEveryFlaw) {
  const std::string good = BuildSignedCookie("10001", "20261201100000");
  EXPECT_FALSE(CookieIsValid(good, "10002")) << "login_name differs from the form's uin";
  EXPECT_FALSE(CookieIsValid(good, ""));
  EXPECT_FALSE(CookieIsValid("", "10001"));
  EXPECT_FALSE(CookieIsValid(
      "login_name=10001; login_time=20261201100000; key=4ACB1186A30E7B86BB18B379FBE96893",
      "10001"))
      << "the digest is lower-case hex";
  EXPECT_FALSE(CookieIsValid(
      "login_name=10001; login_time=20261201100001; key=4acb1186a30e7b86bb18b379fbe96893",
      "10001"))
      << "the time is signed too";
  EXPECT_FALSE(CookieIsValid(BuildSignedCookie("10001", "2026120110000"), "10001"))
      << "13-digit time";
  EXPECT_FALSE(CookieIsValid(BuildSignedCookie("10001", "2026120110000x"), "10001"));
  EXPECT_FALSE(CookieIsValid("login_name=10001; login_time=20261201100000", "10001"));
  EXPECT_FALSE(CookieIsValid(
      "login_name=10001; login_time=20261201100000; key=4acb1186a30e7b86bb18b379fbe9689",
      "10001"));
}

TEST(CookieCheckTest, FreshOnlyWithinTheWindowEitherWay) {
  const int64_t now = 1796688000;
  const std::string cookie = BuildSignedCookie("10001", LoginTimeText(now));
  EXPECT_TRUE(CookieIsFresh(cookie, now, 0));
  EXPECT_TRUE(CookieIsFresh(cookie, now + 300, 300));
  EXPECT_TRUE(CookieIsFresh(cookie, now - 300, 300)) << "a client clock a little ahead";
  EXPECT_FALSE(CookieIsFresh(cookie, now + 301, 300));
  EXPECT_FALSE(CookieIsFresh(cookie, now - 301, 300));
  EXPECT_FALSE(CookieIsFresh("login_name=10001; key=x", now, 300)) << "no login time";
  EXPECT_FALSE(CookieIsFresh("login_time=2026120110000x", now, 300));
}

}  // namespace
}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
