#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

#include "platform/foundation/dispatch_queue.h"

namespace ostrel::testing {

// A queue whose clock moves only when the test advances it, so that waits of
// seconds or minutes run at once. Work may be queued from any thread; it runs
// on the thread that calls advance(), runReady() or runUntil(), in the order
// it falls due (and, at the same instant, in the order it was queued).
class ManualQueue final : public DispatchQueue {
 public:
  explicit ManualQueue(double startTime = 1'800'000'000.0) : now_(startTime) {}

  void async(std::function<void()> work) override { schedule(0, std::move(work)); }
  void asyncAfter(double seconds, std::function<void()> work) override {
    schedule(seconds > 0 ? seconds : 0, std::move(work));
  }
  double now() const override {
    std::lock_guard lock(mutex_);
    return now_;
  }

  // Runs the work that is due now, including work it queues for now.
  // Returns how many pieces ran.
  size_t runReady() {
    size_t ran = 0;
    while (auto work = takeDue(now())) {
      work();
      ++ran;
    }
    return ran;
  }

  // Moves the clock on by `seconds`, running each piece of work at its time.
  void advance(double seconds) {
    const double target = now() + seconds;
    for (;;) {
      std::function<void()> work;
      {
        std::lock_guard lock(mutex_);
        auto next = queue_.begin();
        if (next == queue_.end() || next->first.first > target) break;
        if (next->first.first > now_) now_ = next->first.first;
        work = std::move(next->second);
        queue_.erase(next);
      }
      work();
    }
    std::lock_guard lock(mutex_);
    if (target > now_) now_ = target;
  }

  // Runs due work as it arrives from other threads until `done` holds or the
  // real time is up; tells whether `done` held. The clock does not move.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      runReady();
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      // Short slices: `done` may also turn true by something not queued here.
      std::unique_lock lock(mutex_);
      arrived_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(20)),
                          [&] { return hasDueLocked(); });
    }
  }

  // Seconds until the next piece of work falls due, or a negative number when none is queued.
  double nextDueIn() const {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return -1;
    return queue_.begin()->first.first - now_;
  }

 private:
  void schedule(double delay, std::function<void()> work) {
    std::lock_guard lock(mutex_);
    queue_.emplace(std::make_pair(now_ + delay, sequence_++), std::move(work));
    arrived_.notify_all();
  }
  bool hasDueLocked() const { return !queue_.empty() && queue_.begin()->first.first <= now_; }
  std::function<void()> takeDue(double at) {
    std::lock_guard lock(mutex_);
    auto next = queue_.begin();
    if (next == queue_.end() || next->first.first > at) return {};
    auto work = std::move(next->second);
    queue_.erase(next);
    return work;
  }

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  double now_;
  uint64_t sequence_ = 0;
  std::map<std::pair<double, uint64_t>, std::function<void()>> queue_;
};

}  // namespace ostrel::testing
