#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ostrel::services_linux {

// A Services request as it arrives on the command line:
//   <program> --service <message> [--user-data <text>]
struct ServicesRequest {
  std::string message;
  std::string userData;
};

inline constexpr const char* serviceOption = "--service";
inline constexpr const char* userDataOption = "--user-data";

// The request among the program's arguments (the program path excluded);
// nothing when there is none or the options are incomplete.
std::optional<ServicesRequest> requestFromArguments(const std::vector<std::string>& arguments);

// This process's arguments, as the kernel holds them.
std::vector<std::string> processArguments();

}  // namespace ostrel::services_linux
