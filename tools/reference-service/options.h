#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

namespace ostrel::refsvc {

struct Options {
  std::string host;
  int port = 0;
  std::filesystem::path dataDirectory;
  bool seedDemo = false;
  std::vector<std::string> tokens;
  bool verbose = false;
};

inline constexpr const char* usage =
    "usage: ostrel-reference-service --listen 127.0.0.1:PORT --data DIR [--seed demo] [--token TOKEN ...] "
    "[--verbose]";

// The message is meant for standard error.
std::expected<Options, std::string> parseOptions(const std::vector<std::string>& arguments);

}  // namespace ostrel::refsvc
