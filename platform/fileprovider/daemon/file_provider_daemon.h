#pragma once

#include <expected>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/fileprovider/daemon/domain_instance.h"
#include "platform/fileprovider/daemon/extension_module_linux.h"
#include "platform/fileprovider/domain_registry.h"
#include "platform/foundation/log.h"

namespace ostrel::xpc {
class Listener;
}

namespace ostrel::fileprovider {

class RegistryWatcher;
class ControlService;

// Stands in for the system's file provider: runs one extension instance per
// registered domain, follows the registry as domains come and go, and answers
// managers over the control service.
class FileProviderDaemon : public std::enable_shared_from_this<FileProviderDaemon> {
 public:
  // Fails when another daemon serves the control service already.
  static std::expected<std::shared_ptr<FileProviderDaemon>, Error> start(ExtensionModule module,
                                                                         DomainInstance::Presenter present);
  ~FileProviderDaemon();  // stops
  // Stops listening and following the registry, then stops every domain
  // (unmounting it), even one a request in flight still holds. Idempotent.
  void stop();

  // Brings the running instances in line with the registry.
  void reconcile();
  // The running instance of a registered domain, or a providerNotFound error.
  std::expected<std::shared_ptr<DomainInstance>, Error> instance(const std::string& identifier);
  std::optional<Error> setDisconnected(const std::string& identifier, bool disconnected, const std::string& reason);

 private:
  FileProviderDaemon(ExtensionModule module, DomainInstance::Presenter present);

  const ExtensionModule module_;
  const DomainInstance::Presenter present_;
  const DomainRegistry registry_;
  const Logger log_{"local.ostrel.fileproviderd", "daemon"};

  std::mutex reconcileMutex_;  // one reconciliation at a time; never taken under mutex_
  bool stopped_ = false;       // guarded by reconcileMutex_: no domain starts after stop()
  std::mutex mutex_;           // guards instances_
  std::map<std::string, std::shared_ptr<DomainInstance>> instances_;

  std::shared_ptr<ControlService> control_;
  std::shared_ptr<xpc::Listener> listener_;
  std::unique_ptr<RegistryWatcher> watcher_;
};

}  // namespace ostrel::fileprovider
