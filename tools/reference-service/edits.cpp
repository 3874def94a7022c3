#include "tools/reference-service/edits.h"

#include "tools/reference-service/change_log.h"
#include "tools/reference-service/items.h"
#include "tools/reference-service/names.h"

namespace ostrel::refsvc {

namespace {

// The deepest folder chains of real matters are a dozen levels; the bound
// only guards against a damaged store.
constexpr int maximumDepth = 4096;

bool isMovable(const ItemRow& item) {
  return (item.kind == Kind::folder || item.kind == Kind::document) && partnerMayWrite(item);
}

// True when `candidate` is `ancestor` or lies somewhere below it.
Result<bool> liesWithin(const Database& db, std::string candidate, std::string_view ancestor) {
  for (int depth = 0; depth < maximumDepth; ++depth) {
    if (candidate == ancestor) return true;
    auto parent = db.text("SELECT parent FROM items WHERE id = ?", candidate);
    if (!parent) return std::unexpected(parent.error());
    if (!*parent || **parent == candidate) return false;
    candidate = std::move(**parent);
  }
  return storageFailure("The folder chain of " + candidate + " does not end.");
}

struct Subtree {
  std::vector<std::string> ids;  // the item itself last
  std::vector<std::string> blobs;
};

Result<Subtree> subtreeOf(const Database& db, std::string_view id) {
  auto statement = db.query(
      "WITH RECURSIVE sub(id, depth) AS (SELECT ?1, 0 UNION SELECT i.id, sub.depth + 1 FROM items i "
      "JOIN sub ON i.parent = sub.id) "
      "SELECT i.id, i.blob FROM items i JOIN sub ON sub.id = i.id ORDER BY sub.depth DESC, i.sort_key",
      id);
  if (!statement) return std::unexpected(statement.error());
  Subtree subtree;
  while (true) {
    auto row = statement->step();
    if (!row) return std::unexpected(row.error());
    if (!*row) return subtree;
    subtree.ids.push_back(statement->text(0));
    if (auto blob = statement->optionalText(1)) subtree.blobs.push_back(std::move(*blob));
  }
}

}  // namespace

Result<nlohmann::json> patchItem(Store& store, const PatchRequest& request) {
  return store.write([&](Database& db) -> Result<nlohmann::json> {
    auto item = requireItem(db, request.item);
    if (!item) return std::unexpected(item.error());
    if (!request.filename && !request.parent) return payload(db, *item);
    if (!isMovable(*item)) return forbidden("Only folders and documents the partner may write to can change.");
    if (request.filename && !isValidName(*request.filename)) return fail(422, "invalid_name", "Not a usable name.");

    const std::string filename = request.filename.value_or(item->filename);
    ItemRow destination;
    const bool moves = request.parent && *request.parent != item->parent;
    if (moves) {
      auto target = requireItem(db, *request.parent);
      if (!target) return std::unexpected(target.error());
      if (target->kind != Kind::folder || !partnerMayWrite(*target)) {
        return forbidden("Items can only be moved into folders the partner may write to.");
      }
      auto within = liesWithin(db, target->id, item->id);
      if (!within) return std::unexpected(within.error());
      if (*within) return fail(409, "invalid_move", "A folder cannot move into itself.");
      destination = std::move(*target);
    } else {
      destination.id = item->parent;
      destination.matter = item->matter;
    }
    if (!moves && filename == item->filename) return payload(db, *item);

    auto sibling = childNamed(db, destination.id, filename);
    if (!sibling) return std::unexpected(sibling.error());
    if (*sibling && (*sibling)->id != item->id) {
      return fail(409, "name_conflict", "The folder already holds an item named " + filename + ".");
    }

    const Micros now = nowMicros();
    auto changed = db.run(
        "UPDATE items SET filename = ?, name_key = ?, sort_key = ?, parent = ?, metadata_rev = metadata_rev + 1 "
        "WHERE id = ?",
        filename, nameKey(filename), sortKey(item->kind, filename, item->ordinal), destination.id, item->id);
    if (!changed) return std::unexpected(changed.error());
    // Everything below follows the item into its new matter.
    if (moves && destination.matter != item->matter) {
      auto moved = db.run(
          "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION SELECT i.id FROM items i JOIN sub ON i.parent = sub.id) "
          "UPDATE items SET matter = ?2 WHERE id IN (SELECT id FROM sub)",
          item->id, destination.matter);
      if (!moved) return std::unexpected(moved.error());
    }
    Touched touched;
    touched.add(item->id);
    // The old parent's listing changed either way; the new one's only on a move.
    touched.add(item->parent);
    if (moves) touched.add(destination.id);
    for (const auto& container : touched.ids()) {
      if (container == item->id) continue;
      if (auto bumped = bumpContent(db, container, now); !bumped) return std::unexpected(bumped.error());
    }
    if (auto recorded = recordChanges(db, touched, now); !recorded) return std::unexpected(recorded.error());
    auto updated = requireItem(db, item->id);
    if (!updated) return std::unexpected(updated.error());
    return payload(db, *updated);
  });
}

Result<void> deleteItem(Store& store, const BlobStore& blobs, std::string_view id) {
  std::vector<std::string> removedBlobs;
  auto deleted = store.write([&](Database& db) -> Result<void> {
    auto item = requireItem(db, id);
    if (!item) return std::unexpected(item.error());
    if (!isMovable(*item)) return forbidden("Only folders and documents the partner may write to can be deleted.");
    if (item->kind == Kind::folder) {
      auto children = db.integer("SELECT COUNT(*) FROM items WHERE parent = ?", item->id);
      if (!children) return std::unexpected(children.error());
      if (children->value_or(0) > 0) return fail(409, "folder_not_empty", "Only empty folders can be deleted.");
    }
    auto subtree = subtreeOf(db, item->id);
    if (!subtree) return std::unexpected(subtree.error());
    Touched touched;
    for (const auto& gone : subtree->ids) {
      if (auto removed = db.run("DELETE FROM items WHERE id = ?", gone); !removed) return removed;
      if (auto removed = db.run("DELETE FROM tickets WHERE item = ?", gone); !removed) return removed;
      touched.add(gone);
    }
    const Micros now = nowMicros();
    if (auto bumped = bumpContent(db, item->parent, now); !bumped) return bumped;
    touched.add(item->parent);
    if (auto recorded = recordChanges(db, touched, now); !recorded) return recorded;
    removedBlobs = std::move(subtree->blobs);
    return {};
  });
  if (deleted) blobs.removeAll(removedBlobs);
  return deleted;
}

}  // namespace ostrel::refsvc
