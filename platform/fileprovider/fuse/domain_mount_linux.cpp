#include "platform/fileprovider/fuse/domain_mount.h"

#include "platform/fileprovider/fuse/domain_file_system.h"
#include "platform/fileprovider/fuse/fuse_session_linux.h"
#include "platform/fileprovider/fuse/serial_worker.h"

namespace ostrel::fileprovider {

namespace {

class FuseDomainMount final : public DomainMount {
 public:
  FuseDomainMount(std::unique_ptr<DomainFileSystem> fileSystem, std::filesystem::path mountPoint)
      : fileSystem_(std::move(fileSystem)), mountPoint_(std::move(mountPoint)) {}

  std::expected<void, Error> start(const std::string& name) {
    auto session = FuseSession::start(*fileSystem_, mountPoint_, name);
    if (!session) return std::unexpected(session.error());
    session_ = std::move(*session);
    // What the mount changes by itself reaches the kernel from a thread of its
    // own: a request thread telling the kernel could wait for its own request.
    fileSystem_->setInvalidationSink([this](std::vector<Invalidation> invalidations) {
      notifier_.post([this, invalidations = std::move(invalidations)] { send(invalidations); });
    });
    return {};
  }

  ~FuseDomainMount() override {
    // Waits for the extension end first, so that the request threads can finish.
    fileSystem_->shutdown();
    notifier_.stop();
    session_.reset();
  }

  const std::filesystem::path& mountPoint() const override { return mountPoint_; }

  void applyChanges(std::vector<ItemPtr> updated, std::vector<ItemIdentifier> deleted) override {
    send(fileSystem_->applyChanges(std::move(updated), std::move(deleted)));
  }
  void containerSignalled(const ItemIdentifier& container) override {
    send(fileSystem_->containerSignalled(container));
  }
  void forgetBelow(const ItemIdentifier& item) override { send(fileSystem_->forgetBelow(item)); }
  void serviceReachable() override { fileSystem_->serviceAnswered(); }
  std::vector<UnsentEdit> unsentEdits() override {
    std::vector<UnsentEdit> unsent;
    for (auto& edit : fileSystem_->unsentEdits()) unsent.push_back({std::move(edit.name), std::move(edit.state)});
    return unsent;
  }

 private:
  void send(const std::vector<Invalidation>& invalidations) {
    if (session_) session_->invalidate(invalidations);
  }

  std::unique_ptr<DomainFileSystem> fileSystem_;
  std::filesystem::path mountPoint_;
  std::unique_ptr<FuseSession> session_;
  SerialWorker notifier_;
};

}  // namespace

std::expected<std::unique_ptr<DomainMount>, Error> DomainMount::mount(std::shared_ptr<ReplicatedExtension> extension,
                                                                    Domain domain, DomainStorage storage,
                                                                    std::filesystem::path mountPoint) {
  return mount(std::move(extension), std::move(domain), std::move(storage), std::move(mountPoint), MountOptions{});
}

std::expected<std::unique_ptr<DomainMount>, Error> DomainMount::mount(std::shared_ptr<ReplicatedExtension> extension,
                                                                    Domain domain, DomainStorage storage,
                                                                    std::filesystem::path mountPoint,
                                                                    MountOptions options) {
  const std::string name = domain.identifier;
  auto fileSystem = DomainFileSystem::create(std::move(extension), std::move(domain), std::move(storage), options);
  if (!fileSystem) return std::unexpected(fileSystem.error());
  auto mounted = std::make_unique<FuseDomainMount>(std::move(*fileSystem), std::move(mountPoint));
  if (auto started = mounted->start(name); !started) return std::unexpected(started.error());
  return mounted;
}

}  // namespace ostrel::fileprovider
