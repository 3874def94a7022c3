#pragma once

#include <chrono>
#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

enum class LogLevel { Default, Error, Fault };

std::string_view logLevelName(LogLevel level);

struct LogRecord {
  std::chrono::system_clock::time_point time;
  std::string subsystem;
  std::string category;
  LogLevel level;
  std::string message;
};

// Where log records go. The process has one active sink at a time.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void write(const LogRecord& record) = 0;
};

// The text with every control character written as an escape (`\n`, `\r`,
// `\t`, `\u001b`), so that a record stays one line whatever its arguments hold.
std::string escapeControlCharacters(std::string_view text);

// Replaces the process's sink; returns the previous one. nullptr restores the
// default sink (a log file under $OSTREL_HOME/Logs plus standard error).
std::shared_ptr<LogSink> setLogSink(std::shared_ptr<LogSink> sink);

// One argument of a log message. Every argument is public.
class LogArg {
 public:
  LogArg(std::string_view text) : text_(text) {}
  LogArg(const std::string& text) : text_(text) {}
  LogArg(const char* text) : text_(text ? text : "(null)") {}
  template <std::integral T>
  LogArg(T value) : text_(std::to_string(value)) {}
  LogArg(double value);
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// Expands an os_log style format: each conversion ("%{public}s", "%ld",
// "%{public}d", ...) takes the next argument; "%%" is a percent sign.
std::string formatLogMessage(std::string_view format, const std::vector<LogArg>& args);

// A logger for one subsystem and category, as the unified log has them.
class Logger {
 public:
  Logger(std::string subsystem, std::string category)
      : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

  void log(LogLevel level, std::string_view format, std::vector<LogArg> args = {}) const;
  void notice(std::string_view format, std::vector<LogArg> args = {}) const {
    log(LogLevel::Default, format, std::move(args));
  }
  void error(std::string_view format, std::vector<LogArg> args = {}) const {
    log(LogLevel::Error, format, std::move(args));
  }
  void fault(std::string_view format, std::vector<LogArg> args = {}) const {
    log(LogLevel::Fault, format, std::move(args));
  }

  const std::string& subsystem() const { return subsystem_; }
  const std::string& category() const { return category_; }

 private:
  std::string subsystem_;
  std::string category_;
};

}  // namespace ostrel
