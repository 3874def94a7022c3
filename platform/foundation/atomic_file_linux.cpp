#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/foundation/atomic_file.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel {

namespace {

std::expected<void, Error> writeWhole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(POSIXError::make(errno));
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return {};
}

}  // namespace

std::expected<void, Error> writeFileAtomically(const std::filesystem::path& file, std::string_view bytes, mode_t mode) {
  // Same directory, so that the rename never crosses a file system; a short
  // name of its own, so that every target whose name fits can be written.
  const auto directory = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  std::string temporary = (directory / ".atomic-XXXXXX").string();
  UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd) return std::unexpected(POSIXError::make(errno));
  auto failed = [&](int error) -> std::expected<void, Error> {
    ::unlink(temporary.c_str());
    return std::unexpected(POSIXError::make(error));
  };
  if (::fchmod(fd.get(), mode) != 0) return failed(errno);
  if (auto written = writeWhole(fd.get(), bytes); !written) {
    ::unlink(temporary.c_str());
    return written;
  }
  if (::fsync(fd.get()) != 0) return failed(errno);
  if (!fd.close()) return failed(errno);
  if (::rename(temporary.c_str(), file.c_str()) != 0) return failed(errno);
  return {};
}

}  // namespace ostrel
