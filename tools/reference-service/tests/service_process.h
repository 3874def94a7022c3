#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/unique_fd.h"

namespace ostrel::refsvc::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The real service binary as a child process listening on a free loopback
// port. Killed at destruction if the test did not stop it.
class ServiceProcess {
 public:
  struct Options {
    std::filesystem::path dataDirectory;
    bool seedDemo = true;
    std::vector<std::string> tokens;
  };

  static std::expected<ServiceProcess, std::string> start(const Options& options);
  ServiceProcess(ServiceProcess&& other) noexcept;
  ServiceProcess& operator=(ServiceProcess&&) = delete;
  ServiceProcess(const ServiceProcess&) = delete;
  ~ServiceProcess();

  // "http://127.0.0.1:PORT", the first line the service printed.
  const std::string& base() const { return base_; }

  // Sends the signal and waits (bounded) for the exit status.
  std::expected<int, std::string> stop(int signal, std::chrono::milliseconds patience = std::chrono::seconds(20));

 private:
  ServiceProcess(pid_t pid, UniqueFd output, std::string base)
      : pid_(pid), output_(std::move(output)), base_(std::move(base)) {}

  pid_t pid_ = -1;
  UniqueFd output_;  // kept open so the service never writes into a closed pipe
  std::string base_;
};

struct Finished {
  int exitStatus = -1;
  std::string standardError;
};
// Runs the service binary with these arguments until it ends (bounded).
std::expected<Finished, std::string> runService(const std::vector<std::string>& arguments,
                                                std::chrono::milliseconds patience = std::chrono::seconds(20));

}  // namespace ostrel::refsvc::testing
