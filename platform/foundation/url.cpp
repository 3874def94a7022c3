#include "platform/foundation/url.h"

#include <algorithm>

namespace ostrel {

namespace {

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

void appendEscaped(std::string& out, unsigned char c) {
  static constexpr char hex[] = "0123456789ABCDEF";
  out += '%';
  out += hex[c >> 4];
  out += hex[c & 0xF];
}

std::string lowerASCII(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return out;
}

}  // namespace

std::string percentEncodePathSegment(std::string_view segment) {
  std::string out;
  out.reserve(segment.size());
  if (segment == "." || segment == "..") {
    for (unsigned char c : segment) appendEscaped(out, c);
    return out;
  }
  for (unsigned char c : segment) {
    if (isUnreserved(c) || c == ':' || c == '@') {
      out += static_cast<char>(c);
    } else {
      appendEscaped(out, c);
    }
  }
  return out;
}

std::string percentEncodeQueryComponent(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (isUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      appendEscaped(out, c);
    }
  }
  return out;
}

std::optional<URL> URL::parse(std::string_view text) {
  const size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string_view::npos) return std::nullopt;
  std::string scheme = lowerASCII(text.substr(0, schemeEnd));
  if (scheme != "http" && scheme != "https") return std::nullopt;
  const size_t hostStart = schemeEnd + 3;
  const size_t hostEnd = std::min(text.find_first_of("/?#", hostStart), text.size());
  if (hostEnd == hostStart) return std::nullopt;
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7F) return std::nullopt;
  }
  URL url;
  url.text_ = std::string(text);
  url.scheme_ = std::move(scheme);
  url.host_ = std::string(text.substr(hostStart, hostEnd - hostStart));
  return url;
}

URL URL::appendingPathSegment(std::string_view segment) const {
  const size_t hostStart = text_.find("://") + 3;
  const size_t pathEnd = std::min(text_.find_first_of("?#", hostStart), text_.size());
  std::string head = text_.substr(0, pathEnd);
  if (head.back() != '/') head += '/';
  head += percentEncodePathSegment(segment);
  URL out = *this;
  out.text_ = head + text_.substr(pathEnd);
  return out;
}

URL URL::withQueryItems(const QueryItems& items) const {
  const size_t hostStart = text_.find("://") + 3;
  const size_t queryStart = std::min(text_.find_first_of("?#", hostStart), text_.size());
  const size_t fragmentStart = std::min(text_.find('#', hostStart), text_.size());
  std::string out = text_.substr(0, queryStart);
  for (size_t i = 0; i < items.size(); ++i) {
    out += i == 0 ? '?' : '&';
    out += percentEncodeQueryComponent(items[i].first);
    out += '=';
    out += percentEncodeQueryComponent(items[i].second);
  }
  out += text_.substr(fragmentStart);
  URL url = *this;
  url.text_ = std::move(out);
  return url;
}

}  // namespace ostrel
