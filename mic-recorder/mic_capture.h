#pragma once

#include <atomic>
#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mic-recorder/pcm_output.h"
#include "mic-recorder/resampler.h"
#include "mic-recorder/status_lines.h"
#include "platform/coreaudio/audio_system.h"

namespace ostrel::mic {

using coreaudio::OSStatus;

inline constexpr coreaudio::Element INPUT_BUS = 1;
inline constexpr coreaudio::Element OUTPUT_BUS = 0;

// Records the microphone in one of two modes and streams it resampled.
// Set-up runs on the main thread; pullInput runs on the audio thread.
class MicCapture {
 public:
  using Sleep = std::function<void(std::chrono::milliseconds)>;

  // `onLost` runs once, on the audio thread, when running capture ends by
  // itself (its device or the audio server went away); it must not block.
  MicCapture(coreaudio::AudioSystem& system, StatusLines& status, PcmSink& pcm, Sleep sleep,
             std::function<void()> onLost = {});
  MicCapture(const MicCapture&) = delete;
  MicCapture& operator=(const MicCapture&) = delete;
  ~MicCapture();

  // Chooses the mode and starts capture. On failure the error line has been
  // written and what was set up is released; the text is the error's note.
  std::expected<void, std::string> start();
  // Stops and releases the unit; no callback runs once this returns.
  void stop();
  // Why capture ended by itself, as an error line's note; nothing while it
  // has not.
  std::optional<std::string> lossNote() const;

  OSStatus pullInput(coreaudio::RenderFlags* flags, const coreaudio::AudioTimeStamp* timestamp, std::uint32_t bus,
                     std::uint32_t frames);

 private:
  std::expected<void, std::string> startPlain(coreaudio::AudioObjectID device, const std::string& mode);
  std::expected<void, std::string> startVoiceProcessing();
  std::expected<void, std::string> createUnit(coreaudio::ComponentSubType subType, const std::string& missing);
  OSStatus installInputCallback(coreaudio::AudioUnit& unit);
  std::string disableOtherAudioDucking(coreaudio::AudioUnit& unit);
  std::expected<void, std::string> initializeAndStart(coreaudio::AudioUnit& unit);
  std::expected<void, std::string> fail(const std::string& note);
  void lost(OSStatus reason);
  void status(const json::Value& line) { status_.write(line); }

  coreaudio::AudioSystem& system_;
  StatusLines& status_;
  PcmSink& pcm_;
  Sleep sleep_;
  std::function<void()> onLost_;
  std::atomic<OSStatus> lossReason_{coreaudio::noErr};

  std::unique_ptr<coreaudio::AudioUnit> unit_;
  // What the audio thread sees: set once the unit runs, cleared before it stops.
  std::atomic<coreaudio::AudioUnit*> running_{nullptr};
  double clientRate_ = 48000.0;
  Resampler resampler_;
  std::vector<float> renderBuffer_;
};

// The capture format of both modes: mono packed 32-bit float at `rate`.
coreaudio::StreamFormat captureFormat(double rate);

}  // namespace ostrel::mic
