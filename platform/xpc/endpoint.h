#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrel::xpc {

// Where a listener can be reached. Its text form ("unix:" and the socket's
// absolute path) travels to another process, which parses it back.
struct ListenerEndpoint {
  std::string socketPath;

  // Where the listener of a named service (a launchd service on other
  // systems) is reached: <runtime directory>/<name>.sock.
  static ListenerEndpoint forService(std::string_view serviceName);

  std::string serialized() const;
  static std::optional<ListenerEndpoint> parse(std::string_view text);

  friend bool operator==(const ListenerEndpoint&, const ListenerEndpoint&) = default;
};

}  // namespace ostrel::xpc
