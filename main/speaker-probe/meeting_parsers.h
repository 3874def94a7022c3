#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "main/speaker-probe/meeting.h"
#include "platform/foundation/text.h"

namespace ostrel::speaker {

// The group-1 text, trimmed of blanks, of the first pattern whose first
// match has a non-empty one.
std::optional<std::string> capture(std::span<const Regex> patterns, std::string_view text);

struct RosterRow {
  std::string name;
  bool isSelf = false;
  friend bool operator==(const RosterRow&, const RosterRow&) = default;
};

// "Ann Lee (Host, me)" is Ann Lee's own row; a row without a name before
// its tags stays as it is.
RosterRow parseRosterRow(std::string_view row);

// One comma-separated part of a tile description that states something
// ("Audio muted", "Active speaker"), as a whole and in any case.
bool isTileState(std::string_view part);

// "Alice, Computer audio unmuted, Active speaker" names Alice as the active
// speaker. Names from the roster are taken whole even when they contain commas.
std::optional<Tile> parseTile(std::string_view description, std::span<const std::string> knownNames);

// The participant count a text states ("3 participants", "Participants (12)").
std::optional<int64_t> participantCount(std::string_view text);

}  // namespace ostrel::speaker
