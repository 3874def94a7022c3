#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "mic-watch/event_lines.h"
#include "platform/coreaudio/audio_system.h"

namespace ostrel::micwatch {

struct ProcessRecord {
  std::int32_t pid = 0;
  std::string bundleID;
  std::string name;
  friend bool operator==(const ProcessRecord&, const ProcessRecord&) = default;
};

// A process's short name by pid, or nothing when it cannot be read.
using ProcessNames = std::function<std::optional<std::string>(std::int32_t pid)>;

// Keeps the set of audio process objects running input and reports who
// joins and who leaves it at each scan. Scans run on one thread.
class ProcessMonitor {
 public:
  ProcessMonitor(EventLines& out, ProcessNames names) : out_(out), names_(std::move(names)) {}

  void hello();
  // Reports the changes since the last scan; a list that cannot be read is
  // an empty list. False when the audio system has gone: a server that ends
  // takes its streams with it, so everyone is reported stopped, and the next
  // system's objects are new ones.
  bool scan(coreaudio::AudioSystem& system);

 private:
  using Records = std::map<coreaudio::AudioObjectID, ProcessRecord>;
  std::expected<Records, coreaudio::OSStatus> current(coreaudio::AudioSystem& system);

  EventLines& out_;
  ProcessNames names_;
  // Keyed by the audio system's process object, not by pid.
  Records active_;
};

}  // namespace ostrel::micwatch
