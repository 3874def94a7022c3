#include "drive/extension/recent_containers.h"

#include <algorithm>

namespace ostrel::drive {

void RecentContainers::note(const fileprovider::ItemIdentifier& container) {
  std::lock_guard lock(recentLock_);
  std::erase(containers_, container);
  containers_.push_back(container);
  if (containers_.size() > limit) containers_.erase(containers_.begin(), containers_.end() - limit);
}

std::vector<fileprovider::ItemIdentifier> RecentContainers::snapshot() const {
  std::lock_guard lock(recentLock_);
  return containers_;
}

}  // namespace ostrel::drive
