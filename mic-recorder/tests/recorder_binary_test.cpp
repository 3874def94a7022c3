#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>

#include <cstring>

#include "platform/foundation/testing/child_process.h"
#include "platform/coreaudio/testing/pulse_daemon.h"

namespace ostrel::mic {
namespace {

using namespace std::chrono_literals;
using ostrel::testing::ChildProcess;
using coreaudio::testing::PulseDaemon;
using Json = nlohmann::json;

struct ServerCase {
  const char* name;
  std::vector<std::string> modules;
  const char* sink;
  const char* source;
  const char* mode;
  int sourceRate;
  int stopSignal;
};

// Upward zero crossings per second of 16 kHz audio.
double frequencyOf(const std::string& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  int crossings = 0;
  for (std::size_t k = 1; k < samples.size(); ++k) crossings += samples[k - 1] < 0 && samples[k] >= 0;
  return crossings / (double(samples.size()) / 16000.0);
}

std::optional<Json> parsed(const std::optional<std::string>& line) {
  if (!line) return std::nullopt;
  return Json::parse(*line, nullptr, false);
}

class RecorderAgainstServer : public ::testing::TestWithParam<ServerCase> {};

TEST_P(RecorderAgainstServer, StreamsTheSineAt16kHzAndStopsCleanly) {
  if (!PulseDaemon::available()) GTEST_SKIP() << "pulseaudio is not installed";
  const ServerCase& param = GetParam();
  auto daemon = PulseDaemon::start(param.modules);
  ASSERT_TRUE(daemon) << "the test server did not start";
  ASSERT_EQ(daemon->pactl({"set-default-sink", param.sink}), 0);
  ASSERT_EQ(daemon->pactl({"set-default-source", param.source}), 0);

  auto recorder = ChildProcess::start(MIC_RECORDER_PATH, {}, daemon->environment());
  ASSERT_TRUE(recorder);
  const auto start = parsed(recorder->readErrorLine(10s));
  ASSERT_TRUE(start);
  EXPECT_EQ((*start)["event"], "start");
  EXPECT_EQ((*start)["mode"], param.mode);
  EXPECT_EQ((*start)["source_rate"], param.sourceRate);

  // Half a second to settle, then one second to measure.
  recorder->readOutputBytes(16000, 10s);
  const std::string second = recorder->readOutputBytes(32000, 10s);
  ASSERT_EQ(second.size(), 32000u);
  EXPECT_NEAR(frequencyOf(second), 440.0, 10.0);

  recorder->signal(param.stopSignal);
  recorder->drain(10s);
  EXPECT_EQ(recorder->waitForExit(10s), 0);
  const auto rest = recorder->remainingErrorLines();
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(Json::parse(rest.back()), (Json{{"event", "stop"}, {"note", "capture-released"}}));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RecorderAgainstServer,
    ::testing::Values(ServerCase{"plainBehindBluetooth",
                                 {"module-null-sink sink_name=headset sink_properties=device.bus=bluetooth",
                                  "module-sine-source source_name=sine rate=48000 frequency=440"},
                                 "headset",
                                 "sine",
                                 "plain-default-mic",
                                 48000,
                                 SIGTERM},
                      ServerCase{"voiceProcessingOnSpeakers",
                                 {"module-null-sink sink_name=speakers",
                                  "module-sine-source source_name=sine rate=44100 frequency=440"},
                                 "speakers",
                                 "sine",
                                 "voice-processing",
                                 44100,
                                 SIGINT}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecorderProcess, EndsCleanlyWhenTheReaderClosesItsOutput) {
  if (!PulseDaemon::available()) GTEST_SKIP() << "pulseaudio is not installed";
  auto daemon = PulseDaemon::start({"module-null-sink sink_name=speakers",
                                    "module-sine-source source_name=sine rate=48000 frequency=440"});
  ASSERT_TRUE(daemon);
  ASSERT_EQ(daemon->pactl({"set-default-source", "sine"}), 0);
  auto recorder = ChildProcess::start(MIC_RECORDER_PATH, {}, daemon->environment());
  ASSERT_TRUE(recorder);
  ASSERT_TRUE(recorder->readErrorLine(10s));
  ASSERT_FALSE(recorder->readOutputBytes(3200, 10s).empty());

  recorder->closeOutput();
  EXPECT_EQ(recorder->waitForExit(10s), 0);
  recorder->drain(2s);
  const auto rest = recorder->remainingErrorLines();
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(Json::parse(rest.back())["event"], "stop");
}

// Plain capture (a Bluetooth headset is the output) from a 440 Hz source, with
// an 880 Hz source beside it.
std::optional<PulseDaemon> plainServerWithTwoSources() {
  auto daemon = PulseDaemon::start({"module-null-sink sink_name=headset sink_properties=device.bus=bluetooth",
                                    "module-sine-source source_name=low rate=48000 frequency=440",
                                    "module-sine-source source_name=high rate=48000 frequency=880"});
  if (!daemon || daemon->pactl({"set-default-sink", "headset"}) != 0 ||
      daemon->pactl({"set-default-source", "low"}) != 0)
    return std::nullopt;
  return daemon;
}

std::optional<ChildProcess> startedRecorder(const PulseDaemon& daemon, const char* mode) {
  auto recorder = ChildProcess::start(MIC_RECORDER_PATH, {}, daemon.environment());
  if (!recorder) return std::nullopt;
  const auto start = parsed(recorder->readErrorLine(10s));
  EXPECT_TRUE(start && (*start)["event"] == "start" && (*start)["mode"] == mode) << (start ? start->dump() : "");
  return recorder;
}

TEST(RecorderProcess, PlainCaptureStaysOnTheDeviceItStartedWith) {
  if (!PulseDaemon::available()) GTEST_SKIP() << "pulseaudio is not installed";
  auto daemon = plainServerWithTwoSources();
  ASSERT_TRUE(daemon) << "the test server did not start";
  auto recorder = startedRecorder(*daemon, "plain-default-mic");
  ASSERT_TRUE(recorder);
  recorder->readOutputBytes(16000, 10s);
  EXPECT_NEAR(frequencyOf(recorder->readOutputBytes(32000, 10s)), 440.0, 10.0);

  ASSERT_EQ(daemon->pactl({"set-default-source", "high"}), 0);
  recorder->readOutputBytes(16000, 10s);
  EXPECT_NEAR(frequencyOf(recorder->readOutputBytes(32000, 10s)), 440.0, 10.0);
  recorder->signal(SIGTERM);
  recorder->drain(10s);
  EXPECT_EQ(recorder->waitForExit(10s), 0);
}

struct LossCase {
  const char* name;
  const char* mode;
  void (*take)(PulseDaemon& daemon);
  const char* note;
};
void PrintTo(const LossCase& c, std::ostream* os) { *os << c.name; }

class RecorderLosing : public ::testing::TestWithParam<LossCase> {};

TEST_P(RecorderLosing, SaysSoAndEndsWithOne) {
  if (!PulseDaemon::available()) GTEST_SKIP() << "pulseaudio is not installed";
  const LossCase& param = GetParam();
  auto daemon = plainServerWithTwoSources();
  ASSERT_TRUE(daemon) << "the test server did not start";
  if (std::string(param.mode) == "voice-processing") {
    ASSERT_EQ(daemon->pactl({"load-module", "module-null-sink", "sink_name=speakers"}), 0);
    ASSERT_EQ(daemon->pactl({"set-default-sink", "speakers"}), 0);
  }
  auto recorder = startedRecorder(*daemon, param.mode);
  ASSERT_TRUE(recorder);
  ASSERT_EQ(recorder->readOutputBytes(3200, 10s).size(), 3200u);

  param.take(*daemon);
  EXPECT_EQ(recorder->waitForExit(10s), 1);
  recorder->drain(2s);
  const auto rest = recorder->remainingErrorLines();
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(Json::parse(rest.back()), (Json{{"event", "error"}, {"note", param.note}}));
}

INSTANTIATE_TEST_SUITE_P(
    Losses, RecorderLosing,
    ::testing::Values(
        LossCase{"plainDeviceUnplugged", "plain-default-mic",
                 [](PulseDaemon& daemon) { ASSERT_EQ(daemon.pactl({"unload-module", "module-sine-source"}), 0); },
                 "capture device went away"},
        LossCase{"plainServerEnds", "plain-default-mic", [](PulseDaemon& daemon) { daemon.stopServer(); },
                 "audio server went away"},
        LossCase{"voiceServerEnds", "voice-processing", [](PulseDaemon& daemon) { daemon.stopServer(); },
                 "audio server went away"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecorderProcess, ReportsAnUnreachableServer) {
  auto recorder = ChildProcess::start(MIC_RECORDER_PATH, {},
                                      {{"PULSE_SERVER", "unix:/nonexistent/ostrel/native"},
                                       {"XDG_RUNTIME_DIR", "/nonexistent/ostrel"}});
  ASSERT_TRUE(recorder);
  const auto line = parsed(recorder->readErrorLine(10s));
  ASSERT_TRUE(line);
  EXPECT_EQ((*line)["event"], "error");
  // The server's own words, not a status number.
  EXPECT_EQ((*line)["note"], "audio server unreachable: Connection refused");
  EXPECT_EQ(recorder->waitForExit(10s), 1);
}

}  // namespace
}  // namespace ostrel::mic
