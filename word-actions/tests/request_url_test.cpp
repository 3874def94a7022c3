#include <gtest/gtest.h>

#include "word-actions/request_url.h"

namespace ostrel::wordactions {
namespace {

TEST(RequestURL, Validity) {
  struct Case {
    std::string scheme;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"ostrel", true}, {"ostrel-dev", true}, {"x.y+z1", true},
      {"", false},      {"1ostrel", false},   {"ost rel", false}, {"ostrel%", false}, {"ostrél", false},
      {"a\"b", false},  {"a<b", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isValidURLString(requestURL(c.scheme, "save-version")), c.valid) << c.scheme;
  }
  EXPECT_EQ(requestURL("ostrel", "save-as-new"), "ostrel://word/save-as-new");
  EXPECT_TRUE(isValidURLString("ostrel://word/open%20x"));
  EXPECT_FALSE(isValidURLString("ostrel://word/open%2"));
  EXPECT_FALSE(isValidURLString("ostrel://word/open%zz"));
}

}  // namespace
}  // namespace ostrel::wordactions
