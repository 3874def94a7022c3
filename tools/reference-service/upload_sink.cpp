#include "tools/reference-service/upload_sink.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace ostrel::refsvc {

namespace {

constexpr size_t pieceSize = 256 * 1024;

}  // namespace

UploadSink::UploadSink(UniqueFd file) : file_(std::move(file)) {
  buffer_.reserve(pieceSize);
}

bool UploadSink::append(const char* data, size_t length) {
  received_ += length;
  if (error_ != 0) return true;
  while (length > 0) {
    const size_t take = std::min(length, pieceSize - buffer_.size());
    buffer_.insert(buffer_.end(), data, data + take);
    data += take;
    length -= take;
    if (buffer_.size() == pieceSize) flush();
  }
  return true;
}

void UploadSink::flush() {
  size_t done = 0;
  while (error_ == 0 && done < buffer_.size()) {
    const ssize_t written = ::write(file_.get(), buffer_.data() + done, buffer_.size() - done);
    if (written < 0) {
      if (errno != EINTR) error_ = errno;
      continue;
    }
    done += static_cast<size_t>(written);
  }
  buffer_.clear();
}

Result<void> UploadSink::finish() {
  flush();
  if (!file_.close() && error_ == 0) error_ = errno;
  if (error_ != 0) return storageFailure(std::string("cannot write the upload: ") + std::strerror(error_));
  return {};
}

}  // namespace ostrel::refsvc
