#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrel::notifier {

// The desktop application's URL scheme: Info.plist "OstrelURLScheme", else "ostrel".
std::string urlScheme();

// scheme://notify?to=<target>, the target percent-encoded as a query value
// ("&", "=" and "+" included, so that it comes back whole). Nothing when
// the scheme cannot start an address.
std::optional<std::string> clickURL(std::string_view scheme, std::string_view target);

}  // namespace ostrel::notifier
