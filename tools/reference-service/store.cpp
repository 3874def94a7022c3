#include "tools/reference-service/store.h"

#include "tools/reference-service/ids.h"

namespace ostrel::refsvc {

namespace {

constexpr const char* schema = R"sql(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS serials(kind TEXT PRIMARY KEY, last INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS tokens(token TEXT PRIMARY KEY, expires_at INTEGER);
CREATE TABLE IF NOT EXISTS matters(
  id TEXT PRIMARY KEY,
  closed INTEGER NOT NULL,
  member INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS items(
  id TEXT PRIMARY KEY,
  kind TEXT NOT NULL,
  parent TEXT NOT NULL,
  matter TEXT,
  filename TEXT NOT NULL,
  name_key TEXT NOT NULL,
  sort_key TEXT NOT NULL,
  ordinal INTEGER NOT NULL DEFAULT 0,
  blob TEXT,
  size INTEGER,
  base_version TEXT,
  content_rev INTEGER NOT NULL DEFAULT 1,
  metadata_rev INTEGER NOT NULL DEFAULT 1,
  created_at INTEGER NOT NULL,
  modified_at INTEGER NOT NULL,
  comment TEXT,
  tags TEXT);
CREATE INDEX IF NOT EXISTS items_by_parent ON items(parent, sort_key, id);
CREATE INDEX IF NOT EXISTS items_by_name ON items(parent, name_key);
CREATE TABLE IF NOT EXISTS changes(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  item TEXT NOT NULL,
  at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS uploads(
  id TEXT PRIMARY KEY,
  sig TEXT NOT NULL,
  item TEXT NOT NULL,
  filename TEXT NOT NULL,
  size INTEGER,
  state TEXT NOT NULL,
  received INTEGER,
  expires_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS tickets(
  id TEXT PRIMARY KEY,
  item TEXT NOT NULL,
  blob TEXT NOT NULL,
  filename TEXT NOT NULL,
  size INTEGER NOT NULL,
  expires_at INTEGER NOT NULL);
)sql";

}  // namespace

Result<std::unique_ptr<Store>> Store::open(const std::filesystem::path& file) {
  auto db = Database::open(file);
  if (!db) return std::unexpected(db.error());
  if (auto pragmas = db->script("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA busy_timeout=5000;");
      !pragmas) {
    return std::unexpected(pragmas.error());
  }
  if (auto created = db->script(schema); !created) return std::unexpected(created.error());
  // Anchors carry the store's id, so an anchor of another store is never taken for ours.
  auto storeId = metaValue(*db, "store_id");
  if (!storeId) return std::unexpected(storeId.error());
  if (!*storeId) {
    if (auto set = setMetaValue(*db, "store_id", randomHex(8)); !set) return std::unexpected(set.error());
  }
  // An upload cut off by a stop can be put again after the restart.
  if (auto reopened = db->run("UPDATE uploads SET state = 'open' WHERE state = 'receiving'"); !reopened) {
    return std::unexpected(reopened.error());
  }
  return std::unique_ptr<Store>(new Store(std::move(*db)));
}

Result<std::optional<std::string>> metaValue(const Database& db, std::string_view key) {
  return db.text("SELECT value FROM meta WHERE key = ?", key);
}

Result<void> setMetaValue(Database& db, std::string_view key, std::string_view value) {
  return db.run("INSERT INTO meta(key, value) VALUES(?, ?) ON CONFLICT(key) DO UPDATE SET value = excluded.value",
                key, value);
}

Result<int64_t> nextSerial(Database& db, std::string_view kind) {
  auto bumped = db.run(
      "INSERT INTO serials(kind, last) VALUES(?, 1) ON CONFLICT(kind) DO UPDATE SET last = last + 1", kind);
  if (!bumped) return std::unexpected(bumped.error());
  auto last = db.integer("SELECT last FROM serials WHERE kind = ?", kind);
  if (!last) return std::unexpected(last.error());
  return last->value_or(1);
}

}  // namespace ostrel::refsvc
