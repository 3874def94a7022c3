#pragma once

#include <filesystem>
#include <optional>

#include "platform/foundation/error.h"

namespace ostrel::drive {

// What the write paths share.
namespace WriteSupport {
// True when there are no contents to send: no file, an unreadable size, or 0 bytes.
bool isEmpty(const std::optional<std::filesystem::path>& contents);
// The write cannot happen yet: the file's bytes are missing.
const Error& awaitingContents();
// A write failure as the framework should see it: a name conflict is a
// filename collision; file-provider errors pass; anything else is logged.
Error writeError(const Error& error);
}  // namespace WriteSupport

}  // namespace ostrel::drive
