#include "platform/foundation/testing/log_capture.h"

namespace ostrel::testing {

class LogCapture::Sink final : public LogSink {
 public:
  void write(const LogRecord& record) override {
    std::lock_guard lock(mutex);
    records.push_back(record);
  }
  mutable std::mutex mutex;
  std::vector<LogRecord> records;
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()) {
  previous_ = setLogSink(sink_);
}

LogCapture::~LogCapture() {
  setLogSink(std::move(previous_));
}

std::vector<LogRecord> LogCapture::records() const {
  std::lock_guard lock(sink_->mutex);
  return sink_->records;
}

std::vector<std::string> LogCapture::messages(LogLevel level) const {
  std::vector<std::string> out;
  for (const auto& record : records()) {
    if (record.level == level) out.push_back(record.message);
  }
  return out;
}

void LogCapture::clear() {
  std::lock_guard lock(sink_->mutex);
  sink_->records.clear();
}

}  // namespace ostrel::testing
