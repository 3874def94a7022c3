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

void Progress::setCompletedUnitCount(int64_t count) {
  std::lock_guard lock(mutex_);
  completed_ = count;
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
