#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <set>
#include <utility>

#include "platform/fileprovider/item.h"

namespace ostrel::fileprovider {

// What the mount's own writes made obsolete: versions it modified away and
// items it deleted. A change batch read from the service before such a write
// can arrive after it; its copies of these items are stale and must not undo
// the write (a deleted folder coming back, a renamed file taking its old name).
// Keeps the newest `capacity` records. Not thread-safe: its owner guards it.
class SupersededVersions {
 public:
  explicit SupersededVersions(size_t capacity = 4096) : capacity_(capacity) {}

  void modified(const ItemIdentifier& identifier, const ItemVersion& before);
  void deleted(const ItemIdentifier& identifier);
  bool isStale(const Item& item) const;

 private:
  using Record = std::pair<ItemIdentifier, std::optional<ItemVersion>>;  // no version: deleted
  struct Less {
    bool operator()(const Record& a, const Record& b) const;
  };
  void add(Record record);

  size_t capacity_;
  std::deque<Record> order_;
  std::set<Record, Less> records_;
};

}  // namespace ostrel::fileprovider
