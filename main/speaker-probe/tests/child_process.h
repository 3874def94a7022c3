#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::speaker::testing {

// A program run with its standard output read line by line. Owns the
// process and the pipe: a child still running at destruction is killed.
class ChildProcess {
 public:
  // Runs `program` with `arguments` and the test's environment plus `environment`.
  static std::optional<ChildProcess> start(const std::string& program, const std::vector<std::string>& arguments,
                                           const std::map<std::string, std::string>& environment);
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // The next line without its line feed, or nothing when none comes in time.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout);
  void signal(int signalNumber) const;
  // The exit status, or nothing when the process does not end normally in time.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);

 private:
  ChildProcess(pid_t pid, int output) : pid_(pid), output_(output) {}

  pid_t pid_ = -1;
  int output_ = -1;
  std::string buffered_;
};

}  // namespace ostrel::speaker::testing
