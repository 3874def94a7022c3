#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/fileprovider/daemon/extension_module_linux.h"
#include "platform/fileprovider/daemon/working_set_follower.h"
#include "platform/fileprovider/domain.h"
#include "platform/fileprovider/domain_storage.h"
#include "platform/fileprovider/fuse/domain_mount.h"
#include "platform/fileprovider/manager.h"
#include "platform/fileprovider/replicated_extension.h"
#include "platform/xpc/endpoint.h"

namespace ostrel::fileprovider {


// One registered domain as the daemon runs it: its extension, its storage,
// the working-set follower and, with a mount root, its FUSE mount.
class DomainInstance {
 public:
  // Presents the running extension to the user; nothing when the daemon
  // shows no mounts.
  using Presenter = std::function<std::expected<std::unique_ptr<DomainMount>, Error>(
      std::shared_ptr<ReplicatedExtension>, const Domain&, const DomainStorage&)>;

  static std::expected<std::unique_ptr<DomainInstance>, Error> start(const ExtensionModule& module, Domain domain,
                                                                     const Presenter& present);
  ~DomainInstance();  // stops
  // Stops following, unmounts and invalidates the extension, even while
  // requests still hold the instance; later requests do nothing. Idempotent.
  void stop();

  const Domain& domain() const { return domain_; }

  // getServiceWithName:itemIdentifier: the endpoint of the extension's named
  // service source on the item; nothing when it offers none.
  void serviceEndpoint(const ItemIdentifier& item, const std::string& name,
                       std::function<void(std::optional<xpc::ListenerEndpoint>, std::optional<Error>)> completion);
  void signalEnumerator(const ItemIdentifier& container);
  void reimportItems(const ItemIdentifier& below);
  // What the mount holds that the service does not have yet.
  std::vector<DomainMount::UnsentEdit> unsentEdits();

 private:
  DomainInstance(Domain domain, DomainStorage storage, std::shared_ptr<ReplicatedExtension> extension);

  const Domain domain_;
  const DomainStorage storage_;
  const std::shared_ptr<ReplicatedExtension> extension_;
  std::mutex mutex_;  // guards the two below; never held while they work
  std::shared_ptr<DomainMount> mount_;
  std::shared_ptr<WorkingSetFollower> follower_;
};

}  // namespace ostrel::fileprovider
