#pragma once

#include <functional>
#include <vector>

#include "main/speaker-probe/probe_clock.h"

namespace ostrel::speaker::testing {

// Time that moves only when a test says so; sleeping moves it at once.
class FakeClock final : public Clock {
 public:
  Instant now() const override { return now_; }
  void sleepFor(Duration duration) override {
    sleeps.push_back(duration);
    now_ += duration;
    if (onSleep) onSleep();
  }
  void advance(Duration duration) { now_ += duration; }

  std::vector<Duration> sleeps;
  std::function<void()> onSleep;

 private:
  Instant now_ = Instant() + std::chrono::hours(1000);
};

}  // namespace ostrel::speaker::testing
