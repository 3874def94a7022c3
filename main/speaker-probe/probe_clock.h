#pragma once

#include <chrono>

namespace ostrel::speaker {

// Time as the poll loop sees it, so tests can run minutes of polling at once.
class Clock {
 public:
  using Instant = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::steady_clock::duration;

  virtual ~Clock() = default;
  virtual Instant now() const = 0;
  virtual void sleepFor(Duration duration) = 0;
};

class SystemClock final : public Clock {
 public:
  Instant now() const override;
  void sleepFor(Duration duration) override;
};

// Seconds as given on the command line, as a duration: negative is no
// pause, and anything past a century is a century.
Clock::Duration durationOfSeconds(double seconds);

}  // namespace ostrel::speaker
