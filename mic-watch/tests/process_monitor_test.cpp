#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "mic-watch/process_monitor.h"
#include "platform/coreaudio/testing/fake_audio_system.h"

namespace ostrel::micwatch {
namespace {

using coreaudio::testing::FakeAudioSystem;
using coreaudio::testing::FakeProcess;
using Json = json::Value;

class RecordedLines final : public EventLines {
 public:
  void write(const Json& line) override { lines.push_back(line); }
  std::vector<Json> take() { return std::exchange(lines, {}); }
  std::vector<Json> lines;
};

Json start(const char* app, const char* name, int pid) {
  return {{"event", "start"}, {"app_id", app}, {"app_name", name}, {"pid", pid}};
}
Json stop(const char* app, const char* name, int pid) {
  return {{"event", "stop"}, {"app_id", app}, {"app_name", name}, {"pid", pid}};
}

struct Watch {
  FakeAudioSystem system;
  RecordedLines out;
  std::map<std::int32_t, std::string> names{{101, "zoom.us"}, {202, "Teams"}, {303, "Teams"}};
  ProcessMonitor monitor{out, [this](std::int32_t pid) -> std::optional<std::string> {
                           auto found = names.find(pid);
                           if (found == names.end()) return std::nullopt;
                           return found->second;
                         }};

