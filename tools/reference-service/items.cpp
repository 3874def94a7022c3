#include "tools/reference-service/items.h"

#include <nlohmann/json.hpp>

#include "tools/reference-service/ids.h"
#include "tools/reference-service/names.h"
#include "tools/reference-service/store.h"

namespace ostrel::refsvc {

namespace {

constexpr std::string_view selectColumns =
    "SELECT i.id, i.parent, i.matter, i.filename, i.ordinal, i.blob, i.size, i.base_version, i.content_rev, "
    "i.metadata_rev, i.created_at, i.modified_at, i.comment, i.tags, COALESCE(m.closed, 0), "
    "COALESCE(m.member, 0), i.sort_key FROM items i LEFT JOIN matters m ON m.id = i.matter ";

ItemRow rowFrom(const Statement& s) {
  ItemRow row;
  row.id = s.text(0);
  row.kind = kindOf(row.id);
  row.parent = s.text(1);
  row.matter = s.optionalText(2);
  row.filename = s.text(3);
  row.ordinal = s.integer(4);
  row.blob = s.optionalText(5);
  row.size = s.optionalInteger(6);
  row.baseVersion = s.optionalText(7);
  row.contentRevision = s.integer(8);
  row.metadataRevision = s.integer(9);
  row.createdAt = s.integer(10);
  row.modifiedAt = s.integer(11);
  row.comment = s.optionalText(12);
  if (auto tags = s.optionalText(13)) {
    auto parsed = nlohmann::json::parse(*tags, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_array()) {
      for (const auto& tag : parsed) {
        if (tag.is_string()) row.tags.push_back(tag.get<std::string>());
      }
    }
  }
  row.matterClosed = s.integer(14) != 0;
  row.partnerIsMember = s.integer(15) != 0;
  row.sortKey = s.text(16);
  return row;
}

Result<std::vector<ItemRow>> rows(Result<Statement> statement) {
  if (!statement) return std::unexpected(statement.error());
  std::vector<ItemRow> out;
  while (true) {
    auto row = statement->step();
    if (!row) return std::unexpected(row.error());
    if (!*row) return out;
    out.push_back(rowFrom(*statement));
  }
}

// Which rows a container lists. The two fixed lists gather matters from
// everywhere; everything else lists the rows that name it as parent.
std::string membership(const ItemRow& container) {
  switch (container.kind) {
    case Kind::adminAll: return "i.kind = 'matter'";
    case Kind::myMatters: return "i.kind = 'matter' AND m.member = 1";
    case Kind::root: return "i.parent = ?1 AND i.id <> 'root'";
    default: return "i.parent = ?1";
  }
}

// The drive takes the first child of a document as its newest version, so a
// document without versions lists nothing at all.
Result<bool> listsNothing(const Database& db, const ItemRow& container) {
  if (container.kind != Kind::document) return false;
  auto versions = db.integer("SELECT COUNT(*) FROM items WHERE parent = ? AND kind = 'ver'", container.id);
  if (!versions) return std::unexpected(versions.error());
  return versions->value_or(0) == 0;
}

std::string contentVersion(const ItemRow& item) {
  const std::string revision = std::to_string(item.contentRevision);
  switch (item.kind) {
    case Kind::version:
      // The drive reads the UUID back as the base of a draft.
      return item.id.substr(prefixOf(Kind::version).size()) + ":" + revision;
    case Kind::draft: {
      std::string own = "draft-" + item.id.substr(prefixOf(Kind::draft).size()) + "-r" + revision;
      return item.baseVersion ? *item.baseVersion + ":" + own : own;
    }
    default:
      return "r" + revision;
  }
}

struct CursorPosition {
  std::string container;
  std::string sortKey;
  std::string id;
};

std::string encodeCursor(const CursorPosition& position) {
  nlohmann::json body = {{"c", position.container}, {"k", position.sortKey}, {"i", position.id}};
  return base64url(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

Result<CursorPosition> decodeCursor(std::string_view text, std::string_view container) {
  auto badCursor = fail(400, "bad_cursor", "The page cursor is not one of this listing.");
  auto bytes = fromBase64url(text);
  if (!bytes) return badCursor;
  auto body = nlohmann::json::parse(*bytes, nullptr, /*allow_exceptions=*/false);
  if (!body.is_object()) return badCursor;
  const auto c = body.find("c");
  const auto k = body.find("k");
  const auto i = body.find("i");
  if (c == body.end() || k == body.end() || i == body.end() || !c->is_string() || !k->is_string() ||
      !i->is_string()) {
    return badCursor;
  }
  if (c->get<std::string>() != container) return badCursor;
  return CursorPosition{c->get<std::string>(), k->get<std::string>(), i->get<std::string>()};
}

}  // namespace

Result<std::optional<ItemRow>> findItem(const Database& db, std::string_view id) {
  auto found = rows(db.query(std::string(selectColumns) + "WHERE i.id = ?", id));
  if (!found) return std::unexpected(found.error());
  if (found->empty()) return std::optional<ItemRow>();
  return std::move(found->front());
}

Result<ItemRow> requireItem(const Database& db, std::string_view id) {
  auto found = findItem(db, id);
  if (!found) return std::unexpected(found.error());
  if (!*found) return notFound(std::string(id));
  return std::move(**found);
}

bool partnerMayWrite(const ItemRow& item) {
  return item.matter && !item.matterClosed && item.partnerIsMember;
}

std::vector<std::string> capabilities(const ItemRow& item) {
  if (!partnerMayWrite(item)) return {};
  return writeCapabilities(item.kind);
}

Result<int64_t> childCount(const Database& db, const ItemRow& container) {
  auto empty = listsNothing(db, container);
  if (!empty) return std::unexpected(empty.error());
  if (*empty) return 0;
  const std::string sql = "SELECT COUNT(*) FROM items i LEFT JOIN matters m ON m.id = i.matter WHERE " +
                          membership(container);
  // The fixed lists do not name themselves in their clause, so there is nothing to bind.
  const bool namesContainer = sql.find("?1") != std::string::npos;
  auto count = namesContainer ? db.integer(sql, container.id) : db.integer(sql);
  if (!count) return std::unexpected(count.error());
  return count->value_or(0);
}

Result<nlohmann::json> payload(const Database& db, const ItemRow& item) {
  const bool container = isContainer(item.kind);
  nlohmann::json out = {
      {"identifier", item.id},
      {"parent_identifier", item.parent},
      {"kind", container ? "container" : "file"},
      {"filename", item.filename},
      {"content_version", contentVersion(item)},
      {"metadata_version", "m" + std::to_string(item.metadataRevision)},
      {"created_at", formatTimestamp(item.createdAt)},
      {"modified_at", formatTimestamp(item.modifiedAt)},
      {"capabilities", capabilities(item)},
      {"comment", item.comment ? nlohmann::json(*item.comment) : nlohmann::json(nullptr)},
      {"tags", item.tags},
  };
  if (container) {
    auto count = childCount(db, item);
    if (!count) return std::unexpected(count.error());
    out["child_count"] = *count;
  } else {
    out["size"] = item.size.value_or(0);
  }
  if (item.kind == Kind::version) out["version_label"] = "v" + std::to_string(item.ordinal);
  return out;
}

Result<Page> listChildren(const Database& db, const ItemRow& container, int64_t limit,
                          const std::optional<std::string>& cursor) {
  CursorPosition after{container.id, "", ""};
  if (cursor) {
    auto decoded = decodeCursor(*cursor, container.id);
    if (!decoded) return std::unexpected(decoded.error());
    after = std::move(*decoded);
  }
  auto empty = listsNothing(db, container);
  if (!empty) return std::unexpected(empty.error());
  if (*empty) return Page{};

  // Keyset paging: the next page starts after the last (sort key, id) seen,
  // so items added or removed meanwhile neither repeat nor push others out.
  auto found = rows(db.query(std::string(selectColumns) + "WHERE " + membership(container) +
                                 " AND (i.sort_key > ?2 OR (i.sort_key = ?2 AND i.id > ?3))"
                                 " ORDER BY i.sort_key, i.id LIMIT ?4",
                             container.id, after.sortKey, after.id, limit + 1));
  if (!found) return std::unexpected(found.error());
  Page page;
  if (static_cast<int64_t>(found->size()) > limit) {
    found->resize(static_cast<size_t>(limit));
    const auto& last = found->back();
    page.nextCursor = encodeCursor({container.id, last.sortKey, last.id});
  }
  page.items = std::move(*found);
  return page;
}

Result<std::vector<ItemRow>> allChildren(const Database& db, std::string_view parent) {
  return rows(db.query(std::string(selectColumns) + "WHERE i.parent = ? ORDER BY i.sort_key, i.id", parent));
}

Result<std::optional<ItemRow>> childNamed(const Database& db, std::string_view parent, std::string_view filename) {
  auto found = rows(db.query(std::string(selectColumns) + "WHERE i.parent = ? AND i.name_key = ? LIMIT 1", parent,
                             nameKey(filename)));
  if (!found) return std::unexpected(found.error());
  if (found->empty()) return std::optional<ItemRow>();
  return std::move(found->front());
}

Result<void> insertItem(Database& db, const ItemRow& item) {
  std::optional<std::string> tags;
  if (!item.tags.empty()) tags = nlohmann::json(item.tags).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return db.run(
      "INSERT INTO items(id, kind, parent, matter, filename, name_key, sort_key, ordinal, blob, size, base_version, "
      "content_rev, metadata_rev, created_at, modified_at, comment, tags) "
      "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      item.id, kindName(item.kind), item.parent, item.matter, item.filename, nameKey(item.filename),
      sortKey(item.kind, item.filename, item.ordinal), item.ordinal, item.blob, item.size, item.baseVersion,
      item.contentRevision, item.metadataRevision, item.createdAt, item.modifiedAt, item.comment, tags);
}

Result<std::string> newIdentifier(Database& db, Kind kind) {
  auto serial = nextSerial(db, kindName(kind));
  if (!serial) return std::unexpected(serial.error());
  return std::string(prefixOf(kind)) + std::to_string(*serial);
}

Result<int64_t> nextOrdinal(const Database& db, std::string_view parent, Kind kind) {
  auto last = db.integer("SELECT MAX(ordinal) FROM items WHERE parent = ? AND kind = ?", parent, kindName(kind));
  if (!last) return std::unexpected(last.error());
  return last->value_or(0) + 1;
}

Result<void> ensureFixedItems(Database& db, Micros now) {
  const struct {
    const char* id;
    Kind kind;
    const char* filename;
  } fixed[] = {{"root", Kind::root, "Ostrel"},
               {"my-matters", Kind::myMatters, "My matters"},
               {"admin-all", Kind::adminAll, "All matters"}};
  for (const auto& item : fixed) {
    auto existing = findItem(db, item.id);
    if (!existing) return std::unexpected(existing.error());
    if (*existing) continue;
    ItemRow row{.id = item.id, .kind = item.kind, .parent = "root", .filename = item.filename, .createdAt = now,
                .modifiedAt = now};
    if (auto inserted = insertItem(db, row); !inserted) return inserted;
  }
  return {};
}

Result<void> bumpContent(Database& db, std::string_view id, Micros at) {
  return db.run("UPDATE items SET content_rev = content_rev + 1, modified_at = MAX(modified_at, ?) WHERE id = ?", at,
                id);
}

}  // namespace ostrel::refsvc
