#include <cstdlib>
#include <string_view>

#include "platform/applescript/apple_script.h"
#include "platform/applescript/child_process_linux.h"
#include "platform/foundation/text.h"

namespace ostrel {

namespace {

std::string osascriptCommand() {
  const char* command = std::getenv("OSTREL_OSASCRIPT");
  return command && *command ? command : "osascript";
}

Error scriptError(AppleScriptError::Code code, std::optional<long> number, std::optional<std::string> message) {
  Error error{AppleScriptError::domain, code, {}};
  if (number) error.userInfo[AppleScriptError::numberKey] = std::to_string(*number);
  if (message && !message->empty()) {
    error.userInfo[AppleScriptError::messageKey] = *message;
    error.userInfo[localizedDescriptionKey] = *message;
  }
  return error;
}

// osascript reports "<start>:<end>: execution error: <message> (<number>)",
// or "syntax error" when the source did not compile, as its last words on
// standard error; anything the script logged comes before.
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

}  // namespace

std::expected<std::string, Error> AppleScript::execute() const {
  const std::string command = osascriptCommand();
  auto completed = applescript_linux::runToCompletion(command, source_);
  if (!completed) {
    return std::unexpected(scriptError(AppleScriptError::executionFailed, std::nullopt,
                                       "could not run " + command + ": " + completed.error().localizedDescription()));
  }
  if (!completed->exitedNormally || completed->exitStatus != 0) {
    return std::unexpected(errorFromStandardError(completed->standardError));
  }
  std::string result = std::move(completed->standardOutput);
  if (!result.empty() && result.back() == '\n') result.pop_back();
  return result;
}

// Each osascript leads a process group, so whatever it started ends with it.
void AppleScript::abandonAll() { applescript_linux::endAllChildren(); }

}  // namespace ostrel
