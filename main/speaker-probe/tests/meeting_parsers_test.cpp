#include "main/speaker-probe/meeting_parsers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ostrel::speaker {
namespace {

TEST(ParseRosterRowTest, NameAndOwnMarker) {
  struct Case {
    const char* row;
    RosterRow parsed;
  };
  const Case cases[] = {
      {"Ann Lee (Host, me)", {"Ann Lee", true}},
      {"Bob (Guest)", {"Bob", false}},
      {"Carol", {"Carol", false}},
      {"Dan ()", {"Dan", false}},
      {"Eve (ME)", {"Eve", true}},
      {"(me)", {"(me)", false}},  // no name before the tags
      {"A (B) (me)", {"A (B)", true}},
      {"Fay (Host,  Me ,)", {"Fay", true}},
      {"Gil (meeting host)", {"Gil", false}},  // "me" only as a whole tag
      {"Hal (me) again", {"Hal (me) again", false}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseRosterRow(c.row), c.parsed) << c.row;
}

TEST(IsTileStateTest, WholePartsInAnyCase) {
  struct Case {
    const char* part;
    bool state;
  };
  const Case cases[] = {
      {"Computer audio muted", true}, {"telephone  audio unmuted", true}, {"Audio muted", true},
      {"No audio connected", true},   {"VIDEO OFF", true},                {"video on", true},
      {"Active speaker", true},       {"Unmuted", true},                  {"Hand raised", true},
      {"Sharing screen", true},       {"video is off", false},            {"Active speaker now", false},
      {"The active speaker", false},  {"Alice", false},                   {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isTileState(c.part), c.state) << c.part;
}

TEST(ParseTileTest, WithoutKnownNames) {
  struct Case {
    const char* description;
    std::optional<Tile> tile;
  };
  const Case cases[] = {
      {"Alice, Computer audio unmuted, Video on, Active speaker", Tile{"Alice", true}},
      {"Smith, John, Audio muted", Tile{"Smith, John", false}},
      {"Alice", Tile{"Alice", false}},
      {"  Alice  ", Tile{"Alice", false}},
      {"Alice, Bob", std::nullopt},
      {"Active speaker, Alice", std::nullopt},
      {"Active speaker", Tile{"Active speaker", false}},
      {"Alice, ACTIVE SPEAKER", Tile{"Alice", true}},
      {"Alice,, Video off", Tile{"Alice", false}},  // empty pieces are dropped
      {",,,", std::nullopt},
      {" ", std::nullopt},    // one blank part names nobody
      {" , ", std::nullopt},  // two blank parts, no state
  };
  for (const auto& c : cases) EXPECT_EQ(parseTile(c.description, {}), c.tile) << c.description;
}

TEST(ParseTileTest, KnownNamesAreTakenWholeAndTheLongestWins) {
  struct Case {
    std::vector<std::string> roster;
    const char* description;
    std::optional<Tile> tile;
  };
  const Case cases[] = {
      {{"Smith, John"}, "Smith, John, Active speaker", Tile{"Smith, John", true}},
      {{"Smith", "Smith, John"}, "Smith, John, Active speaker", Tile{"Smith, John", true}},
      {{"Smith, John", "Smith"}, "Smith, John, Active speaker", Tile{"Smith, John", true}},
      // Only "Smith" fits; "John" then counts as a state part, not a name.
      {{"Smith"}, "Smith, John, Active speaker", Tile{"Smith", true}},
      {{"Smith, John"}, "Smith, John", Tile{"Smith, John", false}},
      // A known name must end at a comma: "Al" does not name "Alice".
      {{"Al"}, "Alice, Active speaker", Tile{"Alice", true}},
      // The known name decides even where the parts would name nobody.
      {{"Alice"}, "Alice, Bob", Tile{"Alice", false}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseTile(c.description, c.roster), c.tile) << c.description;
}

TEST(ParseTileTest, OverlongNamesGiveNoTile) {
  const std::string eighty(80, 'n');
  EXPECT_EQ(parseTile(eighty + ", Active speaker", {}), (Tile{eighty, true}));
  EXPECT_EQ(parseTile(eighty + "n, Active speaker", {}), std::nullopt);
}

TEST(ParticipantCountTest, CaseSensitivePatternsAndDecimalNumbersOnly) {
  struct Case {
    const char* text;
    std::optional<int64_t> count;
  };
  const Case cases[] = {
      {"3 participants", 3},
      {"1 participant", 1},
      {"Participants (12)", 12},
      {"Participants(4) in the meeting", 4},
      {"Meeting: 5 participants, 2 muted", 5},
      {"12 Participants", std::nullopt},
      {"All Participants (5)", std::nullopt},
      {"3 participantship", std::nullopt},
      {"9223372036854775807 participants", 9223372036854775807},
      {"9223372036854775808 participants", std::nullopt},  // too large for an integer
      {"\u0663 participants", std::nullopt},                // a digit, but not an ASCII one
      {"no count", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(participantCount(c.text), c.count) << c.text;
}

TEST(CaptureTest, FirstPatternWithANonEmptyFirstGroupWins) {
  std::vector<Regex> patterns;
  for (const char* pattern : {"speaker", R"re((x*)speaker)re", R"re((?:(a)|b)c)re", R"re(Speaking:(.*))re",
                              R"re((\w+) talks)re"}) {
    patterns.push_back(*Regex::create(pattern));
  }
  struct Case {
    const char* text;
    std::optional<std::string> captured;
  };
  const Case cases[] = {
      {"speaker bc Speaking:  Ann Lee \t", "Ann Lee"},  // no group, empty group, group not taking part
      {"ac", "a"},
      {"Speaking:   ", std::nullopt},
      {"Bob talks", "Bob"},
      {"nothing here", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(capture(patterns, c.text), c.captured) << c.text;
  EXPECT_EQ(capture({}, "Bob talks"), std::nullopt);
}

}  // namespace
}  // namespace ostrel::speaker
