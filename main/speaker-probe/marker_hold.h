#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "main/speaker-probe/probe_clock.h"
#include "main/speaker-probe/speaker_resolution.h"

namespace ostrel::speaker {

// Zoom's active-speaker marker flickers off between words; the last
// marker-named speaker is kept through gaps shorter than the grace.
class MarkerHold {
 public:
  static constexpr Clock::Duration grace = std::chrono::milliseconds(1500);

  // The speaker to report for this resolution seen at `now`.
  std::optional<std::string> apply(const Resolution& resolution, Clock::Instant now);

 private:
  struct Held {
    std::string name;
    Clock::Instant at;
  };
  std::optional<Held> held_;
};

}  // namespace ostrel::speaker
