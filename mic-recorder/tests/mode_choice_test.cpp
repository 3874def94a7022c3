#include <gtest/gtest.h>

#include "mic-recorder/tests/capture_rig.h"

namespace ostrel::mic {
namespace {

using coreaudio::ComponentSubType;
using coreaudio::TransportType;
using coreaudio::testing::FakeDevice;
using testing::CaptureRig;
using testing::failureNote;
using Json = json::Value;

constexpr coreaudio::AudioObjectID headphones = 2, speakers = 3, builtInMic = 4, usbMic = 5, builtInSpeakers = 6;

struct ModeCase {
  const char* name;
  std::function<void(coreaudio::testing::FakeAudioSystem&)> arrange;
  ComponentSubType unit;
  Json startLine;
  coreaudio::AudioObjectID captureDevice;  // plain modes only
};
void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }


class ModeChoice : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ModeChoice, PicksTheModeDeviceAndRate) {
  const ModeCase& param = GetParam();
  CaptureRig rig;
  param.arrange(rig.system);

  ASSERT_TRUE(rig.mic.start());
  ASSERT_EQ(rig.status.lines.size(), 1u);
  EXPECT_EQ(rig.status.lines[0], param.startLine);
  ASSERT_NE(rig.system.unit(), nullptr);
  EXPECT_EQ(rig.unit().subType(), param.unit);
  EXPECT_EQ(rig.system.unitScript->currentDevice, param.captureDevice);
  ASSERT_FALSE(rig.system.unitScript->formats.empty());
  EXPECT_EQ(rig.system.unitScript->formats[0].sampleRate, param.startLine["source_rate"].get<double>());
}

Json plain(const char* mode, double rate) {
  return {{"event", "start"}, {"note", "plain-capture-active"}, {"mode", mode}, {"ducking", "n/a"},
          {"source_rate", rate}};
}
Json voice(double rate) {
  return {{"event", "start"}, {"note", "voice-processing-active"}, {"mode", "voice-processing"},
          {"ducking", "disabled"}, {"source_rate", rate}};
}

void bluetoothOut(coreaudio::testing::FakeAudioSystem& s, TransportType type = TransportType::bluetooth) {
  s.addDevice({.id = headphones, .transport = type});
  s.defaultOutput = headphones;
}

INSTANTIATE_TEST_SUITE_P(
    Devices, ModeChoice,
    ::testing::Values(
        ModeCase{"bluetoothWithBuiltInMic",
                 [](auto& s) {
                   bluetoothOut(s);
                   s.addDevice({.id = builtInSpeakers, .transport = TransportType::builtIn, .inputChannels = {}});
                   s.addDevice({.id = usbMic, .transport = TransportType::usb, .inputChannels = {1}, .rate = 32000});
                   s.addDevice({.id = builtInMic, .transport = TransportType::builtIn, .inputChannels = {1, 1},
                                .rate = 44100});
                   s.defaultInput = usbMic;
                 },
                 ComponentSubType::halOutput, plain("plain-builtin-mic", 44100), builtInMic},
        ModeCase{"bluetoothLEWithoutBuiltInMic",
                 [](auto& s) {
                   bluetoothOut(s, TransportType::bluetoothLE);
                   s.addDevice({.id = usbMic, .transport = TransportType::usb, .inputChannels = {1}, .rate = 32000});
                   s.defaultInput = usbMic;
                 },
                 ComponentSubType::halOutput, plain("plain-default-mic", 32000), usbMic},
        ModeCase{"bluetoothWithUnreadableMicRate",
                 [](auto& s) {
                   bluetoothOut(s);
                   s.addDevice({.id = usbMic, .transport = TransportType::usb, .inputChannels = {1}, .rate = 0.0});
                   s.defaultInput = usbMic;
                 },
                 ComponentSubType::halOutput, plain("plain-default-mic", 48000), usbMic},
        ModeCase{"wiredSpeakers",
                 [](auto& s) {
                   s.addDevice({.id = speakers, .transport = TransportType::usb});
                   s.addDevice({.id = builtInMic, .transport = TransportType::builtIn, .inputChannels = {1},
                                .rate = 44100});
                   s.addDevice({.id = usbMic, .transport = TransportType::usb, .inputChannels = {1}, .rate = 96000});
                   s.defaultOutput = speakers;
                   s.defaultInput = usbMic;
                 },
                 ComponentSubType::voiceProcessingIO, voice(96000), 0},
        ModeCase{"noDefaultOutputNoInput", [](auto&) {}, ComponentSubType::voiceProcessingIO, voice(48000), 0},
        ModeCase{"unreadableTransport",
                 [](auto& s) {
                   s.addDevice({.id = headphones, .transport = std::unexpected(-1)});
                   s.defaultOutput = headphones;
                 },
                 ComponentSubType::voiceProcessingIO, voice(48000), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CaptureSetup, NoInputAtAllBehindBluetoothIsAnError) {
  CaptureRig rig;
  bluetoothOut(rig.system);
  rig.system.addDevice({.id = builtInMic, .transport = TransportType::builtIn, .inputChannels = {0}});
  EXPECT_EQ(failureNote(rig.mic.start()), "no input device available");
  EXPECT_EQ(rig.status.lines, (std::vector<Json>{{{"event", "error"}, {"note", "no input device available"}}}));
  EXPECT_EQ(rig.system.unit(), nullptr);
}

TEST(CaptureSetup, PlainCaptureSetsUpInputOnlyOnTheChosenDevice) {
  CaptureRig rig;
  bluetoothOut(rig.system);
  rig.system.addDevice({.id = builtInMic, .transport = TransportType::builtIn, .inputChannels = {1}});
  ASSERT_TRUE(rig.mic.start());
  EXPECT_EQ(rig.calls(), (std::vector<std::string>{"enableIO:1/1=1", "enableIO:2/0=0", "currentDevice", "streamFormat",
                                                   "inputCallback", "stoppedListener", "initialize",
                                                   "start"}));
  const auto& format = rig.system.unitScript->formats.at(0);
  EXPECT_EQ(format.formatFlags, 9u);
  EXPECT_EQ(format.channelsPerFrame, 1u);
  EXPECT_EQ(format.bitsPerChannel, 32u);
  EXPECT_EQ(format.bytesPerFrame, 4u);
}

TEST(CaptureSetup, VoiceProcessingRendersSilenceToTheOutput) {
  CaptureRig rig;
  ASSERT_TRUE(rig.mic.start());
  std::vector<float> out(256, 0.7f);
  EXPECT_EQ(rig.unit().renderOutput(out), coreaudio::noErr);
  EXPECT_EQ(out, std::vector<float>(256, 0.0f));
}

TEST(CaptureSetup, StopReleasesTheUnitInOrder) {
  CaptureRig rig;
  ASSERT_TRUE(rig.mic.start());
  rig.calls().clear();
  rig.mic.stop();
  rig.mic.stop();
  EXPECT_EQ(rig.calls(), (std::vector<std::string>{"stop", "uninitialize", "dispose"}));
}

}  // namespace
}  // namespace ostrel::mic
