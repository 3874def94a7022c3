#pragma once

#include <optional>
#include <string>

#include "platform/coreaudio/pulse_record_stream.h"
#include "platform/coreaudio/pulse_unit.h"

namespace ostrel::coreaudio::pulse {

// Plain capture: one record stream from the current device (the server's
// default source when none was set), pinned to it from initialisation on:
// it never follows a new default, and ends when that source goes away.
class HalOutputUnit final : public PulseUnit {
 public:
  using PulseUnit::PulseUnit;
  ~HalOutputUnit() override;

  OSStatus setCurrentDevice(AudioObjectID device) override;
  OSStatus setDuckingConfiguration(const DuckingConfiguration&) override { return kAudioUnitErr_InvalidProperty; }
  OSStatus initialize() override;
  OSStatus start() override;
  OSStatus stop() override;
  OSStatus uninitialize() override;

 private:
  static void arrived(void* self, const float* samples, std::size_t frames);
  static void ended(void* self, OSStatus reason);

  std::string source_;
  std::optional<RecordStream> stream_;
};

}  // namespace ostrel::coreaudio::pulse
