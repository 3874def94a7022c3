#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace ostrel::fileprovider {

// NSProgress, as far as the framework and the extension use it: unit counts
// and a cancellation handler.
class Progress {
 public:
  static std::shared_ptr<Progress> withTotalUnitCount(int64_t total) {
    return std::shared_ptr<Progress>(new Progress(total));
  }

  int64_t totalUnitCount() const;
  int64_t completedUnitCount() const;
  void setCompletedUnitCount(int64_t count);
  bool isCancelled() const;

  // Runs when the progress is cancelled; at once if it already is.
  void setCancellationHandler(std::function<void()> handler);
  void cancel();

 private:
  explicit Progress(int64_t total) : total_(total) {}

  mutable std::mutex mutex_;
  int64_t total_;
  int64_t completed_ = 0;
  bool cancelled_ = false;
  std::function<void()> cancellationHandler_;
};

using ProgressPtr = std::shared_ptr<Progress>;

}  // namespace ostrel::fileprovider
