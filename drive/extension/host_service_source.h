#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive/extension/token_broker.h"
#include "platform/fileprovider/domain.h"
#include "platform/fileprovider/item_identifier.h"
#include "platform/fileprovider/replicated_extension.h"
#include "platform/xpc/xpc.h"

namespace ostrel::drive {

// The one door into the extension: a file-provider service whose listener
// the host connects to. Accepted connections are handed to the token broker;
// the host's messages (attach, token updates, refresh signals) land here.
class HostServiceSource final : public fileprovider::ServiceSource,
                                public xpc::ListenerDelegate,
                                public xpc::ExportedObject,
                                public std::enable_shared_from_this<HostServiceSource> {
 public:
  using RecentContainers = std::function<std::vector<fileprovider::ItemIdentifier>()>;

  // Fails only when no listener can be made (an unsafe runtime directory).
  static std::expected<std::shared_ptr<HostServiceSource>, Error> create(std::shared_ptr<TokenBroker> broker,
                                                                         fileprovider::Domain domain,
                                                                         std::string bundleIdentifier,
                                                                         RecentContainers recentContainers);

  std::string serviceName() const override;
  std::expected<xpc::ListenerEndpoint, Error> makeListenerEndpoint() override;
  bool shouldAcceptNewConnection(std::shared_ptr<xpc::Connection> connection) override;
  void invoke(const std::string& selector, const xpc::Arguments& arguments, xpc::ReplyBlock reply) override;

  // Signals the working set, then the recent containers oldest first.
  void signalChangedEnumerators();

 private:
  HostServiceSource(std::shared_ptr<TokenBroker> broker, fileprovider::Domain domain, std::string bundleIdentifier,
                    RecentContainers recentContainers, std::shared_ptr<xpc::Listener> listener);

  std::shared_ptr<xpc::Listener> listener_;
  std::shared_ptr<TokenBroker> broker_;
  fileprovider::Domain domain_;
  std::string bundleIdentifier_;
  RecentContainers recentContainers_;
};

}  // namespace ostrel::drive
