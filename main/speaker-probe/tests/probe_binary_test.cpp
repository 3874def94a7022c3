// The real program over a real snapshot file that the test rewrites between polls.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/foundation/testing/child_process.h"

namespace ostrel::speaker::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ostrel::testing::ChildProcess;
using std::chrono::milliseconds;

constexpr milliseconds lineTimeout(10000);

json zoomWindow(const std::vector<std::string>& rows, const std::string& count) {
  json rowElements = json::array();
  for (const auto& row : rows) rowElements.push_back({{"AXValue", row}});
  return {{"AXTitle", "Zoom Meeting"},
          {"AXChildren",
           {{{"AXDescription", "Participants list"}, {"AXChildren", rowElements}}, {{"AXValue", count}}}}};
}

json snapshot(bool trusted, const std::string& bundle = "", const json& windows = json::array()) {
  json applications = json::array();
  if (!bundle.empty()) {
    applications.push_back(
        {{"bundleIdentifier", bundle}, {"processIdentifier", 4242}, {"element", {{"AXWindows", windows}}}});
  }
  return {{"trusted", trusted}, {"applications", applications}};
}

class ProbeBinaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("speaker-probe-test-" + std::to_string(::getpid()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  fs::path snapshotFile() const { return directory_ / "snapshot.json"; }

  // Renamed into place so that no poll sees half a file.
  void write(const json& contents) const {
    const fs::path staging = directory_ / "snapshot.json.new";
    std::ofstream(staging) << contents.dump();
    fs::rename(staging, snapshotFile());
  }

  ChildProcess start(std::vector<std::string> arguments) const {
    arguments.push_back("--interval=0.05");
    auto child = ChildProcess::start(SPEAKER_PROBE_PATH, arguments,
                                     {{"OSTREL_ACCESSIBILITY_SNAPSHOT", snapshotFile().string()},
                                      {"OSTREL_HOME", (directory_ / "home").string()}});
    EXPECT_TRUE(child);
    return std::move(*child);
  }

  // The next lines, parsed; a missing or broken line fails the test.
  static std::vector<json> next(ChildProcess& child, int count) {
    std::vector<json> events;
    for (int i = 0; i < count; ++i) {
      auto line = child.readOutputLine(lineTimeout);
      EXPECT_TRUE(line) << "line " << i + 1 << " of " << count << " did not come";
      if (!line) break;
      events.push_back(json::parse(*line, nullptr, false));
      EXPECT_FALSE(events.back().is_discarded()) << *line;
    }
    return events;
  }

  fs::path directory_;
};

TEST_F(ProbeBinaryTest, ReportsFirstPollThenTrustAndRosterChangesAndEndsOnSIGTERM) {
  write(snapshot(false));
  ChildProcess probe = start({"--self=Ann"});

  EXPECT_EQ(next(probe, 3), (std::vector<json>{{{"event", "hello"}, {"granted", false}},
                                               {{"event", "meeting"}, {"active", false}},
                                               {{"event", "speaker"}, {"name", nullptr}}}));

  write(snapshot(true, "us.zoom.xos", json::array({zoomWindow({"Ann (me)", "Bob"}, "3 participants")})));
  EXPECT_EQ(next(probe, 3),
            (std::vector<json>{{{"event", "permission"}, {"granted", true}},
                               {{"event", "meeting"}, {"active", true}},
                               {{"event", "roster"}, {"total", 3}, {"self", "Ann"}, {"others", {"Bob"}}}}));

  write(snapshot(true, "us.zoom.xos", json::array({zoomWindow({"Ann (me)", "Bob", "Carol"}, "3 participants")})));
  EXPECT_EQ(next(probe, 2),
            (std::vector<json>{{{"event", "roster"}, {"total", 3}, {"self", "Ann"}, {"others", {"Bob", "Carol"}}},
                               {{"event", "candidates"}, {"strings", {"Carol"}}}}));

  probe.signal(SIGTERM);
  EXPECT_EQ(probe.waitForExit(lineTimeout), 0);
}

TEST_F(ProbeBinaryTest, MissingSnapshotIsNoTrustAndSIGINTEndsWithStatusZero) {
  ChildProcess probe = start({});
  EXPECT_EQ(next(probe, 1), (std::vector<json>{{{"event", "hello"}, {"granted", false}}}));
  probe.signal(SIGINT);
  EXPECT_EQ(probe.waitForExit(lineTimeout), 0);
}

TEST_F(ProbeBinaryTest, AFifoNobodyWritesIsAnUnreadableSnapshotAndPollingGoesOn) {
  ASSERT_EQ(::mkfifo(snapshotFile().c_str(), 0600), 0);
  ChildProcess probe = start({});
  // What a missing snapshot gives, rather than a probe stuck opening the FIFO.
  EXPECT_EQ(next(probe, 3), (std::vector<json>{{{"event", "hello"}, {"granted", false}},
                                               {{"event", "meeting"}, {"active", false}},
                                               {{"event", "speaker"}, {"name", nullptr}}}));
  // A real file renamed over the FIFO is seen at a later poll.
  write(snapshot(true));
  EXPECT_EQ(next(probe, 1), (std::vector<json>{{{"event", "permission"}, {"granted", true}}}));
  probe.signal(SIGTERM);
  EXPECT_EQ(probe.waitForExit(lineTimeout), 0);
}

TEST_F(ProbeBinaryTest, BundleOptionChoosesTheApplication) {
  write(snapshot(true, "com.example.meet", json::array({zoomWindow({"Ann (me)", "Bob"}, "2 participants")})));
  ChildProcess probe = start({"--bundle=com.example.meet"});
  EXPECT_EQ(next(probe, 4), (std::vector<json>{{{"event", "hello"}, {"granted", true}},
                                               {{"event", "meeting"}, {"active", true}},
                                               {{"event", "speaker"}, {"name", "Bob"}},
                                               {{"event", "roster"}, {"total", 2}, {"self", "Ann"}, {"others", {"Bob"}}}}));
  probe.signal(SIGTERM);
  EXPECT_EQ(probe.waitForExit(lineTimeout), 0);
}

}  // namespace
}  // namespace ostrel::speaker::testing
