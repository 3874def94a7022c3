#pragma once

#include <sys/types.h>

#include <cstddef>
#include <expected>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel::xpc {

// The longest path a sockaddr_un holds, without its terminating NUL.
size_t maxSocketPathLength();

// A listening, non-blocking stream socket at `path`, mode 0600. A stale file at
// the path is removed first.
std::expected<UniqueFd, Error> listenAt(const std::string& path);
// A blocking connect to `path`; the socket is left non-blocking.
std::expected<UniqueFd, Error> connectTo(const std::string& path);
// What is at a socket path, found by a connect that never waits.
enum class SocketPathState {
  absent,  // nothing at the path
  stale,   // a file nobody accepts on (ECONNREFUSED): its listener is gone
  live,    // a listener took the connection or has its backlog full
};
// Fails with the connect error when it says neither (EACCES, ENOTDIR, …).
std::expected<SocketPathState, Error> probeSocketPath(const std::string& path);
// The next pending connection without blocking, or the errno of accept4.
std::expected<UniqueFd, int> acceptFrom(int listeningFd);

struct PeerCredentials {
  pid_t pid = 0;
  uid_t uid = 0;
};
std::optional<PeerCredentials> peerCredentials(int socketFd);

// A counter another thread bumps to wake a poll().
class WakeEvent {
 public:
  static std::expected<WakeEvent, Error> create();
  void signal() const;
  void drain() const;
  int fd() const { return fd_.get(); }

 private:
  explicit WakeEvent(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

}  // namespace ostrel::xpc
