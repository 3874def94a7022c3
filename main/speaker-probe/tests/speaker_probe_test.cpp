#include "main/speaker-probe/speaker_probe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main/speaker-probe/tests/fake_clock.h"
#include "main/speaker-probe/tests/recording_output.h"
#include "main/speaker-probe/tests/zoom_window.h"
#include "platform/accessibility/testing/fake_accessibility.h"
#include "platform/foundation/text.h"

namespace ostrel::speaker {
namespace {

using accessibility::testing::FakeAccessibility;
using accessibility::testing::fakeApplication;
using namespace testing;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Lines = std::vector<std::string>;

constexpr int32_t zoomPid = 42;

class SpeakerProbeTest : public ::testing::Test {
 protected:
  SpeakerProbeTest() { fake.setTrusted(true); }

  SpeakerProbe& probe(std::optional<std::string> knownSelf = std::nullopt) {
    if (!probe_) {
      probe_.emplace(ProbeSettings{.bundleID = "us.zoom.xos",
                                   .pollInterval = milliseconds(500),
                                   .knownSelf = std::move(knownSelf),
                                   .patterns = {}},
                     fake, clock, output);
    }
    return *probe_;
  }

  void showWindow(std::vector<StoredElementPtr> children) {
    fake.launch("us.zoom.xos", zoomPid, fakeApplication({meetingWindow(std::move(children))}));
  }

  // A meeting where Ann is the user and two others are in the roster, so
  // only markers name a speaker. Without a count, no candidates come either.
  void showMarkedMeeting(const std::vector<std::string>& tiles) {
    std::vector<StoredElementPtr> children{participantsList({"Ann (me)", "Bob", "Carol"})};
    for (const auto& tile : tiles) children.push_back(videoTile(tile));
    showWindow(std::move(children));
  }

  // Polls after `elapsed` and answers the lines printed.
  Lines pollAfter(Clock::Duration elapsed) {
    clock.advance(elapsed);
    probe().poll();
    return output.take();
  }

