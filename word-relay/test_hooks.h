#pragma once

#include <chrono>

namespace ostrel::word {

// Tests cannot wait minutes for a dialog that never shows or a completion
// that never comes. When the named variable holds a number of milliseconds
// smaller than the program's own value, that number is used instead; it can
// only shorten a wait. Nothing but tests sets these variables:
//   OSTREL_TEST_HOOK_SAVE_DIALOG_DEADLINE_MS   prompt-save's 300 s
//   OSTREL_TEST_HOOK_OPEN_TIMEOUT_MS           open's 60 s
std::chrono::milliseconds shortenedByTestHook(const char* hookVariable, std::chrono::milliseconds programValue);

}  // namespace ostrel::word
