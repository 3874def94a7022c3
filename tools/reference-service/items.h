#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "tools/reference-service/clock.h"
#include "tools/reference-service/item_kinds.h"
#include "tools/reference-service/sqlite.h"

namespace ostrel::refsvc {

// One row of the item table, with the state of the matter it lies in.
struct ItemRow {
  std::string id;
  Kind kind = Kind::unknown;
  std::string parent;
  std::optional<std::string> matter;
  std::string filename;
  int64_t ordinal = 0;  // version number, or draft or save number within the document
  std::optional<std::string> blob;
  std::optional<int64_t> size;
  std::optional<std::string> baseVersion;  // drafts: the version UUID they start from
  int64_t contentRevision = 1;
  int64_t metadataRevision = 1;
  Micros createdAt = 0;
  Micros modifiedAt = 0;
  std::optional<std::string> comment;
  std::vector<std::string> tags;

  // Filled from the matter when reading.
  bool matterClosed = false;
  bool partnerIsMember = false;
  std::string sortKey;
};

Result<std::optional<ItemRow>> findItem(const Database& db, std::string_view id);
// The item, or 404 not_found.
Result<ItemRow> requireItem(const Database& db, std::string_view id);

// Whether the partner may change things inside the item's matter: the
// matter is open and the partner is one of its members.
bool partnerMayWrite(const ItemRow& item);
std::vector<std::string> capabilities(const ItemRow& item);

// The item as the drive reads it.
Result<nlohmann::json> payload(const Database& db, const ItemRow& item);
Result<int64_t> childCount(const Database& db, const ItemRow& container);

struct Page {
  std::vector<ItemRow> items;
  std::optional<std::string> nextCursor;
};
// One page of a container's children after the cursor's position. A cursor
// that does not decode or belongs to another container is 400 bad_cursor.
Result<Page> listChildren(const Database& db, const ItemRow& container, int64_t limit,
                          const std::optional<std::string>& cursor);

// Children in listing order, every one of them (deletions and checks).
Result<std::vector<ItemRow>> allChildren(const Database& db, std::string_view parent);
// The child of `parent` with this name up to case, if any.
Result<std::optional<ItemRow>> childNamed(const Database& db, std::string_view parent, std::string_view filename);

// Writes a new row; the sort key and name key follow from kind, name and ordinal.
Result<void> insertItem(Database& db, const ItemRow& item);
// "folder:12": the next number of the kind.
Result<std::string> newIdentifier(Database& db, Kind kind);
// The next version, draft or save number below `parent`, from 1.
Result<int64_t> nextOrdinal(const Database& db, std::string_view parent, Kind kind);

// The root and the two fixed lists, present in every store.
Result<void> ensureFixedItems(Database& db, Micros now);
// New content (or a changed list of children): a new content version.
Result<void> bumpContent(Database& db, std::string_view id, Micros at);

}  // namespace ostrel::refsvc
