// The desktop application's lines to the drive helper: every message handed
// on is a JSON object, and no line costs more than its bound.

#include <sstream>

#include "drive-helper/input_lines.h"
#include "fuzz/fuzz_target.h"
#include <nlohmann/json.hpp>

using namespace ostrel;
using namespace ostrel::drive::helper;

FUZZ_TARGET(helper_input) {
  std::istringstream lines{std::string(input)};
  size_t delivered = 0;
  readMessages(
      lines,
      [&](json::Value message) {
        FUZZ_CHECK(message.is_object());
        ++delivered;
      },
      [](std::string problem) { FUZZ_CHECK(!problem.empty()); });
  FUZZ_CHECK(delivered <= input.size());

  // A short bound exercises the skipping of over-long lines.
  std::istringstream again{std::string(input)};
  std::string line;
  for (int k = 0; k < 10000; ++k) {
    const auto read = readBoundedLine(again, 16, line);
    if (read == LineRead::end) break;
    FUZZ_CHECK(line.size() <= 16);
  }
}
