#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "tools/reference-service/clock.h"

namespace ostrel::refsvc {

// What a client sent, for tests that check the client: no header values,
// only names, and whether credentials came along.
struct LoggedRequest {
  Micros at = 0;
  std::string method;
  std::string target;
  std::vector<std::string> headerNames;
  bool authorization = false;
};

class RequestLog {
 public:
  // The oldest entries go beyond this many.
  static constexpr size_t capacity = 10'000;

  void record(LoggedRequest request);
  std::vector<LoggedRequest> entries() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::deque<LoggedRequest> entries_;
};

}  // namespace ostrel::refsvc
