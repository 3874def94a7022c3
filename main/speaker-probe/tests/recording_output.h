#pragma once

#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "main/speaker-probe/event_output.h"

namespace ostrel::speaker::testing {

// Keeps each event as its compact line (keys sorted, so lines compare).
class RecordingOutput final : public EventOutput {
 public:
  void emit(const json::Value& event) override { lines_.push_back(json::compact(event)); }
  // The lines since the last call.
  std::vector<std::string> take() { return std::exchange(lines_, {}); }

 private:
  std::vector<std::string> lines_;
};

}  // namespace ostrel::speaker::testing
