#include "platform/fileprovider/daemon/mount_point.h"

#include "platform/fileprovider/entry_names.h"

namespace ostrel::fileprovider {

namespace {

constexpr size_t longestName = 240;

}  // namespace

std::filesystem::path mountPointFor(const std::filesystem::path& mountRoot, const Domain& domain) {
  std::string name;
  for (char c : domain.displayName) {
    if (c == '/') {
      name += "\u2215";  // DIVISION SLASH looks like the slash the partner typed
    } else if (c != '\0') {
      name += c;
    }
  }
  if (name.empty() || name == "." || name == "..") name = domain.identifier;
  return mountRoot / cutAtCharacter(std::move(name), longestName);
}

std::filesystem::path MountPoints::claim(const std::filesystem::path& wanted) {
  std::lock_guard lock(mutex_);
  std::filesystem::path point = wanted;
  for (int suffix = 2; held_.contains(point); ++suffix)
    point = wanted.parent_path() / (wanted.filename().string() + " (" + std::to_string(suffix) + ")");
  held_.insert(point);
  return point;
}

void MountPoints::release(const std::filesystem::path& point) {
  std::lock_guard lock(mutex_);
  held_.erase(point);
}

}  // namespace ostrel::fileprovider
