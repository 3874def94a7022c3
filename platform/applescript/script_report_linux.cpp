#include "platform/applescript/script_report_linux.h"

#include <cstdlib>

#include "platform/foundation/text.h"

namespace ostrel::applescript_linux {

Error scriptError(AppleScriptError::Code code, std::optional<long> number, std::optional<std::string> message) {
  Error error{AppleScriptError::domain, code, {}};
  if (number) error.userInfo[AppleScriptError::numberKey] = std::to_string(*number);
  if (message && !message->empty()) {
    error.userInfo[AppleScriptError::messageKey] = *message;
    error.userInfo[localizedDescriptionKey] = *message;
  }
  return error;
}

Error errorFromStandardError(std::string_view standardError) {
  static const auto reportPattern = Regex::create(R"((?s)^(?:.*\n)?\d+:\d+: (syntax|execution) error: (.*)$)");
  static const auto numberPattern = Regex::create(R"((?s)^(.*?)\s*\((-?\d+)\)$)");

  std::string text = trimmed(standardError);
  auto code = AppleScriptError::executionFailed;
  if (reportPattern) {
    if (auto report = reportPattern->firstMatch(text)) {
      if (report->group(1) == "syntax") code = AppleScriptError::compileFailed;
      text = trimmed(report->group(2).value_or(""));
    }
  }
  std::optional<long> number;
  if (numberPattern) {
    if (auto numbered = numberPattern->firstMatch(text)) {
      number = std::strtol(numbered->group(2)->c_str(), nullptr, 10);
      text = trimmed(numbered->group(1).value_or(""));
    }
  }
  return scriptError(code, number, text);
}

}  // namespace ostrel::applescript_linux
