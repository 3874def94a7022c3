#include "platform/fileprovider/fuse/retry_loop.h"

#include <algorithm>

namespace ostrel::fileprovider {

RetryLoop::RetryLoop(std::chrono::milliseconds first, std::chrono::milliseconds longest, Attempt attempt)
    : first_(first), longest_(std::max(first, longest)), attempt_(std::move(attempt)),
      thread_([this](std::stop_token stop) { run(stop); }) {}

RetryLoop::~RetryLoop() {
  stop();
}

void RetryLoop::stop() {
  thread_.request_stop();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void RetryLoop::run(std::stop_token stop) {
  auto pause = first_;
  while (!stop.stop_requested()) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, stop, pause, [] { return false; });
    }
    if (stop.stop_requested()) break;
    pause = attempt_() ? std::min(pause * 2, longest_) : first_;
  }
}

}  // namespace ostrel::fileprovider
