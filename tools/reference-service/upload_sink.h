#pragma once

#include <cstdint>
#include <vector>

#include "tools/reference-service/result.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel::refsvc {

// Writes an arriving upload to its file in large pieces. A failed write is
// remembered and the rest of the body is still taken, so the client hears
// the answer instead of a broken connection.
class UploadSink {
 public:
  explicit UploadSink(UniqueFd file);

  // Always true: the body keeps being read after a failure.
  bool append(const char* data, size_t length);
  // Writes what is buffered and closes the file.
  Result<void> finish();
  uint64_t received() const { return received_; }

 private:
  void flush();

  UniqueFd file_;
  std::vector<char> buffer_;
  uint64_t received_ = 0;
  int error_ = 0;
};

}  // namespace ostrel::refsvc
