#include "main/speaker-probe/meeting_parsers.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "main/speaker-probe/meeting_patterns.h"
#include "main/speaker-probe/name_text.h"

namespace ostrel::speaker {

namespace {

std::vector<std::string_view> commaPieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

std::string joined(std::span<const std::string> parts, std::string_view separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += separator;
    out += parts[i];
  }
  return out;
}

// The longest roster name the description starts with, as a whole part.
const std::string* longestKnownName(std::string_view description, std::span<const std::string> knownNames) {
  const std::string* chosen = nullptr;
  size_t chosenLength = 0;
  for (const std::string& name : knownNames) {
    const bool names = description == name ||
                       (description.starts_with(name) && description.size() > name.size() &&
                        description[name.size()] == ',');
    if (!names) continue;
    const size_t length = graphemeCount(name);
    if (!chosen || length > chosenLength) {
      chosen = &name;
      chosenLength = length;
    }
  }
  return chosen;
}

}  // namespace

std::optional<std::string> capture(std::span<const Regex> patterns, std::string_view text) {
  for (const Regex& pattern : patterns) {
    auto match = pattern.firstMatch(text);
    if (!match || match->groups.size() < 2 || !match->group(1)) continue;
    std::string captured = trimmedOfBlanks(*match->group(1));
    if (!captured.empty()) return captured;
  }
  return std::nullopt;
}

RosterRow parseRosterRow(std::string_view row) {
  // Most rows carry no tags; the pattern cannot match without a ")".
  if (row.find(')') == std::string_view::npos) return {std::string(row), false};
  const auto& pattern = meetingPatterns().rosterRow;
  auto match = pattern ? pattern->firstMatch(row) : std::nullopt;
  if (!match || match->groups.size() < 3 || !match->group(1) || !match->group(2)) return {std::string(row), false};
  std::string name = trimmedOfBlanks(*match->group(1));
  if (name.empty()) return {std::string(row), false};
  const auto tags = commaPieces(*match->group(2));
  const bool isSelf = std::ranges::any_of(tags, [](std::string_view tag) {
    return lowercased(trimmedOfBlanks(tag)) == "me";
  });
  return {std::move(name), isSelf};
}

bool isTileState(std::string_view part) {
  return std::ranges::any_of(meetingPatterns().tileStates, [&](const Regex& state) { return state.matches(part); });
}

std::optional<Tile> parseTile(std::string_view description, std::span<const std::string> knownNames) {
  std::vector<std::string> parts;
  for (std::string_view piece : commaPieces(description)) parts.push_back(trimmedOfBlanks(piece));

  std::string name;
  std::span<const std::string> states;
  if (const std::string* known = longestKnownName(description, knownNames)) {
    name = *known;
    states = std::span(parts).subspan(std::min(commaPieces(*known).size(), parts.size()));
  } else if (auto state = std::ranges::find_if(parts, isTileState); state != parts.end() && state != parts.begin()) {
    const auto first = static_cast<size_t>(state - parts.begin());
    name = joined(std::span(parts).first(first), ", ");
    states = std::span(parts).subspan(first);
  } else if (parts.size() == 1) {
    name = parts.front();
  } else {
    return std::nullopt;
  }

  auto plausible = plausibleName(name);
  if (!plausible) return std::nullopt;
  const bool active = std::ranges::any_of(states, [](const std::string& part) {
    return lowercased(part) == "active speaker";
  });
  return Tile{std::move(*plausible), active};
}

std::optional<int64_t> participantCount(std::string_view text) {
  // Both count patterns spell out "articipant"; most texts of a window do
  // not, and this spares the regular-expression engine for them.
  if (text.find("articipant") == std::string_view::npos) return std::nullopt;
  auto digits = capture(meetingPatterns().participantCount, text);
  if (!digits) return std::nullopt;
  // \d also takes digits of other scripts; only ASCII ones read as a number.
  int64_t count = 0;
  const char* end = digits->data() + digits->size();
  auto [stop, error] = std::from_chars(digits->data(), end, count);
  if (error != std::errc() || stop != end) return std::nullopt;
  return count;
}

}  // namespace ostrel::speaker
