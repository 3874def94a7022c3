#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "main/speaker-probe/event_output.h"
#include "main/speaker-probe/marker_hold.h"
#include "main/speaker-probe/meeting.h"
#include "main/speaker-probe/probe_clock.h"
#include "main/speaker-probe/roster_change.h"
#include "platform/accessibility/accessibility.h"
#include "platform/foundation/text.h"

namespace ostrel::speaker {

struct ProbeSettings {
  std::string bundleID;
  Clock::Duration pollInterval;
  std::optional<std::string> knownSelf;
  std::vector<Regex> patterns;  // extra speaker patterns
};

// The poll loop: one snapshot per poll, turned into events when something
// the desktop application cares about changed. One thread only.
class SpeakerProbe {
 public:
  static constexpr Clock::Duration candidateInterval = std::chrono::seconds(20);

  SpeakerProbe(ProbeSettings settings, const accessibility::Accessibility& accessibility, Clock& clock,
               EventOutput& output);

  void sayHello();
  // One poll; events in the order permission, meeting, speaker, roster, candidates.
  void poll();
  // Hello, then poll and sleep until a stop is requested.
  void run(std::stop_token stop);

 private:
  Meeting snapshot(bool trusted) const;
  void reportCandidates(const Meeting& meeting);

  const ProbeSettings settings_;
  const accessibility::Accessibility& accessibility_;
  Clock& clock_;
  EventOutput& output_;

  std::optional<bool> lastGranted_;
  std::optional<bool> lastMeetingActive_;
  std::optional<std::optional<std::string>> lastSpeaker_;  // outer: reported at all
  std::optional<RosterKey> lastRoster_;
  std::optional<std::string> knownSelf_;
  std::set<std::string> lastStrings_;
  std::optional<Clock::Instant> lastCandidateReport_;  // absent: the distant past
  MarkerHold markerHold_;
};

}  // namespace ostrel::speaker
