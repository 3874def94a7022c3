#include "mic-recorder/status_lines.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>

namespace ostrel::mic {

void StreamStatusLines::write(const json::Value& line) {
  if (!line.is_object()) return;
  const std::string text = json::compact(line) + "\n";
  std::fwrite(text.data(), 1, text.size(), stream_);
  std::fflush(stream_);
}

namespace {
// Whole rates print as integers ("48000"), the way the platform writes them.
json::Value rateValue(double rate) {
  if (rate == std::floor(rate) && std::fabs(rate) < 1e15) return static_cast<std::int64_t>(rate);
  return rate;
}
}  // namespace

json::Value errorLine(const std::string& note) { return {{"event", "error"}, {"note", note}}; }

json::Value stopLine() { return {{"event", "stop"}, {"note", "capture-released"}}; }

json::Value duckingLine(const std::string& state) { return {{"event", "ducking"}, {"state", state}}; }

json::Value plainStartLine(const std::string& mode, double sourceRate) {
  return {{"event", "start"},
          {"note", "plain-capture-active"},
          {"mode", mode},
          {"ducking", "n/a"},
          {"source_rate", rateValue(sourceRate)}};
}

json::Value voiceProcessingStartLine(const std::string& ducking, double sourceRate) {
  return {{"event", "start"},
          {"note", "voice-processing-active"},
          {"mode", "voice-processing"},
          {"ducking", ducking},
          {"source_rate", rateValue(sourceRate)}};
}

}  // namespace ostrel::mic
