#include "main/speaker-probe/roster_change.h"

#include <algorithm>

namespace ostrel::speaker {

RosterKey rosterKey(const Meeting& meeting, std::vector<std::string> others) {
  std::ranges::sort(others);
  return {meeting.total, meeting.ownName, std::move(others)};
}

}  // namespace ostrel::speaker
