#include "platform/xpc/line_reader.h"

namespace ostrel::xpc {

std::optional<std::string> LineReader::next() {
  if (overflowed_) return std::nullopt;
  size_t newline = buffer_.find('\n', scanned_);
  if (newline == std::string::npos) {
    scanned_ = buffer_.size();
    overflowed_ = buffer_.size() - start_ > maxLineBytes_;
    return std::nullopt;
  }
  if (newline - start_ > maxLineBytes_) {
    overflowed_ = true;
    return std::nullopt;
  }
  std::string line = buffer_.substr(start_, newline - start_);
  start_ = scanned_ = newline + 1;
  // Drop consumed bytes once they dominate, keeping appends amortised O(1).
  if (start_ > buffer_.size() / 2) {
    buffer_.erase(0, start_);
    scanned_ -= start_;
    start_ = 0;
  }
  return line;
}

}  // namespace ostrel::xpc
