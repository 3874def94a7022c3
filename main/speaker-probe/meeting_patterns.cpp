#include "main/speaker-probe/meeting_patterns.h"

namespace ostrel::speaker {

namespace {

// A pattern that does not compile is left out rather than stopping the probe.
std::vector<Regex> compiledPatterns(std::initializer_list<const char*> patterns, RegexOptions options) {
  std::vector<Regex> out;
  for (const char* pattern : patterns) {
    if (auto regex = Regex::create(pattern, options)) out.push_back(std::move(*regex));
  }
  return out;
}

MeetingPatterns compileMeetingPatterns() {
  MeetingPatterns patterns;
  if (auto row = Regex::create(R"re(^(.*?)\s*\(([^()]*)\)\s*$)re")) patterns.rosterRow = std::move(*row);
  patterns.participantCount = compiledPatterns(
      {R"re((\d+)\s+participants?\b)re", R"re(^Participants\s*\((\d+)\))re"}, {});
  patterns.tileStates = compiledPatterns(
      {
          R"re(^(computer|phone|telephone)\s+audio\s+(muted|unmuted)$)re",
          R"re(^audio\s+(muted|unmuted)$)re",
          R"re(^no audio connected$)re",
          R"re(^video\s+(on|off)$)re",
          R"re(^active speaker$)re",
          R"re(^(muted|unmuted)$)re",
          R"re(^(hand raised|raised hand|spotlighted|pinned|screen sharing|sharing screen)$)re",
      },
      {.caseInsensitive = true});
  return patterns;
}

}  // namespace

const MeetingPatterns& meetingPatterns() {
  static const MeetingPatterns patterns = compileMeetingPatterns();
  return patterns;
}

}  // namespace ostrel::speaker
