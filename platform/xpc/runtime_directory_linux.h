#pragma once

#include <expected>
#include <filesystem>
#include <string>

#include "platform/foundation/error.h"

namespace ostrel::xpc {

// $OSTREL_XPC_DIR, else ${XDG_RUNTIME_DIR:-/tmp}/ostrel-xpc-<uid>.
std::filesystem::path runtimeDirectoryPath();

// Creates `directory` with mode 0700 when it is missing (its parent must exist).
// Anything else at that path (a file, a symbolic link, another user's directory,
// a directory others can enter) is refused rather than used.
std::expected<void, Error> prepareRuntimeDirectory(const std::filesystem::path& directory);

// A socket path in `directory` no other listener on this machine uses.
std::string uniqueSocketPath(const std::filesystem::path& directory);

}  // namespace ostrel::xpc
