#pragma once

#include <optional>
#include <vector>

#include "platform/coreaudio/echo_canceller.h"
#include "platform/coreaudio/pulse_record_stream.h"
#include "platform/coreaudio/pulse_unit.h"

namespace ostrel::coreaudio::pulse {

// Voice processing in process: the default source and the default sink's
// monitor (the echo reference) are captured together; each 10 ms block of
// the microphone goes through the echo canceller before the input callback
// sees it. Nothing is played, so the render callback is kept but not called.
class VoiceProcessingUnit final : public PulseUnit {
 public:
  using PulseUnit::PulseUnit;
  ~VoiceProcessingUnit() override;

  // The unit follows the default devices, as its platform counterpart does.
  OSStatus setCurrentDevice(AudioObjectID) override { return kAudioUnitErr_InvalidProperty; }
  // Other streams are not lowered by this unit, so any configuration holds.
  OSStatus setDuckingConfiguration(const DuckingConfiguration&) override { return noErr; }
  OSStatus initialize() override;
  OSStatus start() override;
  OSStatus stop() override;
  OSStatus uninitialize() override;

 private:
  static void microphoneArrived(void* self, const float* samples, std::size_t frames);
  static void referenceArrived(void* self, const float* samples, std::size_t frames);
  static void microphoneEnded(void* self, OSStatus reason);

  std::optional<EchoCanceller> canceller_;
  std::optional<RecordStream> microphone_;
  std::optional<RecordStream> reference_;
  std::vector<float> microphoneBlock_;
  std::vector<float> referenceBlock_;
  std::vector<float> processedBlock_;
  std::size_t microphoneFill_ = 0;
  std::size_t referenceFill_ = 0;
};

}  // namespace ostrel::coreaudio::pulse
