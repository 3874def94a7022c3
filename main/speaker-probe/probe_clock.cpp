#include "main/speaker-probe/probe_clock.h"

#include <thread>

namespace ostrel::speaker {

Clock::Instant SystemClock::now() const { return std::chrono::steady_clock::now(); }

void SystemClock::sleepFor(Duration duration) { std::this_thread::sleep_for(duration); }

Clock::Duration durationOfSeconds(double seconds) {
  // Beyond this the conversion to whole nanoseconds would overflow.
  constexpr double century = 100.0 * 365 * 24 * 3600;
  if (!(seconds > 0)) return Clock::Duration::zero();
  if (seconds > century) seconds = century;
  return std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(seconds));
}

}  // namespace ostrel::speaker
