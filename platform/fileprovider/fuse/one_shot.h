#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>

namespace ostrel::fileprovider {

// A value delivered once from any thread, waited for with a bound.
template <class T>
class OneShot {
 public:
  // Later deliveries are ignored: the first answer counts.
  void set(T value) {
    {
      std::lock_guard lock(mutex_);
      if (value_) return;
      value_ = std::move(value);
    }
    ready_.notify_all();
  }

  // The value, or nothing when `stop` fired or `timeout` passed first.
  std::optional<T> wait(std::stop_token stop, std::chrono::steady_clock::duration timeout) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, stop, timeout, [&] { return value_.has_value(); });
    return value_;
  }

  std::optional<T> wait(std::chrono::steady_clock::duration timeout) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, timeout, [&] { return value_.has_value(); });
    return value_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable_any ready_;
  std::optional<T> value_;
};

}  // namespace ostrel::fileprovider
