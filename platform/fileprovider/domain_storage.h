#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace ostrel::fileprovider {

// Where the system keeps its own files: $OSTREL_HOME/FileProvider.
std::filesystem::path fileProviderHome();

// What the system keeps on disk for one domain, under
// $OSTREL_HOME/FileProvider/Domains/<domain identifier>.
struct DomainStorage {
  std::filesystem::path root;

  // Nothing for an identifier that would leave the Domains folder (empty,
  // ".", "..", or holding "/" or NUL).
  static std::optional<DomainStorage> forDomain(std::string_view identifier);

  // Downloads land here before they are handed over (the manager's temporary directory).
  std::filesystem::path temporaryDirectory() const { return root / "tmp"; }
  // Fetched contents, kept while an item's content version is unchanged.
  std::filesystem::path contentsDirectory() const { return root / "contents"; }
  // What the user wrote that the service has not accepted yet: kept when the
  // domain is removed with preservation.
  std::filesystem::path localOnlyDirectory() const { return root / "local"; }
};

}  // namespace ostrel::fileprovider
