#pragma once

#include <sys/types.h>

#include <expected>
#include <string>
#include <string_view>
#include <utility>

#include "platform/foundation/error.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel::applescript_linux {

// Owns a started child process until it has been waited for. Dropping one
// that still runs kills it and its process group, so that no error path
// leaves it behind.
class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // The raw wait status (see waitpid).
  std::expected<int, Error> wait();

 private:
  pid_t pid_ = -1;
};

struct CompletedProcess {
  bool exitedNormally = false;
  int exitStatus = 0;
  std::string standardOutput;
  std::string standardError;
};

// Runs `program` (looked up on PATH) without arguments, with `input` on its
// standard input, and collects both outputs until it ends. The child gets
// the default disposition and an empty mask for the signals a parent may
// have blocked or ignored, so that it can be stopped like any process, and
// leads a process group of its own.
std::expected<CompletedProcess, Error> runToCompletion(const std::string& program, std::string_view input);

// Kills every child still running, with its process group, and refuses to
// start any more (ECANCELED): for a process that is about to exit. Safe
// from any thread while others run children.
void endAllChildren();

}  // namespace ostrel::applescript_linux
