#pragma once

#include <optional>
#include <string>

namespace ostrel::drive::helper {

inline constexpr const char* applicationGroupsEntitlement = "com.apple.security.application-groups";

// The first application group of the program's own entitlement; nothing when
// the entitlement is absent, not an array of strings, or empty.
std::optional<std::string> entitledAppGroup();

// The same, failing with "no com.apple.security.application-groups entitlement".
std::string appGroup();

}  // namespace ostrel::drive::helper
