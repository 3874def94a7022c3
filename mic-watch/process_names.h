#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ostrel::micwatch {

// The kernel's short name of a process (/proc/<pid>/comm), or nothing.
std::optional<std::string> procName(std::int32_t pid);

}  // namespace ostrel::micwatch
