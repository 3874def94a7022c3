#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::coreaudio::testing {

// A private PulseAudio server for one test: its own runtime directory, the
// given modules, stopped (and its directory removed) on destruction.
class PulseDaemon {
 public:
  // Whether the pulseaudio program is installed at all.
  static bool available();
  // Starts a server with `modules` (each a "-L" argument) and waits, bounded,
  // until it answers; nothing when it does not.
  static std::optional<PulseDaemon> start(const std::vector<std::string>& modules);
  PulseDaemon(PulseDaemon&& other) noexcept;
  PulseDaemon& operator=(PulseDaemon&&) = delete;
  PulseDaemon(const PulseDaemon&) = delete;
  PulseDaemon& operator=(const PulseDaemon&) = delete;
  ~PulseDaemon();

  // The variables a client needs to reach this server.
  std::map<std::string, std::string> environment() const;
  // Runs pactl against this server; its exit status.
  int pactl(const std::vector<std::string>& arguments) const;

 private:
  PulseDaemon(pid_t pid, std::string directory) : pid_(pid), directory_(std::move(directory)) {}
  pid_t pid_ = -1;
  std::string directory_;
};

}  // namespace ostrel::coreaudio::testing
