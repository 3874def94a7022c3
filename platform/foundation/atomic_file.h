#pragma once

#include <sys/types.h>

#include <expected>
#include <filesystem>
#include <string_view>

#include "platform/foundation/error.h"

namespace ostrel {

// NSDataWritingAtomic: writes the bytes to a new file beside `file` and
// renames it over `file`, so that a reader finds either the old contents or
// the new, never a part. Nothing is left behind on failure. The directory
// must exist. Failures are NSPOSIXErrorDomain errors.
std::expected<void, Error> writeFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                                               mode_t mode = 0644);

}  // namespace ostrel
