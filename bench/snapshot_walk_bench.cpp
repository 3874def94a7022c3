// One poll's walk of a meeting window of 8000 elements (the most a walk
// visits), read through the snapshot-file stand-in (the file parsed afresh,
// as at every poll) and through the tree built in code. The poll comes
// every 0.5 s; a walk should take well under a tenth of that.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "main/speaker-probe/meeting_reader.h"
#include "main/speaker-probe/speaker_probe.h"
#include "platform/accessibility/snapshot_accessibility.h"
#include "platform/accessibility/testing/fake_accessibility.h"
#include "platform/accessibility/testing/fake_elements.h"

namespace {

using ostrel::accessibility::StoredElementPtr;
using ostrel::accessibility::testing::fakeApplication;
using ostrel::accessibility::testing::fakeElement;
using nlohmann::json;

constexpr int32_t zoomPid = 4242;
// The window, 48 tiles, the list, and two elements per row: 8000 elements.
constexpr int tiles = 48;
constexpr int rows = 3975;

// One window: a gallery of tiles, the roster with a row and a label per
// participant, so every element carries texts the walk has to look at.
json meetingWindowJSON() {
  json gallery = json::array();
  for (int i = 0; i < tiles; ++i) {
    gallery.push_back({{"AXRoleDescription", "Video render"},
                       {"AXDescription", "Person " + std::to_string(i) + ", Computer audio muted, Video on"}});
  }
  json roster = json::array();
  for (int i = 0; i < rows; ++i) {
    json row = {{"AXRoleDescription", "row"}, {"AXValue", "Person " + std::to_string(i) + (i == 0 ? " (Host, me)" : "")}};
    row["AXChildren"] = json::array({json{{"AXRoleDescription", "text"}, {"AXHelp", "Participant " + std::to_string(i)}}});
    roster.push_back(std::move(row));
  }
  gallery.push_back({{"AXDescription", "Participants list"}, {"AXChildren", std::move(roster)}});
  return {{"AXTitle", "Zoom Meeting"}, {"AXRoleDescription", "standard window"},
          {"AXValue", std::to_string(rows) + " participants"}, {"AXChildren", std::move(gallery)}};
}

// The same tree, built in code.
StoredElementPtr storedFrom(const json& element) {
  ostrel::accessibility::testing::Attributes attributes;
  std::vector<StoredElementPtr> children;
  for (const auto& [name, value] : element.items()) {
    if (name == "AXChildren") {
      for (const auto& child : value) children.push_back(storedFrom(child));
    } else {
      attributes.emplace_back(name, value.get<std::string>());
    }
  }
  return fakeElement(std::move(attributes), std::move(children));
}

void expectFullWalk(benchmark::State& state, const ostrel::speaker::Meeting& meeting) {
  if (meeting.roster.size() != static_cast<size_t>(rows) || meeting.tiles.size() != static_cast<size_t>(tiles)) {
    state.SkipWithError("the walk did not see the whole window");
  }
}

// The snapshot file of the window, removed when done.
class SnapshotFile {
 public:
  SnapshotFile()
      : path_(std::filesystem::temp_directory_path() / ("snapshot-walk-bench-" + std::to_string(::getpid()) + ".json")) {
    const json snapshot = {{"trusted", true},
                           {"applications",
                            {{{"bundleIdentifier", "us.zoom.xos"},
                              {"processIdentifier", zoomPid},
                              {"element", {{"AXWindows", json::array({meetingWindowJSON()})}}}}}}};
    const std::string text = snapshot.dump();
    size_ = text.size();
    std::ofstream(path_) << text;
  }
  ~SnapshotFile() { std::filesystem::remove(path_); }
  SnapshotFile(const SnapshotFile&) = delete;
  SnapshotFile& operator=(const SnapshotFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  size_t size() const { return size_; }

 private:
  std::filesystem::path path_;
  size_t size_ = 0;
};

void BM_WalkThroughSnapshotFile(benchmark::State& state) {
  const SnapshotFile file;
  const auto accessibility = ostrel::accessibility::snapshotAccessibility(file.path());
  for (auto _ : state) {
    auto meeting = ostrel::speaker::readMeeting(*accessibility, zoomPid);
    expectFullWalk(state, meeting);
    benchmark::DoNotOptimize(meeting);
  }
  state.counters["file_bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_WalkThroughSnapshotFile)->Unit(benchmark::kMillisecond);

class NoOutput final : public ostrel::speaker::EventOutput {
 public:
  void emit(const ostrel::json::Value&) override {}
};

class SteadyClock final : public ostrel::speaker::Clock {
 public:
  Instant now() const override { return std::chrono::steady_clock::now(); }
  void sleepFor(Duration) override {}
};

// A whole poll through the stand-in: the trust check and the application
// list read the file too.
void BM_PollThroughSnapshotFile(benchmark::State& state) {
  const SnapshotFile file;
  const auto accessibility = ostrel::accessibility::snapshotAccessibility(file.path());
  SteadyClock clock;
  NoOutput output;
  ostrel::speaker::SpeakerProbe probe({.bundleID = "us.zoom.xos", .pollInterval = {}, .knownSelf = {}, .patterns = {}},
                                      *accessibility, clock, output);
  for (auto _ : state) probe.poll();
}
BENCHMARK(BM_PollThroughSnapshotFile)->Unit(benchmark::kMillisecond);

void BM_WalkThroughFakeTree(benchmark::State& state) {
  ostrel::accessibility::testing::FakeAccessibility accessibility;
  accessibility.setTrusted(true);
  accessibility.launch("us.zoom.xos", zoomPid, fakeApplication({storedFrom(meetingWindowJSON())}));
  for (auto _ : state) {
    auto meeting = ostrel::speaker::readMeeting(accessibility, zoomPid);
    expectFullWalk(state, meeting);
    benchmark::DoNotOptimize(meeting);
  }
}
BENCHMARK(BM_WalkThroughFakeTree)->Unit(benchmark::kMillisecond);

}  // namespace
