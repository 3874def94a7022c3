#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/coreaudio/audio_types.h"
#include "platform/foundation/error.h"

namespace ostrel::coreaudio {

// One I/O unit. Destroying it disposes of it (stopping it first if needed).
// Property setters and lifecycle calls answer with a status code; render()
// is only valid from inside the input callback, on the audio thread.
class AudioUnit {
 public:
  AudioUnit() = default;
  AudioUnit(const AudioUnit&) = delete;
  AudioUnit& operator=(const AudioUnit&) = delete;
  virtual ~AudioUnit() = default;

  virtual OSStatus setEnableIO(Scope scope, Element element, bool enabled) = 0;
  virtual OSStatus setCurrentDevice(AudioObjectID device) = 0;
  virtual OSStatus setStreamFormat(Scope scope, Element element, const StreamFormat& format) = 0;
  virtual OSStatus setInputCallback(const CallbackStruct& callback) = 0;
  virtual OSStatus setRenderCallback(Scope scope, Element element, const RenderCallbackStruct& callback) = 0;
  virtual OSStatus setDuckingConfiguration(const DuckingConfiguration& configuration) = 0;
  // What listeners of kAudioOutputUnitProperty_IsRunning and of the device's
  // kAudioDevicePropertyDeviceIsAlive learn: `onStopped` runs at most once,
  // on a thread of the unit's choosing, when an initialized unit can capture
  // no more by itself, with kAudioHardwareBadDeviceError when its device
  // went away and kAudioHardwareNotRunningError when the audio system did.
  // It must not block or call back into the unit.
  virtual OSStatus setStoppedListener(std::function<void(OSStatus reason)> onStopped) = 0;

  virtual OSStatus initialize() = 0;
  virtual OSStatus start() = 0;
  // Copies `frames` mono float frames of the current cycle into `buffer`.
  virtual OSStatus render(RenderFlags* flags, const AudioTimeStamp* timestamp, std::uint32_t bus,
                          std::uint32_t frames, float* buffer) = 0;
  virtual OSStatus stop() = 0;
  virtual OSStatus uninitialize() = 0;
};

struct AudioComponent {
  ComponentSubType subType;
};

// The audio system: devices, components and the per-process objects.
class AudioSystem {
 public:
  AudioSystem() = default;
  AudioSystem(const AudioSystem&) = delete;
  AudioSystem& operator=(const AudioSystem&) = delete;
  virtual ~AudioSystem() = default;

  // Devices in the system's order.
  virtual std::expected<std::vector<AudioObjectID>, OSStatus> devices() = 0;
  virtual std::expected<AudioObjectID, OSStatus> defaultOutputDevice() = 0;
  virtual std::expected<AudioObjectID, OSStatus> defaultInputDevice() = 0;
  virtual std::expected<TransportType, OSStatus> transportType(AudioObjectID device) = 0;
  // Channel counts of each buffer of the input stream configuration.
  virtual std::expected<std::vector<std::uint32_t>, OSStatus> inputStreamConfiguration(AudioObjectID device) = 0;
  virtual std::expected<double, OSStatus> nominalSampleRate(AudioObjectID device) = 0;

  virtual std::optional<AudioComponent> findComponent(ComponentSubType subType) = 0;
  virtual std::expected<std::unique_ptr<AudioUnit>, OSStatus> newInstance(const AudioComponent& component) = 0;

  virtual std::expected<std::vector<AudioObjectID>, OSStatus> processObjects() = 0;
  virtual std::expected<std::uint32_t, OSStatus> processIsRunningInput(AudioObjectID process) = 0;
  virtual std::expected<std::int32_t, OSStatus> processPID(AudioObjectID process) = 0;
  virtual std::expected<std::string, OSStatus> processBundleID(AudioObjectID process) = 0;
  // `onChange` runs on a thread of the system's choosing and must not block
  // or call back into the system; hand the work to another thread.
  virtual OSStatus addProcessListListener(std::function<void()> onChange) = 0;
};

// The machine's audio system (PulseAudio on Linux), or why it cannot be
// reached: OSStatusError with the failed connection's status and, as the
// description, the server's own words.
std::expected<std::unique_ptr<AudioSystem>, Error> systemAudioSystem();

}  // namespace ostrel::coreaudio
