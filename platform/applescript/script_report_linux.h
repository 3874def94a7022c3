#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/applescript/apple_script.h"

namespace ostrel::applescript_linux {

Error scriptError(AppleScriptError::Code code, std::optional<long> number, std::optional<std::string> message);

// The error osascript reported on standard error: its last words are
// "<start>:<end>: execution error: <message> (<number>)", or "syntax error"
// when the source did not compile; anything the script logged comes before.
Error errorFromStandardError(std::string_view standardError);

}  // namespace ostrel::applescript_linux
