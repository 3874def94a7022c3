#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/foundation/atomic_file.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/property_list_writer.h"
#include "platform/foundation/unique_fd.h"
#include "platform/foundation/user_defaults.h"

namespace ostrel {

namespace fs = std::filesystem;

std::optional<UserDefaults> UserDefaults::suite(std::string_view suiteName) {
  // containerForApplicationGroup refuses names that are not plain file names.
  auto container = containerForApplicationGroup(suiteName);
  if (!container) return std::nullopt;
  const fs::path preferences = *container / "Library" / "Preferences";
  std::error_code error;
  fs::create_directories(preferences, error);
  if (error) return std::nullopt;
  return UserDefaults(preferences / (std::string(suiteName) + ".plist"));
}

int64_t UserDefaults::integerForKey(std::string_view key) const {
  auto list = PropertyList::readFile(file_);
  if (!list) return 0;
  return list->integerForKey(key).value_or(0);
}

namespace {

std::expected<std::string, Error> readWhole(const fs::path& file) {
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT) return std::string();
    return std::unexpected(POSIXError::make(errno));
  }
  std::string bytes;
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(POSIXError::make(errno));
    }
    if (got == 0) return bytes;
    bytes.append(buffer, static_cast<size_t>(got));
  }
}

}  // namespace

std::expected<void, Error> UserDefaults::setInteger(int64_t value, std::string_view key) {
  // A separate lock file: the suite file itself is replaced by rename, so a
  // lock on it would be a lock on a file that is about to disappear.
  const fs::path lockPath = file_.string() + ".lock";
  UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock) return std::unexpected(POSIXError::make(errno));
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return std::unexpected(POSIXError::make(errno));
  }

  auto bytes = readWhole(file_);
  if (!bytes) return std::unexpected(bytes.error());
  MutablePropertyList list;
  if (!bytes->empty()) {
    // A damaged suite cannot be kept; it starts again with this key.
    if (auto parsed = MutablePropertyList::parse(*bytes)) list = std::move(*parsed);
  }
  list.setInteger(key, value);
  auto encoded = list.serialized(PropertyListFormat::binary);
  if (!encoded) return std::unexpected(encoded.error());
  return writeFileAtomically(file_, *encoded, 0600);
}

}  // namespace ostrel
