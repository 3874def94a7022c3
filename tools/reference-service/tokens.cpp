#include "tools/reference-service/tokens.h"

namespace ostrel::refsvc {

Result<void> registerToken(Database& db, std::string_view token, std::optional<Micros> expiresAt) {
  return db.run(
      "INSERT INTO tokens(token, expires_at) VALUES(?, ?) "
      "ON CONFLICT(token) DO UPDATE SET expires_at = excluded.expires_at",
      token, expiresAt);
}

Result<bool> tokenIsValid(const Database& db, std::string_view token, Micros now) {
  auto statement = db.query("SELECT expires_at FROM tokens WHERE token = ?", token);
  if (!statement) return std::unexpected(statement.error());
  auto row = statement->step();
  if (!row) return std::unexpected(row.error());
  if (!*row) return false;
  const auto expiresAt = statement->optionalInteger(0);
  return !expiresAt || *expiresAt > now;
}

}  // namespace ostrel::refsvc
