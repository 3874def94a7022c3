#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <thread>

#include "platform/coreaudio/audio_system.h"
#include "platform/foundation/testing/child_process.h"
#include "platform/coreaudio/testing/pulse_daemon.h"

namespace ostrel::coreaudio {
namespace {

using namespace std::chrono_literals;
using ostrel::testing::ChildProcess;
using testing::PulseDaemon;

// A server with a Bluetooth-marked headset, plain speakers, a sine
// microphone and a built-in microphone made from it.
class PulseAudioSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PulseDaemon::available()) GTEST_SKIP() << "pulseaudio is not installed";
    auto started = PulseDaemon::start({"module-null-sink sink_name=headset sink_properties=device.bus=bluetooth",
                                  "module-null-sink sink_name=speakers rate=44100",
                                  "module-sine-source source_name=sine rate=32000 frequency=440",
                                  "module-remap-source source_name=internal master=sine "
                                  "source_properties=device.form_factor=internal channels=2 "
                                  "channel_map=front-left,front-right master_channel_map=mono,mono"});
    ASSERT_TRUE(started) << "the test server did not start";
    daemon_.emplace(std::move(*started));
    ASSERT_EQ(daemon_->pactl({"set-default-sink", "headset"}), 0);
    ASSERT_EQ(daemon_->pactl({"set-default-source", "sine"}), 0);
    for (const auto& [name, value] : daemon_->environment()) ::setenv(name.c_str(), value.c_str(), 1);
    auto system = systemAudioSystem();
    ASSERT_TRUE(system) << system.error().localizedDescription();
    system_ = std::move(*system);
  }

  std::optional<PulseDaemon> daemon_;
  std::unique_ptr<AudioSystem> system_;
};

TEST_F(PulseAudioSystemTest, DescribesTheDevices) {
  const auto devices = system_->devices();
  ASSERT_TRUE(devices);
  // Two sinks and two sources; the sinks' monitors are not devices.
  ASSERT_EQ(devices->size(), 4u);

  const auto output = system_->defaultOutputDevice();
  const auto input = system_->defaultInputDevice();
  ASSERT_TRUE(output && input);
  EXPECT_EQ(system_->transportType(*output), TransportType::bluetooth);
  EXPECT_EQ(system_->inputStreamConfiguration(*output), std::vector<std::uint32_t>{});
  EXPECT_EQ(system_->nominalSampleRate(*input), 32000.0);
  EXPECT_EQ(system_->inputStreamConfiguration(*input), std::vector<std::uint32_t>{1});
  EXPECT_EQ(system_->transportType(*input), TransportType::unknown);

  int builtIn = 0;
  for (AudioObjectID device : *devices) {
    if (system_->transportType(device) != TransportType::builtIn) continue;
    ++builtIn;
    EXPECT_EQ(system_->inputStreamConfiguration(device), std::vector<std::uint32_t>{2});
  }
  EXPECT_EQ(builtIn, 1);
  const auto missing = system_->transportType(0x7fffffff);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error(), kAudioHardwareBadObjectError);
}

TEST_F(PulseAudioSystemTest, ProcessObjectsAreTheRecordersOfRealSources) {
  std::atomic<int> changes{0};
  ASSERT_EQ(system_->addProcessListListener([&] { changes.fetch_add(1); }), noErr);

  auto meter = ChildProcess::start("parecord", {"-d", "speakers.monitor", "/dev/null"}, daemon_->environment());
  auto recorder = ChildProcess::start("parecord", {"-d", "internal", "/dev/null"}, daemon_->environment());
  ASSERT_TRUE(meter && recorder);

  std::vector<AudioObjectID> objects;
  for (int tries = 0; tries < 500 && (objects.empty() || changes.load() < 2); ++tries) {
    std::this_thread::sleep_for(10ms);
    objects = system_->processObjects().value_or(std::vector<AudioObjectID>{});
  }
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_GE(changes.load(), 2);
  EXPECT_EQ(system_->processIsRunningInput(objects[0]), 1u);
  EXPECT_EQ(system_->processPID(objects[0]), recorder->pid());
  EXPECT_TRUE(system_->processBundleID(objects[0]).has_value());

  recorder->signal(SIGTERM);
  ASSERT_TRUE(recorder->waitForExit(10s).has_value());
  for (int tries = 0; tries < 500 && !objects.empty(); ++tries) {
    std::this_thread::sleep_for(10ms);
    objects = system_->processObjects().value_or(objects);
  }
  EXPECT_TRUE(objects.empty());
}

TEST_F(PulseAudioSystemTest, UnitsRefuseWhatTheyCannotDo) {
  auto unit = system_->newInstance(*system_->findComponent(ComponentSubType::halOutput));
  ASSERT_TRUE(unit);
  // Not configured for capture yet.
  EXPECT_NE((*unit)->initialize(), noErr);
  const auto output = system_->defaultOutputDevice();
  EXPECT_EQ((*unit)->setCurrentDevice(*output), kAudioHardwareBadObjectError);
  StreamFormat stereo{.sampleRate = 48000, .formatFlags = kAudioFormatFlagIsFloat, .bytesPerFrame = 8,
                      .channelsPerFrame = 2, .bitsPerChannel = 32};
  EXPECT_NE((*unit)->setStreamFormat(Scope::output, 1, stereo), noErr);
  float buffer[16];
  EXPECT_NE((*unit)->render(nullptr, nullptr, 1, 16, buffer), noErr);
}

}  // namespace
}  // namespace ostrel::coreaudio
