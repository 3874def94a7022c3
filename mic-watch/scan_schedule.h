#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace ostrel::micwatch {

// The monitor's one thread: a scan for each change of the process list and
// one every interval, never two at once. Other threads only wake it.
class ScanSchedule {
 public:
  explicit ScanSchedule(std::chrono::milliseconds interval) : interval_(interval) {}

  void listChanged();
  void stop();
  // Runs `scan` on the calling thread until stop().
  void run(const std::function<void()>& scan);

 private:
  std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool changed_ = false;
  bool stopped_ = false;
};

}  // namespace ostrel::micwatch
