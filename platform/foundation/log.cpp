#include "platform/foundation/log.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>

#include "platform/foundation/paths.h"

namespace ostrel {

std::string_view logLevelName(LogLevel level) {
  switch (level) {
    case LogLevel::Default: return "default";
    case LogLevel::Error: return "error";
    case LogLevel::Fault: return "fault";
  }
  return "default";
}

LogArg::LogArg(double value) {
  std::ostringstream out;
  out << value;
  text_ = out.str();
}

std::string formatLogMessage(std::string_view format, const std::vector<LogArg>& args) {
  std::string out;
  out.reserve(format.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    size_t j = i + 1;
    if (j < format.size() && format[j] == '%') {
      out += '%';
      i = j;
      continue;
    }
    if (j < format.size() && format[j] == '{') {
      size_t close = format.find('}', j);
      if (close == std::string_view::npos) {
        out += format.substr(i);
        break;
      }
      j = close + 1;
    }
    while (j < format.size() && (format[j] == 'l' || format[j] == 'z' || format[j] == 'h' || format[j] == 'q')) ++j;
    if (j >= format.size()) {
      out += format.substr(i);
      break;
    }
    out += next < args.size() ? args[next].text() : std::string("<missing>");
    ++next;
    i = j;
  }
  return out;
}

std::string escapeControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    }
  }
  return out;
}

namespace {

std::string timestamp(std::chrono::system_clock::time_point time) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
  return buffer;
}

// Writes each record to standard error and appends it to
// $OSTREL_HOME/Logs/<subsystem>.log (the file is opened on first use).
class DefaultSink final : public LogSink {
 public:
  void write(const LogRecord& record) override {
    // What arguments bring from outside (a service, a peer) cannot start a record of its own.
    std::string line = escapeControlCharacters(timestamp(record.time) + " " + record.subsystem + "[" +
                                               record.category + "] " + std::string(logLevelName(record.level)) +
                                               ": " + record.message) +
                       "\n";
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::ofstream& file = fileFor(record.subsystem);
    if (file) {
      file << line;
      file.flush();
    }
  }

 private:
  std::ofstream& fileFor(const std::string& subsystem) {
    if (subsystem != openSubsystem_) {
      file_.close();
      std::error_code ignored;
      auto dir = ostrelHome() / "Logs";
      std::filesystem::create_directories(dir, ignored);
      file_.open(dir / (subsystem + ".log"), std::ios::app);
      openSubsystem_ = subsystem;
    }
    return file_;
  }

  std::mutex mutex_;
  std::ofstream file_;
  std::string openSubsystem_;
};

struct SinkSlot {
  std::mutex mutex;
  std::shared_ptr<LogSink> sink;
};

// Never destroyed: detached task threads may still log while the process exits.
SinkSlot& slot() {
  static SinkSlot* instance = new SinkSlot;
  return *instance;
}

std::shared_ptr<LogSink> currentSink() {
  auto& s = slot();
  std::lock_guard lock(s.mutex);
  if (!s.sink) s.sink = std::make_shared<DefaultSink>();
  return s.sink;
}

}  // namespace

std::shared_ptr<LogSink> setLogSink(std::shared_ptr<LogSink> sink) {
  auto& s = slot();
  std::lock_guard lock(s.mutex);
  auto previous = std::move(s.sink);
  s.sink = std::move(sink);
  return previous;
}

void Logger::log(LogLevel level, std::string_view format, std::vector<LogArg> args) const {
  LogRecord record{std::chrono::system_clock::now(), subsystem_, category_, level, formatLogMessage(format, args)};
  currentSink()->write(record);
}

}  // namespace ostrel
