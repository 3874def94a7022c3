// A date from the service or a peer: whatever parses formats back to text
// that parses to the same instant.

#include "fuzz/fuzz_target.h"
#include "platform/foundation/date.h"

using namespace ostrel;

FUZZ_TARGET(dates) {
  for (const auto& date : {parseDate(input), parseInternetDateTime(input, true), parseInternetDateTime(input, false)}) {
    if (!date) continue;
    const auto text = formatInternetDateTime(*date);
    const auto again = parseDate(text);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *date);
  }
  // The same bytes as a number of seconds, as expiries arrive.
  if (input.size() >= sizeof(double)) {
    double seconds;
    __builtin_memcpy(&seconds, input.data(), sizeof seconds);
    (void)dateFromUnixSeconds(seconds);
    (void)dateFromUnixSeconds(plausibleExpiry(seconds));
  }
}
