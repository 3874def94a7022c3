#include "platform/fileprovider/daemon/domain_instance.h"

#include <system_error>

#include "platform/fileprovider/fuse/domain_mount.h"
#include "platform/foundation/log.h"

namespace ostrel::fileprovider {

namespace {
const Logger& daemonLog() {
  static const Logger* log = new Logger("local.ostrel.fileproviderd", "domains");
  return *log;
}
}  // namespace

std::expected<std::unique_ptr<DomainInstance>, Error> DomainInstance::start(const ExtensionModule& module,
                                                                            Domain domain,
                                                                            const Presenter& present) {
  auto storage = DomainStorage::forDomain(domain.identifier);
  if (!storage) {
    return std::unexpected(FileProviderError::make(FileProviderError::providerNotFound,
                                                   "\"" + domain.identifier + "\" cannot name a domain"));
  }
  std::error_code ec;
  for (const auto& directory : {storage->temporaryDirectory(), storage->contentsDirectory(),
                                storage->localOnlyDirectory()}) {
    std::filesystem::create_directories(directory, ec);
    if (ec) return std::unexpected(POSIXError::make(ec.value()));
  }
  auto extension = module.makeExtension(domain);
  if (!extension) {
    return std::unexpected(FileProviderError::make(FileProviderError::providerNotFound,
                                                   "the extension made no instance for " + domain.identifier));
  }
  std::unique_ptr<DomainInstance> instance(new DomainInstance(domain, *storage, extension));
  if (present) {
    auto mount = present(extension, domain, *storage);
    // The domain still serves its host without a mount; the log says why it has none.
    if (mount) {
      instance->mount_ = std::move(*mount);
    } else {
      daemonLog().error("domain %{public}s is not mounted: %{public}s",
                        {domain.identifier, mount.error().localizedDescription()});
    }
  }
  DomainMount* mount = instance->mount_.get();
  instance->follower_ = std::make_shared<WorkingSetFollower>(
      extension, WorkingSetFollower::Sink{
                     .applyChanges =
                         [mount](std::vector<ItemPtr> updated, std::vector<ItemIdentifier> deleted) {
                           if (mount) mount->applyChanges(std::move(updated), std::move(deleted));
                         },
                     .forgetAll =
                         [mount] {
                           if (mount) mount->forgetBelow(rootContainerItemIdentifier);
                         },
                     .reachable =
                         [mount] {
                           if (mount) mount->serviceReachable();
                         },
                 });
  daemonLog().notice("domain %{public}s started", {domain.identifier});
  return instance;
}

DomainInstance::DomainInstance(Domain domain, DomainStorage storage, std::shared_ptr<ReplicatedExtension> extension)
    : domain_(std::move(domain)), storage_(std::move(storage)), extension_(std::move(extension)) {}

DomainInstance::~DomainInstance() {
  stop();
}

void DomainInstance::stop() {
  std::shared_ptr<WorkingSetFollower> follower;
  std::shared_ptr<DomainMount> mount;
  {
    std::lock_guard lock(mutex_);
    if (!follower_) return;
    follower = std::move(follower_);
    mount = std::move(mount_);
  }
  // The follower hands changes to the mount: it stops first.
  follower.reset();
  mount.reset();
  extension_->invalidate();
  daemonLog().notice("domain %{public}s stopped", {domain_.identifier});
}

void DomainInstance::serviceEndpoint(
    const ItemIdentifier& item, const std::string& name,
    std::function<void(std::optional<xpc::ListenerEndpoint>, std::optional<Error>)> completion) {
  extension_->supportedServiceSources(
      item, [name, completion = std::move(completion)](std::vector<std::shared_ptr<ServiceSource>> sources,
                                                       std::optional<Error> error) {
        if (error) return completion(std::nullopt, error);
        for (const auto& source : sources) {
          if (!source || source->serviceName() != name) continue;
          auto endpoint = source->makeListenerEndpoint();
          if (!endpoint) return completion(std::nullopt, endpoint.error());
          return completion(*endpoint, std::nullopt);
        }
        completion(std::nullopt, std::nullopt);
      });
}

void DomainInstance::signalEnumerator(const ItemIdentifier& container) {
  std::unique_lock lock(mutex_);
  auto follower = follower_;
  auto mount = mount_;
  lock.unlock();
  if (!follower) return;
  if (container == workingSetItemIdentifier) {
    follower->signal();
  } else if (mount) {
    mount->containerSignalled(container);
  }
}

std::vector<DomainMount::UnsentEdit> DomainInstance::unsentEdits() {
  std::unique_lock lock(mutex_);
  auto mount = mount_;
  lock.unlock();
  return mount ? mount->unsentEdits() : std::vector<DomainMount::UnsentEdit>{};
}

void DomainInstance::reimportItems(const ItemIdentifier& below) {
  std::unique_lock lock(mutex_);
  auto follower = follower_;
  auto mount = mount_;
  lock.unlock();
  if (!follower) return;
  if (mount) mount->forgetBelow(below);
  // Changes before the re-import are covered by the fresh listings.
  if (below == rootContainerItemIdentifier) follower->reset();
  follower->signal();
}

}  // namespace ostrel::fileprovider
