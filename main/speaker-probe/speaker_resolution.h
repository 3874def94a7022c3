#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "main/speaker-probe/meeting.h"
#include "platform/foundation/text.h"

namespace ostrel::speaker {

// Who one snapshot names as the speaker.
struct Resolution {
  std::optional<std::string> name;
  // From an explicit marker (a speaker pattern or active tiles), not inferred.
  bool markerSeen = false;
  friend bool operator==(const Resolution&, const Resolution&) = default;
};

// The roster without the user's own name; all of it when that is unknown.
std::vector<std::string> remoteParticipants(const Meeting& meeting, const std::optional<std::string>& ownName);

// A speaker is named only when it is known to be somebody other than the
// user: with no own name known, markers name nobody. `patterns` are the
// extra speaker patterns, each capturing the name in its first group.
Resolution resolveSpeaker(const Meeting& meeting, const std::optional<std::string>& knownSelf,
                          std::span<const Regex> patterns);

}  // namespace ostrel::speaker
