#pragma once

#include <chrono>

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
};

}  // namespace ostrel::fileprovider
