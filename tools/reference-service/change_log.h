#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "tools/reference-service/clock.h"
#include "tools/reference-service/sqlite.h"

namespace ostrel::refsvc {

// The items one write touched, each once, in the order first touched.
class Touched {
 public:
  void add(std::string id);
  const std::vector<std::string>& ids() const { return ids_; }

 private:
  std::vector<std::string> ids_;
};

// Appends one change record per touched item.
Result<void> recordChanges(Database& db, const Touched& touched, Micros at);

// Anchors name a position in the change log of this store. They are
// opaque to the drive; an anchor of another store, from the future, or from
// before the last compaction is no longer served (410 anchor_expired).
Result<std::string> headAnchor(const Database& db);

struct ChangeBatch {
  std::vector<nlohmann::json> updated;
  std::vector<std::string> deleted;
  std::string anchor;
  bool more = false;
};
// Up to `limit` records after the anchor; each touched item is reported
// once, with its current payload, or as deleted when it is gone.
Result<ChangeBatch> changesSince(const Database& db, std::string_view anchor, int64_t limit);

// Forgets the log so far; returns the head anchor, which stays valid.
Result<std::string> compactChanges(Database& db);

}  // namespace ostrel::refsvc
