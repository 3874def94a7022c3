#include "platform/fileprovider/progress.h"

namespace ostrel::fileprovider {

int64_t Progress::totalUnitCount() const {
  std::lock_guard lock(mutex_);
  return total_;
}

int64_t Progress::completedUnitCount() const {
  std::lock_guard lock(mutex_);
  return completed_;
}

void Progress::setTotalUnitCount(int64_t count) {
  std::lock_guard lock(mutex_);
  total_ = count;
}

void Progress::setCompletedUnitCount(int64_t count) {
  {
    std::lock_guard lock(mutex_);
    completed_ = count;
  }
  changed();
}

std::optional<std::filesystem::path> Progress::fileURL() const {
  std::lock_guard lock(mutex_);
  return fileURL_;
}

void Progress::setFileURL(std::filesystem::path file) {
  {
    std::lock_guard lock(mutex_);
    if (fileURL_ == file) return;
    fileURL_ = std::move(file);
  }
  changed();
}

void Progress::setProgressHandler(std::function<void()> handler) {
  {
    std::lock_guard lock(mutex_);
    progressHandler_ = handler ? std::make_shared<const std::function<void()>>(std::move(handler)) : nullptr;
  }
  changed();
}

void Progress::changed() {
  std::shared_ptr<const std::function<void()>> handler;
  {
    std::lock_guard lock(mutex_);
    handler = progressHandler_;
  }
  if (handler) (*handler)();
}

bool Progress::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

void Progress::setCancellationHandler(std::function<void()> handler) {
  bool runNow;
  {
    std::lock_guard lock(mutex_);
    runNow = cancelled_;
    if (!runNow) cancellationHandler_ = handler;
  }
  if (runNow && handler) handler();
}

void Progress::cancel() {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    handler = std::move(cancellationHandler_);
  }
  if (handler) handler();
}

}  // namespace ostrel::fileprovider
