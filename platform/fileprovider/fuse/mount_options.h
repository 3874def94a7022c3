#pragma once

#include <chrono>
#include <cstdint>

namespace ostrel::fileprovider {

struct MountOptions {
  // The longest wait for one answer of the extension.
  std::chrono::milliseconds callTimeout = std::chrono::minutes(3);
  // How long the kernel may trust an entry or attributes without asking again.
  double cacheSeconds = 5.0;
  // What waits for the service is sent again after the first pause, then
  // after pauses that double up to the longest while it still waits.
  std::chrono::milliseconds firstRetry = std::chrono::seconds(5);
  std::chrono::milliseconds longestRetry = std::chrono::minutes(5);
  // How much fetched contents the domain keeps on disk; past it the least
  // recently used go (never one an open file reads).
  uint64_t contentsLimitBytes = uint64_t{4} << 30;
};

}  // namespace ostrel::fileprovider
