#include "tools/reference-service/options.h"

#include <charconv>

namespace ostrel::refsvc {

namespace {

// The admin routes carry no authentication, so the service only ever
// listens where nothing but this machine can reach it.
bool isLoopback(const std::string& host) {
  return host == "localhost" || host.starts_with("127.");
}

std::expected<void, std::string> parseListen(const std::string& text, Options& options) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::unexpected("--listen takes HOST:PORT, not " + text);
  options.host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), options.port);
  if (port.empty() || error != std::errc() || end != port.data() + port.size() || options.port < 0 ||
      options.port > 65535) {
    return std::unexpected("--listen has no valid port in " + text);
  }
  if (!isLoopback(options.host)) return std::unexpected("--listen only takes a loopback address, not " + options.host);
  return {};
}

}  // namespace

std::expected<Options, std::string> parseOptions(const std::vector<std::string>& arguments) {
  Options options;
  bool listenGiven = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    if (name == "--verbose") {
      options.verbose = true;
      continue;
    }
    if (name != "--listen" && name != "--data" && name != "--seed" && name != "--token") {
      return std::unexpected("unknown argument " + name);
    }
    if (i + 1 >= arguments.size()) return std::unexpected(name + " needs a value");
    const std::string& value = arguments[++i];
    if (name == "--listen") {
      if (auto parsed = parseListen(value, options); !parsed) return std::unexpected(parsed.error());
      listenGiven = true;
    } else if (name == "--data") {
      if (value.empty()) return std::unexpected("--data needs a directory");
      options.dataDirectory = value;
    } else if (name == "--seed") {
      if (value != "demo") return std::unexpected("--seed only knows demo, not " + value);
      options.seedDemo = true;
    } else {
      if (value.empty()) return std::unexpected("--token cannot be empty");
      options.tokens.push_back(value);
    }
  }
  if (!listenGiven) return std::unexpected("--listen is required");
  if (options.dataDirectory.empty()) return std::unexpected("--data is required");
  return options;
}

}  // namespace ostrel::refsvc
