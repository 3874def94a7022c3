#pragma once

#include <chrono>

namespace ostrel::wordactions {

// Tests cannot wait half a minute for every case. When
// OSTREL_TEST_HOOK_WORD_ACTIONS_LIFETIME_MS holds a number of milliseconds
// smaller than `lifetime`, that is used instead; it can only shorten it.
std::chrono::milliseconds lifetimeOfThisRun(std::chrono::milliseconds lifetime);

}  // namespace ostrel::wordactions
