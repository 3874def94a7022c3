#include "platform/foundation/date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ostrel {
namespace {

using namespace std::chrono;

Date utc(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms = 0) {
  return Date(sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s) + milliseconds(ms));
}

struct DateCase {
  const char* text;
  std::optional<Date> expected;
};

class ParseDateTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(ParseDateTest, ReadsTheServiceFormats) {
  EXPECT_EQ(parseDate(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Readings, ParseDateTest,
    ::testing::Values(
        DateCase{"2024-03-01T09:30:00.123Z", utc(2024, 3, 1, 9, 30, 0, 123)},
        DateCase{"2024-03-01T09:30:00.5Z", utc(2024, 3, 1, 9, 30, 0, 500)},
        // Microseconds and nanoseconds are cut to milliseconds, not rounded.
        DateCase{"2024-03-01T09:30:00.123456Z", utc(2024, 3, 1, 9, 30, 0, 123)},
        DateCase{"2024-03-01T09:30:00.999999999Z", utc(2024, 3, 1, 9, 30, 0, 999)},
        // Any Unicode digit past the third counts as a further digit.
        DateCase{"2024-03-01T09:30:00.123\u0664\u0665Z", utc(2024, 3, 1, 9, 30, 0, 123)},
        DateCase{"2024-03-01T09:30:00.12\u0664Z", std::nullopt},
        DateCase{"2024-03-01T09:30:00Z", utc(2024, 3, 1, 9, 30, 0)},
        DateCase{"2024-03-01T09:30:00+01:00", utc(2024, 3, 1, 8, 30, 0)},
        DateCase{"2024-03-01T00:30:00.250-02:30", utc(2024, 3, 1, 3, 0, 0, 250)},
        DateCase{"2024-02-29T12:00:00Z", utc(2024, 2, 29, 12, 0, 0)},
        DateCase{"2024-03-01", std::nullopt},
        DateCase{"2023-02-29T12:00:00Z", std::nullopt},
        DateCase{"2024-13-01T09:30:00Z", std::nullopt},
        DateCase{"2024-03-01T24:00:00Z", std::nullopt},
        DateCase{"2024-03-01T09:30:00", std::nullopt},
        DateCase{"2024-03-01 09:30:00Z", std::nullopt},
        DateCase{"2024-03-01T09:30:00.Z", std::nullopt},
        DateCase{"2024-03-01T09:30:00Zjunk", std::nullopt},
        DateCase{"2024-03-01T09:30:00+0100", std::nullopt},
        DateCase{"", std::nullopt}));

TEST(DateTest, FormatsWhatItReads) {
  const Date date = utc(2026, 12, 8, 21, 5, 9, 42);
  EXPECT_EQ(formatInternetDateTime(date), "2026-12-08T21:05:09.042Z");
  EXPECT_EQ(parseDate(formatInternetDateTime(date)), date);
}

TEST(DateTest, NumbersFromOutsideStayWithinYearsOneTo9999) {
  const Date first = utc(1, 1, 1, 0, 0, 0, 0);
  const Date last = utc(9999, 12, 31, 23, 59, 59, 0);
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double seconds;
    Date date;
    double expiry;
  };
  for (const auto& c : {Case{-1e300, first, -62135596800.0}, Case{-1e17, first, -62135596800.0},
                        Case{-inf, first, 0}, Case{1e308, last, 0}, Case{18446744073709551616.0, last, 0},
                        Case{inf, last, 0}, Case{std::nan(""), Date{}, 0},
                        Case{-1.0, Date(milliseconds(-1000)), -1.0},
                        Case{1700000000.0, Date(milliseconds(1700000000000)), 1700000000.0}}) {
    EXPECT_EQ(dateFromUnixSeconds(c.seconds), c.date) << c.seconds;
    EXPECT_EQ(plausibleExpiry(c.seconds), c.expiry) << c.seconds;
  }
}

TEST(DateTest, UnixSecondsRoundTrip) {
  EXPECT_EQ(dateFromUnixSeconds(1700000000.25), Date(milliseconds(1700000000250)));
  EXPECT_DOUBLE_EQ(unixSeconds(dateFromUnixSeconds(1700000000.25)), 1700000000.25);
}

}  // namespace
}  // namespace ostrel
