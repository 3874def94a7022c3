#include "main/speaker-probe/name_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ostrel::speaker {
namespace {

std::string repeated(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(PlausibleNameTest, TrimsBlanksButNotLineBreaksAndAcceptsUpToEightyCharacters) {
  struct Case {
    std::string text;
    std::optional<std::string> name;
  };
  const Case cases[] = {
      {"  Ann Lee  ", "Ann Lee"},
      {"\tAnn\u00A0", "Ann"},         // tab and no-break space are blanks
      {"\u3000Ann\u2003", "Ann"},     // ideographic and em spaces too
      {"Ann\n", "Ann\n"},             // a line break is not a blank
      {"\u2028Ann", "\u2028Ann"},     // nor is the line separator
      {"\u00A0Ann \n", "Ann \n"},      // blanks only at the very end count
      {"", std::nullopt},
      {" \t\u00A0 ", std::nullopt},
      {repeated("a", 80), repeated("a", 80)},
      {" " + repeated("a", 80) + " ", repeated("a", 80)},
      {repeated("a", 81), std::nullopt},
      // Characters are what people see: e + combining acute is one.
      {repeated("e\u0301", 80), repeated("e\u0301", 80)},
      {repeated("e\u0301", 81), std::nullopt},
      {repeated("\U0001F468\u200D\U0001F469\u200D\U0001F467", 80),
       repeated("\U0001F468\u200D\U0001F469\u200D\U0001F467", 80)},
  };
  for (const auto& c : cases) EXPECT_EQ(plausibleName(c.text), c.name) << c.text;
}

TEST(SameNameTest, WhiteSpaceRunsAndCaseDoNotMatterPunctuationDoes) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"Ann Lee", "ann   lee", true},
      {"Ann Lee", "Ann-Lee", false},
      {" Ann\nLee\t", "ANN LEE", true},
      {"Ann\u00A0Lee", "ann lee", true},
      {"\u00C4nn", "\u00E4NN", true},
      {"AnnLee", "Ann Lee", false},
      {"Ann", "Anna", false},
      {"", "  ", true},
  };
  for (const auto& c : cases) EXPECT_EQ(sameName(c.a, c.b), c.same) << c.a << " / " << c.b;
}

}  // namespace
}  // namespace ostrel::speaker
