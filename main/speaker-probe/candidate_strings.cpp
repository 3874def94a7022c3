#include "main/speaker-probe/candidate_strings.h"

#include "platform/foundation/text.h"

namespace ostrel::speaker {

std::vector<std::string> freshCandidates(const std::set<std::string>& strings, const std::set<std::string>& previous) {
  std::vector<std::string> fresh;
  for (const std::string& text : strings) {  // the set keeps them sorted
    if (fresh.size() == maxCandidates) break;
    if (!previous.contains(text)) fresh.push_back(graphemePrefix(text, maxCandidateLength));
  }
  return fresh;
}

}  // namespace ostrel::speaker
