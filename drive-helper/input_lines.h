#pragma once

#include <functional>
#include <istream>

#include "platform/foundation/json.h"

namespace ostrel::drive::helper {

// Reads the desktop application's JSON lines until the stream ends and hands
// on each one that is a JSON object. Anything else is dropped without a word.
void readMessages(std::istream& input, const std::function<void(json::Value message)>& deliver);

}  // namespace ostrel::drive::helper
