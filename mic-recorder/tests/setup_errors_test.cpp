#include <gtest/gtest.h>

#include "mic-recorder/tests/capture_rig.h"

namespace ostrel::mic {
namespace {

using coreaudio::ComponentSubType;
using coreaudio::TransportType;
using testing::CaptureRig;
using testing::failureNote;
using Json = json::Value;
using Script = std::function<void(coreaudio::testing::FakeAudioSystem&)>;

constexpr coreaudio::AudioObjectID headphones = 2, microphone = 4;

void plainMode(coreaudio::testing::FakeAudioSystem& s) {
  s.addDevice({.id = headphones, .transport = TransportType::bluetooth});
  s.addDevice({.id = microphone, .transport = TransportType::builtIn, .inputChannels = {1}});
  s.defaultOutput = headphones;
}
void voiceMode(coreaudio::testing::FakeAudioSystem&) {}

Script failing(const char* call, std::deque<coreaudio::OSStatus> statuses) {
  return [call, statuses](auto& s) { s.unitScript->statuses[call] = statuses; };
}

struct ErrorCase {
  const char* name;
  Script mode;
  Script failure;
  std::string note;
};
void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }


class SetupErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(SetupErrors, WriteOneErrorLineAndReleaseTheUnit) {
  const ErrorCase& param = GetParam();
  CaptureRig rig;
  param.mode(rig.system);
  param.failure(rig.system);

