#pragma once

#include <cstdio>

#include "platform/foundation/json.h"

namespace ostrel::speaker {

// Where the probe's events go.
class EventOutput {
 public:
  virtual ~EventOutput() = default;
  virtual void emit(const json::Value& event) = 0;
};

// One compact JSON object per line, flushed at once so the reader sees each
// event as it happens. The stream is not owned.
class LineEventOutput final : public EventOutput {
 public:
  explicit LineEventOutput(std::FILE* stream) : stream_(stream) {}
  void emit(const json::Value& event) override;

 private:
  std::FILE* stream_;
};

}  // namespace ostrel::speaker
