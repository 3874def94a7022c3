#pragma once

#include <filesystem>
#include <mutex>
#include <set>
#include <string>

#include "platform/fileprovider/domain.h"

namespace ostrel::fileprovider {

// Where a domain shows under the mount root: its display name, made a single
// safe path component ("/" becomes "∕") and cut, at a character boundary, to
// 240 bytes, which leaves room for a suffix within a file name's 255; the
// identifier stands in for a name that cannot be one ("", ".", "..").
std::filesystem::path mountPointFor(const std::filesystem::path& mountRoot, const Domain& domain);

// The mount points of the domains shown now. A domain whose point another
// holds (two drives named alike) gets the first free of "NAME (2)", "NAME (3)", ...
class MountPoints {
 public:
  std::filesystem::path claim(const std::filesystem::path& wanted);
  void release(const std::filesystem::path& point);

 private:
  std::mutex mutex_;
  std::set<std::filesystem::path> held_;
};

}  // namespace ostrel::fileprovider
