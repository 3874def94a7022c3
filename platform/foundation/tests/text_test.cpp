#include "platform/foundation/text.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace ostrel {
namespace {

TEST(TextTest, GraphemeCountCountsWhatPeopleSee) {
  const std::pair<std::string, size_t> cases[] = {
      {"", 0},
      {"abc", 3},
      {"Cafe\u0301", 4},                                        // e + combining acute
      {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 1},       // family emoji
      {"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 2},         // two flags
      {"\xE4\xB8\xAD\xE6\x96\x87", 2},                          // two CJK characters
      {"a\r\nb", 3},                                            // CR LF is one character
  };
  for (const auto& [text, count] : cases) EXPECT_EQ(graphemeCount(text), count) << text;
}

TEST(TextTest, GraphemePrefixNeverSplitsACharacter) {
  EXPECT_EQ(graphemePrefix("Cafe\u0301s", 4), "Cafe\u0301");
  EXPECT_EQ(graphemePrefix("ab", 5), "ab");
  EXPECT_EQ(graphemePrefix("ab", 0), "");
}

TEST(TextTest, TrimmedRemovesUnicodeSpaceAndLineBreaks) {
  EXPECT_EQ(trimmed("  a b \n"), "a b");
  EXPECT_EQ(trimmed("\u00A0\u3000name\u2028\t"), "name");
  EXPECT_EQ(trimmed(" \n "), "");
  EXPECT_EQ(trimmed("x"), "x");
}

TEST(TextTest, LowercasedMapsBeyondASCII) {
  EXPECT_EQ(lowercased("~WRL0001.TMP"), "~wrl0001.tmp");
  EXPECT_EQ(lowercased("\u00C4RGER \u0130"), "\u00E4rger i\u0307");
}

TEST(TextTest, ValidUTF8) {
  EXPECT_TRUE(isValidUTF8("plain \u00E9"));
  EXPECT_FALSE(isValidUTF8("\xff"));
  EXPECT_FALSE(isValidUTF8("\xC3"));          // truncated sequence
  EXPECT_FALSE(isValidUTF8("\xED\xA0\x80"));  // a lone surrogate
}

TEST(RegexTest, BadPatternIsAFormattingError) {
  auto regex = Regex::create("(unclosed");
  ASSERT_FALSE(regex);
  EXPECT_EQ(regex.error().domain, "NSCocoaErrorDomain");
  EXPECT_EQ(regex.error().code, 2048);
}

TEST(RegexTest, GroupsMatchesAndReplacement) {
  auto regex = Regex::create(R"re((\w+) is (speaking|talking)(!)?)re", {.caseInsensitive = true});
  ASSERT_TRUE(regex);
  auto match = regex->firstMatch("Ann Lee IS Speaking");
  ASSERT_TRUE(match);
  EXPECT_EQ(match->group(1), "Lee");
  EXPECT_EQ(match->group(2), "Speaking");
  EXPECT_FALSE(match->group(3));
  EXPECT_FALSE(regex->matches("nobody here"));

  auto fraction = Regex::create(R"re((\.\d{3})\d+)re");
  ASSERT_TRUE(fraction);
  EXPECT_EQ(fraction->replacingMatches("09:30:00.123456Z and .98765", "$1"), "09:30:00.123Z and .987");
  EXPECT_EQ(fraction->allMatches("a.1234 b.5678").size(), 2u);
}

// (a+)+$ on forty a's and a "!" takes 2^40 steps to fail: without a bound
// the call would not come back for hours.
TEST(RegexTest, AMatchThatBacktracksWithoutEndGivesUp) {
  auto regex = Regex::create("^(a+)+$");
  ASSERT_TRUE(regex);
  const std::string hostile = std::string(40, 'a') + "!";
  EXPECT_FALSE(regex->firstMatch(hostile));
  EXPECT_TRUE(regex->allMatches(hostile).empty());
  EXPECT_EQ(regex->replacingMatches(hostile, "x"), hostile);
  // A long text that matches at once still matches.
  EXPECT_TRUE(regex->matches(std::string(100000, 'a')));
}

TEST(RegexTest, OneCompiledPatternServesManyThreads) {
  auto regex = Regex::create(R"re(^speaker: (.+)$)re");
  ASSERT_TRUE(regex);
  std::vector<std::thread> threads;
  std::vector<int> hits(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        auto m = regex->firstMatch("speaker: P" + std::to_string(t));
        if (m && m->group(1) == "P" + std::to_string(t)) ++hits[static_cast<size_t>(t)];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int count : hits) EXPECT_EQ(count, 500);
}

}  // namespace
}  // namespace ostrel
