#include "mic-watch/event_lines.h"

#include <nlohmann/json.hpp>

#include <string>

namespace ostrel::micwatch {

void StreamEventLines::write(const json::Value& line) {
  if (!line.is_object()) return;
  const std::string text = json::compact(line) + "\n";
  std::fwrite(text.data(), 1, text.size(), stream_);
  std::fflush(stream_);
}

}  // namespace ostrel::micwatch
