#include "tools/reference-service/routes.h"

namespace ostrel::refsvc {

Reply dispatch(const std::vector<Route>& routes, Service& service, Incoming& incoming,
               std::span<const std::string> segments) {
  bool shapeFits = false;
  for (const auto& route : routes) {
    if (route.pattern.size() != segments.size()) continue;
    Captures captures;
    bool fits = true;
    for (size_t i = 0; i < segments.size() && fits; ++i) {
      if (route.pattern[i] == "*") {
        captures.push_back(segments[i]);
      } else {
        fits = route.pattern[i] == segments[i];
      }
    }
    if (!fits) continue;
    shapeFits = true;
    if (route.method == incoming.method()) return route.handler(service, incoming, captures);
  }
  if (shapeFits) return Reply::error(405, "method_not_allowed", incoming.method() + " is not served here.");
  return Reply::error(404, "not_found", "Nothing is served at this address.");
}

}  // namespace ostrel::refsvc
