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

  // Ends the server as its own exit would; its clients lose it.
  void stopServer();
  // Starts it again where it was (same address, same modules) and waits,
  // bounded, until it answers.
  bool startServer();

 private:
  PulseDaemon(std::string directory, std::vector<std::string> modules)
      : directory_(std::move(directory)), modules_(std::move(modules)) {}
  pid_t pid_ = -1;
  std::string directory_;
  std::vector<std::string> modules_;
};

}  // namespace ostrel::coreaudio::testing
