#pragma once

#include <optional>
#include <string_view>

#include "tools/reference-service/clock.h"
#include "tools/reference-service/sqlite.h"

namespace ostrel::refsvc {

// Registers (or replaces) a bearer token; no expiry means it never expires.
Result<void> registerToken(Database& db, std::string_view token, std::optional<Micros> expiresAt);
// Whether the token is known and not yet expired at `now`.
Result<bool> tokenIsValid(const Database& db, std::string_view token, Micros now);

}  // namespace ostrel::refsvc
