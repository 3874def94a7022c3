#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace ostrel::speaker {

inline constexpr size_t maxCandidates = 40;
inline constexpr size_t maxCandidateLength = 160;  // characters

// Texts new since the previous snapshot, offered to whoever writes speaker
// patterns for a Zoom version we do not know yet: sorted, at most 40, each
// cut to its first 160 characters.
std::vector<std::string> freshCandidates(const std::set<std::string>& strings, const std::set<std::string>& previous);

}  // namespace ostrel::speaker
