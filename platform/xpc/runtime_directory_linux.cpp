#include "platform/xpc/runtime_directory_linux.h"

#include "platform/xpc/endpoint.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace ostrel::xpc {

namespace {

const char* nonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

Error refusal(const std::filesystem::path& directory, const std::string& why) {
  Error error = POSIXError::make(EPERM);
  error.userInfo[localizedDescriptionKey] = "refusing XPC runtime directory " + directory.string() + ": " + why;
  return error;
}

}  // namespace

std::filesystem::path runtimeDirectoryPath() {
  if (const char* dir = nonEmptyEnv("OSTREL_XPC_DIR")) return dir;
  const char* base = nonEmptyEnv("XDG_RUNTIME_DIR");
  return std::filesystem::path(base ? base : "/tmp") / ("ostrel-xpc-" + std::to_string(::geteuid()));
}

std::expected<void, Error> prepareRuntimeDirectory(const std::filesystem::path& directory) {
  if (::mkdir(directory.c_str(), 0700) == 0) {
    // The umask may have taken bits we need.
    if (::chmod(directory.c_str(), 0700) != 0) return std::unexpected(POSIXError::make(errno));
  } else if (errno != EEXIST) {
    Error error = POSIXError::make(errno);
    error.userInfo[localizedDescriptionKey] += ": " + directory.string();
    return std::unexpected(error);
  }
  // lstat: a symbolic link planted in a shared /tmp must not redirect us.
  struct stat status {};
  if (::lstat(directory.c_str(), &status) != 0) return std::unexpected(POSIXError::make(errno));
  if (!S_ISDIR(status.st_mode)) return std::unexpected(refusal(directory, "not a directory"));
  if (status.st_uid != ::geteuid()) {
    return std::unexpected(refusal(directory, "owned by uid " + std::to_string(status.st_uid)));
  }
  if ((status.st_mode & 07777) != 0700) {
    char mode[8];
    std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return std::unexpected(refusal(directory, std::string("mode ") + mode + ", not 0700"));
  }
  return {};
}

std::string uniqueSocketPath(const std::filesystem::path& directory) {
  static std::atomic<uint64_t> sequence{0};
  uint32_t nonce = 0;
  if (::getrandom(&nonce, sizeof(nonce), 0) != sizeof(nonce)) nonce = 0;  // pid and sequence already differ
  char name[64];
  std::snprintf(name, sizeof(name), "%d-%llu-%08x.sock", static_cast<int>(::getpid()),
                static_cast<unsigned long long>(sequence.fetch_add(1) + 1), nonce);
  return (directory / name).string();
}

}  // namespace ostrel::xpc

namespace ostrel::xpc {

ListenerEndpoint ListenerEndpoint::forService(std::string_view serviceName) {
  return ListenerEndpoint{(runtimeDirectoryPath() / (std::string(serviceName) + ".sock")).string()};
}

}  // namespace ostrel::xpc
