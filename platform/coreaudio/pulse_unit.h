#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "platform/coreaudio/audio_system.h"
#include "platform/coreaudio/pulse_connection.h"

namespace ostrel::coreaudio::pulse {

inline constexpr Element inputElement = 1;
inline constexpr Element outputElement = 0;

// What both I/O units share: their properties, the lifecycle checks and the
// hand-over of one cycle's frames to the input callback and render().
class PulseUnit : public AudioUnit {
 public:
  explicit PulseUnit(Connection& connection) : connection_(connection) {}

  OSStatus setEnableIO(Scope scope, Element element, bool enabled) override;
  OSStatus setStreamFormat(Scope scope, Element element, const StreamFormat& format) override;
  OSStatus setInputCallback(const CallbackStruct& callback) override;
  OSStatus setRenderCallback(Scope scope, Element element, const RenderCallbackStruct& callback) override;
  OSStatus setStoppedListener(std::function<void(OSStatus reason)> onStopped) override;
  OSStatus render(RenderFlags* flags, const AudioTimeStamp* timestamp, std::uint32_t bus, std::uint32_t frames,
                  float* buffer) override;

 protected:
  // The capture rate the unit was given, once it can capture.
  std::optional<double> captureRate() const;
  // Runs the input callback for one cycle of `frames` samples (null: silence).
  void deliver(const float* samples, std::size_t frames);
  // The capture stream ended by itself (on the loop's thread): tells the listener.
  void stopped(OSStatus reason);

  Connection& connection_;
  bool initialized_ = false;
  bool inputEnabled_ = false;
  bool outputEnabled_ = false;

 private:
  std::optional<StreamFormat> captureFormat_;
  CallbackStruct inputCallback_;
  RenderCallbackStruct renderCallback_;
  std::function<void(OSStatus)> stoppedListener_;
  const float* cycleSamples_ = nullptr;
  std::size_t cycleFrames_ = 0;
  bool inCycle_ = false;
  double sampleTime_ = 0;
};

}  // namespace ostrel::coreaudio::pulse
