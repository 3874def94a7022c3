#include "platform/foundation/date.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/foundation/text.h"

namespace ostrel {

using namespace std::chrono;

namespace {

constexpr double earliestSeconds = -62135596800.0;  // 0001-01-01T00:00:00Z
constexpr double latestSeconds = 253402300799.0;    // 9999-12-31T23:59:59Z

}  // namespace

Date dateFromUnixSeconds(double seconds) {
  const double clamped = std::isnan(seconds) ? 0.0 : std::clamp(seconds, earliestSeconds, latestSeconds);
  return Date(milliseconds(static_cast<long long>(std::llround(clamped * 1000.0))));
}

double plausibleExpiry(double seconds) {
  if (!std::isfinite(seconds) || seconds > latestSeconds) return 0.0;
  return std::max(seconds, earliestSeconds);
}

double unixSeconds(Date date) {
  return static_cast<double>(date.time_since_epoch().count()) / 1000.0;
}

namespace {

class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool digits(size_t count, int& out) {
    if (pos_ + count > text_.size()) return false;
    int value = 0;
    for (size_t i = 0; i < count; ++i) {
      char c = text_[pos_ + i];
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    pos_ += count;
    out = value;
    return true;
  }
  bool literal(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  std::optional<char> peek() const { return pos_ < text_.size() ? std::optional(text_[pos_]) : std::nullopt; }
  bool atEnd() const { return pos_ == text_.size(); }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

std::optional<Date> parseInternetDateTime(std::string_view text, bool fractionalSeconds) {
  Cursor in(text);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (!(in.digits(4, y) && in.literal('-') && in.digits(2, mo) && in.literal('-') && in.digits(2, d) &&
        in.literal('T') && in.digits(2, h) && in.literal(':') && in.digits(2, mi) && in.literal(':') &&
        in.digits(2, s))) {
    return std::nullopt;
  }
  int millis = 0;
  if (fractionalSeconds) {
    if (!in.literal('.')) return std::nullopt;
    int places = 0;
    int digit = 0;
    while (places < 3 && in.digits(1, digit)) {
      millis = millis * 10 + digit;
      ++places;
    }
    if (places == 0) return std::nullopt;
    for (; places < 3; ++places) millis *= 10;
  }
  int offsetMinutes = 0;
  if (!in.literal('Z')) {
    auto sign = in.peek();
    if (sign != '+' && sign != '-') return std::nullopt;
    in.literal(*sign);
    int oh = 0, om = 0;
    if (!(in.digits(2, oh) && in.literal(':') && in.digits(2, om)) || oh > 23 || om > 59) return std::nullopt;
    offsetMinutes = (oh * 60 + om) * (*sign == '-' ? -1 : 1);
  }
  if (!in.atEnd()) return std::nullopt;

  year_month_day date{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
  if (!date.ok() || h > 23 || mi > 59 || s > 59) return std::nullopt;
  auto local = sys_days(date) + hours(h) + minutes(mi) + seconds(s) + milliseconds(millis);
  return Date(local - minutes(offsetMinutes));
}

std::string formatInternetDateTime(Date date) {
  auto days = floor<std::chrono::days>(date);
  year_month_day ymd(days);
  hh_mm_ss time(date - days);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02ld:%02ld:%02lld.%03lldZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                static_cast<long long>(time.seconds().count()), static_cast<long long>(time.subseconds().count()));
  return buffer;
}

namespace {

bool isASCII(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Replaces every match of (\.\d{3})\d+ with its group: a point and its first
// three digits stay, further digits go. On ASCII text, where \d is [0-9],
// this is what the regular expression does, without its cost.
std::string cutLongFractions(std::string_view text) {
  if (!isASCII(text)) {
    static const auto longFraction = Regex::create(R"re((\.\d{3})\d+)re");
    return longFraction ? longFraction->replacingMatches(text, "$1") : std::string(text);
  }
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '.' && i + 4 < text.size() && isDigit(text[i + 1]) && isDigit(text[i + 2]) &&
        isDigit(text[i + 3]) && isDigit(text[i + 4])) {
      out.append(text.substr(i, 4));
      i += 4;
      while (i < text.size() && isDigit(text[i])) ++i;
    } else {
      out += text[i++];
    }
  }
  return out;
}

}  // namespace

std::optional<Date> parseDate(std::string_view text) {
  if (auto date = parseInternetDateTime(text, true)) return date;
  if (auto date = parseInternetDateTime(cutLongFractions(text), true)) return date;
  return parseInternetDateTime(text, false);
}

}  // namespace ostrel
