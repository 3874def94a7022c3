#include "main/speaker-probe/speaker_resolution.h"

#include <algorithm>

#include "main/speaker-probe/meeting_parsers.h"
#include "main/speaker-probe/name_text.h"

namespace ostrel::speaker {

namespace {

// A marker names its speaker only when that is not the user.
Resolution marked(const std::string& name, const std::optional<std::string>& own) {
  if (own && !sameName(name, *own)) return {name, true};
  return {std::nullopt, true};
}

std::optional<std::string> patternSpeaker(const Meeting& meeting, std::span<const Regex> patterns) {
  for (const std::string& text : meeting.strings) {
    auto captured = capture(patterns, text);
    if (!captured) continue;
    if (auto name = plausibleName(*captured)) return name;
  }
  return std::nullopt;
}

std::optional<std::string> inferredSpeaker(const Meeting& meeting, const std::optional<std::string>& own) {
  if (!meeting.roster.empty()) {
    if (meeting.total && *meeting.total != static_cast<int64_t>(meeting.roster.size())) return std::nullopt;
    auto remote = remoteParticipants(meeting, own);
    if (remote.size() == 1) return remote.front();
    return std::nullopt;
  }
  if (meeting.total != 2 || !own) return std::nullopt;
  std::vector<const Tile*> others;
  for (const Tile& tile : meeting.tiles) {
    if (!sameName(tile.name, *own)) others.push_back(&tile);
  }
  if (others.size() == 1) return others.front()->name;
  return std::nullopt;
}

}  // namespace

std::vector<std::string> remoteParticipants(const Meeting& meeting, const std::optional<std::string>& ownName) {
  if (!ownName) return meeting.roster;
  const std::string ownKey = nameKey(*ownName);
  std::vector<std::string> remote;
  for (const std::string& name : meeting.roster) {
    if (nameKey(name) != ownKey) remote.push_back(name);
  }
  return remote;
}

Resolution resolveSpeaker(const Meeting& meeting, const std::optional<std::string>& knownSelf,
                          std::span<const Regex> patterns) {
  const std::optional<std::string>& own = meeting.ownName ? meeting.ownName : knownSelf;

  if (!patterns.empty()) {
    if (auto name = patternSpeaker(meeting, patterns)) return marked(*name, own);
  }

  std::vector<const Tile*> active;
  for (const Tile& tile : meeting.tiles) {
    if (tile.isActiveSpeaker) active.push_back(&tile);
  }
  if (active.size() == 1) return marked(active.front()->name, own);
  if (active.size() > 1) return {std::nullopt, true};

  return {inferredSpeaker(meeting, own), false};
}

}  // namespace ostrel::speaker
