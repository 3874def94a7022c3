#include "drive-helper/input_lines.h"

#include <nlohmann/json.hpp>
#include <streambuf>
#include <string>

namespace ostrel::drive::helper {

LineRead readBoundedLine(std::istream& input, std::size_t limit, std::string& line) {
  line.clear();
  std::streambuf* buffer = input.rdbuf();
  if (!buffer || !input.good()) return LineRead::end;
  bool readAny = false;
  bool overLimit = false;
  for (;;) {
    const auto next = buffer->sbumpc();
    if (std::char_traits<char>::eq_int_type(next, std::char_traits<char>::eof())) {
      input.setstate(std::ios::eofbit);
      break;
    }
    readAny = true;
    const char c = std::char_traits<char>::to_char_type(next);
    if (c == '\n') break;
    if (overLimit) continue;
    if (line.size() < limit) {
      line.push_back(c);
    } else {
      overLimit = true;
      line.clear();
    }
  }
  if (!readAny) return LineRead::end;
  return overLimit ? LineRead::tooLong : LineRead::line;
}

void readMessages(std::istream& input, const std::function<void(json::Value message)>& deliver,
                  const std::function<void(std::string problem)>& reject) {
  std::string line;
  for (;;) {
    const auto read = readBoundedLine(input, maxInputLineBytes, line);
    if (read == LineRead::end) return;
    if (read == LineRead::tooLong) {
      reject("input line longer than " + std::to_string(maxInputLineBytes) + " bytes dropped");
      continue;
    }
    auto value = json::Value::parse(line, nullptr, /*allow_exceptions=*/false);
    if (value.is_object()) deliver(std::move(value));
  }
}

}  // namespace ostrel::drive::helper
