#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrel::xpc {

// Where a listener can be reached. Its text form ("unix:" and the socket's
// absolute path) travels to another process, which parses it back.
struct ListenerEndpoint {
  std::string socketPath;

  std::string serialized() const;
  static std::optional<ListenerEndpoint> parse(std::string_view text);

  friend bool operator==(const ListenerEndpoint&, const ListenerEndpoint&) = default;
};

}  // namespace ostrel::xpc