  void present(std::vector<FakeProcess> processes) {
    system.processTable = processes;
    system.processList = std::vector<coreaudio::AudioObjectID>{};
    for (const auto& process : processes) system.processList->push_back(process.id);
  }
};

constexpr coreaudio::OSStatus failed = -1;

FakeProcess zoom{.id = 40, .runningInput = 1u, .pid = 101, .bundleID = std::string("us.zoom.xos")};

TEST(ProcessMonitor, SaysHelloWithItsInterface) {
  Watch watch;
  watch.monitor.hello();
  EXPECT_EQ(watch.out.take(), (std::vector<Json>{{{"event", "hello"}, {"api", "process-objects"}}}));
}

TEST(ProcessMonitor, ReportsAContinuousRecorderOnce) {
  Watch watch;
  watch.present({zoom});
  for (int scan = 0; scan < 4; ++scan) watch.monitor.scan(watch.system);
  EXPECT_EQ(watch.out.take(), (std::vector<Json>{start("us.zoom.xos", "zoom.us", 101)}));
}

TEST(ProcessMonitor, StopCarriesWhatWasSeenWhileRecording) {
  Watch watch;
  watch.present({zoom});
  watch.monitor.scan(watch.system);
  watch.out.take();
  // Gone from the list, and its pid no longer names a process.
  watch.names.erase(101);
  watch.present({});
  watch.monitor.scan(watch.system);
  EXPECT_EQ(watch.out.take(), (std::vector<Json>{stop("us.zoom.xos", "zoom.us", 101)}));
}

TEST(ProcessMonitor, AProcessLeavingDuringAScanKeepsItsIdentity) {
  Watch watch;
  watch.present({zoom});
  watch.monitor.scan(watch.system);
  watch.out.take();
  // Still listed and recording, but gone by the time its pid and bundle are read.
  watch.present({{.id = zoom.id, .runningInput = 1u, .pid = std::unexpected(failed)}});
  watch.monitor.scan(watch.system);
  EXPECT_TRUE(watch.out.take().empty());
  watch.present({});
  watch.monitor.scan(watch.system);
  EXPECT_EQ(watch.out.take(), (std::vector<Json>{stop("us.zoom.xos", "zoom.us", 101)}));
}

TEST(ProcessMonitor, StartsComeBeforeStopsInOneScan) {
  Watch watch;
  watch.present({zoom});
  watch.monitor.scan(watch.system);
  watch.out.take();
  watch.present({{.id = 9, .runningInput = 1u, .pid = 202, .bundleID = std::string("com.microsoft.teams2")},
                 {.id = 50, .runningInput = 0u, .pid = 101, .bundleID = std::string("us.zoom.xos")}});
  watch.monitor.scan(watch.system);
  EXPECT_EQ(watch.out.take(), (std::vector<Json>{start("com.microsoft.teams2", "Teams", 202),
                                                 stop("us.zoom.xos", "zoom.us", 101)}));
}

TEST(ProcessMonitor, TwoProcessesOfOneApplicationAreTwoEntries) {
  Watch watch;
  watch.present({{.id = 1, .runningInput = 1u, .pid = 202, .bundleID = std::string("com.microsoft.teams2")},
                 {.id = 2, .runningInput = 1u, .pid = 303, .bundleID = std::string("com.microsoft.teams2")}});
  watch.monitor.scan(watch.system);
  EXPECT_EQ(watch.out.take(), (std::vector<Json>{start("com.microsoft.teams2", "Teams", 202),
                                                 start("com.microsoft.teams2", "Teams", 303)}));
}

struct IdentityCase {
  const char* name;
  std::expected<std::uint32_t, coreaudio::OSStatus> runningInput;
  std::expected<std::int32_t, coreaudio::OSStatus> pid;
  const char* bundleID;  // null: the read fails
  Json line;             // null: not reported
};
void PrintTo(const IdentityCase& c, std::ostream* os) { *os << c.name; }


class Identity : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(Identity, FallsBackWhenPartsCannotBeRead) {
  const IdentityCase& param = GetParam();
  Watch watch;
  FakeProcess process{.id = 3, .runningInput = param.runningInput, .pid = param.pid};
  if (param.bundleID) process.bundleID = param.bundleID;
  watch.present({process});
  watch.monitor.scan(watch.system);
  const auto lines = watch.out.take();
  if (param.line.is_null()) {
    EXPECT_TRUE(lines.empty());
  } else {
    EXPECT_EQ(lines, std::vector<Json>{param.line});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Reads, Identity,
    ::testing::Values(
        IdentityCase{"noBundleButName", 1u, 101, nullptr, start("unknown", "zoom.us", 101)},
        IdentityCase{"emptyBundleButName", 1u, 101, "", start("unknown", "zoom.us", 101)},
        IdentityCase{"nameUnreadable", 1u, 999, "org.example.rec", start("org.example.rec", "org.example.rec", 999)},
        IdentityCase{"nothingReadable", 1u, std::unexpected(failed), nullptr, start("unknown", "unknown", 0)},
        IdentityCase{"negativePidIsNotLookedUp", 1u, -101, "x", start("x", "x", -101)},
        IdentityCase{"runningInputUnreadable", std::unexpected(failed), 101, "x", Json()},
        IdentityCase{"runningInputNotExactlyOne", 2u, 101, "x", Json()},
        IdentityCase{"notRunningInput", 0u, 101, "x", Json()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProcessMonitor, AnUnreadableListIsAnEmptyList) {
  for (const coreaudio::OSStatus reason : {failed, coreaudio::kAudioHardwareNotRunningError}) {
    Watch watch;
    watch.present({zoom});
    EXPECT_TRUE(watch.monitor.scan(watch.system));
    watch.out.take();
    watch.system.processList = std::unexpected(reason);
    // Only a server that has gone asks for a new connection.
    EXPECT_EQ(watch.monitor.scan(watch.system), reason != coreaudio::kAudioHardwareNotRunningError);
    EXPECT_EQ(watch.out.take(), (std::vector<Json>{stop("us.zoom.xos", "zoom.us", 101)}));
    // The next server's first scan reports who records there, the same object
    // identifier included.
    watch.present({zoom});
    EXPECT_TRUE(watch.monitor.scan(watch.system));
    EXPECT_EQ(watch.out.take(), (std::vector<Json>{start("us.zoom.xos", "zoom.us", 101)}));
  }
}

}  // namespace
}  // namespace ostrel::micwatch
