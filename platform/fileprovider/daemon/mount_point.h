#pragma once

#include <filesystem>
#include <string>

#include "platform/fileprovider/domain.h"

namespace ostrel::fileprovider {

// Where a domain shows under the mount root: its display name, made a single
// safe path component ("/" becomes "∕"); the identifier stands in for a name
// that cannot be one ("", ".", "..").
std::filesystem::path mountPointFor(const std::filesystem::path& mountRoot, const Domain& domain);

}  // namespace ostrel::fileprovider
