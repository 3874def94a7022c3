#include "main/speaker-probe/speaker_resolution.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ostrel::speaker {
namespace {

struct Case {
  const char* what;
  Meeting meeting;
  std::optional<std::string> knownSelf;
  Resolution expected;
};

std::vector<Regex> zoomPatterns() { return {*Regex::create(R"re(^(.+) is speaking$)re")}; }

TEST(ResolveSpeakerTest, MarkersAndInference) {
  const std::string overlong(81, 'x');
  const Case cases[] = {
      {"pattern names somebody else", {.strings = {"Bob is speaking"}}, "Ann", {"Bob", true}},
      {"pattern without an own name", {.strings = {"Bob is speaking"}}, std::nullopt, {std::nullopt, true}},
      {"pattern names the user", {.strings = {"ann  is speaking"}}, "Ann", {std::nullopt, true}},
      {"pattern outranks an active tile",
       {.tiles = {{"Carol", true}}, .strings = {"Bob is speaking"}}, "Ann", {"Bob", true}},
      {"implausible pattern text is passed over",
       {.tiles = {{"Carol", true}}, .strings = {overlong + " is speaking"}}, "Ann", {"Carol", true}},
      {"snapshot's own name comes before the known one",
       {.ownName = "Bob", .tiles = {{"Bob", true}}}, "Ann", {std::nullopt, true}},
      {"one active tile", {.tiles = {{"Ann", false}, {"Bob", true}}}, "Ann", {"Bob", true}},
      {"one active tile, no own name", {.tiles = {{"Bob", true}}}, std::nullopt, {std::nullopt, true}},
      {"one active tile showing the user", {.tiles = {{"Ann", true}, {"Bob", false}}}, "Ann", {std::nullopt, true}},
      {"two active tiles", {.tiles = {{"Bob", true}, {"Carol", true}}}, "Ann", {std::nullopt, true}},
      {"complete roster of two",
       {.roster = {"Ann", "Bob"}, .ownName = "Ann", .total = 2}, std::nullopt, {"Bob", false}},
      {"incomplete roster", {.roster = {"Ann", "Bob"}, .ownName = "Ann", .total = 3}, std::nullopt,
       {std::nullopt, false}},
      {"roster without a count", {.roster = {"Ann", "Bob"}}, "ann", {"Bob", false}},
      {"roster of one without own name", {.roster = {"Carol"}, .total = 1}, std::nullopt, {"Carol", false}},
      {"three in the roster", {.roster = {"Ann", "Bob", "Carol"}, .total = 3}, "Ann", {std::nullopt, false}},
      {"empty roster, two tiles, total 2", {.tiles = {{"Ann", false}, {"Bob", false}}, .total = 2}, "Ann",
       {"Bob", false}},
      {"empty roster, own tile differently spaced", {.tiles = {{"ANN", false}, {"Bob", false}}, .total = 2},
       "Ann", {"Bob", false}},
      {"empty roster without own name", {.tiles = {{"Ann", false}, {"Bob", false}}, .total = 2}, std::nullopt,
       {std::nullopt, false}},
      {"empty roster, total 3", {.tiles = {{"Ann", false}, {"Bob", false}}, .total = 3}, "Ann",
       {std::nullopt, false}},
      {"empty roster, two other tiles", {.tiles = {{"Bob", false}, {"Carol", false}}, .total = 2}, "Ann",
       {std::nullopt, false}},
  };
  const auto patterns = zoomPatterns();
  for (const auto& c : cases) EXPECT_EQ(resolveSpeaker(c.meeting, c.knownSelf, patterns), c.expected) << c.what;
}

TEST(ResolveSpeakerTest, WithoutPatternsTheStringsAreNotSearched) {
  const Meeting meeting{.roster = {"Ann", "Bob"}, .ownName = "Ann", .strings = {"Carol is speaking"}};
  EXPECT_EQ(resolveSpeaker(meeting, std::nullopt, {}), (Resolution{"Bob", false}));
}

TEST(RemoteParticipantsTest, DropsTheOwnNameByNameRulesAndKeepsOrderAndDuplicates) {
  const Meeting meeting{.roster = {"Bob", "Ann Lee", "Carol", "ann   lee", "Bob"}};
  EXPECT_EQ(remoteParticipants(meeting, "Ann Lee"), (std::vector<std::string>{"Bob", "Carol", "Bob"}));
  EXPECT_EQ(remoteParticipants(meeting, std::nullopt), meeting.roster);
}

}  // namespace
}  // namespace ostrel::speaker
