#include "platform/xpc/stale_sockets_linux.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <limits>
#include <string>
#include <system_error>
#include <thread>

#include "platform/foundation/log.h"
#include "platform/xpc/unix_socket_linux.h"

namespace ostrel::xpc {

namespace {

// The number at the front of `text`, which it then drops; none when there is
// no digit or it does not fit.
std::optional<unsigned long long> takeNumber(std::string_view& text, int base = 10) {
  unsigned long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return value;
}

bool takePrefix(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

bool processIsGone(pid_t pid) {
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

std::expected<RuntimeDirectoryLock, Error> RuntimeDirectoryLock::acquire(const std::filesystem::path& directory,
                                                                        std::chrono::milliseconds patience) {
  UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return std::unexpected(POSIXError::make(errno));
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return std::unexpected(POSIXError::make(errno));
    if (std::chrono::steady_clock::now() >= deadline) {
      Error error = POSIXError::make(EWOULDBLOCK);
      error.userInfo[localizedDescriptionKey] = "XPC runtime directory " + directory.string() + " stays locked";
      return std::unexpected(error);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return RuntimeDirectoryLock(std::move(fd));
}

std::optional<pid_t> anonymousSocketOwner(std::string_view name) {
  auto pid = takeNumber(name);
  if (!pid || *pid == 0 || *pid > static_cast<unsigned long long>(std::numeric_limits<pid_t>::max())) {
    return std::nullopt;
  }
  if (!takePrefix(name, "-") || !takeNumber(name) || !takePrefix(name, "-")) return std::nullopt;
  const std::size_t before = name.size();
  if (!takeNumber(name, 16) || before - name.size() != 8) return std::nullopt;
  if (name != ".sock") return std::nullopt;
  return static_cast<pid_t>(*pid);
}

void removeDeadAnonymousSockets(const std::filesystem::path& directory) {
  static const Logger log{"local.ostrel.xpc", "listener"};
  std::error_code error;
  std::filesystem::directory_iterator entries(directory, error);
  if (error) return;
  for (const auto& entry : entries) {
    const auto owner = anonymousSocketOwner(entry.path().filename().native());
    if (!owner || *owner == ::getpid() || !processIsGone(*owner)) continue;
    struct stat status {};
    if (::lstat(entry.path().c_str(), &status) != 0 || !S_ISSOCK(status.st_mode)) continue;
    // A process that handed its socket to a child before it ended may still be served.
    auto state = probeSocketPath(entry.path().string());
    if (!state || *state != SocketPathState::stale) continue;
    if (::unlink(entry.path().c_str()) == 0) {
      log.notice("removed the socket of ended process %{public}ld: %{public}s",
                 {static_cast<long>(*owner), entry.path().string()});
    }
  }
}

}  // namespace ostrel::xpc
