#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/text.h"

namespace ostrel::speaker {

struct ProbeOptions {
  std::string bundleID = "us.zoom.xos";  // the Zoom client for macOS
  double pollInterval = 0.5;  // seconds
  std::optional<std::string> knownSelf;
};

// The value of the first argument that begins with "--<name>=", with every
// occurrence of that prefix removed from it.
std::optional<std::string> option(std::span<const std::string> arguments, std::string_view name);

// `arguments` are those after the program name. Nothing is an error: what
// is missing or unreadable takes its default.
ProbeOptions parseProbeOptions(std::span<const std::string> arguments);

// OSTREL_ZOOM_SPEAKER_PATTERNS: one case-sensitive pattern per line, taken
// as it stands; empty lines and patterns that do not compile are dropped.
std::vector<Regex> speakerPatterns(std::string_view environmentValue);

}  // namespace ostrel::speaker
