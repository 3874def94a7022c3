#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "platform/fileprovider/domain.h"
#include "platform/fileprovider/item_identifier.h"
#include "platform/foundation/error.h"

namespace ostrel::fileprovider {

// NSFileProviderManager: the calls the extension makes to the system.
class Manager {
 public:
  virtual ~Manager() = default;
  // Asks the system to enumerate changes of the container soon; the
  // completion gets nothing on success.
  virtual void signalEnumerator(const ItemIdentifier& container,
                                std::function<void(std::optional<Error>)> completion) = 0;
  // A directory on the volume of the domain's storage, for downloads.
  virtual std::expected<std::filesystem::path, Error> temporaryDirectory() = 0;
};

using ManagerLookup = std::function<std::shared_ptr<Manager>(const Domain&)>;

// managerForDomain: the manager of a registered domain, or nothing. The
// process hosting the extension installs how managers are found.
std::shared_ptr<Manager> managerForDomain(const Domain& domain);
void setManagerLookup(ManagerLookup lookup);

}  // namespace ostrel::fileprovider
