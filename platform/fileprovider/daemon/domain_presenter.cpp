#include "platform/fileprovider/daemon/domain_presenter.h"
#include "platform/fileprovider/daemon/mount_point.h"
#include "platform/fileprovider/fuse/domain_mount.h"

namespace ostrel::fileprovider {

DomainInstance::Presenter domainPresenter(std::optional<std::filesystem::path> mountRoot) {
  if (!mountRoot) return {};
  return [root = *mountRoot](std::shared_ptr<ReplicatedExtension> extension, const Domain& domain,
                             const DomainStorage& storage) {
    return DomainMount::mount(std::move(extension), domain, storage, mountPointFor(root, domain));
  };
}

}  // namespace ostrel::fileprovider
