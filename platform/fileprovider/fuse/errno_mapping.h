#pragma once

#include "platform/foundation/error.h"

namespace ostrel::fileprovider {

// The errno a file operation reports for an error of the extension or of
// the system's own bookkeeping.
int errnoForError(const Error& error);

}  // namespace ostrel::fileprovider
