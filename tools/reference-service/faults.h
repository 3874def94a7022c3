#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "tools/reference-service/result.h"

namespace ostrel::refsvc {

// A fault the tests ask for: the next `count` requests that match get the
// given status and body instead of their answer, wait first, or lose their
// connection after part of the answer's body.
struct FaultRule {
  std::string method = "*";
  std::string pathPrefix;
  std::optional<int> status;
  std::optional<std::string> body;
  int64_t count = 1;
  std::chrono::milliseconds delay{0};
  std::optional<uint64_t> dropAfterBytes;
  // The answer's body goes out at about this many bytes a second.
  std::optional<uint64_t> bytesPerSecond;
};

// Reads {"method","path_prefix","status","body","count","delay_ms","drop_after_bytes","bytes_per_second"}.
Result<FaultRule> parseFaultRule(const nlohmann::json& body);
nlohmann::json describe(const FaultRule& rule);

// The rules in force, oldest first; the first that matches a request is used.
class FaultRules {
 public:
  void add(FaultRule rule);
  void clear();
  // The rule for this request, counting one use of it.
  std::optional<FaultRule> take(std::string_view method, std::string_view path);
  std::vector<FaultRule> rules() const;

 private:
  mutable std::mutex mutex_;
  std::vector<FaultRule> rules_;
};

}  // namespace ostrel::refsvc
