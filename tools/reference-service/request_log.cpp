#include "tools/reference-service/request_log.h"

namespace ostrel::refsvc {

void RequestLog::record(LoggedRequest request) {
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(request));
  while (entries_.size() > capacity) entries_.pop_front();
}

std::vector<LoggedRequest> RequestLog::entries() const {
  std::lock_guard lock(mutex_);
  return {entries_.begin(), entries_.end()};
}

void RequestLog::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

}  // namespace ostrel::refsvc
