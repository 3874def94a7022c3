#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel {

using QueryItems = std::vector<std::pair<std::string, std::string>>;

// An absolute http or https address.
class URL {
 public:
  URL() = default;  // empty: every request to it fails
  static std::optional<URL> parse(std::string_view text);

  const std::string& string() const { return text_; }
  const std::string& scheme() const { return scheme_; }
  const std::string& host() const { return host_; }  // with the port, if any

  // Appends one path segment. The segment is percent-encoded so that it
  // stays one segment whatever it holds ("/", "?", "#", "%", "." and "..").
  URL appendingPathSegment(std::string_view segment) const;
  // Replaces the query with the given items, in order (none: no query).
  URL withQueryItems(const QueryItems& items) const;

  friend bool operator==(const URL& a, const URL& b) { return a.text_ == b.text_; }

 private:
  std::string text_;
  std::string scheme_;
  std::string host_;
};

// Percent-encodes everything but unreserved characters, ":" and "@";
// "." and ".." are encoded whole so that no segment can climb the path.
std::string percentEncodePathSegment(std::string_view segment);
// Percent-encodes everything but unreserved characters.
std::string percentEncodeQueryComponent(std::string_view text);

}  // namespace ostrel
