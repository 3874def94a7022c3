// Texts of a meeting window: a roster row on the first line, the speaker
// patterns the desktop application may set on the second, then a tile
// description, a count text and names, read with the probe's own patterns
// and with those.

#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "main/speaker-probe/meeting_parsers.h"
#include "main/speaker-probe/meeting_patterns.h"
#include "main/speaker-probe/name_text.h"
#include "main/speaker-probe/probe_options.h"
#include "platform/foundation/text.h"

using namespace ostrel::speaker;

FUZZ_TARGET(meeting_texts) {
  auto line = [&input]() {
    const auto newline = input.find('\n');
    const std::string_view first = input.substr(0, newline);
    input = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
    return first;
  };
  const std::string_view row = line();
  const std::string_view speakerPatternsText = line();
  const std::string_view rest = input;

  const auto roster = parseRosterRow(row);
  // Bytes that are not UTF-8 come back as (longer) replacement characters.
  if (ostrel::isValidUTF8(row)) FUZZ_CHECK(roster.name.size() <= row.size());
  std::vector<std::string> known{roster.name, "Ann Lee", "Lee, Ann"};
  (void)parseTile(rest, known);
  (void)participantCount(rest);
  (void)isTileState(rest);

  const auto& patterns = meetingPatterns();
  (void)capture(patterns.participantCount, rest);
  (void)capture(speakerPatterns(speakerPatternsText), rest);
  if (patterns.rosterRow) (void)patterns.rosterRow->firstMatch(row);

  // Bytes that are not UTF-8 come back as replacement characters, so only
  // a second trim is bound to leave the text as it is.
  const auto trimmed = trimmedOfBlanks(rest);
  FUZZ_CHECK(trimmedOfBlanks(trimmed) == trimmed);
  if (const auto name = plausibleName(rest)) FUZZ_CHECK(sameName(*name, *name));
  (void)nameKey(row);
  (void)sameName(row, rest);
}
