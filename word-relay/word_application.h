#pragma once

#include <expected>
#include <optional>
#include <string_view>

#include "platform/appkit/workspace.h"
#include "word-relay/relay_output.h"

namespace ostrel::word {

// How Word is found among running and installed applications and
// recognised in front.
inline constexpr std::string_view wordBundleID = "com.microsoft.Word";

std::expected<void, Failure> requireWordRunning(const Workspace& workspace);

// "app_id", "app_name" and "is_word" of an application, or of none.
OutputObject applicationFields(const std::optional<RunningApplication>& application);

}  // namespace ostrel::word
