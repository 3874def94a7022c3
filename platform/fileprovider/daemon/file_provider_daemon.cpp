#include "platform/fileprovider/daemon/file_provider_daemon.h"

#include <set>
#include <vector>

#include "platform/fileprovider/control_protocol.h"
#include "platform/fileprovider/daemon/control_service.h"
#include "platform/fileprovider/daemon/registry_watcher_linux.h"
#include "platform/fileprovider/domain_storage.h"
#include "platform/xpc/listener.h"

namespace ostrel::fileprovider {

namespace {
Error unknownDomain(const std::string& identifier) {
  return FileProviderError::make(FileProviderError::providerNotFound,
                                 "no domain \"" + identifier + "\" is registered");
}
}  // namespace

std::expected<std::shared_ptr<FileProviderDaemon>, Error> FileProviderDaemon::start(
    ExtensionModule module, DomainInstance::Presenter present) {
  std::shared_ptr<FileProviderDaemon> daemon(new FileProviderDaemon(std::move(module), std::move(present)));
  auto listener = xpc::Listener::forService(control::serviceName);
  if (!listener) return std::unexpected(listener.error());
  daemon->control_ = std::make_shared<ControlService>(daemon);
  std::weak_ptr<FileProviderDaemon> weak = daemon;
  auto watcher = RegistryWatcher::start(fileProviderHome(), [weak] {
    if (auto live = weak.lock()) live->reconcile();
  });
  if (!watcher) return std::unexpected(watcher.error());
  daemon->watcher_ = std::move(*watcher);
  daemon->reconcile();
  // Managers are answered only once the registered domains run.
  daemon->listener_ = std::move(*listener);
  daemon->listener_->setDelegate(daemon->control_);
  daemon->listener_->resume();
  daemon->log_.notice("serving %{public}s with %{public}s",
                      {std::string(control::serviceName), daemon->module_.bundlePath().string()});
  return daemon;
}

FileProviderDaemon::FileProviderDaemon(ExtensionModule module, DomainInstance::Presenter present)
    : module_(std::move(module)), present_(std::move(present)), registry_(DomainRegistry::system()) {}

FileProviderDaemon::~FileProviderDaemon() {
  stop();
}

void FileProviderDaemon::stop() {
  if (listener_) listener_->invalidate();
  watcher_.reset();
  std::map<std::string, std::shared_ptr<DomainInstance>> stopping;
  {
    std::lock_guard reconciling(reconcileMutex_);
    stopped_ = true;
    std::lock_guard lock(mutex_);
    stopping.swap(instances_);
  }
  for (auto& [identifier, instance] : stopping) instance->stop();
}

void FileProviderDaemon::reconcile() {
  std::vector<std::shared_ptr<DomainInstance>> stopped;  // released after the locks
  std::lock_guard reconciling(reconcileMutex_);
  if (stopped_) return;
  auto domains = registry_.domains();
  if (!domains) {
    log_.error("cannot read the domain registry: %{public}s", {domains.error().localizedDescription()});
    return;
  }
  std::set<std::string> registered;
  for (const auto& domain : *domains) {
    registered.insert(domain.identifier);
    {
      std::lock_guard lock(mutex_);
      if (instances_.contains(domain.identifier)) continue;
    }
    auto started = DomainInstance::start(module_, domain, present_);
    if (!started) {
      log_.error("domain %{public}s cannot start: %{public}s",
                 {domain.identifier, started.error().localizedDescription()});
      continue;
    }
    std::lock_guard lock(mutex_);
    instances_.emplace(domain.identifier, std::move(*started));
  }
  std::lock_guard lock(mutex_);
  for (auto it = instances_.begin(); it != instances_.end();) {
    if (registered.contains(it->first)) {
      ++it;
    } else {
      stopped.push_back(std::move(it->second));
      it = instances_.erase(it);
    }
  }
}

std::expected<std::shared_ptr<DomainInstance>, Error> FileProviderDaemon::instance(const std::string& identifier) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    {
      std::lock_guard lock(mutex_);
      if (auto it = instances_.find(identifier); it != instances_.end()) return it->second;
    }
    // A domain registered a moment ago may not have been noticed yet.
    if (attempt == 0) reconcile();
  }
  return std::unexpected(unknownDomain(identifier));
}

std::optional<Error> FileProviderDaemon::setDisconnected(const std::string& identifier, bool disconnected,
                                                        const std::string& reason) {
  auto changed = registry_.setDisconnected(identifier, disconnected);
  if (!changed) return changed.error();
  if (!*changed) return unknownDomain(identifier);
  if (disconnected) {
    log_.notice("domain %{public}s disconnected: %{public}s", {identifier, reason});
  } else {
    log_.notice("domain %{public}s reconnected", {identifier});
  }
  return std::nullopt;
}

}  // namespace ostrel::fileprovider
