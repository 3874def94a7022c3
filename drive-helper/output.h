#pragma once

#include <string_view>

#include "platform/foundation/json.h"

namespace ostrel::drive::helper {

// Every line the program prints: one compact JSON object, a line feed, a
// flush. Safe from any thread; lines never interleave.
void emit(const json::Value& object);

// Prints {"ok":false,"error":message} and ends the process with status 1.
[[noreturn]] void fail(std::string_view message);

// Ends the process at once, from any thread, after the lines already printed.
[[noreturn]] void exitNow(int status);

}  // namespace ostrel::drive::helper
