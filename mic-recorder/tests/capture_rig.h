#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <vector>

#include "mic-recorder/mic_capture.h"
#include "platform/coreaudio/testing/fake_audio_system.h"

namespace ostrel::mic::testing {

class RecordedStatus final : public StatusLines {
 public:
  void write(const json::Value& line) override { lines.push_back(line); }
  std::vector<json::Value> lines;
};

class RecordedPcm final : public PcmSink {
 public:
  void write(std::span<const std::int16_t> samples) override {
    ++writes;
    this->samples.insert(this->samples.end(), samples.begin(), samples.end());
  }
  std::vector<std::int16_t> samples;
  int writes = 0;
};

// The error note of a failed start, or "" when it started.
inline std::string failureNote(const std::expected<void, std::string>& started) {
  return started ? std::string() : started.error();
}

// A MicCapture over the scriptable audio system, with its sleeps and the
// losses it told of counted.
struct CaptureRig {
  coreaudio::testing::FakeAudioSystem system;
  RecordedStatus status;
  RecordedPcm pcm;
  std::vector<std::chrono::milliseconds> sleeps;
  int losses = 0;
  MicCapture mic{system, status, pcm, [this](std::chrono::milliseconds pause) { sleeps.push_back(pause); },
                 [this] { ++losses; }};

  coreaudio::testing::FakeAudioUnit& unit() { return *system.unit(); }
  std::vector<std::string>& calls() { return system.unitScript->calls; }
};

}  // namespace ostrel::mic::testing
