#pragma once

#include <cstdint>
#include <string>

namespace ostrel::refsvc {

// Instants are microseconds since 1970 UTC, as the store keeps them.
using Micros = int64_t;

inline constexpr Micros microsPerSecond = 1'000'000;
inline constexpr Micros microsPerDay = 86'400 * microsPerSecond;

Micros nowMicros();
// 2024-03-01T09:30:00.123456Z
std::string formatTimestamp(Micros at);

}  // namespace ostrel::refsvc
