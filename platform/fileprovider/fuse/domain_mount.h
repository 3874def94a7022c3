#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/fileprovider/domain.h"
#include "platform/fileprovider/domain_storage.h"
#include "platform/fileprovider/fuse/mount_options.h"
#include "platform/fileprovider/item.h"
#include "platform/fileprovider/replicated_extension.h"
#include "platform/foundation/error.h"

namespace ostrel::fileprovider {

// Shows one domain as a FUSE file system at a mount point: listings, contents
// and every change the user makes go through the domain's extension.
class DomainMount {
 public:
  // Mounts and starts serving; the mount point is created when missing.
  static std::expected<std::unique_ptr<DomainMount>, Error> mount(std::shared_ptr<ReplicatedExtension> extension,
                                                                  Domain domain, DomainStorage storage,
                                                                  std::filesystem::path mountPoint);
  static std::expected<std::unique_ptr<DomainMount>, Error> mount(std::shared_ptr<ReplicatedExtension> extension,
                                                                  Domain domain, DomainStorage storage,
                                                                  std::filesystem::path mountPoint,
                                                                  MountOptions options);
  // Unmounts and waits for the request threads to end.
  virtual ~DomainMount() = default;

  virtual const std::filesystem::path& mountPoint() const = 0;
  // Changes the working set reported: updated items (new, renamed, moved or
  // with new contents) and deleted identifiers.
  virtual void applyChanges(std::vector<ItemPtr> updated, std::vector<ItemIdentifier> deleted) = 0;
  // A container was signalled: its listing is read afresh on next use.
  virtual void containerSignalled(const ItemIdentifier& container) = 0;
  // Everything below the item is forgotten and listed afresh on next use
  // (re-import, or a change feed that can no longer be followed).
  virtual void forgetBelow(const ItemIdentifier& item) = 0;
  // The service answered again: what waits for it is sent now.
  virtual void serviceReachable() = 0;
  struct UnsentEdit {
    std::string name;
    std::string state;
  };
  // What the user wrote that the service does not have yet, oldest first.
  virtual std::vector<UnsentEdit> unsentEdits() = 0;
};

}  // namespace ostrel::fileprovider
