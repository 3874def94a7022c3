#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

#include "drive/client/token_source.h"
#include "platform/foundation/date.h"
#include "platform/xpc/connection.h"

namespace ostrel::drive {

// The extension's source of access tokens. The extension holds no
// credentials: tokens come from the attached host (the helper), which pushes
// them or answers a request for one.
class TokenBroker final : public TokenSource {
 public:
  using Clock = std::function<Date()>;

  explicit TokenBroker(Clock clock = systemClock);
  ~TokenBroker() override;

  // A host connection was accepted; a second one replaces and closes the first.
  void attach(std::shared_ptr<xpc::Connection> connection);
  // A connection ended; only the current one is cleared.
  void detach(const std::shared_ptr<xpc::Connection>& connection);
  // A token from the host; the empty token clears the cache.
  void store(const std::string& token, double expiresAt);
  void invalidate() override;
  // The cached token while more than 30 s of it remain; else asks the host
  // and waits for its answer (or for the connection to break).
  std::expected<std::string, Error> token(std::stop_token stop) override;
  // Hands an address to the host to open; never fails towards the caller.
  void openURL(const std::string& address);
  // Closes the current host connection, when the extension goes away.
  void close();

  static Date systemClock();

 private:
  struct Cached {
    std::string token;
    Date expiresAt;
  };
  bool usable(const Cached& cached) const;
  std::expected<std::pair<std::string, double>, Error> askHost(std::shared_ptr<xpc::Connection> connection,
                                                               std::stop_token stop);

  Clock clock_;
  // The serial queue: guards connection_ and cached_, never held while
  // waiting for the host.
  std::mutex queue_;
  std::shared_ptr<xpc::Connection> connection_;
  std::optional<Cached> cached_;
};

}  // namespace ostrel::drive
