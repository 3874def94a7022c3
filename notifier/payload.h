#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::notifier {

// What the desktop application asks for, from the one JSON argument.
struct Payload {
  bool request = false;
  std::optional<std::string> title;
  std::optional<std::string> body;
  std::optional<std::string> target;
  bool timeSensitive = true;

  friend bool operator==(const Payload&, const Payload&) = default;
};

// Every key is optional; a key of the wrong type invalidates the whole
// payload. Text that is not UTF-8 JSON gives nothing.
std::optional<Payload> decodePayload(std::string_view text);

// The payload from the first argument after the program path.
std::optional<Payload> payloadFromArguments(const std::vector<std::string>& arguments);

}  // namespace ostrel::notifier
