#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <functional>
#include <memory>
#include <mutex>

namespace ostrel::fileprovider {

// NSProgress, as far as the framework and the extension use it: unit counts,
// the file being written (fileURL) and a cancellation handler. A progress
// handler stands in for observing the counts.
class Progress {
 public:
  static std::shared_ptr<Progress> withTotalUnitCount(int64_t total) {
    return std::shared_ptr<Progress>(new Progress(total));
  }

  int64_t totalUnitCount() const;
  void setTotalUnitCount(int64_t count);
  int64_t completedUnitCount() const;
  void setCompletedUnitCount(int64_t count);
  bool isCancelled() const;

  // A download's progress: the file its bytes go to while they arrive, the
  // completed count being how many are in it.
  std::optional<std::filesystem::path> fileURL() const;
  void setFileURL(std::filesystem::path file);
  // Runs after each change of the completed count or file, on the thread
  // that made it; at once when set.
  void setProgressHandler(std::function<void()> handler);

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
  std::optional<std::filesystem::path> fileURL_;
  std::shared_ptr<const std::function<void()>> progressHandler_;
  void changed();
};

using ProgressPtr = std::shared_ptr<Progress>;

}  // namespace ostrel::fileprovider
