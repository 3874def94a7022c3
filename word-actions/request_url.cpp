#include "word-actions/request_url.h"

#include <algorithm>
#include <cctype>

#include "platform/foundation/bundle.h"

namespace ostrel::wordactions {

namespace {

bool isSchemeCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// Unreserved, reserved and "%" (checked apart).
bool isAddressCharacter(char c) {
  static constexpr std::string_view others = "-._~:/?#[]@!$&'()*+,;=%";
  return std::isalnum(static_cast<unsigned char>(c)) || others.find(c) != std::string_view::npos;
}

}  // namespace

std::string urlScheme() { return Bundle::main().infoString("OstrelURLScheme").value_or("ostrel"); }

std::string requestURL(std::string_view scheme, std::string_view action) {
  return std::string(scheme) + "://word/" + std::string(action);
}

bool isValidURLString(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::string_view scheme = text.substr(0, colon);
  if (!std::isalpha(static_cast<unsigned char>(scheme.front())) || !std::ranges::all_of(scheme, isSchemeCharacter)) {
    return false;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    if (!isAddressCharacter(text[i])) return false;
    if (text[i] == '%' && (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
                           !std::isxdigit(static_cast<unsigned char>(text[i + 2])))) {
      return false;
    }
  }
  return true;
}

}  // namespace ostrel::wordactions
