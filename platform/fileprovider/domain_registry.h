#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/fileprovider/domain.h"
#include "platform/foundation/error.h"

namespace ostrel::fileprovider {

// The registered domains, in the order they were added: one JSON file that
// every change rewrites whole (a temporary file renamed over it) while holding
// an exclusive lock, so concurrent writers never lose each other's changes and
// readers never see half a file.
class DomainRegistry {
 public:
  // Keeps its files in `directory` (the system's is fileProviderHome()).
  explicit DomainRegistry(std::filesystem::path directory) : directory_(std::move(directory)) {}

  static DomainRegistry system();

  std::filesystem::path file() const { return directory_ / "domains.json"; }

  std::expected<std::vector<Domain>, Error> domains() const;
  // False when a domain with this identifier is registered already; it is
  // left as it is.
  std::expected<bool, Error> add(const Domain& domain) const;
  // The removed domain; nothing when none had the identifier.
  std::expected<std::optional<Domain>, Error> remove(const std::string& identifier) const;
  // False when no domain has the identifier.
  std::expected<bool, Error> setDisconnected(const std::string& identifier, bool disconnected) const;

 private:
  std::filesystem::path directory_;
};

}  // namespace ostrel::fileprovider
