#include "tools/reference-service/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace ostrel::refsvc {

Micros nowMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

std::string formatTimestamp(Micros at) {
  Micros seconds = at / microsPerSecond;
  Micros fraction = at % microsPerSecond;
  if (fraction < 0) {
    fraction += microsPerSecond;
    seconds -= 1;
  }
  const std::time_t whole = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&whole, &parts);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<long long>(fraction));
  return text;
}

}  // namespace ostrel::refsvc
