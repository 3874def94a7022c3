#include "mic-watch/scan_schedule.h"

namespace ostrel::micwatch {

void ScanSchedule::listChanged() {
  std::lock_guard lock(mutex_);
  changed_ = true;
  wake_.notify_all();
}

void ScanSchedule::stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  wake_.notify_all();
}

void ScanSchedule::run(const std::function<void()>& scan) {
  auto tick = std::chrono::steady_clock::now() + interval_;
  std::unique_lock lock(mutex_);
  while (!stopped_) {
    const bool woken = wake_.wait_until(lock, tick, [this] { return changed_ || stopped_; });
    if (stopped_) return;
    if (woken) {
      changed_ = false;
    } else {
      // The timer repeats on its own cadence, whatever the list changes did.
      tick += interval_;
    }
    lock.unlock();
    scan();
    lock.lock();
  }
}

}  // namespace ostrel::micwatch
