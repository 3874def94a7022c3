#include "platform/fileprovider/fuse/growing_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace ostrel::fileprovider {

void GrowingFile::setStartHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  startHandler_ = std::move(handler);
}

void GrowingFile::grew(const std::filesystem::path& file, uint64_t bytes) {
  std::function<void()> started;
  bool wakes = false;
  {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    if (!descriptor_) {
      descriptor_.reset(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
      if (!descriptor_) return;
      started = std::move(startHandler_);
    }
    arrived_ = std::max(arrived_, bytes);
    wakes = !needs_.empty() && arrived_ >= *needs_.begin();
  }
  if (wakes) grown_.notify_all();
  if (started) started();
}

void GrowingFile::ended(bool complete) {
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    complete_ = complete && descriptor_.valid();
  }
  grown_.notify_all();
}

bool GrowingFile::started() const {
  std::lock_guard lock(mutex_);
  return descriptor_.valid();
}

bool GrowingFile::complete() const {
  std::lock_guard lock(mutex_);
  return complete_;
}

std::expected<GrowingFile::Range, int> GrowingFile::read(uint64_t offset, size_t length, std::stop_token stop) {
  std::unique_lock lock(mutex_);
  const auto need = needs_.insert(offset + length);
  grown_.wait(lock, stop, [&] { return ended_ || arrived_ >= offset + length; });
  needs_.erase(need);
  if (arrived_ >= offset + length) return Range{descriptor_.get(), length};
  if (!ended_) return std::unexpected(EINTR);
  if (!complete_) return std::unexpected(EIO);
  // The whole file is here and ends inside the range.
  if (complete_ && descriptor_.valid()) {
    struct stat status {};
    const uint64_t size = ::fstat(descriptor_.get(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : arrived_;
    return Range{descriptor_.get(), offset >= size ? 0 : static_cast<size_t>(std::min<uint64_t>(length, size - offset))};
  }
  return std::unexpected(EIO);
}

}  // namespace ostrel::fileprovider
