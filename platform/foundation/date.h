#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// An instant, to the millisecond (the precision of the service's timestamps).
using Date = std::chrono::sys_time<std::chrono::milliseconds>;

// Seconds since 1 January 1970 UTC, as tokens carry their expiry. The
// number is brought into years 1 to 9999 first; one that is not a number
// counts as 1 January 1970.
Date dateFromUnixSeconds(double seconds);
// An expiry from outside as seconds to compute with: one no real expiry can
// have (not a number, infinite, past the year 9999) counts as long past (0).
double plausibleExpiry(double seconds);
double unixSeconds(Date date);

// ISO 8601 internet date-time: 2024-03-01T09:30:00Z or ...+01:00. With
// `fractionalSeconds` a fraction of one to three digits is required,
// without it no fraction is allowed.
std::optional<Date> parseInternetDateTime(std::string_view text, bool fractionalSeconds);
// 2024-03-01T09:30:00.123Z (always UTC, always three fraction digits).
std::string formatInternetDateTime(Date date);

// The service's date reader: with fractional seconds; then with every
// fraction cut to three digits (microseconds, nanoseconds); then without
// fractional seconds.
std::optional<Date> parseDate(std::string_view text);

}  // namespace ostrel
