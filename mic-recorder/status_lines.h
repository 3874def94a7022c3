#pragma once

#include <cstdio>
#include <string>

#include "platform/foundation/json.h"

namespace ostrel::mic {

// Where the recorder's JSON state lines go.
class StatusLines {
 public:
  virtual ~StatusLines() = default;
  virtual void write(const json::Value& line) = 0;
};

// One compact line per object on a stream, flushed at once. Nothing is
// written for a value that cannot be serialised.
class StreamStatusLines final : public StatusLines {
 public:
  explicit StreamStatusLines(std::FILE* stream) : stream_(stream) {}
  void write(const json::Value& line) override;

 private:
  std::FILE* stream_;
};

json::Value errorLine(const std::string& note);
json::Value stopLine();
json::Value duckingLine(const std::string& state);
json::Value plainStartLine(const std::string& mode, double sourceRate);
json::Value voiceProcessingStartLine(const std::string& ducking, double sourceRate);

}  // namespace ostrel::mic
