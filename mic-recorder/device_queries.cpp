#include "mic-recorder/device_queries.h"

#include <numeric>

namespace ostrel::mic {

std::optional<AudioObjectID> defaultDevice(AudioSystem& system, DefaultDevice which) {
  const auto device = which == DefaultDevice::output ? system.defaultOutputDevice() : system.defaultInputDevice();
  if (!device || *device == coreaudio::kAudioObjectUnknown) return std::nullopt;
  return *device;
}

std::optional<coreaudio::TransportType> transportType(AudioSystem& system, AudioObjectID device) {
  const auto type = system.transportType(device);
  if (!type) return std::nullopt;
  return *type;
}

std::uint32_t inputChannelCount(AudioSystem& system, AudioObjectID device) {
  const auto buffers = system.inputStreamConfiguration(device);
  if (!buffers) return 0;
  return std::accumulate(buffers->begin(), buffers->end(), std::uint32_t{0});
}

std::optional<double> nominalRate(AudioSystem& system, AudioObjectID device) {
  const auto rate = system.nominalSampleRate(device);
  if (!rate || !(*rate > 0)) return std::nullopt;
  return *rate;
}

std::optional<AudioObjectID> builtInInputDevice(AudioSystem& system) {
  const auto devices = system.devices();
  if (!devices) return std::nullopt;
  for (const AudioObjectID device : *devices) {
    if (transportType(system, device) == coreaudio::TransportType::builtIn && inputChannelCount(system, device) > 0)
      return device;
  }
  return std::nullopt;
}

}  // namespace ostrel::mic
