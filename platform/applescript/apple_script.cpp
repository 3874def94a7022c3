#include "platform/applescript/apple_script.h"

#include <charconv>

namespace ostrel::AppleScriptError {

std::optional<long> number(const Error& error) {
  auto it = error.userInfo.find(numberKey);
  if (it == error.userInfo.end()) return std::nullopt;
  const std::string& text = it->second;
  long value = 0;
  auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (status != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::string> message(const Error& error) {
  auto it = error.userInfo.find(messageKey);
  if (it == error.userInfo.end() || it->second.empty()) return std::nullopt;
  return it->second;
}

}  // namespace ostrel::AppleScriptError
