#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/log.h"

namespace ostrel::testing {

// Captures every log record while alive, instead of the default sink.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogRecord> records() const;
  // Messages at the given level, in the order they were logged.
  std::vector<std::string> messages(LogLevel level) const;
  void clear();

 private:
  class Sink;
  std::shared_ptr<Sink> sink_;
  std::shared_ptr<LogSink> previous_;
};

}  // namespace ostrel::testing
