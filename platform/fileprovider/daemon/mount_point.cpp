#include "platform/fileprovider/daemon/mount_point.h"

namespace ostrel::fileprovider {

namespace {

constexpr size_t longestName = 240;

// The first `limit` bytes or fewer, never ending inside a UTF-8 sequence.
std::string cutAtCharacter(std::string name, size_t limit) {
  if (name.size() <= limit) return name;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  name.resize(end);
  return name;
}

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
