#pragma once

#include <mutex>
#include <optional>

#include "drive/client/token_source.h"

namespace ostrel::drive {

// Hands out "t1", "t2", ... and counts what the client asks of it.
class CountingTokens final : public TokenSource {
 public:
  std::expected<std::string, Error> token(std::stop_token) override {
    std::lock_guard lock(mutex_);
    ++requests_;
    if (failure_) return std::unexpected(*failure_);
    return "t" + std::to_string(requests_);
  }
  void invalidate() override {
    std::lock_guard lock(mutex_);
    ++invalidations_;
  }
  void failWith(Error error) {
    std::lock_guard lock(mutex_);
    failure_ = std::move(error);
  }
  int requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  int invalidations() const {
    std::lock_guard lock(mutex_);
    return invalidations_;
  }

 private:
  mutable std::mutex mutex_;
  int requests_ = 0;
  int invalidations_ = 0;
  std::optional<Error> failure_;
};

}  // namespace ostrel::drive
