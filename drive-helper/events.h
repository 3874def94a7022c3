#pragma once

#include <functional>

#include "platform/foundation/json.h"

namespace ostrel::drive::helper {

// Where the serve loop's event lines go: `emit` in the program, a recorder in tests.
using Emit = std::function<void(const json::Value& event)>;

}  // namespace ostrel::drive::helper
