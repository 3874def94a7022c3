#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "main/speaker-probe/meeting.h"

namespace ostrel::speaker {

// What a roster event reports, compared without regard to the order of the
// other names (duplicates count). The own name is the snapshot's own, so a
// "me" row that appears or goes away is a change.
struct RosterKey {
  std::optional<int64_t> total;
  std::optional<std::string> ownName;
  std::vector<std::string> sortedOthers;

  friend bool operator==(const RosterKey&, const RosterKey&) = default;
};

RosterKey rosterKey(const Meeting& meeting, std::vector<std::string> others);

}  // namespace ostrel::speaker
