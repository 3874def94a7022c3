#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace ostrel::testing {

// Values handed from other threads to a test, with bounded waits.
template <class T>
class Mailbox {
 public:
  static constexpr std::chrono::milliseconds defaultWait{5000};

  // Notifies under the lock: a taker may destroy the mailbox as soon as it has its value.
  void put(T value) {
    std::lock_guard lock(mutex_);
    history_.push_back(value);
    items_.push_back(std::move(value));
    ready_.notify_all();
  }
  std::optional<T> take(std::chrono::milliseconds timeout = defaultWait) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [&] { return !items_.empty(); })) return std::nullopt;
    T value = std::move(items_.front());
    items_.pop_front();
    return value;
  }
  // Takes values until `last` arrives; the values taken, `last` included.
  std::vector<T> takeThrough(const T& last) {
    std::vector<T> seen;
    while (auto value = take()) {
      seen.push_back(*value);
      if (*value == last) break;
    }
    return seen;
  }
  // True once `value` has been put `times` times, taken or not.
  bool waitUntilSeen(const T& value, size_t times = 1, std::chrono::milliseconds timeout = defaultWait) {
    std::unique_lock lock(mutex_);
    return ready_.wait_for(lock, timeout, [&] {
      return static_cast<size_t>(std::count(history_.begin(), history_.end(), value)) >= times;
    });
  }
  size_t size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> items_;
  std::vector<T> history_;
};

}  // namespace ostrel::testing
