#pragma once

#include <mutex>
#include <vector>

#include "platform/fileprovider/item_identifier.h"

namespace ostrel::drive {

// The containers most recently given an enumerator, oldest first, without
// duplicates, at most 16: the host's refresh signal reaches them.
class RecentContainers {
 public:
  static constexpr size_t limit = 16;

  void note(const fileprovider::ItemIdentifier& container);
  std::vector<fileprovider::ItemIdentifier> snapshot() const;

 private:
  mutable std::mutex recentLock_;
  std::vector<fileprovider::ItemIdentifier> containers_;
};

}  // namespace ostrel::drive
