#include <cstdlib>
#include <string_view>

#include "platform/applescript/apple_script.h"
#include "platform/applescript/child_process_linux.h"
#include "platform/applescript/script_report_linux.h"

namespace ostrel {

namespace {

std::string osascriptCommand() {
  const char* command = std::getenv("OSTREL_OSASCRIPT");
  return command && *command ? command : "osascript";
}

}  // namespace

std::expected<std::string, Error> AppleScript::execute() const {
  const std::string command = osascriptCommand();
  auto completed = applescript_linux::runToCompletion(command, source_);
  if (!completed) {
    return std::unexpected(applescript_linux::scriptError(AppleScriptError::executionFailed, std::nullopt,
                                                          "could not run " + command + ": " + completed.error().localizedDescription()));
  }
  if (!completed->exitedNormally || completed->exitStatus != 0) {
    return std::unexpected(applescript_linux::errorFromStandardError(completed->standardError));
  }
  std::string result = std::move(completed->standardOutput);
  if (!result.empty() && result.back() == '\n') result.pop_back();
  return result;
}

// Each osascript leads a process group, so whatever it started ends with it.
void AppleScript::abandonAll() { applescript_linux::endAllChildren(); }

}  // namespace ostrel
