#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::testing {

// A program run with its standard output and standard error on pipes.
// A child still running at destruction is killed.
class ChildProcess {
 public:
  static std::optional<ChildProcess> start(const std::string& program, const std::vector<std::string>& arguments,
                                           const std::map<std::string, std::string>& environment);
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  // The next line of standard output or standard error, or nothing in time.
  std::optional<std::string> readOutputLine(std::chrono::milliseconds timeout);
  std::optional<std::string> readErrorLine(std::chrono::milliseconds timeout);
  // Reads standard output until `bytes` arrived or the time is up.
  std::string readOutputBytes(std::size_t bytes, std::chrono::milliseconds timeout);
  // Reads whatever is left on both pipes until they close, bounded.
  void drain(std::chrono::milliseconds timeout);
  // Closes our end of standard output, as a reader that goes away does.
  void closeOutput();
  // Writes to the child's standard input; false once it cannot take more.
  bool writeInput(const std::string& text);
  // Ends the child's standard input.
  void closeInput();
  void signal(int signalNumber) const;
  // The exit status, or nothing when it does not end normally in time.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);
  // Standard error lines read so far by drain() that were not yet returned.
  std::vector<std::string> remainingErrorLines();

 private:
  struct Pipe {
    int fd = -1;
    std::string buffered;
  };
  ChildProcess(pid_t pid, int input, int output, int error) : pid_(pid), input_(input) {
    output_.fd = output;
    error_.fd = error;
  }
  static std::optional<std::string> readLine(Pipe& pipe, std::chrono::milliseconds timeout);
  static bool readSome(Pipe& pipe, int timeoutMs);

  pid_t pid_ = -1;
  int input_ = -1;
  Pipe output_;
  Pipe error_;
};

}  // namespace ostrel::testing
