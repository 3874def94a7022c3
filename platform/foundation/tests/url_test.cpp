#include "platform/foundation/url.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(URLTest, ParseAcceptsOnlyAbsoluteHttpAddresses) {
  EXPECT_TRUE(URL::parse("http://127.0.0.1:8080"));
  EXPECT_TRUE(URL::parse("HTTPS://example.test/base/"));
  EXPECT_FALSE(URL::parse("ftp://example.test"));
  EXPECT_FALSE(URL::parse("example.test/path"));
  EXPECT_FALSE(URL::parse("http://"));
  EXPECT_FALSE(URL::parse("http://host/with space"));
  EXPECT_FALSE(URL::parse(""));
}

TEST(URLTest, AppendingKeepsExactlyOneSlash) {
  EXPECT_EQ(URL::parse("http://h:1")->appendingPathSegment("api").string(), "http://h:1/api");
  EXPECT_EQ(URL::parse("http://h:1/")->appendingPathSegment("api").string(), "http://h:1/api");
  EXPECT_EQ(URL::parse("http://h/base")->appendingPathSegment("api").string(), "http://h/base/api");
  EXPECT_EQ(URL::parse("http://h/base/?x=1")->appendingPathSegment("api").string(), "http://h/base/api?x=1");
}

TEST(URLTest, SegmentsCannotChangeThePathShape) {
  const std::pair<const char*, const char*> cases[] = {
      {"doc:42", "doc:42"},
      {"folder:a/b", "folder:a%2Fb"},
      {"x?y=1", "x%3Fy%3D1"},
      {"frag#ment", "frag%23ment"},
      {"..", "%2E%2E"},
      {".", "%2E"},
      {"...", "..."},
      {"a..b", "a..b"},
      {"100%", "100%25"},
      {"sp ace+plus", "sp%20ace%2Bplus"},
      {"user@host", "user@host"},
      {"caf\u00E9", "caf%C3%A9"},
  };
  for (const auto& [segment, encoded] : cases) EXPECT_EQ(percentEncodePathSegment(segment), encoded) << segment;
}

TEST(URLTest, QueryItemsInOrderAndEncoded) {
  auto url = URL::parse("http://h/api?old=1#frag");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->withQueryItems({{"limit", "200"}, {"page", "c&d=e f"}}).string(),
            "http://h/api?limit=200&page=c%26d%3De%20f#frag");
  EXPECT_EQ(url->withQueryItems({}).string(), "http://h/api#frag");
}

}  // namespace
}  // namespace ostrel
