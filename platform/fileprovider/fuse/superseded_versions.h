#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <set>
#include <string>
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
  // Renamed or moved: every copy with the name and place it had before is
  // stale, whatever its contents (a folder's change as its children change).
  void moved(const ItemIdentifier& identifier, const std::string& metadataVersionBefore);
  void deleted(const ItemIdentifier& identifier);
  bool isStale(const Item& item) const;

 private:
  enum class Kind { deleted, modified, moved };
  struct Record {
    ItemIdentifier identifier;
    Kind kind = Kind::deleted;
    std::string contentVersion;
    std::string metadataVersion;
    auto operator<=>(const Record&) const = default;
  };
  void add(Record record);

  size_t capacity_;
  std::deque<Record> order_;
  std::set<Record> records_;
};

}  // namespace ostrel::fileprovider
