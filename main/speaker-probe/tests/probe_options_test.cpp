#include "main/speaker-probe/probe_options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "main/speaker-probe/probe_clock.h"

namespace ostrel::speaker {
namespace {

using Arguments = std::vector<std::string>;

TEST(ProbeOptionsTest, FirstMatchingArgumentWithItsPrefixRemovedEverywhere) {
  struct Case {
    Arguments arguments;
    std::string bundleID;
    std::optional<std::string> knownSelf;
  };
  const Case cases[] = {
      {{}, "us.zoom.xos", std::nullopt},
      {{"--bundle=com.example.meet"}, "com.example.meet", std::nullopt},
      {{"--bundle=a", "--bundle=b"}, "a", std::nullopt},
      {{"--bundle=--bundle=x"}, "x", std::nullopt},
      {{"--bundle=a--bundle=b"}, "ab", std::nullopt},
      {{"-bundle=x", "--bundlex=y", "bundle=z", "--bundle"}, "us.zoom.xos", std::nullopt},
      {{"--bundle="}, "", std::nullopt},
      {{"stray", "--self=  Ann Lee\t"}, "us.zoom.xos", "Ann Lee"},
      {{"--self=Ann", "--self=Bob"}, "us.zoom.xos", "Ann"},
      {{"--self="}, "us.zoom.xos", std::nullopt},
      {{"--self=   "}, "us.zoom.xos", std::nullopt},
      {{"--self=" + std::string(80, 'a')}, "us.zoom.xos", std::string(80, 'a')},
      {{"--self=" + std::string(81, 'a')}, "us.zoom.xos", std::nullopt},
  };
  for (const auto& c : cases) {
    const ProbeOptions options = parseProbeOptions(c.arguments);
    const std::string shown = c.arguments.empty() ? "" : c.arguments.back();
    EXPECT_EQ(options.bundleID, c.bundleID) << shown;
    EXPECT_EQ(options.knownSelf, c.knownSelf) << shown;
  }
}

TEST(ProbeOptionsTest, IntervalIsANumberOfSecondsElseHalfASecond) {
  const double infinity = std::numeric_limits<double>::infinity();
  struct Case {
    const char* argument;
    double interval;
  };
  const Case cases[] = {
      {"--interval=2", 2.0},     {"--interval=0.25", 0.25}, {"--interval=1e-1", 0.1},
      {"--interval=-1", -1.0},   {"--interval=inf", infinity},
      {"--interval=abc", 0.5},   {"--interval= 2", 0.5},    {"--interval=2 ", 0.5},
      {"--interval=", 0.5},      {"--interval=2s", 0.5},    {"--interval=nan", 0.5},
  };
  for (const auto& c : cases) EXPECT_EQ(parseProbeOptions(Arguments{c.argument}).pollInterval, c.interval) << c.argument;
  EXPECT_EQ(parseProbeOptions(Arguments{}).pollInterval, 0.5);
}

TEST(ProbeOptionsTest, SecondsBecomeASleepThatNeverOverflows) {
  using std::chrono::milliseconds;
  EXPECT_EQ(durationOfSeconds(0.5), milliseconds(500));
  EXPECT_EQ(durationOfSeconds(2), milliseconds(2000));
  EXPECT_EQ(durationOfSeconds(-1), Clock::Duration::zero());
  EXPECT_EQ(durationOfSeconds(std::nan("")), Clock::Duration::zero());
  const auto century = std::chrono::hours(24 * 365 * 100);
  EXPECT_EQ(durationOfSeconds(std::numeric_limits<double>::infinity()), century);
  EXPECT_EQ(durationOfSeconds(1e300), century);
}

TEST(SpeakerPatternsTest, OneCaseSensitivePatternPerLineTakenAsItStands) {
  const auto patterns = speakerPatterns("(\\w+) speaks\n\n[unclosed\n (\\w+) talks\n");
  ASSERT_EQ(patterns.size(), 2u);
  EXPECT_TRUE(patterns[0].matches("Ann speaks"));
  EXPECT_FALSE(patterns[0].matches("Ann SPEAKS"));
  // The leading blank is part of the pattern.
  EXPECT_TRUE(patterns[1].matches("Bob: Ann talks"));
  EXPECT_FALSE(patterns[1].matches("Ann talks"));
  EXPECT_TRUE(speakerPatterns("").empty());
  EXPECT_TRUE(speakerPatterns("\n\n").empty());
}

}  // namespace
}  // namespace ostrel::speaker
