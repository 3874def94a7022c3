#pragma once

#include <cstdint>
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
  void scan(coreaudio::AudioSystem& system);

 private:
  std::map<coreaudio::AudioObjectID, ProcessRecord> current(coreaudio::AudioSystem& system);

  EventLines& out_;
  ProcessNames names_;
  // Keyed by the audio system's process object, not by pid.
  std::map<coreaudio::AudioObjectID, ProcessRecord> active_;
};

}  // namespace ostrel::micwatch
