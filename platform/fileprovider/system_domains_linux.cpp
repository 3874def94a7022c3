// The manager's class operations: the registry on disk, plus the domain's
// storage when it goes.

#include <chrono>
#include <system_error>

#include "platform/fileprovider/domain_registry.h"
#include "platform/fileprovider/domain_storage.h"
#include "platform/fileprovider/manager.h"
#include "platform/foundation/date.h"
#include "platform/foundation/uuid.h"

namespace ostrel::fileprovider {

namespace {

Error invalidIdentifier(const std::string& identifier) {
  return FileProviderError::make(FileProviderError::noSuchItem,
                                 "\"" + identifier + "\" cannot name a domain (empty, \".\", \"..\", or holds \"/\")");
}

bool hasEntries(const std::filesystem::path& directory) {
  std::error_code ec;
  return std::filesystem::is_directory(directory, ec) && !std::filesystem::is_empty(directory, ec) && !ec;
}

// Moves the user's unsent files out of the storage before the rest goes.
std::expected<std::optional<std::filesystem::path>, Error> preserveLocalOnly(const DomainStorage& storage,
                                                                             const std::string& identifier) {
  if (!hasEntries(storage.localOnlyDirectory())) return std::nullopt;
  std::string stamp = formatInternetDateTime(std::chrono::time_point_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now()));
  auto target = fileProviderHome() / "Preserved" / (identifier + " " + stamp + " " + makeUUIDString().substr(0, 8));
  std::error_code ec;
  std::filesystem::create_directories(target.parent_path(), ec);
  if (!ec) std::filesystem::rename(storage.localOnlyDirectory(), target, ec);
  if (ec) return std::unexpected(POSIXError::make(ec.value()));
  return target;
}

// Renamed away first so that a daemon still writing into it never sees half a
// tree under the domain's name.
void discardStorage(const DomainStorage& storage) {
  std::error_code ec;
  if (!std::filesystem::exists(storage.root, ec)) return;
  auto trash = fileProviderHome() / "Trash" / makeUUIDString();
  std::filesystem::create_directories(trash.parent_path(), ec);
  std::filesystem::rename(storage.root, trash, ec);
  std::filesystem::remove_all(ec ? storage.root : trash, ec);
}

}  // namespace

void getDomains(std::function<void(std::vector<Domain>, std::optional<Error>)> completion) {
  auto domains = DomainRegistry::system().domains();
  if (domains) {
    completion(std::move(*domains), std::nullopt);
  } else {
    completion({}, domains.error());
  }
}

void addDomain(const Domain& domain, ErrorHandler completion) {
  if (!DomainStorage::forDomain(domain.identifier)) return completion(invalidIdentifier(domain.identifier));
  auto added = DomainRegistry::system().add(domain);
  completion(added ? std::nullopt : std::optional<Error>(added.error()));
}

void removeDomain(const Domain& domain, DomainRemovalMode mode,
                  std::function<void(std::optional<std::filesystem::path>, std::optional<Error>)> completion) {
  auto removed = DomainRegistry::system().remove(domain.identifier);
  if (!removed) return completion(std::nullopt, removed.error());
  if (!*removed) {
    return completion(std::nullopt, FileProviderError::make(FileProviderError::providerNotFound,
                                                            "no domain \"" + domain.identifier + "\" is registered"));
  }
  auto storage = DomainStorage::forDomain(domain.identifier);
  if (!storage) return completion(std::nullopt, std::nullopt);
  std::optional<std::filesystem::path> preserved;
  if (mode == DomainRemovalMode::preserveDirtyUserData) {
    auto kept = preserveLocalOnly(*storage, domain.identifier);
    // Never delete what could not be preserved: the storage stays where it is.
    if (!kept) return completion(std::nullopt, kept.error());
    preserved = *kept;
  }
  discardStorage(*storage);
  completion(preserved, std::nullopt);
}

}  // namespace ostrel::fileprovider
