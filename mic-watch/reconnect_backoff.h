#pragma once

#include <algorithm>
#include <chrono>

namespace ostrel::micwatch {

// When to try the audio server again after it went away or did not answer:
// at once the first time, then after 1 s, 2 s, 4 s … up to `longest`, and
// at once again after a success.
class ReconnectBackoff {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ReconnectBackoff(std::chrono::milliseconds longest) : longest_(longest) {}

  bool due(Clock::time_point now) const { return now >= next_; }
  void failed(Clock::time_point now) {
    next_ = now + pause_;
    pause_ = std::min(pause_ * 2, longest_);
  }
  void succeeded() {
    next_ = {};
    pause_ = first;
  }

 private:
  static constexpr std::chrono::milliseconds first{1000};
  std::chrono::milliseconds longest_;
  std::chrono::milliseconds pause_ = first;
  Clock::time_point next_{};
};

}  // namespace ostrel::micwatch
