#include "drive/extension/host_service_source.h"

#include "drive/shared/host_link.h"
#include "platform/fileprovider/manager.h"

namespace ostrel::drive {

HostServiceSource::HostServiceSource(std::shared_ptr<TokenBroker> broker, fileprovider::Domain domain,
                                     std::string bundleIdentifier, RecentContainers recentContainers,
                                     std::shared_ptr<xpc::Listener> listener)
    : listener_(std::move(listener)),
      broker_(std::move(broker)),
      domain_(std::move(domain)),
      bundleIdentifier_(std::move(bundleIdentifier)),
      recentContainers_(std::move(recentContainers)) {}

std::expected<std::shared_ptr<HostServiceSource>, Error> HostServiceSource::create(std::shared_ptr<TokenBroker> broker,
                                                                                   fileprovider::Domain domain,
                                                                                   std::string bundleIdentifier,
                                                                                   RecentContainers recentContainers) {
  auto listener = xpc::Listener::anonymous();
  if (!listener) return std::unexpected(listener.error());
  std::shared_ptr<HostServiceSource> source(new HostServiceSource(
      std::move(broker), std::move(domain), std::move(bundleIdentifier), std::move(recentContainers), *listener));
  source->listener_->setDelegate(source);
  source->listener_->resume();
  return source;
}

std::string HostServiceSource::serviceName() const {
  return driveServiceName;
}

std::expected<xpc::ListenerEndpoint, Error> HostServiceSource::makeListenerEndpoint() {
  return listener_->endpoint();
}

bool HostServiceSource::shouldAcceptNewConnection(std::shared_ptr<xpc::Connection> connection) {
  connection->setExportedInterface(DriveExtensionXPC::interface());
  connection->setExportedObject(shared_from_this());
  connection->setRemoteObjectInterface(DriveHostXPC::interface());
  std::weak_ptr<HostServiceSource> weakSelf = weak_from_this();
  std::weak_ptr<xpc::Connection> weakConnection = connection;
  connection->setInvalidationHandler([weakSelf, weakConnection] {
    auto self = weakSelf.lock();
    auto ended = weakConnection.lock();
    if (self && ended) self->broker_->detach(ended);
  });
  // Attached before it runs, so that the host's first answer already finds
  // the broker knowing its connection.
  broker_->attach(connection);
  connection->resume();
  return true;
}

void HostServiceSource::invoke(const std::string& selector, const xpc::Arguments& arguments, xpc::ReplyBlock reply) {
  if (selector == DriveExtensionXPC::attachWithReply) {
    if (reply) reply({bundleIdentifier_});
  } else if (selector == DriveExtensionXPC::updateTokenExpiresAt && arguments.size() == 2) {
    const auto* token = std::get_if<std::string>(&arguments[0]);
    std::optional<double> expiresAt;
    if (auto d = std::get_if<double>(&arguments[1])) expiresAt = *d;
    if (auto i = std::get_if<int64_t>(&arguments[1])) expiresAt = static_cast<double>(*i);
    if (token && expiresAt) broker_->store(*token, *expiresAt);
  } else if (selector == DriveExtensionXPC::signalChangedEnumerators) {
    signalChangedEnumerators();
  }
}

void HostServiceSource::signalChangedEnumerators() {
  auto manager = fileprovider::managerForDomain(domain_);
  if (!manager) return;
  manager->signalEnumerator(fileprovider::workingSetItemIdentifier, [](std::optional<Error>) {});
  for (const auto& container : recentContainers_()) {
    manager->signalEnumerator(container, [](std::optional<Error>) {});
  }
}

}  // namespace ostrel::drive
