#pragma once

#include <string>
#include <string_view>

namespace ostrel::wordactions {

// The desktop application's URL scheme: Info.plist "OstrelURLScheme", else "ostrel".
std::string urlScheme();

// scheme://word/<action>
std::string requestURL(std::string_view scheme, std::string_view action);

// Whether `text` is an absolute address: a valid scheme, then only
// characters an address may hold (percent escapes complete).
bool isValidURLString(std::string_view text);

}  // namespace ostrel::wordactions
