#include "main/speaker-probe/meeting_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main/speaker-probe/tests/zoom_window.h"
#include "platform/accessibility/accessibility_error.h"
#include "platform/accessibility/testing/fake_accessibility.h"

namespace ostrel::speaker {
namespace {

using accessibility::AttributeFailure;
using accessibility::StoredValue;
using accessibility::testing::FakeAccessibility;
using accessibility::testing::fakeApplication;
using accessibility::testing::fakeChain;
using namespace testing;

constexpr int32_t zoomPid = 42;

class MeetingReaderTest : public ::testing::Test {
 protected:
  Meeting read(std::vector<StoredElementPtr> windows) {
    fake.launch("us.zoom.xos", zoomPid, fakeApplication(std::move(windows)));
    return readMeeting(fake, zoomPid);
  }

  FakeAccessibility fake;
};

TEST_F(MeetingReaderTest, CondensesAMeetingWindow) {
  const Meeting meeting = read({meetingWindow({
      videoTile("Smith, John, Audio muted, Active speaker"),
      videoTile("Ann Lee, Video off"),
      videoTile("Alice, Bob"),  // no tile, but still a description
      fakeElement({{"AXRoleDescription", "Video render"}}),  // no description: no tile
      fakeElement({{"AXRoleDescription", "group"}},
                  {participantsList({"Ann Lee (Host, me)", "Smith, John", std::string(81, 'x'), "   "}),
                   labelled("3 participants")}),
      fakeElement({{"AXDescription", "Participants (4)"}, {"AXHelp", 7.0}, {"AXTitle", ""}}),
      labelled("Not a row (me)"),  // outside the roster
  })});

  EXPECT_TRUE(meeting.hasWindows);
  EXPECT_EQ(meeting.roster, (std::vector<std::string>{"Ann Lee", "Smith, John"}));
  EXPECT_EQ(meeting.ownName, "Ann Lee");
  EXPECT_EQ(meeting.tileDescriptions,
            (std::vector<std::string>{"Smith, John, Audio muted, Active speaker", "Ann Lee, Video off", "Alice, Bob"}));
  EXPECT_EQ(meeting.tiles, (std::vector<Tile>{{"Smith, John", true}, {"Ann Lee", false}}));
  EXPECT_EQ(meeting.total, 4);
  for (const char* text : {"Zoom Meeting", "standard window", "Video render", "Participants list", "row",
                           "Ann Lee (Host, me)", "   ", "Participants (4)", "Not a row (me)"}) {
    EXPECT_TRUE(meeting.strings.contains(text)) << text;
  }
  EXPECT_FALSE(meeting.strings.contains(""));
  EXPECT_FALSE(meeting.strings.contains("7"));
}

TEST_F(MeetingReaderTest, RosterRowsAtAnyDepthBelowTheListAndTheLastOwnRowWins) {
  const Meeting meeting = read({meetingWindow({fakeElement(
      {{"AXDescription", "Participants list"}, {"AXValue", "The list itself (me)"}},
      {fakeElement({{"AXValue", "Ann (me)"}}, {fakeElement({}, {labelled("Bob (Me, Guest)")})}),
       labelled("Ann (Host)")})})});
  EXPECT_EQ(meeting.roster, (std::vector<std::string>{"Ann", "Bob", "Ann"}));
  EXPECT_EQ(meeting.ownName, "Bob");
}

TEST_F(MeetingReaderTest, TheLargestParticipantCountWins) {
  struct Case {
    std::vector<std::string> labels;
    std::optional<int64_t> total;
  };
  const Case cases[] = {
      {{"3 participants", "Participants (12)", "5 participants"}, 12},
      {{"1 participant"}, 1},
      {{"12 Participants"}, std::nullopt},
      {{"0 participants"}, 0},
      {{"99999999999999999999 participants", "2 participants"}, 2},
      {{}, std::nullopt},
  };
  for (const auto& c : cases) {
    std::vector<StoredElementPtr> labels;
    for (const auto& label : c.labels) labels.push_back(labelled(label));
    EXPECT_EQ(read({meetingWindow(labels)}).total, c.total) << (c.labels.empty() ? "" : c.labels.front());
  }
}

TEST_F(MeetingReaderTest, UnreadablePartsAreSkipped) {
  const Meeting meeting = read({
      meetingWindow({
          fakeElement({{"AXValue", AttributeFailure{accessibility::AXError::cannotComplete}}},
                      {labelled("below a failing value")}),
          fakeElement({{"AXValue", "mixed children"}, {"AXChildren", StoredValue::Array{labelled("hidden"), "text"}}}),
          fakeElement({{"AXValue", "failing children"},
                       {"AXChildren", AttributeFailure{accessibility::AXError::cannotComplete}}}),
          fakeElement({{"AXValue", "children not a list"}, {"AXChildren", labelled("hidden too")}}),
      }),
  });
  EXPECT_TRUE(meeting.strings.contains("below a failing value"));
  EXPECT_TRUE(meeting.strings.contains("mixed children"));
  EXPECT_FALSE(meeting.strings.contains("hidden"));
  EXPECT_FALSE(meeting.strings.contains("hidden too"));
}

TEST_F(MeetingReaderTest, NothingToReadIsTheEmptySnapshot) {
  auto expectEmpty = [](const Meeting& meeting) {
    EXPECT_FALSE(meeting.hasWindows);
    EXPECT_TRUE(meeting.strings.empty());
    EXPECT_TRUE(meeting.roster.empty());
    EXPECT_FALSE(meeting.total);
  };
  expectEmpty(read({}));
  fake.launch("us.zoom.xos", zoomPid, fakeElement({{"AXWindows", "not a list"}}));
  expectEmpty(readMeeting(fake, zoomPid));
  fake.launch("us.zoom.xos", zoomPid, fakeElement({{"AXWindows", StoredValue::Array{labelled("w"), 1.0}}}));
  expectEmpty(readMeeting(fake, zoomPid));
  fake.quit(zoomPid);
  expectEmpty(readMeeting(fake, zoomPid));
}

TEST_F(MeetingReaderTest, LevelsZeroToThirtyAreVisited) {
  // fakeChain marks each level with its number as "AXValue".
  const Meeting meeting = read({fakeChain(40)});
  EXPECT_TRUE(meeting.strings.contains("0"));
  EXPECT_TRUE(meeting.strings.contains("30"));
  EXPECT_FALSE(meeting.strings.contains("31"));
  EXPECT_EQ(meeting.strings.size(), 31u);
}

TEST_F(MeetingReaderTest, EightThousandElementsOverAllWindowsParentsFirst) {
  // Two windows of 5000 elements each: a window and 4999 numbered children.
  auto window = [](int number) {
    std::vector<StoredElementPtr> children;
    for (int i = 0; i < 4999; ++i) children.push_back(labelled(std::to_string(number) + "." + std::to_string(i)));
    return fakeElement({{"AXTitle", "window " + std::to_string(number)}}, std::move(children));
  };
  const Meeting meeting = read({window(1), window(2)});
  EXPECT_EQ(meeting.strings.size(), 8000u);
  EXPECT_TRUE(meeting.strings.contains("1.4998"));
  EXPECT_TRUE(meeting.strings.contains("window 2"));
  EXPECT_TRUE(meeting.strings.contains("2.2998"));  // the 8000th element
  EXPECT_FALSE(meeting.strings.contains("2.2999"));
}

}  // namespace
}  // namespace ostrel::speaker
