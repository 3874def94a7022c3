// An address from the service (content and upload locations, web links):
// what parses keeps its text.

#include "fuzz/fuzz_target.h"
#include "platform/foundation/url.h"

using namespace ostrel;

FUZZ_TARGET(url) {
  const auto url = URL::parse(input);
  if (!url) return;
  FUZZ_CHECK(url->string() == input);
  const auto again = URL::parse(url->string());
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(*again == *url);
  FUZZ_CHECK(again->scheme() == url->scheme() && again->host() == url->host());
  // Identifiers from the service become path segments and query values.
  const auto longer = url->appendingPathSegment(input).withQueryItems({{std::string(input), std::string(input)}});
  const auto reread = URL::parse(longer.string());
  FUZZ_CHECK(reread.has_value());
  FUZZ_CHECK(reread->host() == url->host());
}
