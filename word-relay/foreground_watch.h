#pragma once

#include "platform/appkit/workspace.h"
#include "word-relay/failures.h"

namespace ostrel::word {

// Prints "hello", then a "frontmost" event for the application in front
// and one more for every activation, for ever. Returns only when the
// activations cannot be followed.
Failure cmdWatch(const Workspace& workspace);

}  // namespace ostrel::word
