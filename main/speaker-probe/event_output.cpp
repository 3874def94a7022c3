#include "main/speaker-probe/event_output.h"

#include <string>

#include <nlohmann/json.hpp>

namespace ostrel::speaker {

void LineEventOutput::emit(const json::Value& event) {
  const std::string line = json::compact(event) + "\n";
  std::fwrite(line.data(), 1, line.size(), stream_);
  std::fflush(stream_);
}

}  // namespace ostrel::speaker
