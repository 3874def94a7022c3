#include "drive/extension/token_broker.h"

#include <condition_variable>
#include <utility>

#include "drive/model/drive_log.h"
#include "drive/shared/host_link.h"

namespace ostrel::drive {

namespace {

constexpr auto usableMargin = std::chrono::seconds(30);

Error notAuthenticated() {
  return FileProviderError::make(FileProviderError::notAuthenticated);
}

// One host answer, waited for by the asking task.
struct PendingAnswer {
  std::mutex mutex;
  std::condition_variable ready;
  std::optional<std::expected<std::pair<std::string, double>, Error>> result;

  void settle(std::expected<std::pair<std::string, double>, Error> value) {
    {
      std::lock_guard lock(mutex);
      if (result) return;
      result = std::move(value);
    }
    ready.notify_all();
  }
  bool settled() {
    std::lock_guard lock(mutex);
    return result.has_value();
  }
};

std::optional<double> number(const xpc::Argument& argument) {
  if (auto d = std::get_if<double>(&argument)) return *d;
  if (auto i = std::get_if<int64_t>(&argument)) return static_cast<double>(*i);
  return std::nullopt;
}

}  // namespace

TokenBroker::TokenBroker(Clock clock) : clock_(std::move(clock)) {}

TokenBroker::~TokenBroker() {
  close();
}

void TokenBroker::close() {
  // The connection's exported object holds this broker; closing the
  // connection lets both go.
  std::shared_ptr<xpc::Connection> connection;
  {
    std::lock_guard lock(queue_);
    connection = std::move(connection_);
  }
  if (connection) connection->invalidate();
}

Date TokenBroker::systemClock() {
  return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

bool TokenBroker::usable(const Cached& cached) const {
  return cached.expiresAt - clock_() > usableMargin;
}

void TokenBroker::attach(std::shared_ptr<xpc::Connection> connection) {
  std::shared_ptr<xpc::Connection> replaced;
  {
    std::lock_guard lock(queue_);
    if (connection_ != connection) replaced = std::exchange(connection_, connection);
  }
  if (replaced) replaced->invalidate();
  driveLog().notice("host attached pid=%{public}d", {connection ? connection->processIdentifier() : 0});
}

void TokenBroker::detach(const std::shared_ptr<xpc::Connection>& connection) {
  {
    std::lock_guard lock(queue_);
    if (connection_ && connection_ == connection) connection_.reset();
  }
  driveLog().notice("host detached");
}

void TokenBroker::store(const std::string& token, double expiresAt) {
  {
    std::lock_guard lock(queue_);
    if (token.empty()) {
      cached_.reset();
    } else {
      cached_ = Cached{token, dateFromUnixSeconds(plausibleExpiry(expiresAt))};
    }
  }
  driveLog().notice("token %{public}s by host", {token.empty() ? "cleared" : "updated"});
}

void TokenBroker::invalidate() {
  std::lock_guard lock(queue_);
  cached_.reset();
}

std::expected<std::string, Error> TokenBroker::token(std::stop_token stop) {
  std::optional<Cached> cached;
  std::shared_ptr<xpc::Connection> connection;
  {
    std::lock_guard lock(queue_);
    cached = cached_;
    connection = connection_;
  }
  if (cached && usable(*cached)) return cached->token;
  if (!connection) {
    driveLog().error("no valid token and no host attached");
    return std::unexpected(notAuthenticated());
  }

  auto answer = askHost(std::move(connection), std::move(stop));
  if (!answer) return std::unexpected(answer.error());
  store(answer->first, answer->second);
  const Cached fresh{answer->first, dateFromUnixSeconds(plausibleExpiry(answer->second))};
  if (fresh.token.empty() || !usable(fresh)) return std::unexpected(notAuthenticated());
  return fresh.token;
}

std::expected<std::pair<std::string, double>, Error> TokenBroker::askHost(std::shared_ptr<xpc::Connection> connection,
                                                                          std::stop_token stop) {
  auto pending = std::make_shared<PendingAnswer>();
  auto proxy = connection->remoteObjectProxyWithErrorHandler([pending](Error error) {
    // A request the task stopped waiting for has nobody left to tell.
    if (!pending->settled()) {
      driveLog().error("host token request failed: %{public}s", {error.localizedDescription()});
    }
    pending->settle(std::unexpected(notAuthenticated()));
  });
  if (!proxy.conformsTo(DriveHostXPC::protocolName)) return std::unexpected(notAuthenticated());
  proxy.send(DriveHostXPC::accessTokenWithReply, {}, [pending](xpc::Arguments reply) {
    const auto* token = reply.size() == 2 ? std::get_if<std::string>(&reply[0]) : nullptr;
    const auto expiresAt = reply.size() == 2 ? number(reply[1]) : std::nullopt;
    if (!token || !expiresAt) {
      pending->settle(std::unexpected(notAuthenticated()));
      return;
    }
    pending->settle(std::pair{*token, *expiresAt});
  });

  // The host answers within its own grace period or the connection breaks;
  // a cancelled task stops waiting at once.
  std::stop_callback wake(stop, [pending] { pending->settle(std::unexpected(CocoaError::make(CocoaError::userCancelled))); });
  std::unique_lock lock(pending->mutex);
  pending->ready.wait(lock, [&] { return pending->result.has_value(); });
  return std::move(*pending->result);
}

void TokenBroker::openURL(const std::string& address) {
  std::shared_ptr<xpc::Connection> connection;
  {
    std::lock_guard lock(queue_);
    connection = connection_;
  }
  if (!connection) {
    driveLog().error("openURL with no host attached");
    return;
  }
  auto proxy = connection->remoteObjectProxyWithErrorHandler(
      [](Error error) { driveLog().error("host openURL failed: %{public}s", {error.localizedDescription()}); });
  if (proxy.conformsTo(DriveHostXPC::protocolName)) proxy.send(DriveHostXPC::openURL, {address});
}

}  // namespace ostrel::drive
