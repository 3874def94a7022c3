#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/coreaudio/audio_types.h"
#include "platform/coreaudio/pulse_connection.h"

namespace ostrel::coreaudio::pulse {

// Object identifiers: sinks, sources and source outputs have index spaces of
// their own, so each kind gets a tag in the high bits.
inline constexpr AudioObjectID sourceTag = 0x10000000;
inline constexpr AudioObjectID sinkTag = 0x20000000;
inline constexpr AudioObjectID processTag = 0x30000000;
inline constexpr AudioObjectID tagMask = 0xF0000000;

struct Device {
  AudioObjectID id = 0;
  std::string name;
  std::string monitorSource;  // sinks: the source that records what they play
  bool isSource = false;
  std::uint32_t rate = 0;
  std::uint32_t channels = 0;
  std::string bus;         // device.bus
  std::string formFactor;  // device.form_factor
};

struct SourceOutput {
  AudioObjectID id = 0;
  std::uint32_t source = 0;
  bool corked = false;
  bool peakDetect = false;
  bool fromClient = false;  // false for streams the server's own modules make
  std::string processID;   // application.process.id
  std::string appID;       // application.id
  std::string binary;      // application.process.binary
};

struct ServerDefaults {
  std::string sink;
  std::string source;
};

// Synchronous queries; call from any thread but the loop's own.
// Devices: sinks, then the sources that are not monitors.
std::optional<std::vector<Device>> listDevices(Connection& connection);
std::optional<std::vector<Device>> listMonitorSources(Connection& connection);
std::optional<ServerDefaults> serverDefaults(Connection& connection);
std::optional<std::vector<SourceOutput>> listSourceOutputs(Connection& connection);

}  // namespace ostrel::coreaudio::pulse
