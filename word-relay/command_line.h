#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/appkit/workspace.h"

namespace ostrel::word {

// The argument after the first "--<name>" anywhere in `arguments` (the
// command word included), taken as it is even when it starts with "--";
// absent when the flag is missing or last.
std::optional<std::string> flag(const std::vector<std::string>& arguments, std::string_view name);

// Runs the command that `arguments` (without the program path) names and
// prints its result; `watch` prints its stream and does not return.
void runCommand(const std::vector<std::string>& arguments, Workspace& workspace);

}  // namespace ostrel::word
