#include "platform/fileprovider/domain_storage.h"

#include "platform/foundation/paths.h"

namespace ostrel::fileprovider {

std::filesystem::path fileProviderHome() {
  return ostrelHome() / "FileProvider";
}

std::optional<DomainStorage> DomainStorage::forDomain(std::string_view identifier) {
  if (identifier.empty() || identifier == "." || identifier == ".." ||
      identifier.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
    return std::nullopt;
  }
  return DomainStorage{fileProviderHome() / "Domains" / std::string(identifier)};
}

}  // namespace ostrel::fileprovider
