#include "drive-helper/input_lines.h"

#include <nlohmann/json.hpp>
#include <string>

namespace ostrel::drive::helper {

void readMessages(std::istream& input, const std::function<void(json::Value message)>& deliver) {
  std::string line;
  while (std::getline(input, line)) {
    auto value = json::Value::parse(line, nullptr, /*allow_exceptions=*/false);
    if (value.is_object()) deliver(std::move(value));
  }
}

}  // namespace ostrel::drive::helper
