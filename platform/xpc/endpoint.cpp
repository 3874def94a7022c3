#include "platform/xpc/endpoint.h"

namespace ostrel::xpc {

namespace {
constexpr std::string_view scheme = "unix:";
}  // namespace

std::string ListenerEndpoint::serialized() const {
  return std::string(scheme) + socketPath;
}

std::optional<ListenerEndpoint> ListenerEndpoint::parse(std::string_view text) {
  if (!text.starts_with(scheme)) return std::nullopt;
  std::string_view path = text.substr(scheme.size());
  // A relative path would resolve against the receiver's working directory.
  if (!path.starts_with('/') || path.find('\0') != std::string_view::npos) return std::nullopt;
  return ListenerEndpoint{std::string(path)};
}

}  // namespace ostrel::xpc
