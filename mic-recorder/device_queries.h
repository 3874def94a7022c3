#pragma once

#include <optional>

#include "platform/coreaudio/audio_system.h"

namespace ostrel::mic {

using coreaudio::AudioObjectID;
using coreaudio::AudioSystem;

enum class DefaultDevice { output, input };

// Absent when the query fails or names no device (identifier 0).
std::optional<AudioObjectID> defaultDevice(AudioSystem& system, DefaultDevice which);
std::optional<coreaudio::TransportType> transportType(AudioSystem& system, AudioObjectID device);
// The channels of all input buffers together; 0 when unreadable.
std::uint32_t inputChannelCount(AudioSystem& system, AudioObjectID device);
// Absent when unreadable or not positive.
std::optional<double> nominalRate(AudioSystem& system, AudioObjectID device);
// The first built-in device, in the system's order, that has input channels.
std::optional<AudioObjectID> builtInInputDevice(AudioSystem& system);

}  // namespace ostrel::mic
