#pragma once

#include <memory>
#include <vector>

#include "platform/coreaudio/audio_system.h"
#include "platform/coreaudio/pulse_connection.h"
#include "platform/coreaudio/pulse_queries.h"

namespace ostrel::coreaudio::pulse {

// The audio system on a PulseAudio server. Devices are the sinks and the
// sources that are not monitors; process objects are the source outputs of
// clients that record from a real source, peak meters left out.
class PulseAudioSystem final : public AudioSystem {
 public:
  explicit PulseAudioSystem(std::unique_ptr<Connection> connection) : connection_(std::move(connection)) {}
  ~PulseAudioSystem() override;

  std::expected<std::vector<AudioObjectID>, OSStatus> devices() override;
  std::expected<AudioObjectID, OSStatus> defaultOutputDevice() override;
  std::expected<AudioObjectID, OSStatus> defaultInputDevice() override;
  std::expected<TransportType, OSStatus> transportType(AudioObjectID device) override;
  std::expected<std::vector<std::uint32_t>, OSStatus> inputStreamConfiguration(AudioObjectID device) override;
  std::expected<double, OSStatus> nominalSampleRate(AudioObjectID device) override;

  std::optional<AudioComponent> findComponent(ComponentSubType subType) override;
  std::expected<std::unique_ptr<AudioUnit>, OSStatus> newInstance(const AudioComponent& component) override;

  std::expected<std::vector<AudioObjectID>, OSStatus> processObjects() override;
  std::expected<std::uint32_t, OSStatus> processIsRunningInput(AudioObjectID process) override;
  std::expected<std::int32_t, OSStatus> processPID(AudioObjectID process) override;
  std::expected<std::string, OSStatus> processBundleID(AudioObjectID process) override;
  OSStatus addProcessListListener(std::function<void()> onChange) override;

 private:
  std::expected<Device, OSStatus> device(AudioObjectID id);
  std::expected<AudioObjectID, OSStatus> defaultDevice(bool output);
  std::expected<SourceOutput, OSStatus> sourceOutput(AudioObjectID id);
  static void subscribed(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* self);

  std::unique_ptr<Connection> connection_;
  std::vector<std::function<void()>> listeners_;
};

}  // namespace ostrel::coreaudio::pulse
