#pragma once

#include <expected>
#include <optional>
#include <string>

#include "platform/foundation/error.h"

namespace ostrel {

// Why a script did not give a result. The user-info dictionary carries what
// NSAppleScript's error dictionary carries, under its keys: the AppleScript
// error number (decimal text) and message, each only when the script's host
// reported one.
namespace AppleScriptError {
inline constexpr const char* domain = "local.ostrel.applescript";
inline constexpr const char* numberKey = "NSAppleScriptErrorNumber";
inline constexpr const char* messageKey = "NSAppleScriptErrorMessage";

enum Code : long {
  compileFailed = 1,    // not valid AppleScript: nothing was sent to any application
  executionFailed = 2,  // it ran and raised an error, or could not be run at all
};

// The reported error number, when there is one and it is an integer.
std::optional<long> number(const Error& error);
// The reported message, when there is a non-empty one.
std::optional<std::string> message(const Error& error);
}  // namespace AppleScriptError

// An AppleScript source, compiled and executed in one go, as NSAppleScript
// does it. Here the source goes to an osascript-compatible command
// ($OSTREL_OSASCRIPT, else `osascript` on PATH): on standard input, with the
// result read from its standard output and an error from its standard error.
class AppleScript {
 public:
  explicit AppleScript(std::string source) : source_(std::move(source)) {}

  const std::string& source() const { return source_; }

  // Blocks until the script ends. Answers the result's string value ("" when
  // the result has none) or an AppleScriptError.
  std::expected<std::string, Error> execute() const;

  // For a program that is being stopped: ends every script still executing,
  // from any thread, so that none acts after its caller has given up (their
  // execute() answers an execution failure), and lets no later one start.
  static void abandonAll();

 private:
  std::string source_;
};

}  // namespace ostrel
