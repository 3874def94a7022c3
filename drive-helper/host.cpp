#include "drive-helper/host.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

#include "drive/shared/drive_domain_config.h"
#include "drive/shared/host_link.h"
#include "platform/fileprovider/item_identifier.h"
#include "platform/foundation/date.h"

namespace ostrel::drive::helper {

using fileprovider::Domain;

Host::Host(Parts parts) : parts_(std::move(parts)) {
  vendor_ = std::make_shared<TokenVendor>(parts_.queue, parts_.emit);
}

std::shared_ptr<Host> Host::create(Parts parts) {
  return std::shared_ptr<Host>(new Host(std::move(parts)));
}

Host::~Host() {
  // A resumed connection keeps itself alive until it ends.
  if (connection_) connection_->invalidate();
}

std::function<void()> Host::onMainQueue(std::function<void(Host&)> work) {
  return [weakSelf = weak_from_this(), queue = parts_.queue, work = std::move(work)] {
    queue->async([weakSelf, work] {
      if (auto self = weakSelf.lock()) work(*self);
    });
  };
}

void Host::emitError(std::string message) {
  parts_.emit({{"event", "error"}, {"message", std::move(message)}});
}

void Host::start() {
  status();
  connect();
  reimportIfLayoutChanged();
}

void Host::connect() {
  std::weak_ptr<Host> weakSelf = weak_from_this();
  auto queue = parts_.queue;
  parts_.manager->getService(
      driveServiceName, fileprovider::rootContainerItemIdentifier,
      [weakSelf, queue](std::shared_ptr<fileprovider::Service> service, std::optional<Error> error) {
        // The answer comes on a system thread; the back-off belongs to the main queue.
        queue->async([weakSelf, queue, service = std::move(service), error = std::move(error)] {
          auto self = weakSelf.lock();
          if (!self) return;
          if (!service) {
            self->retry("getService: " + (error ? error->localizedDescription() : std::string("no service")));
            return;
          }
          service->getFileProviderConnection(
              [weakSelf, queue](std::shared_ptr<xpc::Connection> connection, std::optional<Error> failure) {
                queue->async([weakSelf, connection = std::move(connection), failure = std::move(failure)] {
                  auto self = weakSelf.lock();
                  if (!self) {
                    if (connection) connection->invalidate();
                    return;
                  }
                  if (!connection) {
                    self->retry("connection: " + (failure ? failure->localizedDescription() : std::string("none")));
                    return;
                  }
                  self->adopt(connection);
                });
              });
        });
      });
}

void Host::adopt(std::shared_ptr<xpc::Connection> connection) {
  connection->setRemoteObjectInterface(DriveExtensionXPC::interface());
  connection->setExportedInterface(DriveHostXPC::interface());
  connection->setExportedObject(vendor_);

  // Weakly: a resumed connection keeps itself alive, and the handlers go with it.
  std::weak_ptr<xpc::Connection> weakConnection = connection;
  connection->setInvalidationHandler(onMainQueue([weakConnection](Host& self) {
    // The end of a connection that was already replaced changes nothing.
    if (!self.connection_ || weakConnection.lock() != self.connection_) return;
    self.connection_.reset();
    self.parts_.emit({{"event", "detached"}});
    self.retry(std::nullopt);
  }));
  // An interruption always ends in the invalidation path above.
  connection->setInterruptionHandler([weakConnection] {
    if (auto interrupted = weakConnection.lock()) interrupted->invalidate();
  });

  connection->resume();
  if (connection_) connection_->invalidate();
  connection_ = std::move(connection);
  backoff_ = initialBackoff;

  auto attached = onMainQueue([](Host& self) { self.parts_.emit({{"event", "attached"}}); });
  sendToExtension(DriveExtensionXPC::attachWithReply, {}, [attached](xpc::Arguments) { attached(); });
  push();
}

void Host::retry(std::optional<std::string> message) {
  if (message) emitError(std::move(*message));
  std::weak_ptr<Host> weakSelf = weak_from_this();
  parts_.queue->asyncAfter(backoff_, [weakSelf] {
    if (auto self = weakSelf.lock()) self->connect();
  });
  backoff_ = std::min(backoff_ * 2, backoffCeiling);
}

void Host::sendToExtension(const std::string& selector, xpc::Arguments arguments, xpc::ReplyBlock reply) {
  if (!connection_) return;
  auto proxy = connection_->remoteObjectProxyWithErrorHandler([](Error) {});
  // A proxy without the extension's interface is skipped without a word.
  if (!proxy.conformsTo(DriveExtensionXPC::protocolName)) return;
  proxy.send(selector, std::move(arguments), std::move(reply));
}

void Host::push() {
  // An empty token goes too, so that the extension drops a revoked one; a
  // token about to lapse does not.
  if (!connection_ || !(vendor_->usable() || vendor_->token().empty())) return;
  sendToExtension(DriveExtensionXPC::updateTokenExpiresAt, {vendor_->token(), vendor_->expiresAt()});
}

void Host::signal() {
  std::weak_ptr<Host> weakSelf = weak_from_this();
  auto queue = parts_.queue;
  parts_.manager->signalEnumerator(fileprovider::workingSetItemIdentifier, [weakSelf, queue](std::optional<Error> error) {
    if (!error) return;
    queue->async([weakSelf, description = error->localizedDescription()] {
      if (auto self = weakSelf.lock()) self->emitError("signal: " + description);
    });
  });
  sendToExtension(DriveExtensionXPC::signalChangedEnumerators);
  // At once: the system's answer to the signal may come much later.
  parts_.emit({{"event", "signalled"}});
}

void Host::status() {
  std::weak_ptr<Host> weakSelf = weak_from_this();
  auto queue = parts_.queue;
  parts_.listDomains([weakSelf, queue](std::vector<Domain> domains, std::optional<Error>) {
    queue->async([weakSelf, domains = std::move(domains)] {
      auto self = weakSelf.lock();
      if (!self) return;
      const auto found = std::ranges::find(domains, self->parts_.domainID, &Domain::identifier);
      if (found == domains.end()) return;
      self->parts_.emit({{"event", "status"}, {"user_enabled", found->userEnabled}, {"disconnected", found->disconnected}});
    });
  });
}

void Host::reimportIfLayoutChanged() {
  const std::string key = layoutReimportKey(parts_.domainID);
  const int64_t stored = parts_.defaults ? parts_.defaults->integerForKey(key) : 0;
  if (stored >= driveLayoutReimportGeneration) return;
  parts_.emit({{"event", "layout-reimport"}, {"generation", driveLayoutReimportGeneration}});
  std::weak_ptr<Host> weakSelf = weak_from_this();
  auto queue = parts_.queue;
  parts_.manager->reimportItems(fileprovider::rootContainerItemIdentifier,
                                [weakSelf, queue, key](std::optional<Error> error) {
                                  queue->async([weakSelf, key, error = std::move(error)] {
                                    auto self = weakSelf.lock();
                                    if (!self) return;
                                    if (error) {
                                      // The key stays as it was, so the next serve tries again.
                                      self->emitError("layout reimport: " + error->localizedDescription());
                                      return;
                                    }
                                    if (self->parts_.defaults) {
                                      (void)self->parts_.defaults->setInteger(driveLayoutReimportGeneration, key);
                                    }
                                    self->parts_.emit({{"event", "layout-reimported"}});
                                  });
                                });
}

void Host::receiveToken(const json::Value& message) {
  const bool wasUsable = vendor_->usable();
  const auto token = message.find("token");
  const auto expiresAt = message.find("expires_at");
  vendor_->store(token != message.end() && token->is_string() ? token->get<std::string>() : std::string(),
                 expiresAt != message.end() && expiresAt->is_number() ? plausibleExpiry(expiresAt->get<double>())
                                                                      : 0.0);
  vendor_->answerPending();
  push();
  if (vendor_->usable() && !wasUsable) signal();
}

void Host::handle(const json::Value& message) {
  if (!message.is_object()) return;
  const auto type = message.find("type");
  const std::string kind = type != message.end() && type->is_string() ? type->get<std::string>() : std::string();
  if (kind == "token") {
    receiveToken(message);
  } else if (kind == "signal") {
    signal();
  } else if (kind == "status") {
    status();
  } else if (kind == "disconnect" || kind == "reconnect") {
    auto finished = [weakSelf = weak_from_this(), queue = parts_.queue, kind](std::optional<Error> error) {
      queue->async([weakSelf, kind, error = std::move(error)] {
        auto self = weakSelf.lock();
        if (!self) return;
        if (error) self->emitError(kind + ": " + error->localizedDescription());
        self->status();
      });
    };
    if (kind == "disconnect") {
      const auto reason = message.find("reason");
      parts_.manager->disconnect(reason != message.end() && reason->is_string() ? reason->get<std::string>() : "",
                                 /*options=*/0, std::move(finished));
    } else {
      parts_.manager->reconnect(std::move(finished));
    }
  } else {
    emitError("unknown message");
  }
}

}  // namespace ostrel::drive::helper
