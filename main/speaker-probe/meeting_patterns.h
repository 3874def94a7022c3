#pragma once

#include <array>
#include <optional>
#include <vector>

#include "platform/foundation/text.h"

namespace ostrel::speaker {

// Limits of one walk: elements over all windows together, and the deepest
// level (windows are level 0).
inline constexpr int maxNodes = 8000;
inline constexpr int maxDepth = 30;

// Zoom's role description of a video tile, and its name for the roster group.
inline constexpr const char* videoTileRole = "Video render";
inline constexpr const char* participantsListDescription = "Participants list";

inline constexpr std::array<const char*, 5> namingAttributes = {"AXTitle", "AXDescription", "AXValue", "AXHelp",
                                                                 "AXRoleDescription"};

// The window-reading patterns, compiled once on first use and shared.
struct MeetingPatterns {
  std::optional<Regex> rosterRow;
  std::vector<Regex> participantCount;  // case-sensitive, tried in order
  std::vector<Regex> tileStates;  // case-insensitive; any one may match
};

const MeetingPatterns& meetingPatterns();

}  // namespace ostrel::speaker