  EXPECT_EQ(failureNote(rig.mic.start()), param.note);
  EXPECT_EQ(rig.status.lines, (std::vector<Json>{{{"event", "error"}, {"note", param.note}}}));
  EXPECT_EQ(rig.system.unit(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SetupErrors,
    ::testing::Values(
        ErrorCase{"noVoiceProcessingComponent", voiceMode,
                  [](auto& s) { s.components.erase(ComponentSubType::voiceProcessingIO); },
                  "VoiceProcessingIO component not found"},
        ErrorCase{"noHalComponent", plainMode, [](auto& s) { s.components.erase(ComponentSubType::halOutput); },
                  "HALOutput component not found"},
        ErrorCase{"instanceRefused", voiceMode, [](auto& s) { s.instanceResult = std::unexpected(-50); },
                  "AudioComponentInstanceNew failed: -50"},
        ErrorCase{"plainEnableInput", plainMode, failing("enableIO", {-10879}), "enable input failed: -10879"},
        ErrorCase{"plainDisableOutput", plainMode, failing("enableIO", {0, -10879}), "disable output failed: -10879"},
        ErrorCase{"plainDevice", plainMode, failing("currentDevice", {-10851}),
                  "set capture device failed: -10851"},
        ErrorCase{"plainFormat", plainMode, failing("streamFormat", {-10868}), "set capture format failed: -10868"},
        ErrorCase{"plainInputCallback", plainMode, failing("inputCallback", {-1}), "set input callback failed: -1"},
        ErrorCase{"voiceEnableInput", voiceMode, failing("enableIO", {-2}), "enable input failed: -2"},
        ErrorCase{"voiceEnableOutput", voiceMode, failing("enableIO", {0, -3}), "enable output failed: -3"},
        ErrorCase{"voiceCaptureFormat", voiceMode, failing("streamFormat", {-4}), "set capture format failed: -4"},
        ErrorCase{"voiceRenderFormat", voiceMode, failing("streamFormat", {0, -5}), "set render format failed: -5"},
        ErrorCase{"voiceInputCallback", voiceMode, failing("inputCallback", {-6}), "set input callback failed: -6"},
        ErrorCase{"voiceRenderCallback", voiceMode, failing("renderCallback", {-7}),
                  "set render callback failed: -7"},
        ErrorCase{"initializeNeverSucceeds", voiceMode, failing("initialize", {-8, -8, -8, -8, -8, -9}),
                  "AudioUnitInitialize failed: -9"},
        ErrorCase{"startRefused", plainMode, failing("start", {-10}), "AudioOutputUnitStart failed: -10"},
        ErrorCase{"stopListenerRefused", voiceMode, failing("stoppedListener", {-11}),
                  "set stop listener failed: -11"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InitializeRetries, SixAttemptsWithFivePausesOfAThirdSecond) {
  CaptureRig rig;
  rig.system.unitScript->statuses["initialize"] = {-1, -1, -1, -1, -1, -1, -1};
  ASSERT_FALSE(rig.mic.start());
  EXPECT_EQ(std::count(rig.calls().begin(), rig.calls().end(), "initialize"), 6);
  EXPECT_EQ(rig.sleeps, std::vector<std::chrono::milliseconds>(5, std::chrono::milliseconds(300)));
}

TEST(InitializeRetries, TheSixthAttemptMaySucceed) {
  CaptureRig rig;
  rig.system.unitScript->statuses["initialize"] = {-1, -1, -1, -1, -1};
  ASSERT_TRUE(rig.mic.start());
  EXPECT_EQ(rig.sleeps.size(), 5u);
  EXPECT_EQ(rig.status.lines.at(0)["event"], "start");
}

struct DuckingCase {
  const char* name;
  std::deque<coreaudio::OSStatus> statuses;
  std::vector<Json> lines;
};
void PrintTo(const DuckingCase& c, std::ostream* os) { *os << c.name; }


class Ducking : public ::testing::TestWithParam<DuckingCase> {};

TEST_P(Ducking, IsRetriedOnceAfterStartAndReported) {
  CaptureRig rig;
  rig.system.unitScript->statuses["ducking"] = GetParam().statuses;
  ASSERT_TRUE(rig.mic.start());
  EXPECT_EQ(rig.status.lines, GetParam().lines);
}

Json voiceStart(const char* ducking) {
  return {{"event", "start"}, {"note", "voice-processing-active"}, {"mode", "voice-processing"},
          {"ducking", ducking}, {"source_rate", 48000}};
}

INSTANTIATE_TEST_SUITE_P(
    Attempts, Ducking,
    ::testing::Values(DuckingCase{"acceptedAtOnce", {}, {voiceStart("disabled")}},
                      DuckingCase{"acceptedOnRetry", {-66}, {voiceStart("disabled")}},
                      DuckingCase{"failedTwice",
                                  {-66, -12},
                                  {{{"event", "ducking"}, {"state", "failed:-12"}}, voiceStart("failed:-12")}}),
    [](const auto& info) { return std::string(info.param.name); });

struct LossCase {
  const char* name;
  Script mode;
  coreaudio::OSStatus reason;
  std::string note;
};
void PrintTo(const LossCase& c, std::ostream* os) { *os << c.name; }

class Losses : public ::testing::TestWithParam<LossCase> {};

TEST_P(Losses, AreToldOnceWithTheirReason) {
  const LossCase& param = GetParam();
  CaptureRig rig;
  param.mode(rig.system);
  ASSERT_TRUE(rig.mic.start());
  EXPECT_EQ(rig.mic.lossNote(), std::nullopt);
  EXPECT_EQ(rig.losses, 0);

  rig.unit().stopsByItself(param.reason);
  rig.unit().stopsByItself(coreaudio::kAudioHardwareNotRunningError);
  EXPECT_EQ(rig.losses, 1);
  EXPECT_EQ(rig.mic.lossNote(), param.note);
  // The caller writes the error line once it has released the capture.
  EXPECT_EQ(rig.status.lines.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, Losses,
    ::testing::Values(
        LossCase{"plainDeviceGone", plainMode, coreaudio::kAudioHardwareBadDeviceError, "capture device went away"},
        LossCase{"plainServerGone", plainMode, coreaudio::kAudioHardwareNotRunningError, "audio server went away"},
        LossCase{"voiceServerGone", voiceMode, coreaudio::kAudioHardwareNotRunningError, "audio server went away"},
        LossCase{"otherStatus", voiceMode, -42, "capture stopped: -42"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrel::mic
