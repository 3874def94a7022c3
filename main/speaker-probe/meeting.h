#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ostrel::speaker {

// One video tile of the meeting window.
struct Tile {
  std::string name;  // already accepted by plausibleName
  bool isActiveSpeaker = false;

  friend bool operator==(const Tile&, const Tile&) = default;
};

// What one walk of the meeting window saw. The default value is the empty
// snapshot, what a poll yields when nothing can be read.
struct Meeting {
  std::vector<std::string> roster;  // walk order, duplicates kept
  std::optional<std::string> ownName;  // the last row marked "me"
  std::vector<Tile> tiles;
  std::vector<std::string> tileDescriptions;  // walk order
  std::optional<int64_t> total;  // the largest participant count seen
  std::set<std::string> strings;  // every non-empty naming text
  bool hasWindows = false;
};

}  // namespace ostrel::speaker
