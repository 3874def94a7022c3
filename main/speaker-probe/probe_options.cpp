#include "main/speaker-probe/probe_options.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "main/speaker-probe/name_text.h"

namespace ostrel::speaker {

namespace {

std::string removingEvery(std::string_view text, std::string_view prefix) {
  std::string out;
  size_t start = 0;
  for (size_t found = text.find(prefix); found != std::string_view::npos; found = text.find(prefix, start)) {
    out.append(text.substr(start, found - start));
    start = found + prefix.size();
  }
  out.append(text.substr(start));
  return out;
}

// A whole number of seconds as the platform reads a Double: no blanks around
// it; "inf" sleeps until a signal. NaN is no length of time at all.
std::optional<double> seconds(const std::string& text) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || std::isnan(value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> option(std::span<const std::string> arguments, std::string_view name) {
  const std::string prefix = "--" + std::string(name) + "=";
  for (const std::string& argument : arguments) {
    if (argument.starts_with(prefix)) return removingEvery(argument, prefix);
  }
  return std::nullopt;
}

ProbeOptions parseProbeOptions(std::span<const std::string> arguments) {
  ProbeOptions options;
  if (auto bundle = option(arguments, "bundle")) options.bundleID = std::move(*bundle);
  if (auto interval = option(arguments, "interval")) options.pollInterval = seconds(*interval).value_or(0.5);
  if (auto self = option(arguments, "self")) options.knownSelf = plausibleName(*self);
  return options;
}

std::vector<Regex> speakerPatterns(std::string_view environmentValue) {
  std::vector<Regex> patterns;
  size_t start = 0;
  while (start <= environmentValue.size()) {
    size_t end = environmentValue.find('\n', start);
    if (end == std::string_view::npos) end = environmentValue.size();
    if (end > start) {
      if (auto regex = Regex::create(environmentValue.substr(start, end - start))) patterns.push_back(std::move(*regex));
    }
    start = end + 1;
  }
  return patterns;
}

}  // namespace ostrel::speaker
