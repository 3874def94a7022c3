#include "word-relay/test_hooks.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace ostrel::word {

std::chrono::milliseconds shortenedByTestHook(const char* hookVariable, std::chrono::milliseconds programValue) {
  const char* text = std::getenv(hookVariable);
  if (!text) return programValue;
  const std::string_view digits(text);
  long long milliseconds = 0;
  auto [end, status] = std::from_chars(digits.data(), digits.data() + digits.size(), milliseconds);
  if (status != std::errc() || end != digits.data() + digits.size() || milliseconds < 0) return programValue;
  return std::min(programValue, std::chrono::milliseconds(milliseconds));
}

}  // namespace ostrel::word
