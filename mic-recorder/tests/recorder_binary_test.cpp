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

TEST(RecorderProcess, ReportsAnUnreachableServer) {
  auto recorder = ChildProcess::start(MIC_RECORDER_PATH, {},
                                      {{"PULSE_SERVER", "unix:/nonexistent/ostrel/native"},
                                       {"XDG_RUNTIME_DIR", "/nonexistent/ostrel"}});
  ASSERT_TRUE(recorder);
  const auto line = parsed(recorder->readErrorLine(10s));
  ASSERT_TRUE(line);
  EXPECT_EQ((*line)["event"], "error");
  EXPECT_TRUE((*line)["note"].get<std::string>().starts_with("audio server unreachable: "));
  EXPECT_EQ(recorder->waitForExit(10s), 1);
}

}  // namespace
}  // namespace ostrel::mic
