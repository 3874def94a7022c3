#include "word-actions/lifetime.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>

namespace ostrel::wordactions {

std::chrono::milliseconds lifetimeOfThisRun(std::chrono::milliseconds lifetime) {
  const char* text = std::getenv("OSTREL_TEST_HOOK_WORD_ACTIONS_LIFETIME_MS");
  if (!text) return lifetime;
  const std::string_view digits(text);
  long long milliseconds = 0;
  auto [end, status] = std::from_chars(digits.data(), digits.data() + digits.size(), milliseconds);
  if (status != std::errc() || end != digits.data() + digits.size() || milliseconds < 0) return lifetime;
  return std::min(lifetime, std::chrono::milliseconds(milliseconds));
}

}  // namespace ostrel::wordactions
