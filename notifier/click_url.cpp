#include "notifier/click_url.h"

#include <algorithm>
#include <cctype>

#include "platform/foundation/bundle.h"
#include "platform/foundation/url.h"

namespace ostrel::notifier {

namespace {

// A letter, then letters, digits, "+", "-" or ".".
bool isValidScheme(std::string_view scheme) {
  if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme.front()))) return false;
  return std::ranges::all_of(scheme, [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
}

}  // namespace

std::string urlScheme() { return Bundle::main().infoString("OstrelURLScheme").value_or("ostrel"); }

std::optional<std::string> clickURL(std::string_view scheme, std::string_view target) {
  if (!isValidScheme(scheme)) return std::nullopt;
  return std::string(scheme) + "://notify?to=" + percentEncodeQueryComponent(target);
}

}  // namespace ostrel::notifier
