#pragma once

#include <condition_variable>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>

#include "platform/foundation/unique_fd.h"

namespace ostrel::fileprovider {

// The bytes of a download while they arrive. Readers wait for the range they
// ask for; what they read is never more than arrived, and a download that
// fails leaves every read past what arrived failing with EIO.
class GrowingFile {
 public:
  struct Range {
    int descriptor = -1;
    size_t length = 0;
  };

  // Runs once, when the first bytes are there to read.
  void setStartHandler(std::function<void()> handler);
  // The download wrote `bytes` into `file` so far. The first call opens it:
  // renamed or removed later, the descriptor still reads the same bytes.
  void grew(const std::filesystem::path& file, uint64_t bytes);
  // The download ended, with all its bytes or failed.
  void ended(bool complete);

  bool started() const;
  bool complete() const;
  // Waits until [offset, offset + length) arrived, or the download ended (the
  // length is then what there is). EIO when it failed short of the range,
  // EINTR when `stop` fired first.
  std::expected<Range, int> read(uint64_t offset, size_t length, std::stop_token stop);

 private:
  mutable std::mutex mutex_;
  std::condition_variable_any grown_;
  std::function<void()> startHandler_;
  UniqueFd descriptor_;
  uint64_t arrived_ = 0;
  // Where each waiting reader's range ends: bytes short of all of them wake nobody.
  std::multiset<uint64_t> needs_;
  bool ended_ = false;
  bool complete_ = false;
};

}  // namespace ostrel::fileprovider
