#include "platform/xpc/unix_socket_linux.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <cstdint>

namespace ostrel::xpc {

namespace {

Error socketError(int errnoValue, const std::string& what) {
  Error error = POSIXError::make(errnoValue);
  error.userInfo[localizedDescriptionKey] = what + ": " + std::strerror(errnoValue);
  return error;
}

std::expected<sockaddr_un, Error> addressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() > maxSocketPathLength()) {
    return std::unexpected(socketError(ENAMETOOLONG, "socket path of " + std::to_string(path.size()) +
                                                         " bytes (at most " +
                                                         std::to_string(maxSocketPathLength()) + "): " + path));
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  return address;
}

std::expected<UniqueFd, Error> streamSocket() {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return std::unexpected(socketError(errno, "socket"));
  return fd;
}

bool setNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

size_t maxSocketPathLength() {
  return sizeof(sockaddr_un{}.sun_path) - 1;
}

std::expected<UniqueFd, Error> listenAt(const std::string& path) {
  auto address = addressOf(path);
  if (!address) return std::unexpected(address.error());
  auto fd = streamSocket();
  if (!fd) return fd;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return std::unexpected(socketError(errno, "unlink " + path));
  if (::bind(fd->get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0) {
    return std::unexpected(socketError(errno, "bind " + path));
  }
  // Before listen(), so nobody can connect while the umask's mode is in effect.
  if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd->get(), SOMAXCONN) != 0 || !setNonBlocking(fd->get())) {
    int saved = errno;
    ::unlink(path.c_str());
    return std::unexpected(socketError(saved, "listen " + path));
  }
  return fd;
}

std::expected<UniqueFd, Error> connectTo(const std::string& path) {
  auto address = addressOf(path);
  if (!address) return std::unexpected(address.error());
  auto fd = streamSocket();
  if (!fd) return fd;
  int rc;
  do {
    rc = ::connect(fd->get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return std::unexpected(socketError(errno, "connect " + path));
  if (!setNonBlocking(fd->get())) return std::unexpected(socketError(errno, "fcntl"));
  return fd;
}

std::expected<SocketPathState, Error> probeSocketPath(const std::string& path) {
  auto address = addressOf(path);
  if (!address) return std::unexpected(address.error());
  // Non-blocking: a listener that does not accept must not hold us up.
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return std::unexpected(socketError(errno, "socket"));
  int rc;
  do {
    rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address));
  } while (rc != 0 && errno == EINTR);
  if (rc == 0 || errno == EAGAIN || errno == EINPROGRESS) return SocketPathState::live;
  if (errno == ECONNREFUSED) return SocketPathState::stale;
  if (errno == ENOENT) return SocketPathState::absent;
  return std::unexpected(socketError(errno, "connect " + path));
}

std::expected<UniqueFd, int> acceptFrom(int listeningFd) {
  int fd = ::accept4(listeningFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return std::unexpected(errno);
  return UniqueFd(fd);
}

std::optional<PeerCredentials> peerCredentials(int socketFd) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return std::nullopt;
  return PeerCredentials{credentials.pid, credentials.uid};
}

std::expected<WakeEvent, Error> WakeEvent::create() {
  UniqueFd fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!fd.valid()) return std::unexpected(socketError(errno, "eventfd"));
  return WakeEvent(std::move(fd));
}

void WakeEvent::signal() const {
  uint64_t one = 1;
  // Only fails when the counter is saturated, which still wakes the reader.
  [[maybe_unused]] auto written = ::write(fd_.get(), &one, sizeof(one));
}

void WakeEvent::drain() const {
  uint64_t count;
  [[maybe_unused]] auto read = ::read(fd_.get(), &count, sizeof(count));
}

}  // namespace ostrel::xpc
