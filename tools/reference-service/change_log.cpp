#include "tools/reference-service/change_log.h"

#include <algorithm>
#include <charconv>

#include <nlohmann/json.hpp>

#include "tools/reference-service/ids.h"
#include "tools/reference-service/items.h"
#include "tools/reference-service/store.h"

namespace ostrel::refsvc {

namespace {

Result<std::string> storeId(const Database& db) {
  auto id = metaValue(db, "store_id");
  if (!id) return std::unexpected(id.error());
  return id->value_or("");
}

Result<int64_t> floorSequence(const Database& db) {
  auto floor = metaValue(db, "change_floor");
  if (!floor) return std::unexpected(floor.error());
  int64_t sequence = 0;
  if (*floor) std::from_chars((*floor)->data(), (*floor)->data() + (*floor)->size(), sequence);
  return sequence;
}

Result<int64_t> headSequence(const Database& db) {
  auto floor = floorSequence(db);
  if (!floor) return floor;
  auto last = db.integer("SELECT MAX(seq) FROM changes");
  if (!last) return std::unexpected(last.error());
  return std::max(*floor, last->value_or(0));
}

Result<std::string> encodeAnchor(const Database& db, int64_t sequence) {
  auto id = storeId(db);
  if (!id) return id;
  return base64url(*id + ":" + std::to_string(sequence));
}

Result<int64_t> decodeAnchor(const Database& db, std::string_view anchor) {
  auto expired = fail(410, "anchor_expired", "The change feed no longer reaches back to this anchor.");
  auto text = fromBase64url(anchor);
  if (!text) return expired;
  const size_t colon = text->find(':');
  if (colon == std::string::npos) return expired;
  auto id = storeId(db);
  if (!id) return std::unexpected(id.error());
  if (text->substr(0, colon) != *id) return expired;
  int64_t sequence = 0;
  const char* begin = text->data() + colon + 1;
  const char* end = text->data() + text->size();
  auto [stop, error] = std::from_chars(begin, end, sequence);
  if (error != std::errc() || stop != end || begin == end || sequence < 0) return expired;

  auto floor = floorSequence(db);
  if (!floor) return std::unexpected(floor.error());
  auto head = headSequence(db);
  if (!head) return std::unexpected(head.error());
  if (sequence < *floor || sequence > *head) return expired;
  return sequence;
}

}  // namespace

void Touched::add(std::string id) {
  if (std::find(ids_.begin(), ids_.end(), id) == ids_.end()) ids_.push_back(std::move(id));
}

Result<void> recordChanges(Database& db, const Touched& touched, Micros at) {
  for (const auto& id : touched.ids()) {
    if (auto recorded = db.run("INSERT INTO changes(item, at) VALUES(?, ?)", id, at); !recorded) return recorded;
  }
  return {};
}

Result<std::string> headAnchor(const Database& db) {
  auto head = headSequence(db);
  if (!head) return std::unexpected(head.error());
  return encodeAnchor(db, *head);
}

Result<ChangeBatch> changesSince(const Database& db, std::string_view anchor, int64_t limit) {
  auto from = decodeAnchor(db, anchor);
  if (!from) return std::unexpected(from.error());

  auto records = db.query("SELECT seq, item FROM changes WHERE seq > ? ORDER BY seq LIMIT ?", *from, limit);
  if (!records) return std::unexpected(records.error());
  int64_t last = *from;
  Touched items;
  while (true) {
    auto row = records->step();
    if (!row) return std::unexpected(row.error());
    if (!*row) break;
    last = records->integer(0);
    items.add(records->text(1));
  }

  ChangeBatch batch;
  for (const auto& id : items.ids()) {
    auto item = findItem(db, id);
    if (!item) return std::unexpected(item.error());
    if (!*item) {
      batch.deleted.push_back(id);
      continue;
    }
    auto body = payload(db, **item);
    if (!body) return std::unexpected(body.error());
    batch.updated.push_back(std::move(*body));
  }
  auto beyond = db.integer("SELECT COUNT(*) FROM (SELECT 1 FROM changes WHERE seq > ? LIMIT 1)", last);
  if (!beyond) return std::unexpected(beyond.error());
  batch.more = beyond->value_or(0) > 0;
  auto next = encodeAnchor(db, last);
  if (!next) return std::unexpected(next.error());
  batch.anchor = std::move(*next);
  return batch;
}

Result<std::string> compactChanges(Database& db) {
  auto head = headSequence(db);
  if (!head) return std::unexpected(head.error());
  if (auto set = setMetaValue(db, "change_floor", std::to_string(*head)); !set) return std::unexpected(set.error());
  if (auto removed = db.run("DELETE FROM changes WHERE seq <= ?", *head); !removed) {
    return std::unexpected(removed.error());
  }
  return encodeAnchor(db, *head);
}

}  // namespace ostrel::refsvc
