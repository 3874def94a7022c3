#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel::xpc {

// An exclusive flock on the runtime directory itself (no lock file to leave
// behind). Listeners hold it from the check of a path to listen(), so that a
// socket bound but not yet listening, which refuses connections just as a
// dead one does, is never taken for stale by another listener.
class RuntimeDirectoryLock {
 public:
  // Waits at most `patience`: a child forked while a lock was held keeps it
  // until it execs or ends, and must not stop every listener meanwhile.
  static std::expected<RuntimeDirectoryLock, Error> acquire(const std::filesystem::path& directory,
                                                            std::chrono::milliseconds patience);

 private:
  explicit RuntimeDirectoryLock(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;  // closing it lets go of the lock
};

// The process id in an anonymous listener's socket name, "<pid>-<n>-<8 hex>.sock".
std::optional<pid_t> anonymousSocketOwner(std::string_view fileName);

// Removes the anonymous listeners' sockets in `directory` that are provably
// dead: the process named in the file name no longer exists (ESRCH) and
// nothing accepts on the socket. A live process's sockets, a socket someone
// still listens on and every other file are left alone. Call with the
// directory locked.
void removeDeadAnonymousSockets(const std::filesystem::path& directory);

}  // namespace ostrel::xpc
