#include "platform/fileprovider/daemon/mount_point.h"

namespace ostrel::fileprovider {

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
  return mountRoot / name;
}

}  // namespace ostrel::fileprovider
