#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fileprovider/domain.h"
#include "platform/fileprovider/item_identifier.h"
#include "platform/foundation/error.h"

namespace ostrel::xpc {
class Connection;
}

namespace ostrel::fileprovider {

using ErrorHandler = std::function<void(std::optional<Error>)>;

// NSFileProviderService: a service an extension offers on an item, as a host
// process sees it.
class Service {
 public:
  virtual ~Service() = default;
  virtual std::string name() const = 0;
  // getFileProviderConnectionWithCompletionHandler: a connection to the
  // extension's listener, not yet resumed; or an error.
  virtual void getFileProviderConnection(
      std::function<void(std::shared_ptr<xpc::Connection> connection, std::optional<Error> error)> completion) = 0;
};

// NSFileProviderManager: the requests a process makes to the system about one
// domain. Completions run once, on a thread of the system's choosing.
class Manager {
 public:
  virtual ~Manager() = default;
  // Asks the system to enumerate changes of the container soon.
  virtual void signalEnumerator(const ItemIdentifier& container, ErrorHandler completion) = 0;
  // A directory on the volume of the domain's storage, for downloads.
  virtual std::expected<std::filesystem::path, Error> temporaryDirectory() = 0;
  // getServiceWithName:itemIdentifier: — nothing and no error when the
  // extension offers no such service.
  virtual void getService(const std::string& name, const ItemIdentifier& item,
                          std::function<void(std::shared_ptr<Service> service, std::optional<Error> error)> completion) = 0;
  // reimportItemsBelowItemWithIdentifier: — forgets what the system knows
  // below the item and lists it afresh.
  virtual void reimportItems(const ItemIdentifier& below, ErrorHandler completion) = 0;
  virtual void disconnect(const std::string& reason, uint64_t options, ErrorHandler completion) = 0;
  virtual void reconnect(ErrorHandler completion) = 0;
};

using ManagerLookup = std::function<std::shared_ptr<Manager>(const Domain&)>;

// managerForDomain: the manager of a domain. Unless a process installs its own
// lookup (tests do), this is the system's manager, which reaches the file
// provider daemon; a domain with an unusable identifier has none.
std::shared_ptr<Manager> managerForDomain(const Domain& domain);
void setManagerLookup(ManagerLookup lookup);

// NSFileProviderDomainRemovalMode.
enum class DomainRemovalMode : int {
  removeAll = 0,
  preserveDirtyUserData = 1,
};

// The manager's class operations on the system's domain registry. They work
// whether or not the daemon runs; the daemon follows the registry.
void getDomains(std::function<void(std::vector<Domain> domains, std::optional<Error> error)> completion);
void addDomain(const Domain& domain, ErrorHandler completion);
// The completion gets where files not yet uploaded were kept, when the mode
// preserves them and there were any.
void removeDomain(const Domain& domain, DomainRemovalMode mode,
                  std::function<void(std::optional<std::filesystem::path> preserved, std::optional<Error> error)> completion);

}  // namespace ostrel::fileprovider