  FakeAccessibility fake;
  FakeClock clock;
  RecordingOutput output;
  std::optional<SpeakerProbe> probe_;
};

TEST_F(SpeakerProbeTest, FirstPollReportsMeetingAndSpeakerButNeverPermission) {
  fake.setTrusted(false);
  probe().sayHello();
  EXPECT_EQ(output.take(), Lines{R"({"event":"hello","granted":false})"});
  fake.setTrusted(true);  // a change before the first poll is not reported
  EXPECT_EQ(pollAfter({}), (Lines{R"({"active":false,"event":"meeting"})", R"({"event":"speaker","name":null})"}));
  EXPECT_EQ(pollAfter(milliseconds(500)), Lines{});
}

TEST_F(SpeakerProbeTest, TrustChangesAreReportedInPollOrder) {
  fake.setTrusted(false);
  showWindow({participantsList({"Ann (me)", "Bob"}), labelled("2 participants")});
  pollAfter({});

  fake.setTrusted(true);
  EXPECT_EQ(pollAfter(milliseconds(500)),
            (Lines{R"({"event":"permission","granted":true})", R"({"active":true,"event":"meeting"})",
                   R"({"event":"speaker","name":"Bob"})",
                   R"({"event":"roster","others":["Bob"],"self":"Ann","total":2})"}));

  fake.setTrusted(false);  // no window can be read without trust
  EXPECT_EQ(pollAfter(milliseconds(500)),
            (Lines{R"({"event":"permission","granted":false})", R"({"active":false,"event":"meeting"})",
                   R"({"event":"speaker","name":null})"}));
}

TEST_F(SpeakerProbeTest, OnlyTheFirstApplicationWithTheBundleIsRead) {
  fake.launch("us.zoom.xos", 7, fakeApplication({}));
  fake.launch("other.app", 8, fakeApplication({meetingWindow({})}));
  showWindow({});
  EXPECT_EQ(pollAfter({}), (Lines{R"({"active":false,"event":"meeting"})", R"({"event":"speaker","name":null})"}));
}

TEST_F(SpeakerProbeTest, MarkerIsHeldForLessThanTheGraceThenDropped) {
  showMarkedMeeting({"Bob, Active speaker"});
  pollAfter({});
  showMarkedMeeting({"Bob"});
  EXPECT_EQ(pollAfter(milliseconds(500)), Lines{});
  EXPECT_EQ(pollAfter(milliseconds(999)), Lines{});  // 1.499 s after the marker
  EXPECT_EQ(pollAfter(milliseconds(1)), Lines{R"({"event":"speaker","name":null})"});
}

TEST_F(SpeakerProbeTest, MarkerNamingNobodyClearsTheHoldAtOnce) {
  struct Case {
    const char* what;
    std::vector<std::string> tiles;
  };
  const Case cases[] = {
      {"the user's own tile", {"Ann, Active speaker", "Bob"}},
      {"two active tiles", {"Bob, Active speaker", "Carol, Active speaker"}},
  };
  for (const auto& c : cases) {
    probe_.reset();
    showMarkedMeeting({"Bob, Active speaker"});
    EXPECT_EQ(pollAfter({}).at(1), R"({"event":"speaker","name":"Bob"})") << c.what;
    showMarkedMeeting(c.tiles);
    EXPECT_EQ(pollAfter(milliseconds(500)), Lines{R"({"event":"speaker","name":null})"}) << c.what;
    showMarkedMeeting({"Bob"});
    EXPECT_EQ(pollAfter(milliseconds(500)), Lines{}) << c.what;  // nothing held any more
  }
}

TEST_F(SpeakerProbeTest, InferenceLeavesTheHeldMarkerAlone) {
  auto meeting = [&](std::vector<std::string> rows, const char* count, const char* tile) {
    showWindow({participantsList(rows), labelled(count), videoTile(tile)});
  };
  meeting({"Ann (me)", "Bob", "Carol"}, "3 participants", "Bob, Active speaker");
  pollAfter({});
  meeting({"Ann (me)", "Carol"}, "2 participants", "Bob");  // inference names Carol
  EXPECT_EQ(pollAfter(milliseconds(500)), (Lines{R"({"event":"speaker","name":"Carol"})",
                                                 R"({"event":"roster","others":["Carol"],"self":"Ann","total":2})"}));
  meeting({"Ann (me)", "Bob", "Carol"}, "3 participants", "Bob");  // nobody named: the hold from before
  EXPECT_EQ(pollAfter(milliseconds(500)).at(0), R"({"event":"speaker","name":"Bob"})");
}

TEST_F(SpeakerProbeTest, RosterKeyIgnoresOrderButCountsDuplicatesTotalAndOwnRow) {
  struct Step {
    const char* what;
    std::vector<std::string> rows;
    const char* count;
    bool reported;
  };
  const Step steps[] = {
      {"first", {"Ann (me)", "Bob", "Carol", "Dan"}, "9 participants", true},
      {"reordered", {"Carol", "Bob", "Dan", "Ann (me)"}, "9 participants", false},
      {"duplicate", {"Carol", "Bob", "Dan", "Bob", "Ann (me)"}, "9 participants", true},
      {"total", {"Carol", "Bob", "Dan", "Bob", "Ann (me)"}, "8 participants", true},
      {"own row gone", {"Carol", "Bob", "Dan", "Bob", "Ann"}, "8 participants", true},
      {"own row back", {"Carol", "Bob", "Dan", "Bob", "Ann (Host, me)"}, "8 participants", true},
  };
  probe().poll();
  output.take();
  for (const auto& step : steps) {
    showWindow({participantsList(step.rows), labelled(step.count)});
    const Lines lines = pollAfter(milliseconds(500));
    const bool reported = std::ranges::any_of(
        lines, [](const std::string& line) { return line.find(R"("event":"roster")") != std::string::npos; });
    EXPECT_EQ(reported, step.reported) << step.what;
  }
}

TEST_F(SpeakerProbeTest, RosterEventCarriesTheKnownSelfAndOthersInRosterOrder) {
  probe("Ann Lee");
  showWindow({participantsList({"Carol", "ann lee", "Bob"})});
  EXPECT_EQ(pollAfter({}).at(2), R"({"event":"roster","others":["Carol","Bob"],"self":"Ann Lee","total":null})");
  // A "me" row replaces the known name for good.
  showWindow({participantsList({"Carol", "Zed (me)", "Bob"})});
  EXPECT_EQ(pollAfter(milliseconds(500)).back(),
            R"({"event":"roster","others":["Carol","Bob"],"self":"Zed","total":null})");
  showWindow({participantsList({"Carol", "Zed", "Bob"})});
  EXPECT_EQ(pollAfter(milliseconds(500)).back(),
            R"({"event":"roster","others":["Carol","Bob"],"self":"Zed","total":null})");
}

class CandidatesTest : public SpeakerProbeTest {
 protected:
  // Ann and nobody else is known, so nobody is named unless a tile is active.
  void showTexts(const std::vector<std::string>& texts, const char* count = "3 participants",
                 const char* tile = "Bob") {
    std::vector<StoredElementPtr> children{labelled(count), videoTile(tile)};
    for (const auto& text : texts) children.push_back(labelled(text));
    showWindow(std::move(children));
  }
  Lines candidatesAfter(Clock::Duration elapsed) {
    Lines out;
    for (auto& line : pollAfter(elapsed)) {
      if (line.find(R"("event":"candidates")") != std::string::npos) out.push_back(line);
    }
    return out;
  }
};

TEST_F(CandidatesTest, FreshTextsEveryTwentySecondsAtMost) {
  probe("Ann");
  showTexts({"a"});
  EXPECT_EQ(candidatesAfter({}), Lines{});  // nothing to compare with yet
  showTexts({"a", "new 1"});
  EXPECT_EQ(candidatesAfter(milliseconds(500)), Lines{R"({"event":"candidates","strings":["new 1"]})"});
  showTexts({"a", "new 1", "new 2"});
  EXPECT_EQ(candidatesAfter(seconds(19)), Lines{});
  showTexts({"a", "new 1", "new 2", "new 3"});
  EXPECT_EQ(candidatesAfter(seconds(1)), Lines{R"({"event":"candidates","strings":["new 3"]})"});
}

TEST_F(CandidatesTest, NoFreshTextsLeavesTheTimeAlone) {
  probe("Ann");
  showTexts({"a"});
  candidatesAfter({});
  showTexts({"a", "new 1"});
  candidatesAfter(milliseconds(500));
  EXPECT_EQ(candidatesAfter(seconds(20)), Lines{});
  showTexts({"a", "new 1", "new 2"});
  EXPECT_EQ(candidatesAfter(milliseconds(500)), Lines{R"({"event":"candidates","strings":["new 2"]})"});
}

TEST_F(CandidatesTest, NeverInSmallMeetingsNorWhileSomebodySpeaks) {
  struct Case {
    const char* what;
    const char* count;
    const char* tile;
  };
  const Case cases[] = {
      {"two participants", "2 participants", "Bob"},
      {"no count", "", "Bob"},
      {"a speaker is named", "3 participants", "Bob, Active speaker"},
  };
  for (const auto& c : cases) {
    probe_.reset();
    probe("Ann");
    showTexts({"a"}, c.count, c.tile);
    candidatesAfter({});
    showTexts({"a", "new"}, c.count, c.tile);
    EXPECT_EQ(candidatesAfter(seconds(30)), Lines{}) << c.what;
  }
}

TEST_F(CandidatesTest, AtMostFortyEachCutToOneHundredSixtyCharacters) {
  probe("Ann");
  showTexts({});
  candidatesAfter({});
  std::vector<std::string> texts;
  for (int i = 10; i < 60; ++i) texts.push_back(std::to_string(i) + std::string(200, 'x'));
  showTexts(texts);
  const Lines lines = candidatesAfter(milliseconds(500));
  ASSERT_EQ(lines.size(), 1u);
  const auto strings = nlohmann::json::parse(lines[0])["strings"].get<std::vector<std::string>>();
  ASSERT_EQ(strings.size(), 40u);
  EXPECT_EQ(strings.front(), graphemePrefix(texts.front(), 160));
  EXPECT_EQ(strings.back(), graphemePrefix(texts[39], 160));
  for (const auto& text : strings) EXPECT_EQ(graphemeCount(text), 160u);
}

TEST_F(SpeakerProbeTest, RunSaysHelloThenPollsAndSleepsTheInterval) {
  std::stop_source stop;
  clock.onSleep = [&] {
    if (clock.sleeps.size() == 3) stop.request_stop();
  };
  fake.setTrusted(false);
  probe().run(stop.get_token());
  EXPECT_EQ(output.take(), (Lines{R"({"event":"hello","granted":false})", R"({"active":false,"event":"meeting"})",
                                  R"({"event":"speaker","name":null})"}));
  EXPECT_EQ(clock.sleeps, (std::vector<Clock::Duration>(3, milliseconds(500))));
}

}  // namespace
}  // namespace ostrel::speaker
