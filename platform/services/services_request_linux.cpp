#include "platform/services/services_request_linux.h"

#include <fstream>
#include <iterator>

namespace ostrel::services_linux {

std::optional<ServicesRequest> requestFromArguments(const std::vector<std::string>& arguments) {
  std::optional<std::string> message;
  std::string userData;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const bool hasValue = i + 1 < arguments.size();
    if (arguments[i] == serviceOption) {
      if (!hasValue) return std::nullopt;
      message = arguments[++i];
    } else if (arguments[i] == userDataOption) {
      if (!hasValue) return std::nullopt;
      userData = arguments[++i];
    }
  }
  if (!message || message->empty()) return std::nullopt;
  return ServicesRequest{std::move(*message), std::move(userData)};
}

std::vector<std::string> processArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  size_t start = 0;
  while (start < all.size()) {
    const size_t end = all.find('\0', start);
    arguments.push_back(all.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (!arguments.empty()) arguments.erase(arguments.begin());
  return arguments;
}

}  // namespace ostrel::services_linux
