#pragma once

#include <cstdio>

#include "platform/foundation/json.h"

namespace ostrel::micwatch {

class EventLines {
 public:
  virtual ~EventLines() = default;
  virtual void write(const json::Value& line) = 0;
};

// One compact JSON line per event, flushed at once.
class StreamEventLines final : public EventLines {
 public:
  explicit StreamEventLines(std::FILE* stream) : stream_(stream) {}
  void write(const json::Value& line) override;

 private:
  std::FILE* stream_;
};

}  // namespace ostrel::micwatch
