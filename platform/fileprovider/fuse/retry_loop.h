#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

namespace ostrel::fileprovider {

// Calls `attempt` on a thread of its own, after `first` and then after
// pauses that double up to `longest` for as long as it answers that
// something still waits; an answer of nothing starts the pauses over.
// stop() (or the destructor) ends the wait at once.
class RetryLoop {
 public:
  using Attempt = std::function<bool()>;

  RetryLoop(std::chrono::milliseconds first, std::chrono::milliseconds longest, Attempt attempt);
  ~RetryLoop();
  RetryLoop(const RetryLoop&) = delete;
  RetryLoop& operator=(const RetryLoop&) = delete;

  void stop();

 private:
  void run(std::stop_token stop);

  const std::chrono::milliseconds first_;
  const std::chrono::milliseconds longest_;
  const Attempt attempt_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::jthread thread_;  // last: starts once the rest exists
};

}  // namespace ostrel::fileprovider
