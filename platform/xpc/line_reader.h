#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::xpc {

// Splits a byte stream into newline-terminated lines, refusing lines longer
// than a limit before they are buffered whole.
class LineReader {
 public:
  explicit LineReader(size_t maxLineBytes) : maxLineBytes_(maxLineBytes) {}

  void append(std::string_view bytes) { buffer_.append(bytes); }
  // The next complete line without its newline; nullopt until more bytes
  // arrive, and for good once a line has overflowed.
  std::optional<std::string> next();
  bool overflowed() const { return overflowed_; }

 private:
  size_t maxLineBytes_;
  std::string buffer_;
  size_t start_ = 0;    // first byte not yet returned
  size_t scanned_ = 0;  // bytes before this hold no newline
  bool overflowed_ = false;
};

}  // namespace ostrel::xpc
