#pragma once

#include <chrono>

namespace ostrel::fileprovider {

struct MountOptions {
  // The longest wait for one answer of the extension.
  std::chrono::milliseconds callTimeout = std::chrono::minutes(3);
  // How long the kernel may trust an entry or attributes without asking again.
  double cacheSeconds = 1.0;
};

}  // namespace ostrel::fileprovider
