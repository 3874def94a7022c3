#pragma once

#include <expected>
#include <stop_token>
#include <string>

#include "platform/foundation/error.h"

namespace ostrel::drive {

// Where the service client gets the partner's access token.
class TokenSource {
 public:
  virtual ~TokenSource() = default;
  // Blocks until a token is at hand; fails with the source's own error
  // (not authenticated, or cancelled when `stop` is requested).
  virtual std::expected<std::string, Error> token(std::stop_token stop) = 0;
  // Drops the cached token: the service rejected it.
  virtual void invalidate() = 0;
};

}  // namespace ostrel::drive
