#include "platform/fileprovider/daemon/domain_presenter.h"
#include "platform/fileprovider/daemon/mount_point.h"
#include "platform/fileprovider/fuse/domain_mount.h"

namespace ostrel::fileprovider {

namespace {

// A mount that gives its point back once it is unmounted.
class ClaimedMount final : public DomainMount {
 public:
  ClaimedMount(std::unique_ptr<DomainMount> mount, std::shared_ptr<MountPoints> points)
      : mount_(std::move(mount)), points_(std::move(points)) {}
  ~ClaimedMount() override {
    const auto point = mount_->mountPoint();
    mount_.reset();
    points_->release(point);
  }

  const std::filesystem::path& mountPoint() const override { return mount_->mountPoint(); }
  void applyChanges(std::vector<ItemPtr> updated, std::vector<ItemIdentifier> deleted) override {
    mount_->applyChanges(std::move(updated), std::move(deleted));
  }
  void containerSignalled(const ItemIdentifier& container) override { mount_->containerSignalled(container); }
  void forgetBelow(const ItemIdentifier& item) override { mount_->forgetBelow(item); }
  void serviceReachable() override { mount_->serviceReachable(); }
  std::vector<UnsentEdit> unsentEdits() override { return mount_->unsentEdits(); }

 private:
  std::unique_ptr<DomainMount> mount_;
  std::shared_ptr<MountPoints> points_;
};

}  // namespace

DomainInstance::Presenter domainPresenter(std::optional<std::filesystem::path> mountRoot) {
  if (!mountRoot) return {};
  auto points = std::make_shared<MountPoints>();
  return [root = *mountRoot, points](std::shared_ptr<ReplicatedExtension> extension, const Domain& domain,
                                     const DomainStorage& storage)
             -> std::expected<std::unique_ptr<DomainMount>, Error> {
    const auto point = points->claim(mountPointFor(root, domain));
    auto mounted = DomainMount::mount(std::move(extension), domain, storage, point);
    if (!mounted) {
      points->release(point);
      return std::unexpected(mounted.error());
    }
    return std::make_unique<ClaimedMount>(std::move(*mounted), points);
  };
}

}  // namespace ostrel::fileprovider
